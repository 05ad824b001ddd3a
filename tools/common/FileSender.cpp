#include "FileSender.h"

#include "WylnPeer.h"
#include "wire/Md5Pair.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace tools {

namespace {

struct Reply
{
    QString msgId;
    int code = -1;
    QString filePath;
};

// Replies to our chunks and queries, handed over from the transport's thread.
class Inbox
{
public:
    void push(Reply r)
    {
        std::lock_guard<std::mutex> lock(m_);
        q_.push_back(std::move(r));
        cv_.notify_one();
    }
    bool pop(Reply& r, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_);
        if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !q_.empty(); }))
            return false;
        r = std::move(q_.front());
        q_.pop_front();
        return true;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<Reply> q_;
};

using Digest = std::array<unsigned char, kDigestLen>;

class Sender
{
public:
    Sender(WylnPeer& peer, const SendOptions& o, const SendProgress& progress)
        : peer_(peer), o_(o), progress_(progress)
    {
    }

    SendReport run();

private:
    enum Kind { Data, Query };
    struct Pending
    {
        int index;
        Kind kind;
    };

    ChunkHeader header();
    bool readChunk(int index);
    bool build(int index, QByteArray& text, bool inOrder = false);
    int send(const QByteArray& text, int index, Kind kind);
    bool sendData(int index, const QByteArray& text);
    bool ask(const QByteArray& text, int index, Reply& r);
    bool collect(int timeoutMs);
    void apply(const Reply& r);
    void ack(int index);
    bool waitForRoom();
    bool recover();
    bool resendMissing(const std::set<int>& lacking);
    bool drain();
    bool finish();
    bool fail(int code, const QString& text);

    WylnPeer& peer_;
    SendOptions o_;
    SendProgress progress_;
    Inbox inbox_;
    SendReport rep_;
    QFile file_;
    std::unique_ptr<ChunkWriter> writer_;
    std::vector<unsigned char> bytes_;
    QByteArray text_;
    orlin::Md5Pair md5_;                     // lane 1: the whole file, fed by the in-order pass
    std::vector<Digest> digests_;
    std::vector<char> acked_;
    std::vector<char> counted_;              // in bytesDelivered or held
    std::vector<int> sends_;
    std::set<int> inFlight_;                 // data chunks sent, not yet acknowledged
    std::map<QString, Pending> pending_;     // msg_id -> what it was
    std::map<QString, Reply> answers_;       // replies to queries waited for by ask()
    std::set<int> missing_;                  // queried chunks the printer lacks
    int ackedCount_ = 0;
    qint64 ackedBytes_ = 0;
    bool fatal_ = false;
    QElapsedTimer clock_;
};

ChunkHeader Sender::header()
{
    ChunkHeader h;
    h.msgId = newMsgId();
    h.source = peer_.id();
    h.target = o_.target;
    h.timestamp = QDateTime::currentSecsSinceEpoch();
    h.version = o_.version;
    return h;
}

bool Sender::fail(int code, const QString& text)
{
    if (!fatal_) {
        rep_.exitCode = code;
        rep_.error = text;
    }
    fatal_ = true;
    return false;
}

bool Sender::readChunk(int index)
{
    const int n = chunkBytes(rep_.size, index);
    bytes_.resize(static_cast<size_t>(n));
    if (!file_.seek(qint64(index) * kChunkBytes) || file_.read(reinterpret_cast<char*>(bytes_.data()), n) != n)
        return fail(1, QString("cannot read %1: %2").arg(o_.path, file_.errorString()));
    return true;
}

bool Sender::build(int index, QByteArray& text, bool inOrder)
{
    if (!readChunk(index))
        return false;
    unsigned char d[kDigestLen];
    writer_->write(index, bytes_.data(), static_cast<int>(bytes_.size()), header(), text, d,
                   inOrder ? &md5_ : nullptr);
    std::memcpy(digests_[static_cast<size_t>(index)].data(), d, kDigestLen);
    return true;
}

// The msg_id is the header's first member: {"body":...,"header":{"msg_id":"<id>",...
// Found from the end: the header closes the message, after 8 MiB of chunk
// text.
QString msgIdOf(const QByteArray& text)
{
    const int at = text.lastIndexOf("\"header\":{\"msg_id\":\"") + 20;
    return QString::fromLatin1(text.constData() + at, 36);
}

int Sender::send(const QByteArray& text, int index, Kind kind)
{
    const QString msgId = msgIdOf(text);
    pending_[msgId] = Pending{index, kind};
    const int rc = peer_.sendTo(o_.target, text, o_.sendTimeoutMs);
    if (rc != 0)
        pending_.erase(msgId);
    return rc;
}

bool Sender::sendData(int index, const QByteArray& text)
{
    const size_t i = static_cast<size_t>(index);
    inFlight_.insert(index);
    ++rep_.sent;
    if (sends_[i]++ > 0) {
        ++rep_.resent;
        rep_.bytesResent += chunkBytes(rep_.size, index);
    }
    return send(text, index, Data) == 0;
}

void Sender::ack(int index)
{
    const size_t i = static_cast<size_t>(index);
    inFlight_.erase(index);
    missing_.erase(index);
    if (acked_[i])
        return;
    acked_[i] = 1;
    ++ackedCount_;
    ackedBytes_ += chunkBytes(rep_.size, index);
    if (!counted_[i]) {
        counted_[i] = 1;
        if (sends_[i] > 0)
            rep_.bytesDelivered += chunkBytes(rep_.size, index);
        else
            ++rep_.held;
    }
    if (progress_)
        progress_(ackedCount_, rep_.total, ackedBytes_, clock_.elapsed() / 1000.0);
}

void Sender::apply(const Reply& r)
{
    const auto it = pending_.find(r.msgId);
    if (it == pending_.end())
        return;  // a late reply to a message already settled
    const Pending p = it->second;
    pending_.erase(it);
    if (p.kind == Query) {
        answers_[r.msgId] = r;
        if (p.index >= 0 && r.code == kHeld)
            ack(p.index);
        else if (p.index >= 0 && !acked_[static_cast<size_t>(p.index)])
            missing_.insert(p.index);
        return;
    }
    if (!r.filePath.isEmpty())
        rep_.filePath = r.filePath;
    if (r.code == kHeld || r.code == kBadFile) {
        // kBadFile: stored, but the file did not check out; the closing
        // whole-file query finds what it lacks.
        ack(p.index);
    } else if (r.code == kRefused && sends_[static_cast<size_t>(p.index)] < 3) {
        missing_.insert(p.index);  // garbled on the way: once more
    } else if (!acked_[static_cast<size_t>(p.index)]) {
        fail(1, QString("the printer refused chunk %1 of %2 with code %3%4")
                    .arg(p.index)
                    .arg(rep_.total)
                    .arg(r.code)
                    .arg(r.code == kNotStored ? " (it cannot write the file; what it stored is kept)" : ""));
    }
}

// Takes every reply that comes within timeoutMs of the last one; false when
// none came at all.
bool Sender::collect(int timeoutMs)
{
    Reply r;
    if (!inbox_.pop(r, timeoutMs))
        return false;
    apply(r);
    while (inbox_.pop(r, 0))
        apply(r);
    return true;
}

// Sends a query and waits for its answer; a query lost with the link is
// sent again until the printer answers or --give-up passes.
bool Sender::ask(const QByteArray& text, int index, Reply& r)
{
    const QString msgId = msgIdOf(text);
    QElapsedTimer t;
    t.start();
    int rc = 0;
    while (!fatal_) {
        rc = send(text, index, Query);
        if (rc == 0) {
            while (!fatal_ && !answers_.count(msgId) && collect(o_.replyTimeoutMs)) {
            }
            if (!fatal_ && answers_.count(msgId)) {
                r = answers_[msgId];
                answers_.erase(msgId);
                return true;
            }
        }
        if (t.elapsed() >= o_.giveUpMs)
            return fail(2, rc != 0 ? QString("cannot reach %1 (transport code %2)").arg(o_.target).arg(rc)
                                   : QString("%1 does not answer").arg(o_.target));
        QThread::msleep(300);
    }
    return false;
}

// The chunks in flight got no reply in time, or a send failed: the link is
// down or replies were lost. Once the printer answers again it is asked for
// each of them, and only those it lacks are sent again.
bool Sender::recover()
{
    std::set<int> open = inFlight_;
    open.insert(missing_.begin(), missing_.end());
    QElapsedTimer t;
    t.start();
    while (!fatal_ && t.elapsed() < o_.giveUpMs) {
        for (auto it = open.begin(); it != open.end();)
            it = acked_[static_cast<size_t>(*it)] ? open.erase(it) : std::next(it);
        if (open.empty())
            return true;
        // Answers to earlier rounds' queries no longer count.
        for (auto it = pending_.begin(); it != pending_.end();)
            it = it->second.kind == Query ? pending_.erase(it) : std::next(it);
        bool linkUp = true;
        for (int i : open) {
            const Digest& d = digests_[static_cast<size_t>(i)];
            if (send(writer_->query(i, d.data(), header()), i, Query) != 0) {
                linkUp = false;
                break;
            }
        }
        if (linkUp) {
            auto unanswered = [&] {
                for (const auto& p : pending_)
                    if (p.second.kind == Query)
                        return true;
                return false;
            };
            while (!fatal_ && unanswered() && collect(o_.replyTimeoutMs)) {
            }
            if (!fatal_ && !unanswered()) {
                std::set<int> lacking;
                for (int i : open) {
                    inFlight_.erase(i);
                    if (!acked_[static_cast<size_t>(i)])
                        lacking.insert(i);
                }
                if (resendMissing(lacking))
                    return true;
            }
        }
        QThread::msleep(300);
    }
    return fatal_ ? false : fail(2, QString("%1 unreachable for %2 s").arg(o_.target).arg(o_.giveUpMs / 1000));
}

// Sends the chunks the printer lacks, within the window; false when a send
// fails or replies stop.
bool Sender::resendMissing(const std::set<int>& lacking)
{
    for (int i : lacking) {
        if (acked_[static_cast<size_t>(i)])
            continue;
        while (!fatal_ && static_cast<int>(inFlight_.size()) >= o_.window)
            if (!collect(o_.replyTimeoutMs))
                return false;
        missing_.erase(i);
        if (fatal_ || !build(i, text_) || !sendData(i, text_))
            return false;
    }
    return !fatal_;
}

// Waits until fewer than `window` chunks are in flight, sending first what
// the printer turned out to lack.
bool Sender::waitForRoom()
{
    while (!fatal_ && (static_cast<int>(inFlight_.size()) >= o_.window || !missing_.empty())) {
        if (!missing_.empty()) {
            const std::set<int> m = missing_;
            if (!resendMissing(m) && !recover())
                return false;
            continue;
        }
        if (!collect(o_.replyTimeoutMs) && !recover())
            return false;
    }
    return !fatal_;
}

bool Sender::drain()
{
    while (!fatal_ && ackedCount_ < rep_.total) {
        if (!missing_.empty()) {
            if (!waitForRoom())
                return false;
        } else if (!collect(o_.replyTimeoutMs) && !recover()) {
            return false;
        }
    }
    return !fatal_;
}

// Every chunk is acknowledged: the printer confirms the whole file, or it
// lost chunks it had acknowledged and is asked for each.
bool Sender::finish()
{
    for (int round = 0; round < 3 && !fatal_; ++round) {
        Reply r;
        if (!ask(writer_->query(kWholeFile, nullptr, header()), kWholeFile, r))
            return false;
        if (r.code == kHeld) {
            if (!r.filePath.isEmpty())
                rep_.filePath = r.filePath;
            return true;
        }
        if (r.code != kPartlyHeld && r.code != kNotHeld)
            return fail(1, QString("the printer did not accept the file (code %1)").arg(r.code));
        std::fill(acked_.begin(), acked_.end(), 0);
        ackedCount_ = 0;
        ackedBytes_ = 0;
        for (int i = 0; i < rep_.total; ++i)
            missing_.insert(i);
        if (!recover() || !drain())
            return false;
    }
    return fatal_ ? false : fail(1, "the printer does not confirm the whole file");
}

SendReport Sender::run()
{
    file_.setFileName(o_.path);
    if (!file_.open(QIODevice::ReadOnly)) {
        fail(1, QString("cannot read %1: %2").arg(o_.path, file_.errorString()));
        return rep_;
    }
    rep_.size = file_.size();
    const QString problem = sizeProblem(rep_.size);
    if (!problem.isEmpty()) {
        fail(1, problem);
        return rep_;
    }
    const QString name = o_.name.isEmpty() ? QFileInfo(o_.path).fileName() : o_.name;
    writer_ = std::make_unique<ChunkWriter>(name, rep_.size);
    rep_.total = writer_->total();
    const size_t n = static_cast<size_t>(rep_.total);
    digests_.assign(n, Digest{});
    acked_.assign(n, 0);
    counted_.assign(n, 0);
    sends_.assign(n, 0);
    peer_.setHandler([this](const Inbound& in) {
        if (in.msgType != 1 || in.func != QLatin1String("file_transfer"))
            return;
        const QJsonObject d = in.body.value(QLatin1String("data")).toObject();
        inbox_.push(Reply{in.msgId, d.value(QLatin1String("code")).toInt(-1),
                          d.value(QLatin1String("file_path")).toString()});
    });

    clock_.start();
    Reply first;
    if (ask(writer_->query(kWholeFile, nullptr, header()), kWholeFile, first)) {
        // Anything but "nothing held" (an older printer refuses the query)
        // makes every chunk go through a query first.
        const bool resume = first.code == kHeld || first.code == kPartlyHeld;
        for (int i = 0; i < rep_.total && !fatal_; ++i) {
            if (!build(i, text_, true))
                break;
            if (resume) {
                Reply r;
                const Digest& d = digests_[static_cast<size_t>(i)];
                if (!ask(writer_->query(i, d.data(), header()), i, r))
                    break;
                if (r.code == kHeld)
                    continue;
                missing_.erase(i);
            }
            if (!waitForRoom())
                break;
            if (!sendData(i, text_) && !recover())
                break;
        }
        unsigned char digest[kDigestLen];
        md5_.Final(1, digest);
        rep_.md5 = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), kDigestLen).toHex());
        if (!fatal_ && drain() && finish())
            rep_.exitCode = 0;
    }
    rep_.seconds = clock_.elapsed() / 1000.0;
    peer_.setHandler(nullptr);
    return rep_;
}

} // namespace

SendReport sendFile(WylnPeer& peer, const SendOptions& o, const SendProgress& progress)
{
#ifdef __GLIBC__
    // libmosquitto copies each chunk message twice, into fresh 8 MiB blocks.
    // By default glibc hands such blocks back to the system when they are
    // freed and the next chunk faults every page in again, zero-filled: a
    // third of the sender's CPU time. Kept for reuse instead, the memory
    // stays bounded by what the window has in use at its peak.
    mallopt(M_MMAP_THRESHOLD, 32 * 1048576);
    mallopt(M_TRIM_THRESHOLD, 256 * 1048576);
#endif
    return Sender(peer, o, progress).run();
}

} // namespace tools
