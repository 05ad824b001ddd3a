// Compact JSON text written straight into a byte buffer, for replies.
// The output is byte for byte what QJsonDocument::toJson(Compact) writes for
// the same document, provided the caller writes each object's keys in
// ascending order (as QJsonObject would sort them; debug builds assert it):
// integers in decimal,
// floating numbers in their shortest round-trip form ("null" when not
// finite), strings escaped as Qt escapes them. It skips building a
// QJsonObject tree and walking it again, which costs more than the rest of a
// small command's handling.
#pragma once

#include "wire/Envelope.h"
#include "wire/Keys.h"

#include <QByteArray>
#include <QLatin1String>
#include <QString>

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace orlin {

class JsonText;
QByteArray ReplyText(const SCloudMsgHeader& hdr, QLatin1String func, const JsonText& data);

class JsonText
{
public:
    JsonText() { m_text.reserve(256); }

    // Containers: a keyed one inside an object, an unkeyed one at the top or
    // inside an array.
    JsonText& BeginObject();
    JsonText& BeginObject(QLatin1String key);
    JsonText& EndObject();
    JsonText& BeginArray(QLatin1String key);
    JsonText& EndArray();

    JsonText& Int(QLatin1String key, qint64 nValue);
    // Floats are widened by the caller's conversion to double.
    JsonText& Number(QLatin1String key, double dValue);
    JsonText& String(QLatin1String key, const QString& qsValue);
    // A host text field: its bytes up to the first zero, never past the end.
    JsonText& String(QLatin1String key, const char* pField, size_t nFieldSize);
    template <size_t N>
    JsonText& String(QLatin1String key, const char (&field)[N])
    {
        return String(key, field, N);
    }

    const QByteArray& Bytes() const { return m_text; }

private:
    void _Key(QLatin1String key);
    void _Open(char cBracket);
    void _Close(char cBracket);
    void _Separate();
    void _Escaped(const QString& qs);
    void _Escaped(const char* pUtf8, size_t nLen);

    QByteArray m_text;
    // Debug builds: the last key written in each open container ("" at its
    // start and for arrays), to assert the ascending order.
    std::vector<std::string> m_vecLastKeys;

    friend QByteArray ReplyText(const SCloudMsgHeader& hdr, QLatin1String func, const JsonText& data);
};

// The whole reply to the request hdr: {"body": {"data": data, "func": func},
// "header": {...}} with the header of BuildReplyHeader (version and msg_id
// echoed, a fresh msg_id when the request had none, source and target
// swapped, msg_type 1, the current time).
QByteArray ReplyText(const SCloudMsgHeader& hdr, QLatin1String func, const JsonText& data);

} // namespace orlin
