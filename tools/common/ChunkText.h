// "file_transfer" chunk messages as the tools write them, and the result
// codes the simulated printer answers them with.
//
// A chunk carries 8388608 Base64 characters (6291456 file bytes), the last
// one the rest; "md5" is the Base64 form of the MD5 of the chunk's
// characters. The tools add "chunk_index" so that a receiver can place every
// chunk on its own. A chunk object without "data" is a status query: the
// printer answers whether it holds that chunk (with the given "md5"), or,
// with "chunk_index" -1, what it holds of the whole file.
#pragma once

#include "wire/Md5Pair.h"

#include <QByteArray>
#include <QString>

namespace tools {

constexpr int kChunkChars = 8388608;
constexpr int kChunkBytes = kChunkChars / 4 * 3;
// The receiver reads "file_size" as a 32-bit integer.
constexpr qint64 kMaxFileBytes = 2147483647;
constexpr int kWholeFile = -1;  // "chunk_index" of a whole-file query
constexpr int kDigestLen = 16;

// Reply codes of the simulated printer to a chunk or a query.
enum ChunkCode : int {
    kHeld = 0,          // chunk stored or already held; query: held (whole file: complete and checked)
    kRefused = 1,       // the library refused the chunk: its text does not match "md5" or "chunk_size"
    kBadFile = 2,       // the assembled file failed its size or MD5 check and was dropped
    kNotStored = 3,     // the chunk could not be written (disk full, folder not writable)
    kBadChunk = 4,      // index, size or count do not fit the file
    kNotHeld = 5,       // query: not held
    kPartlyHeld = 6,    // whole-file query: some chunks are held
};

// Chunks of a file of `size` bytes (at least 1 for a size of at least 1).
int chunkCount(qint64 size);
// File bytes of chunk `index`.
int chunkBytes(qint64 size, int index);
// Empty when a file of `size` bytes can be sent, else why not.
QString sizeProblem(qint64 size);

struct ChunkHeader
{
    QString msgId;
    QString source;
    QString target;
    qint64 timestamp = 0;
    QString version = QStringLiteral("1.0");
};

class ChunkWriter
{
public:
    // withIndex false writes the library's own chunk, without "chunk_index".
    ChunkWriter(const QString& fileName, qint64 fileSize, bool withIndex = true);

    int total() const { return total_; }

    // Writes chunk `index`'s whole message into text, encoding and hashing
    // `bytes` block by block while each block is still in cache. digest gets
    // the MD5 of the chunk's characters. With file given, `bytes` also go
    // into its second lane (the whole file's MD5, chunks fed in order),
    // hashed side by side with the characters in its first.
    void write(int index, const unsigned char* bytes, int n, const ChunkHeader& h, QByteArray& text,
               unsigned char (&digest)[kDigestLen], orlin::Md5Pair* file = nullptr) const;

    // A status query for chunk `index` with its digest, or for the whole
    // file (index kWholeFile, digest null).
    QByteArray query(int index, const unsigned char* digest, const ChunkHeader& h) const;

private:
    QByteArray tail(const unsigned char* digest, const ChunkHeader& h) const;

    QString name_;
    qint64 size_;
    int total_;
    bool withIndex_;
};

QString digestText(const unsigned char (&digest)[kDigestLen]);

} // namespace tools
