#include "Crc32.h"

#include <string.h>

namespace orlin {
namespace {

struct Crc32Tables
{
    uint32_t t[8][256];

    Crc32Tables()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        // t[k][i]: the CRC of byte i followed by k zero bytes, so eight bytes
        // fold into eight independent lookups.
        for (uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 8; ++k)
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};

const Crc32Tables& Tables()
{
    static const Crc32Tables tables;
    return tables;
}

} // namespace

uint32_t Crc32Bytewise(const char* pData, unsigned int nLen)
{
    const uint32_t* t = Tables().t[0];
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pData);
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned int i = 0; i < nLen; ++i)
        c = t[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t Crc32(const char* pData, unsigned int nLen)
{
    const Crc32Tables& T = Tables();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pData);
    uint32_t c = 0xFFFFFFFFu;
    while (nLen >= 8) {
        // Little-endian assembly by hand keeps this independent of the
        // machine's byte order.
        uint32_t lo = (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24) ^ c;
        uint32_t hi = uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
        c = T.t[7][lo & 0xFF] ^ T.t[6][(lo >> 8) & 0xFF] ^ T.t[5][(lo >> 16) & 0xFF] ^ T.t[4][lo >> 24]
            ^ T.t[3][hi & 0xFF] ^ T.t[2][(hi >> 8) & 0xFF] ^ T.t[1][(hi >> 16) & 0xFF] ^ T.t[0][hi >> 24];
        p += 8;
        nLen -= 8;
    }
    while (nLen--)
        c = T.t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

} // namespace orlin
