#include "JsonRead.h"

#include "Keys.h"
#include "wire/FieldLength.h"

#include <QJsonArray>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace orlin {
namespace {

// Length of the longest prefix of s[0..n) that does not end inside a UTF-8
// sequence.
size_t WholeCharPrefix(const char* s, size_t len, size_t n)
{
    if (n >= len)
        return len;
    size_t cut = n;
    // Step back over continuation bytes to the lead byte of the character
    // that straddles the cut.
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

bool CopyInto(const QByteArray& utf8, char* pField, size_t nFieldSize, size_t nRoom)
{
    memset(pField, 0, nFieldSize);
    const size_t len = static_cast<size_t>(utf8.size());
    const size_t n = WholeCharPrefix(utf8.constData(), len, nRoom);
    memcpy(pField, utf8.constData(), n);
    return n == len;
}

} // namespace

int16_t VersionToShort(const QString& qsVersion)
{
    bool ok = false;
    const qlonglong v = qsVersion.toLongLong(&ok, 10);
    return ok ? static_cast<int16_t>(static_cast<uint16_t>(static_cast<qulonglong>(v) & 0xFFFF)) : 0;
}

int32_t ToInt(const QJsonValue& v)
{
    return v.toInt(0);
}

int32_t ToIntTruncated(const QJsonValue& v)
{
    if (!v.isDouble())
        return 0;
    const double d = std::trunc(v.toDouble());
    return (d >= -2147483648.0 && d <= 2147483647.0) ? static_cast<int32_t>(d) : 0;
}

float ToFloat(const QJsonValue& v)
{
    const double d = v.toDouble(0.0);
    if (d > FLT_MAX)
        return std::numeric_limits<float>::infinity();
    if (d < -FLT_MAX)
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

bool ReadInt(const QJsonObject& o, QLatin1String key, int32_t& out)
{
    const auto it = o.constFind(key);
    if (it == o.constEnd())
        return false;
    out = ToInt(it.value());
    return true;
}

bool ReadFloat(const QJsonObject& o, QLatin1String key, float& out)
{
    const auto it = o.constFind(key);
    if (it == o.constEnd())
        return false;
    out = ToFloat(it.value());
    return true;
}

bool ReadDouble(const QJsonObject& o, QLatin1String key, double& out)
{
    const auto it = o.constFind(key);
    if (it == o.constEnd())
        return false;
    out = it.value().toDouble(0.0);
    return true;
}

bool CopyText(const QByteArray& utf8, char* pField, size_t nFieldSize)
{
    return nFieldSize == 0 ? utf8.isEmpty() : CopyInto(utf8, pField, nFieldSize, nFieldSize - 1);
}

bool CopyTextFull(const QByteArray& utf8, char* pField, size_t nFieldSize)
{
    // A full-width field takes the bytes as they come, so a character may be
    // cut at its end: the host reads the field by its size, not as text.
    memset(pField, 0, nFieldSize);
    const size_t len = static_cast<size_t>(utf8.size());
    memcpy(pField, utf8.constData(), len < nFieldSize ? len : nFieldSize);
    return len <= nFieldSize;
}

bool ReadText(const QJsonObject& o, QLatin1String key, char* pField, size_t nFieldSize)
{
    const auto it = o.constFind(key);
    if (it == o.constEnd() || !it.value().isString())
        return false;
    CopyText(it.value().toString().toUtf8(), pField, nFieldSize);
    return true;
}

bool ReadTextFull(const QJsonObject& o, QLatin1String key, char* pField, size_t nFieldSize)
{
    const auto it = o.constFind(key);
    if (it == o.constEnd() || !it.value().isString())
        return false;
    CopyTextFull(it.value().toString().toUtf8(), pField, nFieldSize);
    return true;
}

QString FieldText(const char* pField, size_t nFieldSize)
{
    return QString::fromUtf8(pField, static_cast<int>(FieldLength(pField, nFieldSize)));
}

bool FirstDataRecord(const QJsonObject& body, QJsonObject& record)
{
    const QJsonValue data = body.value(key::Data);
    if (data.isArray()) {
        const QJsonArray arr = data.toArray();
        if (arr.isEmpty())
            return false;
        record = arr.first().toObject();
        return true;
    }
    record = data.toObject();
    return true;
}

bool DataObject(const QJsonObject& body, QJsonObject& record)
{
    const auto it = body.constFind(key::Data);
    if (it == body.constEnd() || !it.value().isObject())
        return false;
    record = it.value().toObject();
    return true;
}

} // namespace orlin
