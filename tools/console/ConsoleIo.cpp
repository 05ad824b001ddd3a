#include "ConsoleIo.h"

#include "LocalTime.h"
#include "ToolOptions.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <csignal>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace console {

namespace {

std::atomic<bool> g_stop{false};
std::mutex g_out;

void onSignal(int) { g_stop = true; }

} // namespace

void catchSignals()
{
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

bool stopRequested()
{
    return g_stop;
}

std::mutex& outputLock()
{
    return g_out;
}

bool isTerminal(FILE* f)
{
#ifdef _WIN32
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
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
    return tools::localNow().toString("hh:mm:ss.zzz");
}

void addCommon(QCommandLineParser& p)
{
    p.addHelpOption();
    p.addVersionOption();
    tools::addBrokerOptions(p);
    p.addOption({"json", "Machine-readable output: one JSON object per line."});
}

bool parse(QCommandLineParser& p, const QString& cmd, const QStringList& args, int positional)
{
    p.process(QStringList{QCoreApplication::applicationName() + " " + cmd} + args);
    if (p.positionalArguments().size() < positional) {
        err("missing arguments; see " + cmd + " --help");
        return false;
    }
    int port = 0;
    return tools::brokerOptions(p, port);
}

bool startPeer(tools::WylnPeer& peer, QCommandLineParser& p, const QString& id)
{
    const int rc = peer.start(p.value("host"), p.value("port").toInt(), id);
    if (rc != 0) {
        err(QString("cannot log in: %1").arg(peer.errorText()));
        return false;
    }
    return true;
}

} // namespace console
