#include "Base64.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

// 32 characters a step where the compiler can target AVX2 and the CPU has it.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define ORLIN_BASE64_AVX2 1
#include <immintrin.h>
#endif

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

#ifdef ORLIN_BASE64_AVX2
bool HaveAvx2()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

// Decodes 32 characters into 24 bytes per step: two lookups by nibble
// classify every character, a third gives the offset to its 6-bit value,
// multiply-adds pack the values. Returns the
// characters decoded, a multiple of 32; stops before a block with any
// character outside the alphabet ("=" included), which the scalar loop then
// finds. Stores 32 bytes per 24 decoded.
__attribute__((target("avx2"))) size_t DecodeAvx2(const unsigned char* p, size_t n, unsigned char* o)
{
    const __m256i lutLo = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B,
                                           0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                           0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i lutHi = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                                           0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                                           0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i lutRoll = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4, -65,
                                             -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i mask2F = _mm256_set1_epi8(0x2F);
    const __m256i pack = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4, 10, 9,
                                          8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i perm = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    size_t done = 0;
    for (; done + 32 <= n; done += 32, p += 32, o += 24) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i hiN = _mm256_and_si256(_mm256_srli_epi32(in, 4), mask2F);
        const __m256i loN = _mm256_and_si256(in, mask2F);
        const __m256i hi = _mm256_shuffle_epi8(lutHi, hiN);
        const __m256i lo = _mm256_shuffle_epi8(lutLo, loN);
        if (!_mm256_testz_si256(lo, hi))
            break;
        const __m256i roll = _mm256_shuffle_epi8(lutRoll, _mm256_add_epi8(_mm256_cmpeq_epi8(in, mask2F), hiN));
        __m256i v = _mm256_add_epi8(in, roll);
        v = _mm256_maddubs_epi16(v, _mm256_set1_epi32(0x01400140));
        v = _mm256_madd_epi16(v, _mm256_set1_epi32(0x00011000));
        v = _mm256_shuffle_epi8(v, pack);
        v = _mm256_permutevar8x32_epi32(v, perm);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), v);
    }
    return done;
}

// Encodes 24 bytes into 32 characters per step: a shuffle spreads each 3
// bytes over a 32-bit lane, multiplies move the four 6-bit fields into
// bytes, a lookup by range adds each field's offset into the alphabet.
// Returns the bytes encoded, a multiple of 24; reads 4 bytes beyond them.
__attribute__((target("avx2"))) size_t EncodeAvx2(const unsigned char* p, size_t n, char* o)
{
    const __m256i shuf = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3, 5, 4, 7, 6,
                                          8, 7, 10, 9, 11, 10);
    const __m256i shiftLut = _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                              '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,
                                              'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                              '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    size_t done = 0;
    for (; done + 28 <= n; done += 24, p += 24, o += 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12));
        __m256i in = _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
        in = _mm256_shuffle_epi8(in, shuf);
        const __m256i t0 = _mm256_and_si256(in, _mm256_set1_epi32(0x0fc0fc00));
        const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
        const __m256i t2 = _mm256_and_si256(in, _mm256_set1_epi32(0x003f03f0));
        const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
        const __m256i idx = _mm256_or_si256(t1, t3);
        __m256i r = _mm256_subs_epu8(idx, _mm256_set1_epi8(51));
        const __m256i less = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), idx);
        r = _mm256_or_si256(r, _mm256_and_si256(less, _mm256_set1_epi8(13)));
        r = _mm256_add_epi8(_mm256_shuffle_epi8(shiftLut, r), idx);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), r);
    }
    return done;
}
#endif

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
#ifdef ORLIN_BASE64_AVX2
    if (n >= 28 && HaveAvx2()) {
        const int done = static_cast<int>(EncodeAvx2(p, static_cast<size_t>(n), o));
        p += done;
        o += done / 3 * 4;
        n -= done;
    }
#endif
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
    int g = 0;
#ifdef ORLIN_BASE64_AVX2
    // 12 characters short of the last full group, so that every 32-byte
    // store stays inside the output.
    if (fullGroups * 4 - 12 >= 32 && HaveAvx2()) {
        const int done = static_cast<int>(DecodeAvx2(p, static_cast<size_t>(fullGroups * 4 - 12), o));
        p += done;
        o += done / 4 * 3;
        g = done / 4;
    }
#endif
    for (; g < fullGroups; ++g, p += 4, o += 3) {
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
