// orlin_fleet: the service side with a live web view of the fleet.
//
// Threads: the transport's thread delivers every message, presence and
// monitored traffic come on the presence connection's thread; both update
// the state under one mutex and publish its events to the hub while holding
// it, so that a snapshot's sequence number and the events after it agree.
// The HTTP threads only take snapshots and wait on the hub.
#include "Console.h"
#include "FleetServer.h"
#include "FleetState.h"
#include "Presence.h"
#include "ToolOptions.h"
#include "WylnPeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>

namespace {

std::atomic<bool> g_stop{false};
void onSignal(int) { g_stop = true; }

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString randomToken()
{
    QString t;
    for (int i = 0; i < 4; ++i)
        t += QString("%1").arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
    return t;
}

// "host:port", "[v6]:port" or a bare port.
bool parseListen(const QString& text, std::string& host, int& port)
{
    const int colon = text.lastIndexOf(':');
    QString h = colon < 0 ? QString("127.0.0.1") : text.left(colon);
    if (h.startsWith('[') && h.endsWith(']'))
        h = h.mid(1, h.size() - 2);
    bool ok = false;
    port = text.mid(colon + 1).toInt(&ok);
    host = h.toStdString();
    return ok && port >= 0 && port <= 65535 && !h.isEmpty();
}

class Fleet
{
public:
    Fleet(fleet::FleetState::Limits limits, QString self, QString target)
        : state_(limits), self_(std::move(self)), target_(std::move(target))
    {
    }

    fleet::EventHub hub;

    void apply(const fleet::Events& events)
    {
        for (const fleet::Event& e : events)
            hub.publish(e.type, e.json);
    }

    void onMessage(const tools::Inbound& in)
    {
        std::lock_guard<std::mutex> lock(m_);
        apply(state_.onMessage(in.sender, self_, in.msgType, in.body, nowMs(), in.msgId));
    }

    void onMonitored(const QString& target, const QString& sender, const QByteArray& payload)
    {
        // The fleet's own traffic already came through its inbox; of the
        // rest only file transfers are of interest.
        if (target == self_ || !payload.contains("\"file_transfer\""))
            return;
        const tools::Inbound in = tools::parseInbound(payload, sender);
        if (in.func != "file_transfer")
            return;
        std::lock_guard<std::mutex> lock(m_);
        apply(state_.onMessage(sender, target, in.msgType, in.body, nowMs(), in.msgId));
    }

    void onPresence(const QString& id, bool online)
    {
        std::lock_guard<std::mutex> lock(m_);
        apply(state_.onPresence(id, online, nowMs()));
    }

    void tick()
    {
        std::lock_guard<std::mutex> lock(m_);
        apply(state_.tick(nowMs()));
    }

    QByteArray fleetJson(const fleet::FleetServer* server)
    {
        QJsonObject o;
        {
            std::lock_guard<std::mutex> lock(m_);
            o = state_.fleetJson(nowMs());
            o["seq"] = static_cast<double>(hub.seq());
        }
        QJsonObject c = o.value("counters").toObject();
        c["events_published"] = static_cast<double>(hub.seq());
        c["events_sent"] = server ? static_cast<double>(server->eventsSent()) : 0.0;
        c["streams"] = server ? server->openStreams() : 0;
        o["counters"] = c;
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    }

    QByteArray printerJson(const QString& id)
    {
        QJsonObject o;
        std::lock_guard<std::mutex> lock(m_);
        if (!state_.printerJson(id, nowMs(), o))
            return QByteArray();
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    }

    // The answer to "getClient": every client the fleet knows, the target
    // of task-status updates as module type 100.
    QJsonArray clients(const QJsonObject& filter)
    {
        QJsonArray out;
        std::vector<console::ClientRecord> known;
        {
            std::lock_guard<std::mutex> lock(m_);
            const QJsonObject f = state_.fleetJson(nowMs());
            for (const char* list : {"printers", "clients"})
                for (const QJsonValue& v : f.value(list).toArray()) {
                    console::ClientRecord r;
                    r.id = v.toObject().value("id").toString();
                    r.status = v.toObject().value("online").toBool() ? 1 : 0;
                    known.push_back(r);
                }
        }
        if (std::none_of(known.begin(), known.end(), [&](const console::ClientRecord& r) { return r.id == target_; })) {
            console::ClientRecord r;
            r.id = target_;
            r.status = 1;
            known.push_back(r);
        }
        for (console::ClientRecord& r : known) {
            r.type = r.id == target_ ? 100 : 0;
            if (console::clientMatches(r, filter))
                out.append(console::clientToJson(r));
        }
        return out;
    }

private:
    std::mutex m_;
    fleet::FleetState state_;
    QString self_;
    QString target_;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    tools::describeTool(
        p, "orlin_fleet",
        "The service side with a live web view of the fleet: logs in as the service (\"wyln\", or "
        "WYLN_SERVICE_ID), keeps every printer's presence, heartbeats, reports, task-status updates and the file "
        "transfers it sees, answers heartbeats and \"getClient\" as the service console does, and serves a page, "
        "a JSON API and an event stream.\n\n"
        "  GET /                    the page\n"
        "  GET /api/fleet           every printer, other clients, recent task-status updates and transfers\n"
        "  GET /api/printers/<id>   one printer with its own updates and transfers\n"
        "  GET /api/events          Server-Sent Events: printer, task_status, transfer, reset\n\n"
        "It serves on 127.0.0.1 unless --listen says otherwise; on any other address every request needs the "
        "access token (printed at start, or --token-file).");
    tools::addBrokerOptions(p);
    p.addOptions({
        {"presence-user", "User name of the presence connection (else WYLN_PRESENCE_USERNAME).", "name"},
        {"presence-password-file", "File whose first line is its password (else WYLN_PRESENCE_PASSWORD).", "file"},
        {"monitor", "Also watch the messages between other peers for file transfers (the broker must allow the "
                    "presence connection to read p2p/#; the shipped wyln.acl and ejabberd.yml allow the user fleet-monitor)."},
        {"target-client", "Client listed as module type 100 instead of the service itself.", "id"},
        {"listen", "HTTP address, host:port (port 0: any free port).", "address", "127.0.0.1:8080"},
        {"token-file", "File whose first line is the access token to require (else ORLIN_FLEET_TOKEN; default: none "
                       "on loopback, a random one on any other address).", "file"},
        {"offline-after", "Seconds of silence after which a printer without presence counts as offline.", "s", "30"},
        {"read-timeout", "Seconds an HTTP request may stall, or a connection stay idle, before it is closed.", "s", "5"},
        {"request-deadline", "Milliseconds a client has to send a whole request, counted from when the server starts "
                             "waiting for it, before the connection is closed.", "ms", "5000"},
    });
    p.process(app);
    if (!tools::noArguments(p))
        return 1;
    fleet::ServerOptions so;
    int brokerPort = 0, offlineS = 0;
    if (!parseListen(p.value("listen"), so.host, so.port)) {
        tools::usageError("--listen wants host:port, not \"" + p.value("listen") + "\"");
        return 1;
    }
    if (!tools::brokerOptions(p, brokerPort) || !tools::intOption(p, "offline-after", 1, offlineS)
        || !tools::intOption(p, "read-timeout", 1, so.readTimeoutS)
        || !tools::intOption(p, "request-deadline", 1, so.requestDeadlineMs))
        return 1;
    if (!tools::setCredentials(p.value("presence-user"), p.value("presence-password-file"), "WYLN_PRESENCE_USERNAME",
                               "WYLN_PRESENCE_PASSWORD")
        || !tools::setCredentials(QString(), p.value("token-file"), "", "ORLIN_FLEET_TOKEN"))
        return 1;
    // Like the passwords, the token stays off the command line, where other
    // users of the machine could read it.
    so.token = qgetenv("ORLIN_FLEET_TOKEN").toStdString();
    const bool loopback = fleet::isLoopback(so.host);
    if (!loopback && so.token.empty())
        so.token = randomToken().toStdString();

    const QString self = tools::serviceId();
    const QString target = p.isSet("target-client") ? p.value("target-client") : self;
    fleet::FleetState::Limits limits;
    limits.silenceMs = offlineS * 1000LL;
    Fleet fleet(limits, self, target);
    fleet::FleetServer* serverPtr = nullptr;
    fleet::FleetServer server(so,
                              fleet::Source{[&] { return fleet.fleetJson(serverPtr); },
                                            [&](const QString& id) { return fleet.printerJson(id); }},
                              fleet.hub);
    serverPtr = &server;

    tools::WylnPeer peer;
    peer.setHandler([&](const tools::Inbound& in) {
        if (in.msgType < 0)
            return;
        fleet.onMessage(in);
        if (in.msgType == 3) {
            // A heartbeat back, so that the device's link supervision sees a
            // live peer.
            peer.sendTo(in.sender,
                        tools::buildEnvelope(QJsonObject{{"device_status", 1}, {"connect_status", 1}}, 3, self, in.sender), 0);
        } else if (in.msgType == 0 && in.func == "getClient") {
            const QJsonObject body{
                {"func", "getClient"}, {"message", "success"}, {"data", fleet.clients(in.body.value("data").toObject())}};
            peer.sendTo(in.sender, tools::buildEnvelope(body, 0, self, in.sender, in.msgId), 0);
        }
    });
    const int rc = peer.start(p.value("host"), brokerPort, self);
    if (rc != 0) {
        tools::usageError("cannot log in: " + peer.errorText());
        return 1;
    }
    fleet.onPresence(self, true);

    tools::PresenceWatcher presence(
        [&](const QString& id, bool online) { fleet.onPresence(id, online); },
        p.isSet("monitor") ? tools::PresenceWatcher::MessageHandler(
                                 [&](const QString& t, const QString& s, const QByteArray& m) { fleet.onMonitored(t, s, m); })
                           : tools::PresenceWatcher::MessageHandler());
    // mosquitto grants what its rules forbid and delivers nothing; ejabberd
    // refuses, and that is worth saying, since the view just stays empty.
    presence.setRefusalHandler([](const QString& filter, int reason) {
        std::fprintf(stderr, "orlin_fleet: the broker refused the presence connection's subscription to %s "
                             "(reason %d)%s\n",
                     qPrintable(filter), reason,
                     filter.startsWith("p2p/") ? ": --monitor sees no transfers between other peers (the shipped "
                                                 "rules allow the presence user fleet-monitor)"
                                               : "");
    });
    const QByteArray pu = qgetenv("WYLN_PRESENCE_USERNAME");
    bool watching = false;
    if (qgetenv("WYLN_USERNAME").isEmpty() || !pu.isEmpty())
        watching = presence.start(p.value("host"), brokerPort, pu, qgetenv("WYLN_PRESENCE_PASSWORD"));

    if (!server.start()) {
        tools::usageError(QString("cannot listen on %1").arg(p.value("listen")));
        peer.stop();
        return 1;
    }
    const QString hostText = so.host.find(':') != std::string::npos ? "[" + QString::fromStdString(so.host) + "]"
                                                                     : QString::fromStdString(so.host);
    const QString url = QString("http://%1:%2/").arg(hostText).arg(server.port());
    if (!loopback)
        std::fprintf(stderr,
                     "WARNING: orlin_fleet serves on %s, which other machines can reach, over plain HTTP.\n"
                     "WARNING: every request needs the access token; open %s?token=%s\n",
                     qPrintable(url), qPrintable(url), so.token.c_str());
    std::printf("orlin_fleet: serving %s as %s (presence %s)\n", qPrintable(url), qPrintable(peer.id()),
                watching ? "watched" : "not watched");
    std::fflush(stdout);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (g_stop)
            app.quit();
        fleet.tick();
    });
    tick.start(250);
    const int exitCode = app.exec();
    server.stop();
    peer.stop();
    return exitCode;
}
