// MD5 of RFC 1321: the check value of every file-transfer chunk.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace orlin {

constexpr int kMd5Len = 16;

// Incremental digest. Uses OpenSSL where the build has it and the portable
// implementation otherwise; both give the same digest.
class Md5
{
public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    void Update(const void* pData, size_t nLen);
    // Writes the 16-byte digest. The object is spent afterwards.
    void Final(unsigned char (&digest)[kMd5Len]);

private:
    void* m_pCtx;  // OpenSSL's context, or null for the portable state below
    uint32_t m_state[4];
    uint64_t m_nBytes;
    unsigned char m_buf[64];
};

void Md5Digest(const void* pData, size_t nLen, unsigned char (&digest)[kMd5Len]);

// The portable implementation alone, whatever the build has.
void Md5DigestPortable(const void* pData, size_t nLen, unsigned char (&digest)[kMd5Len]);

} // namespace orlin
