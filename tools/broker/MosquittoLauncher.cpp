#include "MosquittoLauncher.h"

#include <QFile>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace tools {

namespace {

// On PATH; Debian installs the broker in sbin, which is not on every user's
// PATH, so that is looked at next.
QString findProgram(const QString& name)
{
    QString p = QStandardPaths::findExecutable(name);
    if (p.isEmpty())
        p = QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/local/sbin"});
    return p;
}

bool runningAsRoot()
{
#ifdef _WIN32
    return false;
#else
    return geteuid() == 0;
#endif
}

} // namespace

QString loopbackMosquittoConfig(const QString& shippedText, const QString& confDir, int port, bool runAsRoot)
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

MosquittoLauncher::MosquittoLauncher(BrokerSetup setup) : OwnBroker(std::move(setup)) {}

MosquittoLauncher::~MosquittoLauncher()
{
    stop();
}

std::vector<BrokerEndpoint> MosquittoLauncher::endpoints() const
{
    return {{"127.0.0.1", port_}};
}

QString MosquittoLauncher::log() const
{
    return readText(dir_.path() + "/broker.log") + readText(dir_.path() + "/stdout.log");
}

bool MosquittoLauncher::writePasswords()
{
    const QString file = dir_.path() + "/passwd";
    const QString tool = findProgram("mosquitto_passwd");
    if (tool.isEmpty())
        return fail("mosquitto_passwd is not on PATH");
    bool first = true;
    for (const BrokerUser& u : setup_.users) {
        QStringList args;
        if (first)
            args << "-c";
        args << "-b" << file << u.name << u.password;
        if (QProcess::execute(tool, args) != 0)
            return fail("mosquitto_passwd failed for " + u.name);
        first = false;
    }
    // The broker warns about, and later versions refuse, files others can read.
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

bool MosquittoLauncher::writeConfiguration()
{
    const QString dir = dir_.path();
    QString conf;
    if (!setup_.shippedConfDir.isEmpty()) {
        const QString shipped = readText(setup_.shippedConfDir + "/mosquitto.conf");
        if (shipped.isEmpty())
            return fail("cannot read " + setup_.shippedConfDir + "/mosquitto.conf");
        QFile::remove(dir + "/wyln.acl");
        if (!QFile::copy(setup_.shippedConfDir + "/wyln.acl", dir + "/wyln.acl"))
            return fail("cannot copy wyln.acl");
        QFile::setPermissions(dir + "/wyln.acl", QFile::ReadOwner | QFile::WriteOwner);
        if (!setup_.extraAclLines.isEmpty()) {
            QFile acl(dir + "/wyln.acl");
            if (!acl.open(QIODevice::Append) || acl.write(("\n" + setup_.extraAclLines.join('\n') + '\n').toUtf8()) < 0)
                return fail("cannot extend wyln.acl");
        }
        conf = loopbackMosquittoConfig(shipped, dir, port_, runningAsRoot());
    } else {
        QStringList c;
        if (runningAsRoot())
            c << "user root";  // keeps access to the private folder
        c << "per_listener_settings false"
          << "persistence false"
          << "log_dest file " + dir + "/broker.log"
          << "set_tcp_nodelay true"
          << "max_inflight_messages 100"
          << "max_queued_messages 10000"
          << QString("max_packet_size %1").arg(kBrokerMaxPacket);
        if (setup_.users.empty())
            c << "allow_anonymous true";
        else
            c << "allow_anonymous false"
              << "password_file " + dir + "/passwd";
        c << QString("listener %1 127.0.0.1").arg(port_);
        if (setup_.tls)
            c << "cafile " + setup_.tls->caCert << "certfile " + setup_.tls->serverCert
              << "keyfile " + setup_.tls->serverKey;
        conf = c.join('\n') + '\n';
    }
    if (!setup_.extraLines.isEmpty())
        conf += setup_.extraLines.join('\n') + '\n';
    if (!setup_.users.empty() && !writePasswords())
        return false;
    if (!writeText(dir + "/mosquitto.conf", conf))
        return fail("cannot write the broker configuration");
    return true;
}

// The broker takes every publish into a fresh block of its size and frees
// it once delivered. With glibc's defaults a file chunk's 8 MiB block is
// mapped anew for every message and given back on free, so each chunk
// faults in and zero-fills 2048 pages: half of the broker's CPU time in a
// file transfer. With the thresholds above the largest message, freed
// blocks stay in the heap for the next one. Other C libraries ignore the
// variable, and a value set by the caller is kept.
QProcessEnvironment MosquittoLauncher::brokerEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains("GLIBC_TUNABLES"))
        env.insert("GLIBC_TUNABLES", "glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=268435456");
    return env;
}

bool MosquittoLauncher::start(int timeoutMs)
{
    if (proc_.state() != QProcess::NotRunning)
        return true;
    if (!dir_.isValid())
        return fail("no temporary folder");
    if (port_ == 0 && (port_ = freeLoopbackPort()) == 0)
        return fail("no free port on 127.0.0.1");
    if (!configured_ && !(configured_ = writeConfiguration()))
        return false;
    const QString program = findProgram("mosquitto");
    if (program.isEmpty())
        return fail("mosquitto is not on PATH");
    proc_.setProcessChannelMode(QProcess::MergedChannels);
    proc_.setStandardOutputFile(dir_.path() + "/stdout.log", QIODevice::Append);
    proc_.setProcessEnvironment(brokerEnvironment());
    proc_.start(program, {"-c", dir_.path() + "/mosquitto.conf"});
    if (!proc_.waitForStarted(timeoutMs))
        return fail("cannot start " + program + ": " + proc_.errorString());
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (portAccepts("127.0.0.1", port_))
            return true;
        // Also notices a broker that exited (a configuration it refused).
        if (proc_.waitForFinished(10))
            return fail("mosquitto exited: " + log());
    }
    stop();
    return fail("mosquitto does not listen: " + log());
}

void MosquittoLauncher::stop()
{
    if (proc_.state() == QProcess::NotRunning)
        return;
    proc_.terminate();
    if (!proc_.waitForFinished(3000))
        kill();
}

void MosquittoLauncher::kill()
{
    if (proc_.state() == QProcess::NotRunning)
        return;
    proc_.kill();
    proc_.waitForFinished(3000);
}

BridgeLauncher::BridgeLauncher(BrokerSetup setup) : setup_(std::move(setup))
{
    // The bridge logs in to the remote broker like a client, as a user the
    // remote ACL lets carry every client's messages.
    BrokerSetup remote = setup_;
    remote.kind = BrokerKind::Mosquitto;
    if (!remote.users.empty() || !remote.shippedConfDir.isEmpty())
        remote.users.push_back({kBridgeUser, kBridgePassword});
    remote.extraAclLines << QString("user %1").arg(kBridgeUser) << "topic readwrite p2p/#"
                         << "topic readwrite presence/#";
    remote_ = std::make_unique<MosquittoLauncher>(remote);
}

BridgeLauncher::~BridgeLauncher() = default;

bool BridgeLauncher::start(int timeoutMs)
{
    if (!remote_->start(timeoutMs))
        return fail("remote broker: " + remote_->errorText());
    if (!local_) {
        QString bridge = readText(setup_.shippedConfDir + "/mosquitto-bridge.conf");
        if (bridge.isEmpty())
            return fail("cannot read " + setup_.shippedConfDir + "/mosquitto-bridge.conf");
        bridge.replace("@REMOTE_HOST@", "127.0.0.1")
            .replace("@REMOTE_PORT@", QString::number(remote_->port()))
            .replace("@BRIDGE_USER@", kBridgeUser)
            .replace("@BRIDGE_PASSWORD@", kBridgePassword);
        BrokerSetup local = setup_;
        local.kind = BrokerKind::Mosquitto;
        local.extraLines << bridge.split('\n');
        local_ = std::make_unique<MosquittoLauncher>(local);
    }
    if (!local_->start(timeoutMs))
        return fail("local broker: " + local_->errorText());
    // The bridge is up once the remote broker has its login.
    QElapsedTimer t;
    t.start();
    while (!remote_->log().contains(QString(" as %1 ").arg(kBridgeUser)))
        if (t.elapsed() > timeoutMs)
            return fail("the bridge did not connect: " + local_->log());
        else
            QThread::msleep(20);
    return true;
}

void BridgeLauncher::stop()
{
    if (local_)
        local_->stop();
    remote_->stop();
}

void BridgeLauncher::kill()
{
    if (local_)
        local_->kill();
    remote_->kill();
}

void BridgeLauncher::killNode(size_t index)
{
    if (index == 0)
        remote_->kill();
    else if (index == 1 && local_)
        local_->kill();
}

std::vector<BrokerEndpoint> BridgeLauncher::endpoints() const
{
    std::vector<BrokerEndpoint> e = remote_->endpoints();
    if (local_)
        e.push_back(local_->endpoints().front());
    return e;
}

QString BridgeLauncher::log() const
{
    return remote_->log() + (local_ ? local_->log() : QString());
}

} // namespace tools
