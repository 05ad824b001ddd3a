// The simulated printer's file receiver: rebuilds files from "file_transfer"
// chunks in a temporary file beside the target and renames it when every
// chunk has arrived and the size is right.
#pragma once

#include <IOrlin.h>

#include <QFile>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace sim {

// Where a received file chunk goes. Full chunks carry 8388608 Base64
// characters, that is 6291456 file bytes.
constexpr qint64 kChunkBytes = 8388608 / 4 * 3;

class FileReceiver
{
public:
    using Say = std::function<void(const QString&)>;

    // `say` gets the receiver's event lines ("file received: ...").
    FileReceiver(QString dir, Say say);
    ~FileReceiver();

    void setDir(const QString& dir);
    // Stores one chunk; finalPath gets where the file goes. Returns the
    // result code: 0 stored, 2 the complete file has the wrong size, 3 a
    // write failed, 4 the chunk does not fit the transfer.
    int store(const __SCLOUD_FILE_TRANSFER& c, QString& finalPath);
    // Removes the temporary files of unfinished transfers.
    void discardPartial();

private:
    struct Transfer
    {
        std::unique_ptr<QFile> file;
        int total = 0;
        qint64 size = 0;
        std::set<int> received;
    };

    std::mutex mutex_;
    QString dir_;
    Say say_;
    std::map<QString, Transfer> transfers_;
};

} // namespace sim
