#include "DemoBroker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tools {

int freeLoopbackPort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0
        && getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

bool loopbackPortAccepts(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    close(s);
    return ok;
}

QString demoBrokerConfig(const QString& shippedText, const QString& confDir, int port, bool runAsRoot)
{
    QStringList out;
    if (runAsRoot)
        out << "user root";
    out << "log_dest file " + confDir + "/broker.log";
    bool inTlsListener = false;
    const QStringList lines = QString(shippedText).replace("@CONFDIR@", confDir).split('\n');
    for (const QString& line : lines) {
        const QString t = line.trimmed();
        if (t.startsWith("listener ")) {
            const QStringList parts = t.split(' ', Qt::SkipEmptyParts);
            // "listener <port> 127.0.0.1" is the local plain listener; any
            // other listener of the shipped file serves TLS to the network.
            inTlsListener = !(parts.size() == 3 && parts[2] == "127.0.0.1");
            if (!inTlsListener)
                out << QString("listener %1 127.0.0.1").arg(port);
            continue;
        }
        if (!inTlsListener)
            out << line;
    }
    return out.join('\n') + '\n';
}

DemoBroker::DemoBroker(QString shippedConfDir) : shipped_(std::move(shippedConfDir)) {}

DemoBroker::~DemoBroker()
{
    stop();
}

QString DemoBroker::log() const
{
    QFile f(dir_.path() + "/broker.log");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool DemoBroker::start(const Users& users, int timeoutMs)
{
    if (!dir_.isValid()) {
        error_ = "no temporary directory";
        return false;
    }
    QFile conf(shipped_ + "/mosquitto.conf");
    if (!conf.open(QIODevice::ReadOnly)) {
        error_ = "cannot read " + conf.fileName();
        return false;
    }
    const QString dir = dir_.path();
    if (!QFile::copy(shipped_ + "/wyln.acl", dir + "/wyln.acl")) {
        error_ = "cannot copy wyln.acl";
        return false;
    }
    bool first = true;
    for (const auto& u : users) {
        QStringList args;
        if (first)
            args << "-c";
        args << "-b" << dir + "/passwd" << u.first << u.second;
        if (QProcess::execute("mosquitto_passwd", args) != 0) {
            error_ = "mosquitto_passwd failed for " + u.first;
            return false;
        }
        first = false;
    }
    QFile::setPermissions(dir + "/passwd", QFile::ReadOwner | QFile::WriteOwner);
    QFile::setPermissions(dir + "/wyln.acl", QFile::ReadOwner | QFile::WriteOwner);
    port_ = freeLoopbackPort();
    QFile out(dir + "/mosquitto.conf");
    if (!out.open(QIODevice::WriteOnly)
        || out.write(demoBrokerConfig(QString::fromUtf8(conf.readAll()), dir, port_, geteuid() == 0).toUtf8()) < 0) {
        error_ = "cannot write the broker configuration";
        return false;
    }
    out.close();
    proc_.setProcessChannelMode(QProcess::MergedChannels);
    proc_.setStandardOutputFile(dir + "/stdout.log");
    proc_.start("/usr/sbin/mosquitto", {"-c", dir + "/mosquitto.conf"});
    if (!proc_.waitForStarted(timeoutMs)) {
        error_ = "cannot start mosquitto";
        return false;
    }
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        if (proc_.state() != QProcess::Running) {
            error_ = "mosquitto exited: " + log();
            return false;
        }
        if (loopbackPortAccepts(port_))
            return true;
        QThread::msleep(10);
    }
    error_ = "mosquitto does not listen: " + log();
    stop();
    return false;
}

void DemoBroker::stop()
{
    if (proc_.state() == QProcess::NotRunning)
        return;
    proc_.terminate();
    if (!proc_.waitForFinished(3000)) {
        proc_.kill();
        proc_.waitForFinished(1000);
    }
}

} // namespace tools
