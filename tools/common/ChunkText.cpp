#include "ChunkText.h"

#include "wire/Base64.h"
#include "wire/JsonText.h"
#include "wire/Keys.h"

#include <cstring>

namespace tools {

namespace {

// 65536 characters: encoded, then hashed while still in the cache.
constexpr int kBlockBytes = 3 * 16384;

} // namespace

int chunkCount(qint64 size)
{
    return size < 1 ? 0 : static_cast<int>((size + kChunkBytes - 1) / kChunkBytes);
}

int chunkBytes(qint64 size, int index)
{
    const qint64 rest = size - qint64(index) * kChunkBytes;
    return rest < 0 ? 0 : static_cast<int>(rest < kChunkBytes ? rest : kChunkBytes);
}

QString sizeProblem(qint64 size)
{
    if (size < 1)
        return QStringLiteral("the file is empty; a print file has at least 1 byte");
    if (size > kMaxFileBytes)
        return QStringLiteral("the file has %1 bytes; the largest print file is %2 bytes (2 GiB - 1), because the "
                              "printer reads \"file_size\" as a 32-bit integer")
            .arg(size)
            .arg(kMaxFileBytes);
    return QString();
}

QString digestText(const unsigned char (&digest)[kDigestLen])
{
    char text[24];
    orlin::Base64Encode(digest, kDigestLen, text, sizeof(text));
    return QString::fromLatin1(text, sizeof(text));
}

ChunkWriter::ChunkWriter(const QString& fileName, qint64 fileSize, bool withIndex)
    : name_(fileName), size_(fileSize), total_(chunkCount(fileSize)), withIndex_(withIndex)
{
}

// Everything after the chunk's text, from the key after "data" on:
//   ,"file_name":..,"file_size":..[,"md5":..],"total_chunks":..},"func":"file_transfer"},"header":{..}}
QByteArray ChunkWriter::tail(const unsigned char* digest, const ChunkHeader& h) const
{
    orlin::JsonText data;
    data.BeginObject().String(orlin::key::FileName, name_).Int(orlin::key::FileSize, size_);
    if (digest) {
        unsigned char d[kDigestLen];
        std::memcpy(d, digest, kDigestLen);
        data.String(orlin::key::Md5, digestText(d));
    }
    data.Int(orlin::key::TotalChunks, total_).EndObject();

    orlin::JsonText header;
    header.BeginObject()
        .BeginObject(orlin::key::Header)
        .String(orlin::key::MsgId, h.msgId)
        .Int(orlin::key::MsgType, 0)
        .String(orlin::key::SourceId, h.source)
        .String(orlin::key::TargetId, h.target)
        .Int(orlin::key::Timestamp, h.timestamp)
        .String(orlin::key::Version, h.version)
        .EndObject()
        .EndObject();

    QByteArray out;
    out.reserve(data.Bytes().size() + header.Bytes().size() + 32);
    out.append(',').append(data.Bytes().mid(1));
    out.append(",\"func\":\"file_transfer\"},");
    out.append(header.Bytes().mid(1));
    return out;
}

void ChunkWriter::write(int index, const unsigned char* bytes, int n, const ChunkHeader& h, QByteArray& text,
                        unsigned char (&digest)[kDigestLen], orlin::Md5Pair* file) const
{
    const int chars = (n + 2) / 3 * 4;
    QByteArray head("{\"body\":{\"data\":{");
    if (withIndex_)
        head.append("\"chunk_index\":").append(QByteArray::number(index)).append(',');
    head.append("\"chunk_size\":").append(QByteArray::number(chars)).append(",\"data\":\"");

    // Room for the tail too, so that appending it never moves the text.
    const int room = head.size() + chars + 1 + 512 + name_.size() * 6 + h.msgId.size() + (h.source.size() + h.target.size()) * 6;
    if (text.capacity() < room)
        text.reserve(room);
    text.resize(head.size() + chars + 1);
    std::memcpy(text.data(), head.constData(), static_cast<size_t>(head.size()));
    char* const p = text.data() + head.size();
    orlin::Md5Pair own;
    orlin::Md5Pair& md5 = file ? *file : own;
    for (int off = 0; off < n; off += kBlockBytes) {
        const int m = n - off < kBlockBytes ? n - off : kBlockBytes;
        char* const out = p + off / 3 * 4;
        const int written = orlin::Base64Encode(bytes + off, m, out, (m + 2) / 3 * 4);
        md5.Update(out, static_cast<size_t>(written), bytes + off, file ? static_cast<size_t>(m) : 0);
    }
    md5.Final(0, digest);
    p[chars] = '"';
    text.append(tail(digest, h));
}

QByteArray ChunkWriter::query(int index, const unsigned char* digest, const ChunkHeader& h) const
{
    QByteArray text("{\"body\":{\"data\":{\"chunk_index\":");
    text.append(QByteArray::number(index));
    return text.append(tail(digest, h));
}

} // namespace tools
