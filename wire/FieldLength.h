// The length of a text held in a fixed field or a bounded buffer.
#pragma once

#include <stddef.h>
#include <string.h>

namespace orlin {

// Bytes before the first zero, never more than nMax: a field the host or a
// peer filled to the end carries no terminator. 0 for a null pointer.
inline size_t FieldLength(const char* p, size_t nMax)
{
    if (!p || nMax == 0)
        return 0;
    const void* z = memchr(p, 0, nMax);
    return z ? static_cast<size_t>(static_cast<const char*>(z) - p) : nMax;
}

} // namespace orlin
