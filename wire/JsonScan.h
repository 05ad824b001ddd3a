// Inbound JSON text: a structural pass before it is parsed.
#pragma once

#include <QJsonDocument>

#include <stddef.h>

namespace orlin {

// True when some object of the text names the same key twice (keys compared
// after unescaping, as the JSON parser compares them). Text that is not
// well-formed JSON may give either answer; the parser rejects it.
bool HasRepeatedKey(const char* pText, size_t nLen);

// Parses the text into exactly the document QJsonDocument::fromJson gives
// for it: a null document for text that is not well-formed JSON, and for an
// object that repeats a key, the member the parser keeps at every depth (the
// last one of the key in objects of up to 16 members; in larger ones Qt
// 5.15's sort decides, and need not keep the last). The parser of Qt 5.15
// keeps the values it drops alive after the document is gone when they are
// objects or arrays, so a text that repeats keys is never handed to it as it
// is: the parser picks the members to keep from a copy of each repeating
// object with scalar values, a parse with the keys of the other members
// renamed shows that the text is well-formed, and the text written again
// without those members is parsed. The one text that gives a null document
// although Qt would parse it: one that repeats keys and also uses keys
// starting with U+0000, where the renamed keys could meet a key of the text.
QJsonDocument ParseJson(const char* pText, size_t nLen);

} // namespace orlin
