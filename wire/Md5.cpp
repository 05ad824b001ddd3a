#include "Md5.h"

#include <stdint.h>
#include <string.h>

#ifdef ORLIN_HAVE_OPENSSL
#  include <openssl/evp.h>
#endif

namespace orlin {
namespace {

// ---- RFC 1321, for builds without OpenSSL ----------------------------------

inline uint32_t Rotl(uint32_t x, int c)
{
    return (x << c) | (x >> (32 - c));
}

inline uint32_t LoadLe32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

const uint32_t kK[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

const int kShift[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
};

void Block(uint32_t (&h)[4], const unsigned char* p)
{
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = LoadLe32(p + 4 * i);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) & 15;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) & 15;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) & 15;
        }
        const uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kK[i] + m[g], kShift[i]);
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
}

struct Portable
{
    uint32_t (&h)[4];
    uint64_t& n;
    unsigned char (&buf)[64];

    void Init()
    {
        h[0] = 0x67452301;
        h[1] = 0xefcdab89;
        h[2] = 0x98badcfe;
        h[3] = 0x10325476;
        n = 0;
    }

    void Update(const unsigned char* p, size_t len)
    {
        size_t used = static_cast<size_t>(n & 63);
        n += len;
        if (used) {
            const size_t take = len < 64 - used ? len : 64 - used;
            memcpy(buf + used, p, take);
            p += take;
            len -= take;
            if (used + take < 64)
                return;
            Block(h, buf);
        }
        for (; len >= 64; p += 64, len -= 64)
            Block(h, p);
        memcpy(buf, p, len);
    }

    void Final(unsigned char (&digest)[kMd5Len])
    {
        const uint64_t bits = n * 8;
        static const unsigned char kPad[64] = {0x80};
        const size_t used = static_cast<size_t>(n & 63);
        Update(kPad, used < 56 ? 56 - used : 120 - used);
        unsigned char len[8];
        for (int i = 0; i < 8; ++i)
            len[i] = static_cast<unsigned char>(bits >> (8 * i));
        Update(len, 8);
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 4; ++k)
                digest[4 * i + k] = static_cast<unsigned char>(h[i] >> (8 * k));
    }
};

} // namespace

Md5::Md5() : m_pCtx(nullptr), m_state(), m_nBytes(0), m_buf()
{
#ifdef ORLIN_HAVE_OPENSSL
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (ctx && EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) == 1)
        m_pCtx = ctx;
    else
        EVP_MD_CTX_free(ctx);  // the portable state takes over
#endif
    if (!m_pCtx)
        Portable{m_state, m_nBytes, m_buf}.Init();
}

Md5::~Md5()
{
#ifdef ORLIN_HAVE_OPENSSL
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(m_pCtx));
#endif
}

void Md5::Update(const void* pData, size_t nLen)
{
#ifdef ORLIN_HAVE_OPENSSL
    if (m_pCtx) {
        EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(m_pCtx), pData, nLen);
        return;
    }
#endif
    Portable{m_state, m_nBytes, m_buf}.Update(static_cast<const unsigned char*>(pData), nLen);
}

void Md5::Final(unsigned char (&digest)[kMd5Len])
{
#ifdef ORLIN_HAVE_OPENSSL
    if (m_pCtx) {
        unsigned int n = 0;
        EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(m_pCtx), digest, &n);
        return;
    }
#endif
    Portable{m_state, m_nBytes, m_buf}.Final(digest);
}

void Md5Digest(const void* pData, size_t nLen, unsigned char (&digest)[kMd5Len])
{
    Md5 md5;
    md5.Update(pData, nLen);
    md5.Final(digest);
}

void Md5DigestPortable(const void* pData, size_t nLen, unsigned char (&digest)[kMd5Len])
{
    uint32_t h[4];
    uint64_t n = 0;
    unsigned char buf[64];
    Portable md5{h, n, buf};
    md5.Init();
    md5.Update(static_cast<const unsigned char*>(pData), nLen);
    md5.Final(digest);
}

} // namespace orlin
