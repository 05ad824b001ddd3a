// The simulated printer's file receiver: puts "file_transfer" chunks
// together into files in one folder, surviving restarts on either side.
//
// Each chunk is written at its index's offset into a partial file
// ".NAME.part", so duplicates and chunks out of order do no harm. Beside it
// a small record ".NAME.chunks" lists the chunks that arrived with their
// digests (one line each, appended after the chunk's bytes were written), so
// that a transfer goes on after the printer, the sender or the broker
// restarted. When the last chunk arrives the file's size is checked and its
// MD5 taken: from the bytes as they arrived when they came in order, else
// read back from the partial file, with every chunk read back checked
// against its recorded digest again. Only then is the partial file renamed
// to NAME and the file reported received. The record stays, marked
// complete, so that a sender that missed the last reply learns that nothing
// is left to send.
//
// Chunks without "chunk_index" (the library's own sender) arrive in order:
// while a transfer has seen no other index, a repeated index 0 with other
// content is taken as the next chunk. Senders that query the printer first
// (ChunkText.h) are never read that way.
//
// Calls are serialised by the receiver's own lock.
#pragma once

#include <OrlinTypes.h>

#include <QJsonObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace sim {

class FileReceiver
{
public:
    // An event: its name, its fields for programs, its text for people
    // ("file_received", "file_dropped", "chunk_dropped", "file_error").
    using Say = std::function<void(const QString& event, const QJsonObject& fields, const QString& text)>;

    FileReceiver(QString dir, Say say);
    ~FileReceiver();
    FileReceiver(const FileReceiver&) = delete;
    FileReceiver& operator=(const FileReceiver&) = delete;

    // One inbound chunk or query as OnFileTransfer receives it. Returns the
    // reply code (tools::ChunkCode); path gets where the file is stored.
    int onChunk(const __SCLOUD_FILE_TRANSFER& c, QString& path);

    void setDir(const QString& dir);
    // Closes every open file; partial files and records stay for a resume.
    void close();

private:
    struct Transfer;
    Transfer* load(const QString& name);
    bool begin(Transfer& t, qint64 size, int total, QString& why);
    int store(Transfer& t, int index, const __SCLOUD_FILE_TRANSFER& c);
    int complete(Transfer& t);
    int query(Transfer* t, const __SCLOUD_FILE_TRANSFER& c);

    std::mutex mutex_;
    QString dir_;
    Say say_;
    // A "file_error" event: storing `name` failed as `text` says.
    void problem(const QString& name, const QString& text);
    std::map<QString, std::unique_ptr<Transfer>> transfers_;
};

} // namespace sim
