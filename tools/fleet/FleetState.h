// The fleet as the service sees it: every client's presence, each printer's
// last heartbeat and report, its device status, current task, progress and
// errors, and bounded histories of task-status updates and file transfers.
//
// Pure bookkeeping: the caller passes the time (milliseconds since 1970) and
// does the locking. Every call that changes something returns the events to
// publish, each a (type, compact JSON object) pair.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <deque>
#include <map>
#include <utility>
#include <vector>

namespace fleet {

struct Event
{
    QByteArray type;     // "printer", "task_status", "transfer"
    QByteArray json;     // compact JSON object
};
using Events = std::vector<Event>;

struct ErrorEntry
{
    int code = 0;
    QString msg;
};

struct Printer
{
    QString id;
    bool online = false;
    bool presenceKnown = false;   // presence/<id> was seen
    qint64 lastSeenMs = 0;        // any message
    qint64 lastHeartbeatMs = 0;
    qint64 lastReportMs = 0;
    qint64 heartbeats = 0;
    qint64 reports = 0;
    int deviceStatus = 0;
    int connectStatus = 0;
    int autoFlashStatus = 0;
    int headTempStatus = 0;
    int upgradeProcess = 0;
    int taskId = 0;
    int progress = 0;
    int printStatus = 0;
    int doneCopies = 0;
    int totalCopies = 0;
    int spanS = 0;
    int remainS = 0;
    QString capacity;
    QString printedArea;
    std::vector<ErrorEntry> errors;
};

struct TaskUpdate
{
    qint64 atMs = 0;
    QString printer;
    int id = 0;
    int status = 0;
};

// One file, sender to receiver, as far as its chunks and their replies were
// seen.
struct Transfer
{
    qint64 startMs = 0;
    qint64 lastMs = 0;
    QString from;
    QString to;
    QString file;
    qint64 size = 0;
    int totalChunks = 0;
    int chunksSeen = 0;           // chunks with data, repeats included
    int queries = 0;              // status queries (chunks without data)
    int repliesOk = 0;            // chunks answered with code 0
    int lastCode = -1;            // of the last reply; -1: none seen yet
    bool complete = false;        // a whole-file query was answered with 0
    QString path;                 // the receiver's file_path
    std::map<QString, int> pending; // msg_id -> chunk_index, awaiting a reply
};

// Device states as the simulated printer uses them; other values are shown
// by number.
QString stateText(const Printer& p);

// An error entry's text: the Base64 form of the fixed 260-byte field when it
// is one (trailing zero bytes dropped), else the text as it came.
QString errorText(const QJsonValue& msg);

class FleetState
{
public:
    struct Limits
    {
        size_t taskUpdates = 200;
        size_t transfers = 50;
        size_t printers = 5000;   // clients beyond this are not tracked
        qint64 silenceMs = 30000; // no presence and nothing heard: offline
    };

    FleetState() = default;
    explicit FleetState(Limits l) : limits_(l) {}

    // A protocol message from `sender` (msg_type, body, header msg_id).
    // Heartbeats and reports update the printer; "updateTaskStatus" adds to
    // the history; "file_transfer" chunks, queries (chunks without data)
    // and their replies, matched by msg_id, update the transfers.
    Events onMessage(const QString& sender, const QString& target, int msgType, const QJsonObject& body, qint64 nowMs,
                     const QString& msgId = QString());
    // presence/<id>: "online" or anything else (offline).
    Events onPresence(const QString& id, bool online, qint64 nowMs);
    // Marks printers without presence offline after silenceMs.
    Events tick(qint64 nowMs);

    // The whole fleet: printers (by id), other clients' presence, histories,
    // counters.
    QJsonObject fleetJson(qint64 nowMs) const;
    // One printer with its own task-status updates and transfers; false when
    // it is not known.
    bool printerJson(const QString& id, qint64 nowMs, QJsonObject& out) const;
    static QJsonObject toJson(const Printer& p);

    size_t printerCount() const { return printers_.size(); }
    qint64 heartbeatsIn() const { return heartbeatsIn_; }
    qint64 reportsIn() const { return reportsIn_; }
    qint64 messagesIn() const { return messagesIn_; }

private:
    Printer* printer(const QString& id, qint64 nowMs);
    Event printerEvent(const Printer& p) const;
    Events onTransfer(const QString& sender, const QString& target, int msgType, const QJsonObject& body, qint64 nowMs,
                      const QString& msgId);

    Limits limits_;
    std::map<QString, Printer> printers_;     // every client heard from or seen in presence
    std::deque<TaskUpdate> updates_;          // newest last
    std::deque<Transfer> transfers_;          // newest last
    qint64 heartbeatsIn_ = 0;
    qint64 reportsIn_ = 0;
    qint64 messagesIn_ = 0;
};

} // namespace fleet
