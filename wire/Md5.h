// MD5 of RFC 1321: the check value of every file-transfer chunk.
#pragma once

#include <QCryptographicHash>

#include <optional>
#include <stddef.h>

namespace orlin {

constexpr int kMd5Len = 16;

// Incremental digest: OpenSSL's where the build has it, Qt's
// QCryptographicHash otherwise (or when OpenSSL cannot make a context).
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
    void* m_pCtx;                               // OpenSSL's context, or null
    std::optional<QCryptographicHash> m_oQt;    // used when m_pCtx is null
};

void Md5Digest(const void* pData, size_t nLen, unsigned char (&digest)[kMd5Len]);

} // namespace orlin
