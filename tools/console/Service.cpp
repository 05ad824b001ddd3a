// orlin_console service: the service side's peer. Keeps the table of known
// clients (presence and traffic), answers "getClient", prints what devices
// report and relays it to consoles that watch a device.
#include "Console.h"
#include "ConsoleIo.h"
#include "LocalTime.h"
#include "Presence.h"
#include "ToolOptions.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

namespace console {

bool clientMatches(const ClientRecord& r, const QJsonObject& filter)
{
    if (filter.contains("type")) {
        const QJsonArray types = filter.value("type").toArray();
        if (!types.isEmpty()) {
            bool any = false;
            for (const auto& t : types)
                any = any || t.toInt(-1) == r.type;
            if (!any)
                return false;
        }
    }
    if (filter.contains("status") && filter.value("status").toInt(-1) != -1
        && filter.value("status").toInt(-1) != r.status)
        return false;
    if (filter.contains("id") && !filter.value("id").toString().isEmpty() && filter.value("id").toString() != r.id)
        return false;
    if (filter.contains("name") && !filter.value("name").toString().isEmpty()
        && filter.value("name").toString() != r.id)
        return false;
    return true;
}

QJsonObject clientToJson(const ClientRecord& r)
{
    return QJsonObject{{"id", r.id},
                       {"name", r.id},
                       {"type", r.type},
                       {"status", r.status},
                       {"create_time", r.createTime},
                       {"update_time", r.updateTime}};
}

namespace {

QString describeStatus(const DeviceStatus& s)
{
    QString text = QString("device_status=%1").arg(s.deviceStatus);
    if (s.deviceStatus == 2 && s.taskId)
        text += QString(" task=%1 %2 copies %3/%4 printed %5 span %6s remain %7s")
                    .arg(s.taskId)
                    .arg(progressBar(s.progress, 20))
                    .arg(s.doneCopies)
                    .arg(s.totalCopies)
                    .arg(s.printedArea)
                    .arg(s.spanTime)
                    .arg(s.remainTime);
    return text;
}


// Clients the service knows: from presence/<id> (a separate MQTT connection)
// and from every sender it hears from.
class ClientTable
{
public:
    void seen(const QString& id, int status)
    {
        std::lock_guard<std::mutex> lock(m_);
        const QString t = tools::localNow().toString("yyyy-MM-dd hh:mm:ss");
        auto it = clients_.find(id);
        if (it == clients_.end()) {
            ClientRecord r;
            r.id = id;
            r.status = status;
            r.createTime = r.updateTime = t;
            clients_[id] = r;
        } else if (it->second.status != status) {
            it->second.status = status;
            it->second.updateTime = t;
        }
    }
    std::vector<ClientRecord> list()
    {
        std::lock_guard<std::mutex> lock(m_);
        std::vector<ClientRecord> v;
        for (const auto& c : clients_)
            v.push_back(c.second);
        return v;
    }

private:
    std::mutex m_;
    std::map<QString, ClientRecord> clients_;
};

} // namespace

int runService(const QStringList& args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        "Runs as the service (identifier \"wyln\", or WYLN_SERVICE_ID): prints heartbeats, reports and task-status "
        "updates as they arrive and answers \"getClient\" requests from the clients it knows (presence and "
        "traffic). The record of module type 100, which names the target of task-status updates, is the service "
        "itself or --target-client. Answers to \"getClient\" are sent as msg_type 0 with the request's msg_id: "
        "that is the form a library session routes to its client-list handler. Consoles that run \"watch\" "
        "get the heartbeats, reports and task-status updates of the device they watch relayed to them.");
    addCommon(p);
    p.addOptions({
        {"target-client", "Client listed as module type 100 instead of the service itself.", "id"},
        {"presence-user", "User name of the presence connection (else WYLN_PRESENCE_USERNAME).", "name"},
        {"presence-password-file", "File whose first line is its password (else WYLN_PRESENCE_PASSWORD).", "file"},
        {"quiet-heartbeats", "Do not print heartbeats."},
    });
    if (!parse(p, "service", args, 0)
        || !tools::setCredentials(p.value("presence-user"), p.value("presence-password-file"), "WYLN_PRESENCE_USERNAME",
                                  "WYLN_PRESENCE_PASSWORD"))
        return 1;
    const bool json = p.isSet("json");
    const bool quietHeartbeats = p.isSet("quiet-heartbeats");
    ClientTable table;
    tools::WylnPeer peer;
    const QString self = tools::serviceId();
    const QString target = p.isSet("target-client") ? p.value("target-client") : self;
    std::mutex watchMutex;
    std::map<QString, std::set<QString>> watchers;  // device -> watching consoles

    auto relay = [&](const tools::Inbound& in) {
        std::set<QString> to;
        {
            std::lock_guard<std::mutex> lock(watchMutex);
            auto it = watchers.find(in.sender);
            if (it == watchers.end())
                return;
            to = it->second;
        }
        const QJsonObject wrapped{{"from", in.sender}, {"message", QJsonDocument::fromJson(in.text).object()}};
        for (const QString& w : to)
            peer.sendTo(w, tools::buildMessage("console_relay", wrapped, 2, self, w), 0);
    };

    peer.setHandler([&](const tools::Inbound& in) {
        if (in.msgType < 0) {
            out(json ? compact(QJsonObject{{"event", "raw"}, {"from", in.sender}, {"bytes", in.text.size()}})
                     : QString("%1 raw packet from %2, %3 bytes").arg(now(), in.sender).arg(in.text.size()));
            return;
        }
        table.seen(in.sender, 1);
        const QJsonObject msg = QJsonDocument::fromJson(in.text).object();
        QString event;
        QString line;
        QJsonObject record;  // the JSON event line
        if (in.msgType == 3) {
            event = "heartbeat";
            line = QString("heartbeat from %1: %2").arg(in.sender, describeStatus(statusOf(3, in.body)));
            // Answer with our own heartbeat so that the device's link
            // supervision sees a live peer.
            peer.sendTo(in.sender,
                        tools::buildEnvelope(QJsonObject{{"device_status", 1}, {"connect_status", 1}}, 3, self, in.sender),
                        0);
            relay(in);
            if (quietHeartbeats && !json)
                return;
        } else if (in.msgType == 2 && in.func == "report") {
            event = "report";
            const QJsonArray errors = in.body.value("data").toObject().value("error_info").toArray();
            line = QString("report from %1: %2%3")
                       .arg(in.sender, describeStatus(statusOf(2, in.body)))
                       .arg(errors.isEmpty() ? QString() : QString(" errors=%1").arg(errors.size()));
            relay(in);
        } else if (in.msgType == 0 && in.func == "updateTaskStatus") {
            event = "task_status";
            const QJsonObject d = in.body.value("data").toObject();
            line = QString("task status from %1: id=%2 status=%3")
                       .arg(in.sender)
                       .arg(d.value("id").toInt())
                       .arg(d.value("status").toInt());
            relay(in);
        } else if (in.msgType == 0 && in.func == "getClient") {
            const QJsonObject filter = in.body.value("data").toObject();
            QJsonArray records;
            std::vector<ClientRecord> known = table.list();
            if (std::none_of(known.begin(), known.end(), [&](const ClientRecord& r) { return r.id == target; })) {
                ClientRecord r;
                r.id = target;
                known.push_back(r);
            }
            for (const ClientRecord& r : known) {
                ClientRecord c = r;
                c.type = c.id == target ? 100 : 0;
                if (clientMatches(c, filter))
                    records.append(clientToJson(c));
            }
            const QJsonObject body{{"func", "getClient"}, {"message", "success"}, {"data", records}};
            peer.sendTo(in.sender, tools::buildEnvelope(body, 0, self, in.sender, in.msgId), 0);
            event = "get_client";
            record.insert("answered", records.size());
            line = QString("getClient from %1 %2: answered %3 record(s)")
                       .arg(in.sender, compact(filter))
                       .arg(records.size());
        } else if (in.func == "console_watch" || in.func == "console_unwatch") {
            const QString device = in.body.value("data").toObject().value("device").toString();
            {
                std::lock_guard<std::mutex> lock(watchMutex);
                if (in.func == "console_watch")
                    watchers[device].insert(in.sender);
                else
                    watchers[device].erase(in.sender);
            }
            peer.sendTo(in.sender,
                        tools::buildMessage(in.func, QJsonObject{{"code", 0}}, 1, self, in.sender, in.msgId), 0);
            event = "watch";
            line = QString("%1 %2 %3").arg(in.sender, in.func == "console_watch" ? "watches" : "stops watching", device);
        } else {
            event = "message";
            line = QString("message from %1: msg_type %2 func \"%3\" %4")
                       .arg(in.sender)
                       .arg(in.msgType)
                       .arg(in.func, compact(in.body.value("data")).left(200));
        }
        if (json) {
            record.insert("event", event);
            record.insert("from", in.sender);
            record.insert("message", msg);
            out(compact(record));
        } else {
            out(now() + " " + line);
        }
    });

    if (!startPeer(peer, p, self))
        return 1;
    table.seen(self, 1);
    tools::PresenceWatcher presence([&table](const QString& id, bool online) { table.seen(id, online ? 1 : 0); });
    const QByteArray pu = qgetenv("WYLN_PRESENCE_USERNAME");
    const QByteArray pp = qgetenv("WYLN_PRESENCE_PASSWORD");
    const bool anonymous = qgetenv("WYLN_USERNAME").isEmpty();
    bool watching = false;
    if (anonymous || !pu.isEmpty())
        watching = presence.start(p.value("host"), p.value("port").toInt(), pu, pp);
    if (json)
        out(compact(QJsonObject{{"event", "ready"}, {"id", peer.id()}, {"presence", watching}}));
    else
        out(QString("%1 service ready as %2 (presence %3)").arg(now(), peer.id(), watching ? "watched" : "not watched"));
    catchSignals();
    while (!stopRequested())
        QThread::msleep(50);
    peer.stop();
    return 0;
}

} // namespace console
