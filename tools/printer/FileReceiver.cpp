#include "FileReceiver.h"
#include "PrinterCommon.h"
#include "SimPrinter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

namespace sim {

namespace {

// A file name from a peer, reduced to its last component.
QString safeName(const char* raw)
{
    QString n = QFileInfo(QString::fromUtf8(raw)).fileName();
    if (n.isEmpty() || n == "." || n == "..")
        n = "unnamed.prn";
    return n;
}

} // namespace

FileReceiver::FileReceiver(QString dir, Say say) : dir_(std::move(dir)), say_(std::move(say)) {}

FileReceiver::~FileReceiver()
{
    discardPartial();
}

void FileReceiver::setDir(const QString& dir)
{
    std::lock_guard<std::mutex> lock(mutex_);
    dir_ = dir;
}

void FileReceiver::discardPartial()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& t : transfers_)
        if (t.second.file)
            t.second.file->remove();
    transfers_.clear();
}

int FileReceiver::store(const __SCLOUD_FILE_TRANSFER& c, QString& finalPath)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const QString name = safeName(c.szFileName);
    finalPath = QDir(dir_).filePath(name);
    if (c.iTotalChunks < 1 || c.llFileSize < 0 || !c.pData)
        return 4;
    auto it = transfers_.find(name);
    if (it != transfers_.end() && (it->second.total != c.iTotalChunks || it->second.size != c.llFileSize)) {
        it->second.file->remove();
        transfers_.erase(it);
        it = transfers_.end();
    }
    if (it == transfers_.end()) {
        Transfer t;
        t.file = std::make_unique<QFile>(QDir(dir_).filePath("." + name + ".part"));
        if (!t.file->open(QIODevice::ReadWrite | QIODevice::Truncate))
            return 3;
        t.total = c.iTotalChunks;
        t.size = c.llFileSize;
        it = transfers_.emplace(name, std::move(t)).first;
    }
    Transfer& t = it->second;
    int index = c.iChunkIndex;
    // A sender that puts no "chunk_index" into its chunks (the library's own
    // sender) sends them in order: a repeated index 0 is the next chunk.
    if (index == 0 && t.received.count(0))
        index = static_cast<int>(t.received.size());
    const qint64 offset = index * kChunkBytes;
    const bool last = index == t.total - 1;
    if (index < 0 || index >= t.total || offset + c.iChunkSize > t.size || (!last && c.iChunkSize != kChunkBytes))
        return 4;
    if (!t.file->seek(offset) || t.file->write(reinterpret_cast<const char*>(c.pData), c.iChunkSize) != c.iChunkSize)
        return 3;
    t.received.insert(index);
    if (static_cast<int>(t.received.size()) < t.total)
        return 0;

    std::unique_ptr<QFile> f = std::move(t.file);
    const qint64 size = t.size;
    transfers_.erase(it);
    f->flush();
    if (f->size() != size) {
        say_(QString("file %1 has %2 bytes, expected %3: dropped").arg(name).arg(f->size()).arg(size));
        f->remove();
        return 2;
    }
    f->seek(0);
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(f.get());
    f->close();
    QFile::remove(finalPath);
    if (!f->rename(finalPath))
        return 3;
    say_(QString("file received: %1 size=%2 md5=%3").arg(finalPath).arg(size).arg(QString(md5.result().toHex())));
    return 0;
}

void SimPrinter::OnFileTransfer(__SCLOUD_FILE_TRANSFER* pChunk, __SCLOUD_FILE_TRANSFER_RESULT* pResult)
{
    QString path;
    const int code = files_.store(*pChunk, path);
    copyText(pResult->szFilePath, path);
    pResult->iCode = code;
    if (code != 0)
        say(QString("chunk %1/%2 of %3 refused with %4")
                .arg(pChunk->iChunkIndex + 1)
                .arg(pChunk->iTotalChunks)
                .arg(QString::fromUtf8(pChunk->szFileName))
                .arg(code));
}

} // namespace sim
