// Shared readers of inbound message fields.
//
// A key is read only when present; an absent key leaves the field as it is.
//  - integer: an integral JSON number within range gives its value, any
//    other value (fraction, string, boolean, null) gives 0;
//  - float/double: a JSON number gives its value, any other value 0.0;
//    narrowing to float saturates to infinity instead of overflowing;
//  - text: filled only when the value is a JSON string.
// Texts are copied as UTF-8: a zero-terminated field never splits a
// character, a full-width field is cut at its size byte for byte.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <stddef.h>
#include <stdint.h>

namespace orlin {

// The header's version text as a base-10 whole number, low 16 bits; 0 when
// the text is not one ("1.0" gives 0).
int16_t VersionToShort(const QString& qsVersion);

// The integer rule above, for a value already taken.
int32_t ToInt(const QJsonValue& v);
// A JSON number cut towards zero (2.9 gives 2); 0 for other values and for
// numbers outside the 32-bit range.
int32_t ToIntTruncated(const QJsonValue& v);
// A JSON number narrowed to float, saturating; 0.0 for other values.
float ToFloat(const QJsonValue& v);

bool ReadInt(const QJsonObject& o, QLatin1String key, int32_t& out);
bool ReadFloat(const QJsonObject& o, QLatin1String key, float& out);
bool ReadDouble(const QJsonObject& o, QLatin1String key, double& out);

// Copies the longest whole-character prefix of utf8 that leaves room for a
// terminator, zero-filling the rest of the field. Returns false when the
// text had to be cut.
bool CopyText(const QByteArray& utf8, char* pField, size_t nFieldSize);
// Copies the first nFieldSize bytes, zero-filling the rest of the field; a
// text that fills the field carries no terminator, and a character that
// straddles the end is cut. Returns false when cut.
bool CopyTextFull(const QByteArray& utf8, char* pField, size_t nFieldSize);

// The readers of text keys: only a JSON string is copied. They return true
// when the key held a string (whether or not it was cut).
bool ReadText(const QJsonObject& o, QLatin1String key, char* pField, size_t nFieldSize);
bool ReadTextFull(const QJsonObject& o, QLatin1String key, char* pField, size_t nFieldSize);

template <size_t N>
bool ReadText(const QJsonObject& o, QLatin1String key, char (&field)[N])
{
    return ReadText(o, key, field, N);
}
template <size_t N>
bool ReadTextFull(const QJsonObject& o, QLatin1String key, char (&field)[N])
{
    return ReadTextFull(o, key, field, N);
}

// A text field of the host's structures, up to its first zero byte and never
// past the end of the field.
QString FieldText(const char* pField, size_t nFieldSize);
template <size_t N>
QString FieldText(const char (&field)[N])
{
    return FieldText(field, N);
}

// How several commands take their record: "data" as an array when it is one,
// otherwise a one-element array holding it (null when missing). Returns
// false for an empty array; otherwise the first element viewed as an object
// (an empty object when it is not one).
bool FirstDataRecord(const QJsonObject& body, QJsonObject& record);
// How the commands that want an object take it: true and the object when
// "data" is one; false for any other shape (missing, null, array, scalar).
bool DataObject(const QJsonObject& body, QJsonObject& record);

} // namespace orlin
