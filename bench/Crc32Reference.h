// The byte-wise table CRC-32: the reference the library's zlib-based Crc32
// is measured against.
#pragma once

#include <stdint.h>

inline uint32_t Crc32Bytewise(const char* pData, unsigned int nLen)
{
    static const struct Table
    {
        uint32_t t[256];
        Table()
        {
            for (uint32_t i = 0; i < 256; ++i) {
                uint32_t c = i;
                for (int k = 0; k < 8; ++k)
                    c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                t[i] = c;
            }
        }
    } table;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pData);
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned int i = 0; i < nLen; ++i)
        c = table.t[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}
