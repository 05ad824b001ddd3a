// For the fleet's integration tests: a broker without credentials (so that
// any identifier may log in), orlin_fleet started on a free loopback port,
// and peers that speak as printers.
#pragma once

#include "BrokerLauncher.h"
#include "WylnPeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <httplib.h>

#include <functional>
#include <memory>

namespace fleet_test {

// A broker of our own without credentials or rules: any identifier may log
// in and the fleet may read every message. A broker that
// ORLIN_BROKER_HOST/ORLIN_BROKER_PORT name will not do (its service and
// rules are not ours): start() then fails and unavailable() says why.
inline std::unique_ptr<tools::BrokerLauncher> openBroker()
{
    tools::BrokerSetup setup;
    setup.needsOwnBroker = true;
    return tools::makeBroker(setup);
}

// Starts the test's broker, or skips the test where it cannot have one.
#define FLEET_START_BROKER(broker)                                                                             \
    do {                                                                                                       \
        if (!(broker)->start()) {                                                                              \
            if (!(broker)->unavailable().isEmpty())                                                            \
                GTEST_SKIP() << (broker)->unavailable().toStdString();                                         \
            FAIL() << (broker)->errorText().toStdString();                                                     \
        }                                                                                                      \
    } while (0)

inline bool waitUntil(const std::function<bool()>& cond, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return true;
}

// orlin_fleet as a child process; its stdout and stderr are collected.
class FleetProcess
{
public:
    ~FleetProcess() { stop(); }

    // Returns the HTTP port, or 0 when the program did not come up.
    int start(const tools::BrokerLauncher& broker, const QStringList& extra = {})
    {
        proc_.setProcessChannelMode(QProcess::SeparateChannels);
        proc_.start(QString(ORLIN_TOOLS_DIR) + "/orlin_fleet",
                    QStringList{"--host", broker.host(), "--port", QString::number(broker.port()), "--listen", "127.0.0.1:0"}
                        + extra);
        const QRegularExpression re("serving http://127\\.0\\.0\\.1:(\\d+)/");
        int port = 0;
        waitUntil([&] {
            out_ += proc_.readAllStandardOutput();
            err_ += proc_.readAllStandardError();
            const auto m = re.match(QString::fromUtf8(out_));
            if (m.hasMatch())
                port = m.captured(1).toInt();
            return port != 0 || proc_.state() == QProcess::NotRunning;
        }, 10000);
        return port;
    }
    void stop()
    {
        if (proc_.state() == QProcess::NotRunning)
            return;
        proc_.terminate();
        if (!proc_.waitForFinished(5000))
            proc_.kill();
        proc_.waitForFinished(1000);
    }
    QByteArray output() { return out_ += proc_.readAllStandardOutput(); }
    QByteArray errors() { return err_ += proc_.readAllStandardError(); }
    qint64 pid() const { return proc_.processId(); }
    QProcess& process() { return proc_; }

private:
    QProcess proc_;
    QByteArray out_, err_;
};

// A peer that reports as a printer would, straight on the transport.
class FakePrinter
{
public:
    bool start(const tools::BrokerLauncher& broker, const QString& id)
    {
        return peer.start(broker.host(), broker.port(), id) == 0;
    }

    int heartbeat(const QJsonObject& body) { return peer.sendTo("wyln", tools::buildEnvelope(body, 3, peer.id(), "wyln")); }
    int report(const QJsonObject& body)
    {
        QJsonObject b = body;
        b["func"] = "report";
        return peer.sendTo("wyln", tools::buildEnvelope(b, 2, peer.id(), "wyln"));
    }
    int taskStatus(int id, int status)
    {
        return peer.sendTo("wyln", tools::buildMessage("updateTaskStatus", QJsonObject{{"id", id}, {"status", status}}, 0,
                                                       peer.id(), "wyln"));
    }

    tools::WylnPeer peer;
};

inline QJsonObject printing(int task, int progress)
{
    return QJsonObject{{"device_status", 2},
                       {"connect_status", 1},
                       {"data", QJsonObject{{"print_info", QJsonObject{{"task_id", task},
                                                                       {"progress", progress},
                                                                       {"print_done_copys", 0},
                                                                       {"total_print_copys", 2}}},
                                            {"error_info", QJsonArray()}}}};
}

// An "error_info" entry as the library sends it: all 260 bytes of the text's
// field in Base64.
inline QJsonObject errorEntry(int code, const QString& text)
{
    QByteArray field(260, '\0');
    field.replace(0, text.toUtf8().size(), text.toUtf8());
    return QJsonObject{{"code", code}, {"msg", QString::fromLatin1(field.toBase64())}};
}

inline QJsonObject getJson(httplib::Client& c, const std::string& path, int* status = nullptr)
{
    auto r = c.Get(path.c_str());
    if (status)
        *status = r ? r->status : -1;
    return r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object() : QJsonObject();
}

} // namespace fleet_test
