#include "EjabberdLauncher.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

namespace tools {

namespace {

// Where Debian installs ejabberd's Erlang applications.
const char kEjabberdLibs[] = "/usr/lib/x86_64-linux-gnu";

// Erlang text for a binary holding s.
QString erlBinary(const QString& s)
{
    QString e = s;
    e.replace('\\', "\\\\").replace('"', "\\\"");
    return "<<\"" + e + "\">>";
}

void endProcess(QProcess& p, bool gently)
{
    if (p.state() == QProcess::NotRunning)
        return;
    // SIGTERM makes the Erlang VM stop its applications before it exits.
    if (gently) {
        p.terminate();
        if (p.waitForFinished(10000))
            return;
    }
    p.kill();
    p.waitForFinished(5000);
}

} // namespace

QString loopbackEjabberdConfig(const QString& shipped, int port, bool anonymous)
{
    QString c = shipped;
    if (c.isEmpty())
        c = "hosts:\n  - localhost\nloglevel: info\nlog_rotate_count: 0\n"
            "listen:\n  -\n    port: 1883\n    ip: \"127.0.0.1\"\n    module: mod_mqtt\n    backlog: 1000\n"
            "    max_payload_size: 16777216\n"
            "auth_method: [internal]\nmodules:\n  mod_mqtt:\n    max_queue: 10000\n";
    c.replace(QRegularExpression("port: 1883\\b"), QString("port: %1").arg(port));
    if (anonymous)
        c.replace(QRegularExpression("\nauth_method: \\[internal\\]"),
                  "\nauth_method: [internal, anonymous]\nanonymous_protocol: login_anon");
    return c;
}

struct EjabberdLauncher::Node
{
    QProcess proc;
    int port = 0;
};

EjabberdLauncher::EjabberdLauncher(BrokerSetup setup, int nodes) : OwnBroker(std::move(setup))
{
    for (int i = 0; i < nodes; ++i)
        nodes_.push_back(std::make_unique<Node>());
}

EjabberdLauncher::~EjabberdLauncher()
{
    kill();
}

QString EjabberdLauncher::nodeName(size_t index) const
{
    return QString("wyln%1@localhost").arg(index + 1);
}

QString EjabberdLauncher::nodeDir(size_t index) const
{
    return dir_.path() + QString("/node%1").arg(index + 1);
}

QStringList EjabberdLauncher::erlArgs(const QStringList& args) const
{
    // Distribution on the loopback interface only, through our port mapper.
    return QStringList{"-start_epmd", "false", "-setcookie", "wyln-test", "-kernel", "inet_dist_use_interface",
                       "{127,0,0,1}"}
           + args;
}

QProcessEnvironment EjabberdLauncher::environment(size_t index) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", nodeDir(index));
    env.insert("ERL_EPMD_ADDRESS", "127.0.0.1");
    env.insert("ERL_EPMD_PORT", QString::number(epmdPort_));
    env.insert("ERL_LIBS", kEjabberdLibs);
    env.insert("EJABBERD_CONFIG_PATH", nodeDir(index) + "/ejabberd.yml");
    env.insert("EJABBERD_LOG_PATH", nodeDir(index) + "/log/ejabberd.log");
    return env;
}

bool EjabberdLauncher::launch(size_t index)
{
    Node& n = *nodes_[index];
    if (n.proc.state() != QProcess::NotRunning)
        return true;
    const QString dir = nodeDir(index);
    if (n.port == 0) {
        if ((n.port = freeLoopbackPort()) == 0)
            return fail("no free port on 127.0.0.1");
        const QString shipped =
            setup_.shippedConfDir.isEmpty() ? QString() : readText(setup_.shippedConfDir + "/ejabberd.yml");
        if (!setup_.shippedConfDir.isEmpty() && shipped.isEmpty())
            return fail("cannot read " + setup_.shippedConfDir + "/ejabberd.yml");
        if (!QDir().mkpath(dir + "/spool") || !QDir().mkpath(dir + "/log")
            || !writeText(dir + "/ejabberd.yml", loopbackEjabberdConfig(shipped, n.port, setup_.users.empty())))
            return fail("cannot write the configuration of node " + QString::number(index + 1));
    }
    // Once ejabberd runs, the node registers the users (the first node
    // only: a joining node takes the cluster's) and marks itself ready.
    QStringList users;
    for (const BrokerUser& u : setup_.users)
        if (index == 0)
            users << "{" + erlBinary(u.name) + ", " + erlBinary(u.password) + "}";
    QFile::remove(dir + "/ready");
    const QString boot = "[ejabberd_auth:try_register(U, <<\"localhost\">>, P) || {U, P} <- [" + users.join(", ")
                         + "]], file:write_file(\"" + dir + "/ready\", <<>>).";
    n.proc.setProcessEnvironment(environment(index));
    n.proc.setWorkingDirectory(dir);
    n.proc.setProcessChannelMode(QProcess::MergedChannels);
    n.proc.setStandardOutputFile(dir + "/log/erl.out", QIODevice::Append);
    n.proc.start(QStandardPaths::findExecutable("erl"),
                 erlArgs({"-sname", nodeName(index), "-noinput", "-mnesia", "dir", "\"" + dir + "/spool\"", "-s",
                          "ejabberd", "-eval", boot}));
    return n.proc.waitForStarted(5000) || fail("cannot start erl: " + n.proc.errorString());
}

bool EjabberdLauncher::waitReady(size_t index, int timeoutMs)
{
    Node& n = *nodes_[index];
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        if (QFile::exists(nodeDir(index) + "/ready") && portAccepts("127.0.0.1", n.port))
            return true;
        if (n.proc.waitForFinished(20))
            return fail(QString("node %1 exited: %2").arg(index + 1).arg(readText(nodeDir(index) + "/log/erl.out")));
    }
    return fail(QString("node %1 did not come up: %2").arg(index + 1).arg(readText(nodeDir(index) + "/log/erl.out")));
}

bool EjabberdLauncher::start(int timeoutMs)
{
    if (!dir_.isValid())
        return fail("no temporary folder");
    if (epmd_.state() == QProcess::NotRunning) {
        if (epmdPort_ == 0 && (epmdPort_ = freeLoopbackPort()) == 0)
            return fail("no free port on 127.0.0.1");
        epmd_.start(QStandardPaths::findExecutable("epmd"),
                    {"-port", QString::number(epmdPort_), "-address", "127.0.0.1"});
        QElapsedTimer t;
        t.start();
        while (!portAccepts("127.0.0.1", epmdPort_))
            if (t.elapsed() > 5000 || epmd_.waitForFinished(20))
                return fail("the Erlang port mapper did not start");
    }
    // The nodes boot together; ejabberd needs a few seconds whatever the
    // caller's time-out for a single broker.
    const int limit = std::max(timeoutMs, 30000);
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (!launch(i))
            return false;
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (!waitReady(i, limit))
            return false;
    if (nodes_.size() > 1 && !joined_) {
        if (!ctl(1, {"join_cluster", nodeName(0)}))
            return false;
        joined_ = true;
        // Joining restarts ejabberd on the joining node.
        QElapsedTimer t;
        t.start();
        while (!portAccepts("127.0.0.1", nodes_[1]->port))
            if (t.elapsed() > limit)
                return fail("node 2 does not listen after joining the cluster");
            else
                QThread::msleep(20);
    }
    return true;
}

bool EjabberdLauncher::ctl(size_t index, const QStringList& args, int timeoutMs)
{
    static int serial = 0;
    QProcess p;
    p.setProcessEnvironment(environment(index));
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStandardPaths::findExecutable("erl"),
            erlArgs({"-sname", QString("ctl%1-%2").arg(++serial).arg(nodeName(index)), "-hidden", "-noinput", "-s",
                     "ejabberd_ctl", "-extra", nodeName(index)})
                + args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        return fail("ejabberd_ctl " + args.join(' ') + " timed out");
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return fail("ejabberd_ctl " + args.join(' ') + " failed: " + QString::fromUtf8(p.readAll()));
    return true;
}

void EjabberdLauncher::stop()
{
    for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it)
        endProcess((*it)->proc, true);
    endProcess(epmd_, true);
}

void EjabberdLauncher::kill()
{
    for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it)
        endProcess((*it)->proc, false);
    endProcess(epmd_, false);
}

void EjabberdLauncher::killNode(size_t index)
{
    if (index < nodes_.size())
        endProcess(nodes_[index]->proc, false);
}

std::vector<BrokerEndpoint> EjabberdLauncher::endpoints() const
{
    std::vector<BrokerEndpoint> e;
    for (const auto& n : nodes_)
        e.push_back({"127.0.0.1", n->port});
    return e;
}

QString EjabberdLauncher::log() const
{
    QString all;
    for (size_t i = 0; i < nodes_.size(); ++i)
        all += readText(nodeDir(i) + "/log/ejabberd.log");
    return all;
}

} // namespace tools
