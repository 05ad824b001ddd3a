#include "FleetState.h"

#include <QJsonDocument>

#include <algorithm>

namespace fleet {

namespace {

QByteArray compact(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Texts a peer sends are kept to a sane length: the page and every event
// carry them again.
QString bounded(const QString& text, int max = 260)
{
    return text.size() > max ? text.left(max) : text;
}

// Integers the way the library reads them: integral numbers, else 0.
int intOf(const QJsonValue& v)
{
    return v.toInt(0);
}

void readPrintInfo(Printer& p, const QJsonObject& info, bool withTimes)
{
    if (info.contains("task_id"))
        p.taskId = intOf(info.value("task_id"));
    if (info.contains("progress"))
        p.progress = intOf(info.value("progress"));
    if (info.value("capacity").isString())
        p.capacity = bounded(info.value("capacity").toString(), 64);
    if (info.value("printed_area").isString())
        p.printedArea = bounded(info.value("printed_area").toString(), 64);
    if (info.contains("print_status"))
        p.printStatus = intOf(info.value("print_status"));
    if (info.contains("print_done_copys"))
        p.doneCopies = intOf(info.value("print_done_copys"));
    if (info.contains("total_print_copys"))
        p.totalCopies = intOf(info.value("total_print_copys"));
    if (!withTimes)
        return;
    if (info.contains("print_span_time"))
        p.spanS = intOf(info.value("print_span_time"));
    if (info.contains("print_Remain_time"))
        p.remainS = intOf(info.value("print_Remain_time"));
}

QJsonValue msOrNull(qint64 ms)
{
    return ms > 0 ? QJsonValue(static_cast<double>(ms)) : QJsonValue();
}

QJsonObject toJson(const TaskUpdate& u)
{
    return QJsonObject{{"at_ms", static_cast<double>(u.atMs)}, {"printer", u.printer}, {"id", u.id}, {"status", u.status}};
}

QJsonObject toJson(const Transfer& t)
{
    return QJsonObject{{"start_ms", static_cast<double>(t.startMs)},
                       {"last_ms", static_cast<double>(t.lastMs)},
                       {"from", t.from},
                       {"to", t.to},
                       {"file", t.file},
                       {"size", static_cast<double>(t.size)},
                       {"total_chunks", t.totalChunks},
                       {"chunks_seen", t.chunksSeen},
                       {"queries", t.queries},
                       {"replies_ok", t.repliesOk},
                       {"complete", t.complete},
                       {"last_code", t.lastCode},
                       {"path", t.path}};
}

} // namespace

QString stateText(const Printer& p)
{
    if (!p.online)
        return "offline";
    switch (p.deviceStatus) {
    case 1:
        return "idle";
    case 2:
        return "printing";
    default:
        return QString("status %1").arg(p.deviceStatus);
    }
}

QString errorText(const QJsonValue& msg)
{
    const QString text = msg.toString();
    // The library sends all 260 bytes of the text field, zero bytes
    // included: 348 Base64 characters.
    if (text.size() == 348) {
        QByteArray raw = QByteArray::fromBase64(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (raw.size() == 260) {
            const int end = raw.indexOf('\0');
            return QString::fromUtf8(end < 0 ? raw : raw.left(end));
        }
    }
    return bounded(text);
}

QJsonObject FleetState::toJson(const Printer& p)
{
    QJsonArray errors;
    for (const ErrorEntry& e : p.errors)
        errors.append(QJsonObject{{"code", e.code}, {"msg", e.msg}});
    return QJsonObject{{"id", p.id},
                       {"online", p.online},
                       {"presence_known", p.presenceKnown},
                       {"state", stateText(p)},
                       {"device_status", p.deviceStatus},
                       {"connect_status", p.connectStatus},
                       {"auto_flash_status", p.autoFlashStatus},
                       {"head_temp_status", p.headTempStatus},
                       {"upgrade_process", p.upgradeProcess},
                       {"task_id", p.taskId},
                       {"progress", p.progress},
                       {"print_status", p.printStatus},
                       {"done_copies", p.doneCopies},
                       {"total_copies", p.totalCopies},
                       {"span_s", p.spanS},
                       {"remain_s", p.remainS},
                       {"capacity", p.capacity},
                       {"printed_area", p.printedArea},
                       {"errors", errors},
                       {"heartbeats", static_cast<double>(p.heartbeats)},
                       {"reports", static_cast<double>(p.reports)},
                       {"last_seen_ms", msOrNull(p.lastSeenMs)},
                       {"last_heartbeat_ms", msOrNull(p.lastHeartbeatMs)},
                       {"last_report_ms", msOrNull(p.lastReportMs)}};
}

Printer* FleetState::printer(const QString& id, qint64 nowMs)
{
    auto it = printers_.find(id);
    if (it != printers_.end())
        return &it->second;
    if (printers_.size() >= limits_.printers)
        return nullptr;
    Printer& p = printers_[id];
    p.id = id;
    p.lastSeenMs = nowMs;
    return &p;
}

Event FleetState::printerEvent(const Printer& p) const
{
    return Event{"printer", compact(toJson(p))};
}

Events FleetState::onMessage(const QString& sender, const QString& target, int msgType, const QJsonObject& body,
                             qint64 nowMs, const QString& msgId)
{
    ++messagesIn_;
    const QString func = body.value("func").toString();
    if (func == "file_transfer")
        return onTransfer(sender, target, msgType, body, nowMs, msgId);
    Printer* p = printer(sender, nowMs);
    if (!p)
        return {};
    p->lastSeenMs = nowMs;
    // Hearing from a client means it is there, whatever presence said last.
    const bool wasOnline = p->online;
    p->online = true;
    Events out;
    if (msgType == 3) {
        ++heartbeatsIn_;
        ++p->heartbeats;
        p->lastHeartbeatMs = nowMs;
        if (body.contains("device_status"))
            p->deviceStatus = intOf(body.value("device_status"));
        if (body.contains("connect_status"))
            p->connectStatus = intOf(body.value("connect_status"));
        if (body.value("print_info").isObject())
            readPrintInfo(*p, body.value("print_info").toObject(), false);
        out.push_back(printerEvent(*p));
    } else if (msgType == 2 && func == "report") {
        ++reportsIn_;
        ++p->reports;
        p->lastReportMs = nowMs;
        const QJsonObject data = body.value("data").toObject();
        // The library sends the state values in the body, under
        // "device_status"; a peer may send them in data, under
        // "device_doing".
        if (body.contains("device_status"))
            p->deviceStatus = intOf(body.value("device_status"));
        else if (data.contains("device_doing"))
            p->deviceStatus = intOf(data.value("device_doing"));
        const QJsonObject& states = body.contains("connect_status") ? body : data;
        if (states.contains("connect_status"))
            p->connectStatus = intOf(states.value("connect_status"));
        if (states.contains("auto_flash_status"))
            p->autoFlashStatus = intOf(states.value("auto_flash_status"));
        if (states.contains("head_temp_status"))
            p->headTempStatus = intOf(states.value("head_temp_status"));
        if (data.value("upgrade_info").toObject().contains("process"))
            p->upgradeProcess = intOf(data.value("upgrade_info").toObject().value("process"));
        readPrintInfo(*p, data.value("print_info").toObject(), true);
        if (data.value("error_info").isArray()) {
            p->errors.clear();
            for (const QJsonValue& v : data.value("error_info").toArray()) {
                const QJsonObject e = v.toObject();
                p->errors.push_back(ErrorEntry{intOf(e.value("code")), errorText(e.value("msg"))});
                if (p->errors.size() == 32)
                    break;
            }
        }
        out.push_back(printerEvent(*p));
    } else if (msgType == 0 && func == "updateTaskStatus") {
        const QJsonObject d = body.value("data").toObject();
        TaskUpdate u{nowMs, sender, intOf(d.value("id")), intOf(d.value("status"))};
        updates_.push_back(u);
        while (updates_.size() > limits_.taskUpdates)
            updates_.pop_front();
        out.push_back(Event{"task_status", compact(fleet::toJson(u))});
        if (!wasOnline)
            out.push_back(printerEvent(*p));
    } else if (!wasOnline) {
        out.push_back(printerEvent(*p));
    }
    return out;
}

Events FleetState::onTransfer(const QString& sender, const QString& target, int msgType, const QJsonObject& body,
                              qint64 nowMs, const QString& msgId)
{
    const QJsonObject d = body.value("data").toObject();
    Transfer* t = nullptr;
    if (msgType == 0) {
        const QString file = bounded(d.value("file_name").toString());
        const int total = intOf(d.value("total_chunks"));
        const qint64 size = static_cast<qint64>(d.value("file_size").toDouble());
        // A message continues the newest transfer of that file between the
        // two peers unless that one is complete or differs in shape.
        for (auto it = transfers_.rbegin(); it != transfers_.rend() && !t; ++it)
            if (it->from == sender && it->to == target && it->file == file)
                t = &*it;
        // A sender that ends without a whole-file query has ended when all
        // its chunks were answered and another chunk comes.
        const bool ended = t && (t->complete || (d.contains("data") && t->chunksSeen >= t->totalChunks && t->pending.empty()));
        if (!t || ended || t->totalChunks != total || t->size != size) {
            Transfer n;
            n.startMs = nowMs;
            n.from = sender;
            n.to = target;
            n.file = file;
            n.size = size;
            n.totalChunks = total;
            transfers_.push_back(n);
            while (transfers_.size() > limits_.transfers)
                transfers_.pop_front();
            t = &transfers_.back();
        }
        // A chunk without data asks what the receiver holds.
        if (d.contains("data"))
            ++t->chunksSeen;
        else
            ++t->queries;
        if (!msgId.isEmpty() && t->pending.size() < 256)
            t->pending[msgId] = d.contains("data") ? 0 : (d.value("chunk_index").toInt(0) == -1 ? -1 : 1);
    } else if (msgType == 1) {
        // A reply travels back from the receiver to the sender and echoes
        // the msg_id of what it answers.
        int kind = 0;
        for (auto it = transfers_.rbegin(); it != transfers_.rend() && !t; ++it) {
            if (it->from != target || it->to != sender)
                continue;
            const auto p = it->pending.find(msgId);
            if (p != it->pending.end()) {
                kind = p->second;
                it->pending.erase(p);
                t = &*it;
            }
        }
        for (auto it = transfers_.rbegin(); it != transfers_.rend() && !t; ++it)
            if (it->from == target && it->to == sender)
                t = &*it;
        if (!t)
            return {};
        t->lastCode = d.value("code").toInt(-1);
        if (kind == 0 && t->lastCode == 0)
            ++t->repliesOk;
        if (kind == -1 && t->lastCode == 0)
            t->complete = true;
        if (d.value("file_path").isString() && !d.value("file_path").toString().isEmpty())
            t->path = bounded(d.value("file_path").toString());
    } else {
        return {};
    }
    t->lastMs = nowMs;
    return {Event{"transfer", compact(fleet::toJson(*t))}};
}

Events FleetState::onPresence(const QString& id, bool online, qint64 nowMs)
{
    Printer* p = printer(id, nowMs);
    if (!p)
        return {};
    const bool changed = p->online != online || !p->presenceKnown;
    p->presenceKnown = true;
    p->online = online;
    if (online)
        p->lastSeenMs = nowMs;
    return changed ? Events{printerEvent(*p)} : Events{};
}

Events FleetState::tick(qint64 nowMs)
{
    Events out;
    for (auto& kv : printers_) {
        Printer& p = kv.second;
        if (p.online && !p.presenceKnown && nowMs - p.lastSeenMs > limits_.silenceMs) {
            p.online = false;
            out.push_back(printerEvent(p));
        }
    }
    return out;
}

QJsonObject FleetState::fleetJson(qint64 nowMs) const
{
    QJsonArray printers, clients, updates, transfers;
    for (const auto& kv : printers_) {
        const Printer& p = kv.second;
        if (p.heartbeats || p.reports)
            printers.append(toJson(p));
        else
            clients.append(QJsonObject{{"id", p.id}, {"online", p.online}});
    }
    for (const TaskUpdate& u : updates_)
        updates.append(fleet::toJson(u));
    for (const Transfer& t : transfers_)
        transfers.append(fleet::toJson(t));
    return QJsonObject{{"now_ms", static_cast<double>(nowMs)},
                       {"printers", printers},
                       {"clients", clients},
                       {"task_updates", updates},
                       {"transfers", transfers},
                       {"counters", QJsonObject{{"heartbeats_in", static_cast<double>(heartbeatsIn_)},
                                                {"reports_in", static_cast<double>(reportsIn_)},
                                                {"messages_in", static_cast<double>(messagesIn_)}}}};
}

bool FleetState::printerJson(const QString& id, qint64 nowMs, QJsonObject& out) const
{
    const auto it = printers_.find(id);
    if (it == printers_.end())
        return false;
    QJsonArray updates, transfers;
    for (const TaskUpdate& u : updates_)
        if (u.printer == id)
            updates.append(fleet::toJson(u));
    for (const Transfer& t : transfers_)
        if (t.from == id || t.to == id)
            transfers.append(fleet::toJson(t));
    out = QJsonObject{{"now_ms", static_cast<double>(nowMs)},
                      {"printer", toJson(it->second)},
                      {"task_updates", updates},
                      {"transfers", transfers}};
    return true;
}

} // namespace fleet
