// A structural pass over inbound JSON text, before it is parsed.
#pragma once

#include <stddef.h>

namespace orlin {

// True when some object of the text names the same key twice (keys compared
// after unescaping, as the JSON parser compares them). Such a message is
// refused: the parser of Qt 5.15 keeps the first value of a repeated key
// alive after the document is gone, so a peer could grow our memory at will.
// Text that is not well-formed JSON gives false; the parser rejects it.
bool HasRepeatedKey(const char* pText, size_t nLen);

} // namespace orlin
