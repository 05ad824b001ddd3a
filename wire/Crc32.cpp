#include "Crc32.h"

#include <zlib.h>

namespace orlin {

uint32_t Crc32(const char* pData, unsigned int nLen)
{
    return static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(pData), nLen));
}

} // namespace orlin
