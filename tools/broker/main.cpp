// orlin_broker: the launcher's broker as a program, for scripts and for test
// runs elsewhere (for example the suites under Wine against a broker on the
// Linux side): starts it, says where it listens, runs until SIGINT or
// SIGTERM, then stops it.
#include "BrokerLauncher.h"
#include "ToolOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<bool> g_stop{false};
void onSignal(int) { g_stop = true; }

// "name password" per line; empty lines and lines starting with # skipped.
bool readUsers(const QString& path, std::vector<tools::BrokerUser>& users)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        tools::usageError("cannot read the users file " + path);
        return false;
    }
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const int space = line.indexOf(' ');
        if (space <= 0) {
            tools::usageError("a line of " + path + " is not \"name password\"");
            return false;
        }
        users.push_back({line.left(space), line.mid(space + 1).trimmed()});
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    tools::describeTool(
        p, "orlin_broker",
        "Starts mosquitto (from PATH) on a free 127.0.0.1 port in a temporary folder, the way the tests and the "
        "demo do, and prints one line: ORLIN_BROKER_HOST=<host> ORLIN_BROKER_PORT=<port>. Runs until SIGINT or "
        "SIGTERM and then stops the broker and removes its folder.\n"
        "Without --shipped-conf: an open configuration (anonymous clients, 16 MiB packets), the one the plug-in's "
        "integration tests and benchmark use.");
    p.addOptions({
        {"shipped-conf", "Use the shipped configuration from this folder (mosquitto.conf, wyln.acl).", "dir"},
        {"users-file", "Broker users, one \"name password\" per line.", "file"},
        {"kind", "mosquitto, ejabberd, cluster (two ejabberd nodes) or bridge (two bridged mosquittos, needs "
                 "--shipped-conf); with two nodes a second line names both: ORLIN_BROKER_NODES=<host:port> <host:port>.",
         "kind", "mosquitto"},
    });
    p.process(app);
    const std::optional<tools::BrokerKind> kind = tools::brokerKindNamed(p.value("kind"));
    if (!kind) {
        tools::usageError("--kind must be mosquitto, ejabberd, cluster or bridge");
        return 1;
    }
    tools::BrokerSetup setup;
    setup.kind = *kind;
    setup.shippedConfDir = p.value("shipped-conf");
    if (p.isSet("users-file") && !readUsers(p.value("users-file"), setup.users))
        return 1;
    // A program that starts a broker starts its own, whatever the environment says.
    qunsetenv(tools::kBrokerHostVariable);
    qunsetenv(tools::kBrokerPortVariable);
    // Installed first: a signal during a slow start (ejabberd) still stops
    // what was started.
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    auto broker = tools::makeBroker(setup);
    if (!broker->start()) {
        std::fprintf(stderr, "orlin_broker: %s\n", broker->errorText().toUtf8().constData());
        return 1;
    }
    std::printf("%s=%s %s=%d\n", tools::kBrokerHostVariable, broker->host().toUtf8().constData(),
                tools::kBrokerPortVariable, broker->port());
    if (broker->endpoints().size() > 1) {
        QStringList nodes;
        for (const auto& e : broker->endpoints())
            nodes << QString("%1:%2").arg(e.host).arg(e.port);
        std::printf("ORLIN_BROKER_NODES=%s\n", nodes.join(' ').toUtf8().constData());
    }
    std::fflush(stdout);
    while (!g_stop)
        QThread::msleep(50);
    broker->stop();
    return 0;
}
