#include "Console.h"

#include "WylnPeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <unistd.h>

namespace console {

namespace {

std::atomic<bool> g_stop{false};
std::mutex g_out;

void onSignal(int) { g_stop = true; }

void catchSignals()
{
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

void out(const QString& line)
{
    std::lock_guard<std::mutex> lock(g_out);
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void err(const QString& line)
{
    std::lock_guard<std::mutex> lock(g_out);
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

QString compact(const QJsonValue& v)
{
    if (v.isObject())
        return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    if (v.isArray())
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    return QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

QString now()
{
    return QTime::currentTime().toString("hh:mm:ss.zzz");
}

// Options every subcommand takes.
void addCommon(QCommandLineParser& p)
{
    p.addHelpOption();
    p.addOptions({
        {"host", "Broker host.", "host", "127.0.0.1"},
        {"port", "Broker port.", "port", "1883"},
        {"user", "Broker user name (else WYLN_USERNAME).", "name"},
        {"password", "Broker password (else WYLN_PASSWORD).", "password"},
        {"json", "Machine-readable output: one JSON object per line."},
    });
}

bool parse(QCommandLineParser& p, const QString& cmd, const QStringList& args, int positional)
{
    p.process(QStringList{QCoreApplication::applicationName() + " " + cmd} + args);
    if (p.positionalArguments().size() < positional) {
        err("missing arguments; see " + cmd + " --help");
        return false;
    }
    if (p.isSet("user"))
        qputenv("WYLN_USERNAME", p.value("user").toUtf8());
    if (p.isSet("password"))
        qputenv("WYLN_PASSWORD", p.value("password").toUtf8());
    return true;
}

bool startPeer(tools::WylnPeer& peer, QCommandLineParser& p, const QString& id = QString())
{
    const int rc = peer.start(p.value("host"), p.value("port").toInt(), id);
    if (rc != 0) {
        err(QString("cannot log in: %1").arg(peer.errorText()));
        return false;
    }
    return true;
}

} // namespace

// ---- shared pieces -----------------------------------------------------------

QString progressBar(int percent, int width)
{
    percent = qBound(0, percent, 100);
    const int filled = percent * width / 100;
    return "[" + QString(filled, '#') + QString(width - filled, '.') + "] " + QString("%1%").arg(percent, 3);
}

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

std::vector<QJsonObject> fileChunks(const QByteArray& content, const QString& fileName, int chunkChars)
{
    std::vector<QJsonObject> chunks;
    const QByteArray b64 = content.toBase64();
    const int total = qMax(1, static_cast<int>((b64.size() + chunkChars - 1) / chunkChars));
    for (int i = 0; i < total; ++i) {
        const QByteArray part = b64.mid(static_cast<qsizetype>(i) * chunkChars, chunkChars);
        const QByteArray md5 = QCryptographicHash::hash(part, QCryptographicHash::Md5).toBase64();
        chunks.push_back(QJsonObject{{"file_name", fileName},
                                     {"file_size", content.size()},
                                     {"chunk_size", part.size()},
                                     {"md5", QString::fromLatin1(md5)},
                                     {"total_chunks", total},
                                     {"chunk_index", i},
                                     {"data", QString::fromLatin1(part)}});
    }
    return chunks;
}

DeviceStatus statusOf(int msgType, const QJsonObject& body)
{
    DeviceStatus s;
    QJsonObject info;
    if (msgType == 3) {
        if (!body.contains("device_status"))
            return s;
        s.deviceStatus = body.value("device_status").toInt();
        info = body.value("print_info").toObject();
    } else if (msgType == 2 && body.value("func").toString() == "report") {
        const QJsonObject data = body.value("data").toObject();
        s.deviceStatus = body.contains("device_status") ? body.value("device_status").toInt()
                                                        : data.value("device_doing").toInt();
        info = data.value("print_info").toObject();
    } else {
        return s;
    }
    s.valid = true;
    s.taskId = info.value("task_id").toInt();
    s.progress = info.value("progress").toInt();
    s.doneCopies = info.value("print_done_copys").toInt();
    s.totalCopies = info.value("total_print_copys").toInt();
    s.spanTime = info.value("print_span_time").toInt();
    s.remainTime = info.value("print_Remain_time").toInt();
    s.printedArea = info.value("printed_area").toString();
    return s;
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

// ---- service -------------------------------------------------------------------

// Clients the service knows: from presence/<id> (a separate MQTT connection)
// and from every sender it hears from.
class ClientTable
{
public:
    void seen(const QString& id, int status)
    {
        std::lock_guard<std::mutex> lock(m_);
        const QString t = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
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

class PresenceWatcher
{
public:
    explicit PresenceWatcher(ClientTable& table) : table_(table) {}
    ~PresenceWatcher()
    {
        if (mosq_) {
            mosquitto_disconnect(mosq_);
            mosquitto_loop_stop(mosq_, false);
            mosquitto_destroy(mosq_);
        }
    }
    bool start(const QString& host, int port, const QByteArray& user, const QByteArray& password)
    {
        mosquitto_lib_init();
        const QByteArray clientId = user.isEmpty() ? ("presence-" + tools::newMsgId().toUtf8()) : user;
        mosq_ = mosquitto_new(clientId.constData(), true, this);
        if (!mosq_)
            return false;
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        if (!user.isEmpty())
            mosquitto_username_pw_set(mosq_, user.constData(), password.constData());
        mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void*, int rc) {
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, "presence/+", 1);
        });
        mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* msg) {
            const QString topic = QString::fromUtf8(msg->topic);
            const QByteArray payload(static_cast<const char*>(msg->payload), msg->payloadlen);
            static_cast<PresenceWatcher*>(self)->table_.seen(topic.section('/', 1), payload == "online" ? 1 : 0);
        });
        if (mosquitto_connect(mosq_, host.toUtf8().constData(), port, 30) != MOSQ_ERR_SUCCESS)
            return false;
        return mosquitto_loop_start(mosq_) == MOSQ_ERR_SUCCESS;
    }

private:
    ClientTable& table_;
    mosquitto* mosq_ = nullptr;
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
        {"presence-password", "Its password (else WYLN_PRESENCE_PASSWORD).", "password"},
        {"quiet-heartbeats", "Do not print heartbeats."},
    });
    if (!parse(p, "service", args, 0))
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
        if (json)
            out(compact(QJsonObject{{"event", event}, {"from", in.sender}, {"message", msg}}));
        else
            out(now() + " " + line);
    });

    if (!startPeer(peer, p, self))
        return 1;
    table.seen(self, 1);
    PresenceWatcher presence(table);
    const QByteArray pu = p.isSet("presence-user") ? p.value("presence-user").toUtf8() : qgetenv("WYLN_PRESENCE_USERNAME");
    const QByteArray pp =
        p.isSet("presence-password") ? p.value("presence-password").toUtf8() : qgetenv("WYLN_PRESENCE_PASSWORD");
    const bool anonymous = qgetenv("WYLN_USERNAME").isEmpty();
    bool watching = false;
    if (anonymous || !pu.isEmpty())
        watching = presence.start(p.value("host"), p.value("port").toInt(), pu, pp);
    if (json)
        out(compact(QJsonObject{{"event", "ready"}, {"id", peer.id()}, {"presence", watching}}));
    else
        out(QString("%1 service ready as %2 (presence %3)").arg(now(), peer.id(), watching ? "watched" : "not watched"));
    catchSignals();
    while (!g_stop)
        QThread::msleep(50);
    peer.stop();
    return 0;
}

// ---- send ----------------------------------------------------------------------

int runSend(const QStringList& args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        "Sends one command (msg_type 0) to a device and prints the reply that echoes its msg_id. "
        "Exit status: 0 reply received, 2 no reply within the time-out, 1 any other failure.");
    addCommon(p);
    p.addPositionalArgument("device", "Target identifier (\"wyln\" for the service).");
    p.addPositionalArgument("func", "The command's \"func\", e.g. load_param.");
    p.addPositionalArgument("json-data", "The command's \"data\" as JSON (default {}).", "[json-data]");
    p.addOptions({
        {"timeout", "Milliseconds to wait for the reply.", "ms", "5000"},
        {"no-wait", "Send and do not wait (one-way messages)."},
    });
    if (!parse(p, "send", args, 2))
        return 1;
    const QStringList pos = p.positionalArguments();
    QJsonValue data = QJsonObject();
    if (pos.size() > 2) {
        QJsonParseError pe;
        const QJsonDocument d = QJsonDocument::fromJson(("[" + pos[2] + "]").toUtf8(), &pe);
        if (pe.error != QJsonParseError::NoError || d.array().size() != 1) {
            err("json-data is not JSON: " + pos[2]);
            return 1;
        }
        data = d.array().at(0);
    }
    tools::WylnPeer peer;
    if (!startPeer(peer, p))
        return 1;
    const int timeout = p.value("timeout").toInt();
    const bool json = p.isSet("json");
    QElapsedTimer t;
    t.start();
    QString msgId;
    const int rc = peer.post(pos[0], pos[1], data, msgId, timeout);
    if (rc != 0) {
        err(QString("send failed with transport code %1").arg(rc));
        return 1;
    }
    if (p.isSet("no-wait")) {
        out(json ? compact(QJsonObject{{"ok", true}, {"msg_id", msgId}}) : "sent " + msgId);
        return 0;
    }
    tools::Inbound reply;
    if (!peer.waitReply(msgId, timeout, reply)) {
        if (json)
            out(compact(QJsonObject{{"ok", false}, {"error", "no reply"}, {"timeout_ms", timeout}}));
        err(QString("no reply from %1 to %2 within %3 ms").arg(pos[0], pos[1]).arg(timeout));
        return 2;
    }
    const qint64 ms = t.elapsed();
    if (json) {
        out(compact(QJsonObject{{"ok", true},
                                {"from", reply.sender},
                                {"elapsed_ms", ms},
                                {"reply", QJsonDocument::fromJson(reply.text).object()}}));
    } else {
        out(QString("reply from %1 (msg_type %2, func \"%3\", %4 ms):").arg(reply.sender).arg(reply.msgType).arg(reply.func).arg(ms));
        QJsonObject body = reply.body;
        body.remove("func");
        out(QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Indented)).trimmed());
    }
    return 0;
}

// ---- send-file -----------------------------------------------------------------

int runSendFile(const QStringList& args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        "Sends a file as \"file_transfer\" chunks exactly as the library does (8388608 Base64 characters per "
        "chunk, each with the Base64 MD5 of its characters) and adds \"chunk_index\" to every chunk, because a "
        "receiver rebuilds the file by chunk index. Waits for every chunk's reply; exit status 0 when all "
        "replies carry code 0, 2 when one is missing, 1 otherwise.");
    addCommon(p);
    p.addPositionalArgument("device", "Target identifier.");
    p.addPositionalArgument("path", "The file to send.");
    p.addOptions({
        {"name", "File name to send (default: the file's own name).", "name"},
        {"timeout", "Milliseconds to wait for each reply.", "ms", "15000"},
    });
    if (!parse(p, "send-file", args, 2))
        return 1;
    const QStringList pos = p.positionalArguments();
    const bool json = p.isSet("json");
    QFile f(pos[1]);
    if (!f.open(QIODevice::ReadOnly)) {
        err("cannot read " + pos[1]);
        return 1;
    }
    const QByteArray content = f.readAll();
    if (content.isEmpty()) {
        err("the file is empty");
        return 1;
    }
    const QString name = p.isSet("name") ? p.value("name") : QFileInfo(pos[1]).fileName();
    tools::WylnPeer peer;
    if (!startPeer(peer, p))
        return 1;
    const int timeout = p.value("timeout").toInt();
    QElapsedTimer t;
    t.start();
    const std::vector<QJsonObject> chunks = fileChunks(content, name);
    const int total = static_cast<int>(chunks.size());
    std::vector<QString> ids(chunks.size());
    QJsonArray replies;
    QString filePath;
    int failures = 0;
    qint64 acked = 0;
    const bool tty = isatty(STDERR_FILENO);
    // The progress goes to stderr, also with --json.
    auto showProgress = [&](int done) {
        const double s = qMax<qint64>(1, t.elapsed()) / 1000.0;
        const QString text = QString("%1 %2/%3 chunks  %4 MiB  %5 MiB/s")
                                 .arg(progressBar(static_cast<int>(acked * 100 / content.size())))
                                 .arg(done)
                                 .arg(total)
                                 .arg(acked / 1048576.0, 0, 'f', 1)
                                 .arg(acked / 1048576.0 / s, 0, 'f', 1);
        std::lock_guard<std::mutex> lock(g_out);
        std::fprintf(stderr, tty ? "\r%s" : "%s\n", text.toUtf8().constData());
        std::fflush(stderr);
    };
    auto collect = [&](int i) -> bool {
        tools::Inbound reply;
        if (!peer.waitReply(ids[i], timeout, reply))
            return false;
        const QJsonObject d = reply.body.value("data").toObject();
        replies.append(QJsonObject{{"chunk_index", i}, {"code", d.value("code").toInt(-1)}, {"file_path", d.value("file_path")}});
        if (d.value("code").toInt(-1) != 0)
            ++failures;
        filePath = d.value("file_path").toString();
        acked += chunks[i].value("chunk_size").toInt() / 4 * 3;
        acked = qMin<qint64>(acked, content.size());
        showProgress(i + 1);
        return true;
    };
    showProgress(0);
    bool missing = false;
    // Two chunks in flight: the next one travels while the device stores the
    // previous one.
    for (int i = 0; i < total && !missing; ++i) {
        const int rc = peer.post(pos[0], "file_transfer", chunks[i], ids[i], timeout);
        if (rc != 0) {
            err(QString("\nchunk %1 not sent: transport code %2").arg(i).arg(rc));
            return 1;
        }
        if (i > 0 && !collect(i - 1))
            missing = true;
    }
    if (!missing && !collect(total - 1))
        missing = true;
    const double secs = t.elapsed() / 1000.0;
    if (tty)
        std::fprintf(stderr, "\n");
    const bool ok = !missing && failures == 0;
    if (json) {
        out(compact(QJsonObject{{"ok", ok},
                                {"file_name", name},
                                {"file_size", content.size()},
                                {"md5", QString(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex())},
                                {"total_chunks", total},
                                {"file_path", filePath},
                                {"seconds", secs},
                                {"mib_per_s", content.size() / 1048576.0 / qMax(0.001, secs)},
                                {"replies", replies}}));
    } else {
        out(QString("%1: %2 bytes in %3 chunks, %4 s, %5 MiB/s -> %6")
                .arg(ok ? "sent" : "FAILED", QString::number(content.size()))
                .arg(total)
                .arg(secs, 0, 'f', 2)
                .arg(content.size() / 1048576.0 / qMax(0.001, secs), 0, 'f', 1)
                .arg(filePath));
    }
    if (missing)
        err("a chunk's reply did not come");
    return missing ? 2 : (ok ? 0 : 1);
}

// ---- watch ---------------------------------------------------------------------

int runWatch(const QStringList& args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        "Shows a device's status, with a progress bar while it prints, from the heartbeats, reports and "
        "task-status updates the running service relays. Needs the service console. Exit status: 0, 1 when "
        "the service does not answer, 2 when --until-idle was given and the time-out came first.");
    addCommon(p);
    p.addPositionalArgument("device", "The device to watch.");
    p.addOptions({
        {"until-idle", "Exit when the device has printed and is idle again."},
        {"timeout", "Give up after this many seconds (0: never).", "s", "0"},
    });
    if (!parse(p, "watch", args, 1))
        return 1;
    const QString device = p.positionalArguments().at(0);
    const bool json = p.isSet("json");
    const bool untilIdle = p.isSet("until-idle");
    const bool tty = isatty(STDOUT_FILENO) && !json;
    std::atomic<bool> printed{false};
    std::atomic<bool> finished{false};
    std::mutex m;
    QString lastLine;
    tools::WylnPeer peer;
    peer.setHandler([&](const tools::Inbound& in) {
        if (in.func != "console_relay")
            return;
        const QJsonObject d = in.body.value("data").toObject();
        const tools::Inbound inner = tools::parseInbound(
            QJsonDocument(d.value("message").toObject()).toJson(QJsonDocument::Compact), d.value("from").toString());
        std::lock_guard<std::mutex> lock(m);
        if (inner.func == "updateTaskStatus") {
            const QJsonObject td = inner.body.value("data").toObject();
            if (json)
                out(compact(QJsonObject{{"event", "task_status"}, {"device", inner.sender}, {"id", td.value("id")}, {"status", td.value("status")}}));
            else
                out(QString("%1%2 task %3 status %4").arg(tty ? "\n" : "", now()).arg(td.value("id").toInt()).arg(td.value("status").toInt()));
            return;
        }
        const DeviceStatus s = statusOf(inner.msgType, inner.body);
        if (!s.valid)
            return;
        if (s.deviceStatus == 2)
            printed = true;
        else if (printed && untilIdle)
            finished = true;
        if (json) {
            out(compact(QJsonObject{{"event", "status"},
                                    {"device", inner.sender},
                                    {"source", inner.msgType == 3 ? "heartbeat" : "report"},
                                    {"device_status", s.deviceStatus},
                                    {"task_id", s.taskId},
                                    {"progress", s.progress},
                                    {"done_copies", s.doneCopies},
                                    {"total_copies", s.totalCopies}}));
            return;
        }
        const QString line = s.deviceStatus == 2
                                 ? QString("%1 printing task %2 %3 copy %4/%5 span %6s remain %7s")
                                       .arg(device)
                                       .arg(s.taskId)
                                       .arg(progressBar(s.progress))
                                       .arg(s.doneCopies)
                                       .arg(s.totalCopies)
                                       .arg(s.spanTime)
                                       .arg(s.remainTime)
                                 : QString("%1 %2").arg(device, s.deviceStatus == 1 ? "idle" : QString("status %1").arg(s.deviceStatus));
        if (line == lastLine)
            return;
        lastLine = line;
        if (tty) {
            std::lock_guard<std::mutex> o(g_out);
            std::fprintf(stdout, "\r\033[K%s", line.toUtf8().constData());
            std::fflush(stdout);
        } else {
            out(now() + " " + line);
        }
    });
    if (!startPeer(peer, p))
        return 1;
    tools::Inbound ack;
    if (!peer.request(tools::serviceId(), "console_watch", QJsonObject{{"device", device}}, 3000, ack)) {
        err("the service does not answer; start `orlin_console service` first");
        return 1;
    }
    if (json)
        out(compact(QJsonObject{{"event", "watching"}, {"device", device}}));
    else
        out(QString("%1 watching %2").arg(now(), device));
    catchSignals();
    const int timeoutS = p.value("timeout").toInt();
    QElapsedTimer t;
    t.start();
    int rc = 0;
    while (!g_stop && !finished) {
        if (timeoutS > 0 && t.elapsed() > timeoutS * 1000LL) {
            rc = untilIdle ? 2 : 0;
            break;
        }
        QThread::msleep(20);
    }
    tools::Inbound bye;
    peer.request(tools::serviceId(), "console_unwatch", QJsonObject{{"device", device}}, 1000, bye);
    if (tty)
        std::fprintf(stdout, "\n");
    peer.stop();
    return rc;
}

} // namespace console
