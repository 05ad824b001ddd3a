#include "FileReceiver.h"

#include "ChunkText.h"
#include "wire/Base64.h"
#include "wire/Md5.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <cstring>
#include <future>
#include <vector>

#ifdef __linux__
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace sim {

using tools::kChunkBytes;
using Digest = std::array<unsigned char, tools::kDigestLen>;

namespace {

// A file name from a peer, reduced to its last component.
QString safeName(const char* raw)
{
    QString n = QFileInfo(QString::fromUtf8(raw)).fileName();
    if (n.isEmpty() || n == "." || n == "..")
        n = "unnamed.prn";
    return n;
}

Digest digestOf(const unsigned char* p)
{
    Digest d;
    std::memcpy(d.data(), p, d.size());
    return d;
}

QByteArray digestText(const Digest& d)
{
    unsigned char raw[tools::kDigestLen];
    std::memcpy(raw, d.data(), d.size());
    return tools::digestText(raw).toLatin1();
}

// The digest a chunk's sender computed: MD5 of the chunk's Base64 text.
Digest textDigest(const unsigned char* bytes, int n)
{
    std::vector<char> text(static_cast<size_t>((n + 2) / 3 * 4));
    const int chars = orlin::Base64Encode(bytes, n, text.data(), static_cast<int>(text.size()));
    unsigned char d[tools::kDigestLen];
    orlin::Md5Digest(text.data(), static_cast<size_t>(chars), d);
    return digestOf(d);
}

// A second descriptor of the partial file that bypasses the page cache,
// where the system and the file system allow it. Copying every chunk into
// the page cache cost the printer about a quarter of its CPU time, more than
// handing the disk the library's (page-aligned) buffer as it is. Block-
// aligned pieces go this way; the rest, and everything once a direct write
// failed, goes through the QFile.
class DirectFile
{
public:
    DirectFile() = default;
    ~DirectFile() { reset(); }
    DirectFile(const DirectFile&) = delete;
    DirectFile& operator=(const DirectFile&) = delete;

    void open(const QString& path)
    {
        reset();
#if defined(__linux__) && defined(O_DIRECT)
        fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_DIRECT | O_CLOEXEC);
#else
        (void)path;
#endif
    }
    void reset()
    {
#ifdef __linux__
        if (fd_ >= 0)
            ::close(fd_);
#endif
        fd_ = -1;
    }
    // Writes the longest block-aligned start of [p, p + n) at `at` and
    // returns its length: 0 when nothing could go this way.
    size_t writeHead(const unsigned char* p, size_t n, qint64 at)
    {
        const size_t head = n / kBlock * kBlock;
        if (fd_ < 0 || head == 0 || reinterpret_cast<uintptr_t>(p) % kBlock != 0 || at % qint64(kBlock) != 0)
            return 0;
#ifdef __linux__
        for (size_t done = 0; done < head;) {
            const ssize_t w = ::pwrite(fd_, p + done, head - done, at + qint64(done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0 || size_t(w) % kBlock != 0) {
                // Not supported here after all, or short of space: the QFile
                // writes the whole piece again and reports what is wrong.
                reset();
                return 0;
            }
            done += size_t(w);
        }
#endif
        return head;
    }

private:
    static constexpr size_t kBlock = 4096;
    int fd_ = -1;
};

} // namespace

struct FileReceiver::Transfer
{
    QString name;
    qint64 size = 0;
    int total = 0;
    bool indexed = false;   // its sender names every chunk's index
    bool complete = false;  // NAME is in place and checked
    std::vector<Digest> digests;
    std::vector<char> held;
    int heldCount = 0;
    std::unique_ptr<QFile> part;
    DirectFile direct;  // the part file again, around the page cache
    std::unique_ptr<QFile> record;
    // MD5 of chunks 0 .. hashed-1, taken from the bytes as they arrived.
    std::unique_ptr<orlin::Md5> md5;
    int hashed = 0;

    bool fits(qint64 s, int n) const { return total > 0 && size == s && total == n; }
    void forgetHash()
    {
        md5 = std::make_unique<orlin::Md5>();
        hashed = 0;
    }
};

FileReceiver::FileReceiver(QString dir, Say say) : dir_(std::move(dir)), say_(std::move(say)) {}

FileReceiver::~FileReceiver()
{
    close();
}

void FileReceiver::problem(const QString& name, const QString& text)
{
    say_("file_error", {{"file_name", name}, {"text", text}}, text);
}

void FileReceiver::setDir(const QString& dir)
{
    std::lock_guard<std::mutex> lock(mutex_);
    transfers_.clear();
    dir_ = dir;
}

void FileReceiver::close()
{
    std::lock_guard<std::mutex> lock(mutex_);
    transfers_.clear();
}

// The transfer of `name`, from memory or from its record. A record that
// does not parse, or whose partial file is gone, counts as nothing held.
FileReceiver::Transfer* FileReceiver::load(const QString& name)
{
    auto& slot = transfers_[name];
    if (slot)
        return slot.get();
    slot = std::make_unique<Transfer>();
    Transfer& t = *slot;
    t.name = name;
    t.forgetHash();
    const QDir dir(dir_);
    QFile rec(dir.filePath("." + name + ".chunks"));
    if (!rec.open(QIODevice::ReadOnly))
        return &t;
    const QList<QByteArray> head = rec.readLine().trimmed().split(' ');
    if (head.size() != 4 || head[0] != "orlin-chunks")
        return &t;
    const qint64 size = head[1].toLongLong();
    const int total = head[2].toInt();
    if (size < 1 || total != tools::chunkCount(size))
        return &t;
    t.size = size;
    t.total = total;
    t.indexed = head[3] == "1";
    t.digests.assign(static_cast<size_t>(total), Digest{});
    t.held.assign(static_cast<size_t>(total), 0);
    bool complete = false;
    while (!rec.atEnd()) {
        const QByteArray line = rec.readLine();
        if (!line.endsWith('\n'))
            break;  // cut short by a crash while it was written
        const QList<QByteArray> f = line.trimmed().split(' ');
        if (f.size() == 2 && f[0] == "complete") {
            complete = true;
            continue;
        }
        if (f.size() == 2 && f[0] == "drop") {
            const int i = f[1].toInt();
            if (i >= 0 && i < total && t.held[static_cast<size_t>(i)]) {
                t.held[static_cast<size_t>(i)] = 0;
                --t.heldCount;
            }
            continue;
        }
        bool ok = false;
        const int i = f.size() == 2 ? f[0].toInt(&ok) : -1;
        const QByteArray d = QByteArray::fromBase64(f.value(1));
        if (!ok || i < 0 || i >= total || d.size() != tools::kDigestLen)
            continue;
        t.digests[static_cast<size_t>(i)] = digestOf(reinterpret_cast<const unsigned char*>(d.constData()));
        if (!t.held[static_cast<size_t>(i)]) {
            t.held[static_cast<size_t>(i)] = 1;
            ++t.heldCount;
        }
    }
    const QFileInfo final(dir.filePath(name));
    if (complete && t.heldCount == total && final.isFile() && final.size() == size) {
        t.complete = true;
        return &t;
    }
    if (!QFile::exists(dir.filePath("." + name + ".part"))) {
        t.total = 0;  // nothing usable
        t.heldCount = 0;
    }
    return &t;
}

// Starts the partial file and the record of a new transfer.
bool FileReceiver::begin(Transfer& t, qint64 size, int total, QString& why)
{
    const QDir dir(dir_);
    t.part.reset();
    t.direct.reset();
    t.record.reset();
    t.size = size;
    t.total = total;
    t.complete = false;
    t.digests.assign(static_cast<size_t>(total), Digest{});
    t.held.assign(static_cast<size_t>(total), 0);
    t.heldCount = 0;
    t.forgetHash();
    auto part = std::make_unique<QFile>(dir.filePath("." + t.name + ".part"));
    auto record = std::make_unique<QFile>(dir.filePath("." + t.name + ".chunks"));
    if (!part->open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered)) {
        why = part->fileName() + ": " + part->errorString();
        t.total = 0;
        return false;
    }
    const QByteArray head =
        "orlin-chunks " + QByteArray::number(size) + ' ' + QByteArray::number(total) + (t.indexed ? " 1\n" : " 0\n");
    if (!record->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)
        || record->write(head) != head.size()) {
        why = record->fileName() + ": " + record->errorString();
        part->remove();
        t.total = 0;
        return false;
    }
#ifdef __linux__
    // All the file's blocks reserved at once: writing the chunks into them
    // costs about half the system time of allocating them chunk by chunk,
    // and the size still grows only with what is written. When the
    // reservation is refused the writes report any shortage themselves.
    (void)fallocate(part->handle(), FALLOC_FL_KEEP_SIZE, 0, size);
#endif
    t.direct.open(part->fileName());
    t.part = std::move(part);
    t.record = std::move(record);
    return true;
}

int FileReceiver::onChunk(const __SCLOUD_FILE_TRANSFER& c, QString& path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const QString name = safeName(c.szFileName);
    path = QDir(dir_).filePath(name);
    const qint64 size = c.llFileSize;
    const int total = c.iTotalChunks;
    if (size < 1 || total != tools::chunkCount(size))
        return tools::kBadChunk;
    Transfer* t = load(name);
    if (!c.pData)
        return query(t, c);
    int index = c.iChunkIndex;
    if (index < 0 || index >= total)
        return tools::kBadChunk;
    const Digest digest = digestOf(c.szMd5);
    if (t->fits(size, total) && t->held[static_cast<size_t>(index)] && t->digests[static_cast<size_t>(index)] == digest
        && (t->indexed || index != 0 || t->complete))
        return tools::kHeld;  // a duplicate
    if (t->fits(size, total) && !t->complete && !t->indexed && index == 0 && t->held[0]) {
        // Chunks without an index, in order: this one is the next.
        while (index < total && t->held[static_cast<size_t>(index)])
            ++index;
        if (index >= total)
            return tools::kBadChunk;
    }
    if (c.iChunkSize != tools::chunkBytes(size, index))
        return tools::kBadChunk;
    if (!t->fits(size, total) || t->complete || !t->part) {
        // A new file, another version of one, or a partial file left by an
        // earlier run: the partial file is opened again only when it fits.
        QString why;
        const bool resume = t->fits(size, total) && !t->complete;
        if (resume) {
            t->part = std::make_unique<QFile>(QDir(dir_).filePath("." + name + ".part"));
            t->record = std::make_unique<QFile>(QDir(dir_).filePath("." + name + ".chunks"));
            if (!t->part->open(QIODevice::ReadWrite | QIODevice::Unbuffered) || !t->record->open(QIODevice::Append | QIODevice::Unbuffered)) {
                why = t->part->fileName() + ": " + t->part->errorString() + "; " + t->record->errorString();
                t->part.reset();
                t->record.reset();
            } else {
                t->direct.open(t->part->fileName());
            }
        }
        if (!t->part && !begin(*t, size, total, why)) {
            problem(name, QString("cannot store %1 in %2: %3").arg(name, dir_, why));
            return tools::kNotStored;
        }
    }
    return store(*t, index, c);
}

int FileReceiver::store(Transfer& t, int index, const __SCLOUD_FILE_TRANSFER& c)
{
    const size_t at = static_cast<size_t>(index);
    const qint64 offset = qint64(index) * kChunkBytes;
    const Digest digest = digestOf(c.szMd5);
    if (t.held[at] && t.digests[at] != digest && index < t.hashed)
        t.forgetHash();  // content replaced under the running hash
    // The next chunk in order goes into the running MD5 on a second thread
    // while this one writes it, straight from the library's buffer: the two
    // take about as long each.
    std::future<void> hashing;
    if (index == t.hashed)
        hashing = std::async(std::launch::async, [&t, &c] { t.md5->Update(c.pData, static_cast<size_t>(c.iChunkSize)); });
    const qint64 head = qint64(t.direct.writeHead(c.pData, size_t(c.iChunkSize), offset));
    const qint64 rest = c.iChunkSize - head;
    const bool written =
        rest == 0
        || (t.part->seek(offset + head)
            && t.part->write(reinterpret_cast<const char*>(c.pData) + head, rest) == rest);
    if (hashing.valid()) {
        hashing.get();
        if (written)
            ++t.hashed;
        else
            t.forgetHash();  // hashed but not stored
    }
    if (!written) {
        problem(t.name, QString("cannot write chunk %1 of %2 (%3 bytes at offset %4) in %5: %6; the %7 chunk(s) stored so far "
                     "are kept")
                 .arg(index)
                 .arg(t.name)
                 .arg(c.iChunkSize)
                 .arg(offset)
                 .arg(dir_, t.part->errorString())
                 .arg(t.heldCount));
        t.part->unsetError();
        return tools::kNotStored;
    }
    const QByteArray line = QByteArray::number(index) + ' ' + digestText(digest) + '\n';
    if (t.record->write(line) != line.size()) {
        problem(t.name, QString("cannot record chunk %1 of %2 in %3: %4").arg(index).arg(t.name, dir_, t.record->errorString()));
        t.forgetHash();  // it may have gone into the hash; it comes again
        return tools::kNotStored;
    }
    t.digests[at] = digest;
    if (!t.held[at]) {
        t.held[at] = 1;
        ++t.heldCount;
    }
    return t.heldCount == t.total ? complete(t) : tools::kHeld;
}

// Every chunk is there: size and MD5 checked, then the file takes its name.
int FileReceiver::complete(Transfer& t)
{
    const QDir dir(dir_);
    const QString final = dir.filePath(t.name);
    if (t.part->size() != t.size) {
        say_("file_dropped", {{"file_name", t.name}, {"size", t.part->size()}, {"expected", t.size}},
             QString("file %1 has %2 bytes, expected %3: dropped").arg(t.name).arg(t.part->size()).arg(t.size));
        t.direct.reset();
        t.part->remove();
        t.part.reset();
        t.total = 0;
        return tools::kBadFile;
    }
    // The chunks that did not arrive in order are read back and checked.
    std::vector<unsigned char> buf;
    int bad = -1;
    for (int i = t.hashed; i < t.total && bad < 0; ++i) {
        const int n = tools::chunkBytes(t.size, i);
        buf.resize(static_cast<size_t>(n));
        if (!t.part->seek(qint64(i) * kChunkBytes) || t.part->read(reinterpret_cast<char*>(buf.data()), n) != n
            || textDigest(buf.data(), n) != t.digests[static_cast<size_t>(i)]) {
            bad = i;
            break;
        }
        t.md5->Update(buf.data(), buf.size());
        ++t.hashed;
    }
    if (bad >= 0) {
        // Asked again, the sender sends that chunk once more.
        say_("chunk_dropped", {{"file_name", t.name}, {"chunk_index", bad}},
             QString("chunk %1 of %2 does not read back as it arrived: dropped").arg(bad).arg(t.name));
        t.held[static_cast<size_t>(bad)] = 0;
        --t.heldCount;
        t.record->write("drop " + QByteArray::number(bad) + '\n');
        t.forgetHash();
        return tools::kBadFile;
    }
    unsigned char digest[tools::kDigestLen];
    t.md5->Final(digest);
    t.forgetHash();
    const QByteArray hex = QByteArray(reinterpret_cast<const char*>(digest), tools::kDigestLen).toHex();
    t.direct.reset();
    t.part->close();
    QFile::remove(final);
    if (!t.part->rename(final)) {
        problem(t.name, QString("cannot rename %1 to %2: %3").arg(t.part->fileName(), final, t.part->errorString()));
        return tools::kNotStored;
    }
    t.part.reset();
    t.record->write("complete " + hex + '\n');
    t.record.reset();
    t.complete = true;
    say_("file_received", {{"path", final}, {"size", t.size}, {"md5", QString::fromLatin1(hex)}},
         QString("file received: %1 size=%2 md5=%3").arg(final).arg(t.size).arg(QString::fromLatin1(hex)));
    return tools::kHeld;
}

// A chunk object without "data": what is held of the file, or of one chunk
// with the given digest.
int FileReceiver::query(Transfer* t, const __SCLOUD_FILE_TRANSFER& c)
{
    const qint64 size = c.llFileSize;
    const int total = c.iTotalChunks;
    if (c.iChunkIndex == tools::kWholeFile) {
        t->indexed = true;
        if (!t->fits(size, total) || t->heldCount == 0)
            return tools::kNotHeld;
        return t->complete ? tools::kHeld : tools::kPartlyHeld;
    }
    if (c.iChunkIndex < 0 || c.iChunkIndex >= total)
        return tools::kBadChunk;
    const size_t at = static_cast<size_t>(c.iChunkIndex);
    return t->fits(size, total) && t->held[at] && t->digests[at] == digestOf(c.szMd5) ? tools::kHeld
                                                                                        : tools::kNotHeld;
}

} // namespace sim
