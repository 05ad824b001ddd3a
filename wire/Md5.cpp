#include "Md5.h"

#include <string.h>

#ifdef ORLIN_HAVE_OPENSSL
#  include <openssl/evp.h>
#endif

namespace orlin {

Md5::Md5() : m_pCtx(nullptr)
{
#ifdef ORLIN_HAVE_OPENSSL
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (ctx && EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) == 1)
        m_pCtx = ctx;
    else
        EVP_MD_CTX_free(ctx);
#endif
    if (!m_pCtx)
        m_oQt.emplace(QCryptographicHash::Md5);
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
    // QCryptographicHash takes an int length.
    const char* p = static_cast<const char*>(pData);
    while (nLen > 0) {
        const int n = nLen > 0x40000000u ? 0x40000000 : static_cast<int>(nLen);
        m_oQt->addData(p, n);
        p += n;
        nLen -= static_cast<size_t>(n);
    }
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
    memcpy(digest, m_oQt->result().constData(), kMd5Len);
}

void Md5Digest(const void* pData, size_t nLen, unsigned char (&digest)[kMd5Len])
{
    Md5 md5;
    md5.Update(pData, nLen);
    md5.Final(digest);
}

} // namespace orlin
