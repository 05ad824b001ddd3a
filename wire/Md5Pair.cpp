#include "Md5Pair.h"

#include <string.h>

namespace orlin {

namespace {

inline uint32_t Rol(uint32_t x, int s)
{
    return (x << s) | (x >> (32 - s));
}

inline uint32_t Word(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

// The 64 steps of one block: function, registers, message word, constant,
// rotation. S is the step of one lane or of two.
#define MD5_STEPS(S) \
    S(F, a, b, c, d, 0, 0xd76aa478, 7) S(F, d, a, b, c, 1, 0xe8c7b756, 12) S(F, c, d, a, b, 2, 0x242070db, 17) \
    S(F, b, c, d, a, 3, 0xc1bdceee, 22) S(F, a, b, c, d, 4, 0xf57c0faf, 7) S(F, d, a, b, c, 5, 0x4787c62a, 12) \
    S(F, c, d, a, b, 6, 0xa8304613, 17) S(F, b, c, d, a, 7, 0xfd469501, 22) S(F, a, b, c, d, 8, 0x698098d8, 7) \
    S(F, d, a, b, c, 9, 0x8b44f7af, 12) S(F, c, d, a, b, 10, 0xffff5bb1, 17) S(F, b, c, d, a, 11, 0x895cd7be, 22) \
    S(F, a, b, c, d, 12, 0x6b901122, 7) S(F, d, a, b, c, 13, 0xfd987193, 12) S(F, c, d, a, b, 14, 0xa679438e, 17) \
    S(F, b, c, d, a, 15, 0x49b40821, 22) \
    S(G, a, b, c, d, 1, 0xf61e2562, 5) S(G, d, a, b, c, 6, 0xc040b340, 9) S(G, c, d, a, b, 11, 0x265e5a51, 14) \
    S(G, b, c, d, a, 0, 0xe9b6c7aa, 20) S(G, a, b, c, d, 5, 0xd62f105d, 5) S(G, d, a, b, c, 10, 0x02441453, 9) \
    S(G, c, d, a, b, 15, 0xd8a1e681, 14) S(G, b, c, d, a, 4, 0xe7d3fbc8, 20) S(G, a, b, c, d, 9, 0x21e1cde6, 5) \
    S(G, d, a, b, c, 14, 0xc33707d6, 9) S(G, c, d, a, b, 3, 0xf4d50d87, 14) S(G, b, c, d, a, 8, 0x455a14ed, 20) \
    S(G, a, b, c, d, 13, 0xa9e3e905, 5) S(G, d, a, b, c, 2, 0xfcefa3f8, 9) S(G, c, d, a, b, 7, 0x676f02d9, 14) \
    S(G, b, c, d, a, 12, 0x8d2a4c8a, 20) \
    S(H, a, b, c, d, 5, 0xfffa3942, 4) S(H, d, a, b, c, 8, 0x8771f681, 11) S(H, c, d, a, b, 11, 0x6d9d6122, 16) \
    S(H, b, c, d, a, 14, 0xfde5380c, 23) S(H, a, b, c, d, 1, 0xa4beea44, 4) S(H, d, a, b, c, 4, 0x4bdecfa9, 11) \
    S(H, c, d, a, b, 7, 0xf6bb4b60, 16) S(H, b, c, d, a, 10, 0xbebfbc70, 23) S(H, a, b, c, d, 13, 0x289b7ec6, 4) \
    S(H, d, a, b, c, 0, 0xeaa127fa, 11) S(H, c, d, a, b, 3, 0xd4ef3085, 16) S(H, b, c, d, a, 6, 0x04881d05, 23) \
    S(H, a, b, c, d, 9, 0xd9d4d039, 4) S(H, d, a, b, c, 12, 0xe6db99e5, 11) S(H, c, d, a, b, 15, 0x1fa27cf8, 16) \
    S(H, b, c, d, a, 2, 0xc4ac5665, 23) \
    S(I, a, b, c, d, 0, 0xf4292244, 6) S(I, d, a, b, c, 7, 0x432aff97, 10) S(I, c, d, a, b, 14, 0xab9423a7, 15) \
    S(I, b, c, d, a, 5, 0xfc93a039, 21) S(I, a, b, c, d, 12, 0x655b59c3, 6) S(I, d, a, b, c, 3, 0x8f0ccc92, 10) \
    S(I, c, d, a, b, 10, 0xffeff47d, 15) S(I, b, c, d, a, 1, 0x85845dd1, 21) S(I, a, b, c, d, 8, 0x6fa87e4f, 6) \
    S(I, d, a, b, c, 15, 0xfe2ce6e0, 10) S(I, c, d, a, b, 6, 0xa3014314, 15) S(I, b, c, d, a, 13, 0x4e0811a1, 21) \
    S(I, a, b, c, d, 4, 0xf7537e82, 6) S(I, d, a, b, c, 11, 0xbd3af235, 10) S(I, c, d, a, b, 2, 0x2ad7d2bb, 15) \
    S(I, b, c, d, a, 9, 0xeb86d391, 21)

#define MD5_STEP1(f, a, b, c, d, k, t, s) \
    a##0 += MD5_##f(b##0, c##0, d##0) + x0[k] + t; \
    a##0 = Rol(a##0, s) + b##0;

#define MD5_STEP2(f, a, b, c, d, k, t, s) \
    a##0 += MD5_##f(b##0, c##0, d##0) + x0[k] + t; \
    a##1 += MD5_##f(b##1, c##1, d##1) + x1[k] + t; \
    a##0 = Rol(a##0, s) + b##0; \
    a##1 = Rol(a##1, s) + b##1;

void Blocks1(uint32_t* h, const unsigned char* p, size_t nBlocks)
{
    for (; nBlocks > 0; --nBlocks, p += 64) {
        uint32_t x0[16];
        for (int i = 0; i < 16; ++i)
            x0[i] = Word(p + 4 * i);
        uint32_t a0 = h[0], b0 = h[1], c0 = h[2], d0 = h[3];
        MD5_STEPS(MD5_STEP1)
        h[0] += a0;
        h[1] += b0;
        h[2] += c0;
        h[3] += d0;
    }
}

void Blocks2(uint32_t* h, const unsigned char* p, uint32_t* g, const unsigned char* q, size_t nBlocks)
{
    for (; nBlocks > 0; --nBlocks, p += 64, q += 64) {
        uint32_t x0[16], x1[16];
        for (int i = 0; i < 16; ++i) {
            x0[i] = Word(p + 4 * i);
            x1[i] = Word(q + 4 * i);
        }
        uint32_t a0 = h[0], b0 = h[1], c0 = h[2], d0 = h[3];
        uint32_t a1 = g[0], b1 = g[1], c1 = g[2], d1 = g[3];
        MD5_STEPS(MD5_STEP2)
        h[0] += a0;
        h[1] += b0;
        h[2] += c0;
        h[3] += d0;
        g[0] += a1;
        g[1] += b1;
        g[2] += c1;
        g[3] += d1;
    }
}

} // namespace

Md5Pair::Md5Pair()
{
    Reset(m_lanes[0]);
    Reset(m_lanes[1]);
}

void Md5Pair::Reset(Lane& l)
{
    l.h[0] = 0x67452301;
    l.h[1] = 0xefcdab89;
    l.h[2] = 0x98badcfe;
    l.h[3] = 0x10325476;
    l.nBytes = 0;
    l.nFill = 0;
}

void Md5Pair::Update(const void* pA, size_t nA, const void* pB, size_t nB)
{
    const unsigned char* p[2] = {static_cast<const unsigned char*>(pA), static_cast<const unsigned char*>(pB)};
    size_t n[2] = {nA, nB};
    // A lane with a partial block completes it first; afterwards it either
    // has no input left or an empty buffer.
    for (int i = 0; i < 2; ++i) {
        Lane& l = m_lanes[i];
        l.nBytes += n[i];
        if (l.nFill == 0 || n[i] == 0)
            continue;
        const size_t take = n[i] < 64 - l.nFill ? n[i] : 64 - l.nFill;
        memcpy(l.buf + l.nFill, p[i], take);
        l.nFill += take;
        p[i] += take;
        n[i] -= take;
        if (l.nFill == 64) {
            Blocks1(l.h, l.buf, 1);
            l.nFill = 0;
        }
    }
    const size_t pairs = n[0] / 64 < n[1] / 64 ? n[0] / 64 : n[1] / 64;
    if (pairs > 0) {
        Blocks2(m_lanes[0].h, p[0], m_lanes[1].h, p[1], pairs);
        for (int i = 0; i < 2; ++i) {
            p[i] += pairs * 64;
            n[i] -= pairs * 64;
        }
    }
    for (int i = 0; i < 2; ++i) {
        Lane& l = m_lanes[i];
        if (n[i] == 0)
            continue;
        Blocks1(l.h, p[i], n[i] / 64);
        p[i] += n[i] / 64 * 64;
        n[i] %= 64;
        if (n[i] > 0) {
            memcpy(l.buf, p[i], n[i]);
            l.nFill = n[i];
        }
    }
}

void Md5Pair::Final(int nLane, unsigned char (&digest)[kMd5Len])
{
    Lane& l = m_lanes[nLane & 1];
    const uint64_t nBits = l.nBytes * 8;
    l.buf[l.nFill++] = 0x80;
    if (l.nFill > 56) {
        memset(l.buf + l.nFill, 0, 64 - l.nFill);
        Blocks1(l.h, l.buf, 1);
        l.nFill = 0;
    }
    memset(l.buf + l.nFill, 0, 56 - l.nFill);
    for (int i = 0; i < 8; ++i)
        l.buf[56 + i] = static_cast<unsigned char>(nBits >> (8 * i));
    Blocks1(l.h, l.buf, 1);
    for (int i = 0; i < 16; ++i)
        digest[i] = static_cast<unsigned char>(l.h[i / 4] >> (8 * (i % 4)));
    Reset(l);
}

} // namespace orlin
