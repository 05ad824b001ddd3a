#include "messages/FileTransfer.h"

#include "session/Orlin.h"
#include "wire/Base64.h"
#include "wire/Envelope.h"
#include "wire/JsonRead.h"
#include "wire/JsonText.h"
#include "wire/Keys.h"
#include "wire/Md5.h"
#include "wire/FixedTexts.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <new>
#include <utility>
#include <vector>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace orlin {
namespace {

// Encoding and hashing go block by block, so that each block of text is
// hashed while it is still in the cache. 65536 characters per block.
constexpr int kBlockFileBytes = 3 * 16384;

// A byte buffer that keeps its content as it grows, taken from `keep` and
// given back to it at the end (a nested use meanwhile finds `keep` empty).
class Buffer
{
public:
    explicit Buffer(std::vector<char>& keep) : m_keep(keep) { m_v.swap(keep); }
    ~Buffer() { m_keep.swap(m_v); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    char* Data() { return m_v.data(); }
    // False when the memory cannot be had; the content is kept either way.
    bool Reserve(size_t n)
    {
        if (n <= m_v.size())
            return true;
        try {
            m_v.resize(n);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

private:
    std::vector<char> m_v;
    std::vector<char>& m_keep;
};

QString DigestText(const unsigned char (&digest)[kMd5Len])
{
    char text[24];
    Base64Encode(digest, kMd5Len, text, sizeof(text));
    return QString::fromLatin1(text, sizeof(text));
}

// One outbound chunk message:
//   {"body":{"data":{"chunk_size":S,"data":"<text>","file_name":...,
//    "file_size":...,"md5":...,"total_chunks":...},"func":"file_transfer"},
//    "header":{...}}
// Keys ascend, so everything before the chunk's text depends on S alone. The
// text is encoded straight into the message; the rest comes from the JSON
// document with an empty "data", so the bytes are the document's own.
// Returns the message's length, 0 when memory for it cannot be had.
size_t BuildChunkMessage(Buffer& out, const unsigned char* pBytes, int nBytes, const QJsonObject& header,
                         const QString& qsFileName, int iFileLen, int nTotalChunks)
{
    const int nChars = (nBytes + 2) / 3 * 4;
    const QByteArray prefix =
        QByteArray("{\"body\":{\"data\":{\"chunk_size\":") + QByteArray::number(nChars) + ",\"data\":\"";
    const size_t nPrefix = static_cast<size_t>(prefix.size());
    if (!out.Reserve(nPrefix + static_cast<size_t>(nChars) + 1024))
        return 0;
    memcpy(out.Data(), prefix.constData(), nPrefix);

    char* const pText = out.Data() + nPrefix;
    Md5 md5;
    for (int off = 0; off < nBytes; off += kBlockFileBytes) {
        const int n = nBytes - off < kBlockFileBytes ? nBytes - off : kBlockFileBytes;
        char* const p = pText + off / 3 * 4;
        const int m = Base64Encode(pBytes + off, n, p, (n + 2) / 3 * 4);
        md5.Update(p, static_cast<size_t>(m));
    }
    unsigned char digest[kMd5Len];
    md5.Final(digest);

    QJsonObject data;
    data.insert(key::ChunkSize, nChars);
    data.insert(key::Data, QString());
    data.insert(key::FileName, qsFileName);
    data.insert(key::FileSize, iFileLen);
    data.insert(key::Md5, DigestText(digest));
    data.insert(key::TotalChunks, nTotalChunks);
    QJsonObject body;
    body.insert(key::Func, func::FileTransfer);
    body.insert(key::Data, data);
    QByteArray rest = ToCompactText(header, body);

    if (!rest.startsWith(prefix) || rest.size() <= prefix.size() || rest.at(prefix.size()) != '"') {
        // Not the layout above: let the document write the whole message.
        data.insert(key::Data, QString::fromLatin1(pText, nChars));
        body.insert(key::Data, data);
        rest = ToCompactText(header, body);
        if (!out.Reserve(static_cast<size_t>(rest.size())))
            return 0;
        memcpy(out.Data(), rest.constData(), static_cast<size_t>(rest.size()));
        return static_cast<size_t>(rest.size());
    }
    const size_t nTail = static_cast<size_t>(rest.size()) - nPrefix;
    const size_t nTotal = nPrefix + static_cast<size_t>(nChars) + nTail;
    if (!out.Reserve(nTotal))
        return 0;
    memcpy(out.Data() + nPrefix + nChars, rest.constData() + nPrefix, nTail);
    return nTotal;
}

// ---- inbound ----------------------------------------------------------------

// Image sizes arrive as numbers or as decimal strings (64-bit values do not
// survive a JSON number). Anything else, and numbers that are not whole or
// do not fit, give 0.
uint64_t ToUInt64(const QJsonValue& v)
{
    if (v.isDouble()) {
        const double d = v.toDouble();
        return (d >= 0.0 && d < 18446744073709551616.0 && d == std::floor(d)) ? static_cast<uint64_t>(d) : 0;
    }
    if (v.isString()) {
        bool ok = false;
        const qulonglong u = v.toString().toULongLong(&ok, 10);
        return ok ? u : 0;
    }
    return 0;
}

void ReadUInt64(const QJsonObject& o, QLatin1String key, uint64_t& out)
{
    const auto it = o.constFind(key);
    if (it != o.constEnd())
        out = ToUInt64(it.value());
}

// Reads one chunk object into st. False refuses the chunk. The decoded
// bytes go into buf, grown as needed, where st.pData points.
bool ReadChunk(const QJsonObject& chunk, __SCLOUD_FILE_TRANSFER& st, const LiftedText* pLifted,
               PageBytes& buf)
{
    ReadText(chunk, key::FileName, st.szFileName);
    int32_t n32 = 0;
    if (ReadInt(chunk, key::FileSize, n32))
        st.llFileSize = n32;

    auto it = chunk.constFind(key::Md5);
    if (it != chunk.constEnd() && it.value().isString()) {
        const QString qsMd5 = it.value().toString();
        if (qsMd5.size() != 24)
            return false;
        const QByteArray md5 = qsMd5.toUtf8();
        unsigned char digest[18];
        if (md5.size() != 24 || Base64Decode(md5.constData(), 24, digest) != kMd5Len)
            return false;
        memcpy(st.szMd5, digest, kMd5Len);
    }

    ReadInt(chunk, key::ChunkSize, st.iChunkSize);
    ReadInt(chunk, key::TotalChunks, st.iTotalChunks);
    ReadInt(chunk, key::ChunkIndex, st.iChunkIndex);
    ReadInt(chunk, key::FileType, st.iFileType);
    if (st.iFileType != 0) {
        it = chunk.constFind(key::FileInfo);
        if (it != chunk.constEnd()) {
            const QJsonObject info = it.value().toObject();
            ReadUInt64(info, key::ImgWidth, st.ullImgWidth);
            ReadUInt64(info, key::ImgHeight, st.ullImgHeight);
            ReadUInt64(info, key::ImgLinesize, st.ullImgLinesize);
            ReadInt(info, key::ImgBitcount, st.iImgBitcount);
            ReadInt(info, key::ImgChannelCount, st.iImgChannelCount);
            ReadDouble(info, key::ImgXresolution, st.dImgXresolution);
            ReadDouble(info, key::ImgYresolution, st.dImgYresolution);
        }
    }

    it = chunk.constFind(key::Data);
    if (it == chunk.constEnd())
        return true;
    QByteArray holder;
    const char* pText = "";
    int nBytes = 0;
    int nChars = 0;
    if (pLifted) {
        pText = pLifted->p;
        nBytes = nChars = pLifted->n;
    } else if (it.value().isString()) {
        const QString qs = it.value().toString();
        nChars = qs.size();
        holder = qs.toUtf8();
        pText = holder.constData();
        nBytes = holder.size();
    }
    if (nChars != st.iChunkSize)
        return false;
    unsigned char digest[kMd5Len];
    Md5Digest(pText, static_cast<size_t>(nBytes), digest);
    if (memcmp(digest, st.szMd5, kMd5Len) != 0)
        return false;

    // Sized by bytes: a text with non-ASCII characters has more bytes than
    // characters (and never decodes, but the decoder may write first).
    const size_t nCap = static_cast<size_t>(nBytes) / 4 * 3 + 1;
    if (buf.size() < nCap) {
        try {
            buf.resize(nCap);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    unsigned char* const pData = buf.data();
    const int nDecoded = Base64Decode(pText, nBytes, pData);
    // Only what follows the decoded bytes needs zeroing; a text that did not
    // decode leaves nothing valid.
    memset(pData + nDecoded, 0, nCap - static_cast<size_t>(nDecoded));
    if (nDecoded == 0)
        memset(pData, 0, nCap);
    st.pData = pData;
    st.iChunkSize = nDecoded;
    return true;
}


} // namespace

int HandleFileChunk(CWylnOwner& sink, const QJsonObject& body, const SCloudMsgHeader& hdr, const LiftedText* pLifted)
{
    const auto dit = body.constFind(key::Data);
    if (dit != body.constEnd() && dit.value().isArray())
        sink.Log(say::FileTransferArray);

    __SCLOUD_FILE_TRANSFER st;
    memset(&st, 0, sizeof(st));
    st.sVer = 1;
    __SCLOUD_FILE_TRANSFER_RESULT result;
    memset(&result, 0, sizeof(result));

    bool bAccepted = true;
    PageBytes buf = sink.TakeChunkBuffer();
    QJsonObject chunk;
    if (FirstDataRecord(body, chunk)) {
        st.sVer = VersionToShort(hdr.qsVersion);
        bAccepted = ReadChunk(chunk, st, pLifted, buf);
    }
    if (bAccepted)
        sink.Owner()->OnFileTransfer(&st, &result);
    else
        result.iCode = 1;
    sink.KeepChunkBuffer(std::move(buf));

    JsonText data;
    data.BeginObject().Int(key::Code, result.iCode).String(key::FilePath, result.szFilePath).EndObject();
    return sink.SendReply(hdr, func::FileTransfer, data);
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleFileTransfer(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    return HandleFileChunk(*this, body, hdr, nullptr);
}

int Orlin::SendPrintPrnFile(const char* szTargetId, __SCLOUD_SEND_PRN* pSendPrnParam, int nTimeoutMs)
{
    qDebug("%s", say::DebugSendPrn0);
    if (!_Ready("SendPrintPrnFile"))
        return -1;
    if (!pSendPrnParam || pSendPrnParam->iFileLen < 1) {
        _Log(say::SendPrnNull);
        return -1;
    }
    qDebug("%s", say::DebugSendPrn1);

    const int iFileLen = pSendPrnParam->iFileLen;
    const qint64 llChars = (qint64(iFileLen) + 2) / 3 * 4;
    qDebug().noquote() << QString::fromLatin1(say::DebugSendPrnSizes)
                              .arg(iFileLen)
                              .arg(llChars)
                              .arg(kChunkChars);
    const int nTotalChunks = static_cast<int>((llChars + kChunkChars - 1) / kChunkChars);
    qDebug().noquote() << QString::fromLatin1(say::DebugTotalChunks).arg(nTotalChunks);

    int ret = _ApplyIdBeforeSend();
    if (ret != 0)
        return ret;

    // The file's bytes follow the structure's fixed part; the declared array
    // is shorter than the file.
    const unsigned char* const pFile =
        reinterpret_cast<const unsigned char*>(pSendPrnParam) + offsetof(__SCLOUD_SEND_PRN, szFileData);
    const QString qsFileName = FieldText(pSendPrnParam->szFileName);
    const QString qsVersion = QString::asprintf("%d.0", pSendPrnParam->sVer);
    const QString qsTarget = QString::fromUtf8(szTargetId ? szTargetId : "");
    Buffer text(m_vChunkText);
    for (int i = 0; i < nTotalChunks; ++i) {
        const qint64 llOffset = qint64(i) * kChunkFileBytes;
        const int nBytes = iFileLen - llOffset < kChunkFileBytes ? static_cast<int>(iFileLen - llOffset)
                                                                 : kChunkFileBytes;
        qDebug().noquote() << QString::fromLatin1(say::DebugChunk).arg(i).arg((nBytes + 2) / 3 * 4);
        QJsonObject header;
        BuildReplyHeader(header, qsVersion, MsgRequest, _SourceId(), qsTarget, QString());
        const size_t nText = BuildChunkMessage(text, pFile + llOffset, nBytes, header, qsFileName, iFileLen,
                                               nTotalChunks);
        if (nText == 0) {
            ret = -1;  // no memory for the chunk: stops like a failed send
            break;
        }
        ret = m_pWylnClient->SendTo(szTargetId, text.Data(), static_cast<int>(nText), nTimeoutMs);
        if (ret != 0)
            break;
    }
    _Log(QString::fromLatin1(say::SendPrnFile)
             .arg(qsTarget, qsFileName, QString::number(pSendPrnParam->sVer), QString::number(iFileLen))
             .toUtf8());
    return _GetErrorCode(ret);
}
