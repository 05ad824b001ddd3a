#include "wire/JsonText.h"
#include "wire/FieldLength.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <cassert>
#include <cmath>
#include <cstring>

namespace orlin {

namespace jsontext {
namespace {

bool Plain(unsigned int c)
{
    return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
}

// Anything beyond plain ASCII (escapes, other scripts, invalid UTF-8) is left
// to Qt itself, so that the rare text costs more but never differs.
void AppendQtEscaped(QByteArray& out, const QString& qs)
{
    const QByteArray arr = QJsonDocument(QJsonArray{qs}).toJson(QJsonDocument::Compact);
    out.append(arr.constData() + 1, arr.size() - 2);  // without "[" and "]"
}

} // namespace
} // namespace jsontext

void JsonText::_Separate()
{
    if (!m_text.isEmpty()) {
        const char last = m_text.at(m_text.size() - 1);
        if (last != '{' && last != '[')
            m_text.append(',');
    }
}

void JsonText::_Key(QLatin1String key)
{
#ifndef NDEBUG
    // Keys compare as QJsonObject orders them: byte by byte (they are ASCII).
    if (!m_vecLastKeys.empty()) {
        std::string& last = m_vecLastKeys.back();
        const std::string next(key.data(), static_cast<size_t>(key.size()));
        assert((last.empty() || last < next) && "JsonText: keys must be written in ascending order");
        last = next;
    }
#endif
    _Separate();
    m_text.append('"');
    m_text.append(key.data(), key.size());
    m_text.append("\":", 2);
}

void JsonText::_Escaped(const QString& qs)
{
    const QChar* p = qs.constData();
    const int n = qs.size();
    for (int i = 0; i < n; ++i) {
        if (!jsontext::Plain(p[i].unicode())) {
            jsontext::AppendQtEscaped(m_text, qs);
            return;
        }
    }
    m_text.append('"');
    const int at = m_text.size();
    m_text.resize(at + n);
    char* d = m_text.data() + at;
    for (int i = 0; i < n; ++i)
        d[i] = static_cast<char>(p[i].unicode());
    m_text.append('"');
}

void JsonText::_Escaped(const char* pUtf8, size_t nLen)
{
    for (size_t i = 0; i < nLen; ++i) {
        if (!jsontext::Plain(static_cast<unsigned char>(pUtf8[i]))) {
            jsontext::AppendQtEscaped(m_text, QString::fromUtf8(pUtf8, static_cast<int>(nLen)));
            return;
        }
    }
    m_text.append('"');
    m_text.append(pUtf8, static_cast<int>(nLen));
    m_text.append('"');
}

void JsonText::_Open(char cBracket)
{
    m_text.append(cBracket);
#ifndef NDEBUG
    m_vecLastKeys.emplace_back();
#endif
}

void JsonText::_Close(char cBracket)
{
    m_text.append(cBracket);
#ifndef NDEBUG
    if (!m_vecLastKeys.empty())
        m_vecLastKeys.pop_back();
#endif
}

JsonText& JsonText::BeginObject()
{
    _Separate();
    _Open('{');
    return *this;
}

JsonText& JsonText::BeginObject(QLatin1String key)
{
    _Key(key);
    _Open('{');
    return *this;
}

JsonText& JsonText::EndObject()
{
    _Close('}');
    return *this;
}

JsonText& JsonText::BeginArray(QLatin1String key)
{
    _Key(key);
    _Open('[');
    return *this;
}

JsonText& JsonText::EndArray()
{
    _Close(']');
    return *this;
}

JsonText& JsonText::Int(QLatin1String key, qint64 nValue)
{
    _Key(key);
    m_text.append(QByteArray::number(nValue));
    return *this;
}

JsonText& JsonText::Number(QLatin1String key, double dValue)
{
    _Key(key);
    // Qt writes a whole number up to 2^64 in magnitude in positional form
    // with the shortest round-trip digits (1e16 as 10000000000000000, 2^64-2048
    // as 18446744073709550000, -0.0 as 0), anything else in 'g' form.
    if (!std::isfinite(dValue))
        m_text.append("null", 4);
    else if (std::trunc(dValue) == dValue && std::fabs(dValue) <= 18446744073709551616.0)
        m_text.append(QByteArray::number(dValue == 0 ? 0.0 : dValue, 'f', QLocale::FloatingPointShortest));
    else
        m_text.append(QByteArray::number(dValue, 'g', QLocale::FloatingPointShortest));
    return *this;
}

JsonText& JsonText::String(QLatin1String key, const QString& qsValue)
{
    _Key(key);
    _Escaped(qsValue);
    return *this;
}

JsonText& JsonText::String(QLatin1String key, const char* pField, size_t nFieldSize)
{
    _Key(key);
    _Escaped(pField, FieldLength(pField, nFieldSize));
    return *this;
}

QByteArray ReplyText(const SCloudMsgHeader& hdr, QLatin1String func, const JsonText& data)
{
    JsonText w;
    w.BeginObject();
    w.BeginObject(key::Body);
    w._Key(key::Data);
    w.m_text.append(data.Bytes());
    w._Key(key::Func);
    w._Escaped(func.data(), static_cast<size_t>(func.size()));
    w.EndObject();
    w.BeginObject(key::Header)
        .String(key::MsgId, hdr.qsMsgId.isEmpty() ? MakeMsgId() : hdr.qsMsgId)
        .Int(key::MsgType, MsgReply)
        .String(key::SourceId, hdr.qsTargetId)
        .String(key::TargetId, hdr.qsSourceId)
        .Int(key::Timestamp, QDateTime::currentSecsSinceEpoch())
        .String(key::Version, hdr.qsVersion)
        .EndObject();
    w.EndObject();
    return w.m_text;
}

} // namespace orlin
