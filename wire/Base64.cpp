#include "Base64.h"

#include <stdint.h>
#include <string.h>

namespace orlin {
namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Encoding: one lookup yields the two characters of 12 input bits.
// Decoding: one table per position of the 4-character group, the 6-bit value
// already shifted into place; an invalid character sets bit 31, so a group is
// checked with a single test of the OR of its four lookups.
struct Base64Tables
{
    uint16_t enc[4096];
    uint32_t dec[4][256];

    Base64Tables()
    {
        for (int i = 0; i < 4096; ++i) {
            const unsigned char a = static_cast<unsigned char>(kAlphabet[i >> 6]);
            const unsigned char b = static_cast<unsigned char>(kAlphabet[i & 63]);
            unsigned char pair[2] = {a, b};
            memcpy(&enc[i], pair, 2);
        }
        for (int k = 0; k < 4; ++k)
            for (int c = 0; c < 256; ++c)
                dec[k][c] = 0x80000000u;
        for (int v = 0; v < 64; ++v) {
            const unsigned char c = static_cast<unsigned char>(kAlphabet[v]);
            dec[0][c] = uint32_t(v) << 18;
            dec[1][c] = uint32_t(v) << 12;
            dec[2][c] = uint32_t(v) << 6;
            dec[3][c] = uint32_t(v);
        }
    }
};

const Base64Tables& Tables()
{
    static const Base64Tables tables;
    return tables;
}

} // namespace

int Base64Encode(const unsigned char* pIn, int nInLen, char* pOut, int nOutCap)
{
    if (nInLen < 0)
        return 0;
    const int64_t need = (int64_t(nInLen) + 2) / 3 * 4;
    if (need > 0x7FFFFFFF || need > nOutCap || (need > 0 && (!pIn || !pOut)))
        return 0;
    const uint16_t* enc = Tables().enc;
    const unsigned char* p = pIn;
    char* o = pOut;
    int n = nInLen;
    while (n >= 3) {
        const uint32_t v = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        memcpy(o, &enc[v >> 12], 2);
        memcpy(o + 2, &enc[v & 0xFFF], 2);
        p += 3;
        o += 4;
        n -= 3;
    }
    if (n > 0) {
        const uint32_t v = uint32_t(p[0]) << 16 | (n == 2 ? uint32_t(p[1]) << 8 : 0);
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = n == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        o[3] = '=';
    }
    return static_cast<int>(need);
}

int Base64Decode(const char* pIn, int nInLen, unsigned char* pOut)
{
    if (nInLen <= 0 || (nInLen & 3) != 0 || !pIn || !pOut)
        return 0;
    const Base64Tables& T = Tables();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pIn);
    int pad = 0;
    if (p[nInLen - 1] == '=')
        pad = p[nInLen - 2] == '=' ? 2 : 1;

    // Every group but the last is free of padding.
    const int fullGroups = nInLen / 4 - 1;
    unsigned char* o = pOut;
    for (int g = 0; g < fullGroups; ++g, p += 4, o += 3) {
        const uint32_t v = T.dec[0][p[0]] | T.dec[1][p[1]] | T.dec[2][p[2]] | T.dec[3][p[3]];
        if (v & 0x80000000u)
            return 0;
        o[0] = static_cast<unsigned char>(v >> 16);
        o[1] = static_cast<unsigned char>(v >> 8);
        o[2] = static_cast<unsigned char>(v);
    }

    const uint32_t v = T.dec[0][p[0]] | T.dec[1][p[1]] | (pad >= 2 ? 0 : T.dec[2][p[2]]) | (pad >= 1 ? 0 : T.dec[3][p[3]]);
    if (v & 0x80000000u)
        return 0;
    o[0] = static_cast<unsigned char>(v >> 16);
    if (pad < 2)
        o[1] = static_cast<unsigned char>(v >> 8);
    if (pad < 1)
        o[2] = static_cast<unsigned char>(v);
    return nInLen / 4 * 3 - pad;
}

} // namespace orlin
