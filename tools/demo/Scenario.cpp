// The scenario's machinery: starting programs, running console commands,
// running the table of steps.
#include "Scenario.h"

#include "ScenarioInternal.h"
#include "ToolProcess.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace demo {

Scenario::Scenario(ScenarioConfig c) : c_(std::move(c)) {}

Scenario::~Scenario()
{
    stopAll();
}

void Scenario::say(const QString& line)
{
    if (c_.transcript)
        c_.transcript(line);
}

namespace {

// An event line in the transcript: its name, the sender, and the rest (of
// a relayed message its body) cut short.
QString eventText(QJsonObject e)
{
    QString text = e.take("event").toString();
    e.remove("time");
    if (e.contains("from"))
        text += " from " + e.take("from").toString();
    if (e.contains("message"))
        e = e.value("message").toObject().value("body").toObject();
    QString rest = QString::fromUtf8(QJsonDocument(e).toJson(QJsonDocument::Compact));
    if (rest.size() > 120)
        rest = rest.left(117) + "...";
    return text + " " + rest;
}

} // namespace

Scenario::Proc* Scenario::spawn(const QString& tag, const QString& program, const QStringList& args, const QString& user,
                                const QList<QPair<QString, QString>>& extraEnv)
{
    auto proc = std::make_unique<Proc>();
    Proc* raw = proc.get();
    raw->tag = tag;
    QProcessEnvironment env = tools::accountEnvironment(user, password(user));
    env.remove("WYLN_SERVICE_ID");
    for (const auto& v : extraEnv)
        env.insert(v.first, v.second);
    raw->p.setProcessEnvironment(env);
    // A console's JSON output is summed up by its step; its progress lines
    // (stderr) and everything the other programs print go to the transcript.
    const bool quietStdout = tag == "console";
    auto drain = [this, raw, quietStdout](QProcess::ProcessChannel ch) {
        raw->p.setReadChannel(ch);
        while (raw->p.canReadLine()) {
            const QByteArray bytes = raw->p.readLine();
            const QString line = QString::fromUtf8(bytes).trimmed();
            raw->lines << line;
            const QJsonObject event = ch == QProcess::StandardOutput ? tools::jsonLine(bytes) : QJsonObject();
            if (!event.isEmpty())
                raw->events.push_back(event);
            if (!(quietStdout && ch == QProcess::StandardOutput))
                say(QString("    %1 | %2").arg(raw->tag, -8).arg(event.isEmpty() ? line : eventText(event)));
        }
    };
    QObject::connect(&raw->p, &QProcess::readyReadStandardOutput, [drain] { drain(QProcess::StandardOutput); });
    QObject::connect(&raw->p, &QProcess::readyReadStandardError, [drain] { drain(QProcess::StandardError); });
    if (tag == "printer" && !c_.printerCommand.isEmpty())
        raw->p.start(c_.printerCommand.first(), c_.printerCommand.mid(1) + args);
    else
        raw->p.start(c_.toolsDir + "/" + program, args);
    procs_.push_back(std::move(proc));
    return raw;
}

bool Scenario::waitFor(const std::function<bool()>& cond, int timeoutMs)
{
    QEventLoop loop;
    QTimer tick;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (cond())
            loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (cond())
        return true;
    tick.start(10);
    limit.start(timeoutMs);
    loop.exec();
    return cond();
}

int Scenario::console(const QStringList& args, QJsonObject& json, int timeoutMs, QString* errText)
{
    const QStringList common = brokerArgs() << "--json";
    say("    $ orlin_console " + args.join(' '));
    Proc* p = spawn("console", "orlin_console", args + common, kConsoleUser);
    const bool done = waitFor([p] { return p->p.state() == QProcess::NotRunning; }, timeoutMs);
    if (!done) {
        p->p.kill();
        p->p.waitForFinished(1000);
        if (errText)
            *errText = "the console did not finish in time";
        return -1;
    }
    p->p.setReadChannel(QProcess::StandardOutput);
    const QByteArray rest = p->p.readAll();
    if (!rest.trimmed().isEmpty())
        p->lines << QString::fromUtf8(rest).trimmed();
    json = QJsonObject();
    for (auto it = p->lines.rbegin(); it != p->lines.rend(); ++it) {
        const QJsonDocument d = QJsonDocument::fromJson(it->toUtf8());
        if (d.isObject()) {
            json = d.object();
            break;
        }
    }
    if (errText)
        *errText = p->lines.isEmpty() ? QString() : p->lines.last();
    return p->p.exitStatus() == QProcess::NormalExit ? p->p.exitCode() : -1;
}

bool Scenario::step(const NamedStep& st)
{
    Step s;
    s.name = st.name;
    say(QString("[%1s] %2").arg((QDateTime::currentMSecsSinceEpoch() - t0_) / 1000.0, 6, 'f', 2).arg(st.name));
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    s.ok = (this->*st.body)(s);
    s.ms = QDateTime::currentMSecsSinceEpoch() - start;
    say(QString("    %1 %2 (%3 ms)").arg(s.ok ? "ok  " : "FAIL", s.detail).arg(s.ms));
    if (!s.ok)
        failure_ = st.name + ": " + s.detail;
    steps_.push_back(s);
    return s.ok;
}

QStringList Scenario::brokerArgs(bool printer) const
{
    const auto nodes = broker_->endpoints();
    const tools::BrokerEndpoint& at = printer ? nodes.front() : nodes.back();
    return {"--host", at.host, "--port", QString::number(at.port)};
}

bool Scenario::command(Step& s, const QStringList& args, QJsonObject& json)
{
    QString errText;
    if (console(args, json, 10000, &errText) != 0) {
        s.detail = errText;
        return false;
    }
    s.reply = json;
    return true;
}

bool Scenario::waitForEvent(Proc* p, const std::function<bool(const QJsonObject&)>& match, int timeoutMs,
                            QJsonObject* found)
{
    size_t seen = 0;
    bool hit = false;
    waitFor([&] {
        for (; seen < p->events.size() && !hit; ++seen) {
            hit = match(p->events[seen]);
            if (hit && found)
                *found = p->events[seen];
        }
        return hit || p->p.state() == QProcess::NotRunning;
    }, timeoutMs);
    return hit;
}

bool Scenario::waitForEvent(Proc* p, const QString& name, int timeoutMs)
{
    return waitForEvent(p, [&](const QJsonObject& e) { return e.value("event").toString() == name; }, timeoutMs);
}

QJsonObject Scenario::findTask(const QJsonObject& list, const char* which) const
{
    for (const auto& v : list.value(which).toObject().value("task_info").toArray())
        if (v.toObject().value("task_id").toInt() == sum_.taskId)
            return v.toObject();
    return QJsonObject();
}

std::vector<Scenario::NamedStep> Scenario::plan() const
{
    std::vector<NamedStep> steps{
        {"start the broker", &Scenario::startBroker},
        {"start the service console", &Scenario::startService},
        {"start the simulated printer", &Scenario::startPrinter},
        {"discover clients (getClient to the service)", &Scenario::discoverClients},
        {"device information", &Scenario::deviceInformation},
        {"print parameters", &Scenario::printParameters},
        {"pre-print check", &Scenario::prePrintCheck},
        {QString("send a %1 MiB print file").arg(c_.fileMiB), &Scenario::sendPrintFile},
        {"add the print task", &Scenario::addPrintTask},
        {"list the tasks", &Scenario::listTasks},
        {QString("print it (%1 copies), with progress and reports").arg(c_.copies), &Scenario::printWithProgress},
        {"the task is in the history", &Scenario::taskInHistory},
        {"statistics of today", &Scenario::statisticsOfToday},
    };
    if (c_.failover)
        steps.insert(steps.end(), {{"the printer's broker node dies", &Scenario::dropPrinterBroker},
                                   {"the printer is reachable through the other node", &Scenario::printerReachableAgain},
                                   {"send a file after the move", &Scenario::fileAfterTheMove}});
    return steps;
}

void Scenario::stopAll()
{
    for (auto it = procs_.rbegin(); it != procs_.rend(); ++it) {
        QProcess& p = (*it)->p;
        if (p.state() == QProcess::NotRunning)
            continue;
        p.terminate();
        if (!p.waitForFinished(3000)) {
            p.kill();
            p.waitForFinished(1000);
        }
    }
    if (broker_)
        broker_->stop();
}

bool Scenario::run()
{
    t0_ = QDateTime::currentMSecsSinceEpoch();
    QDir().mkpath(c_.workDir);
    for (const NamedStep& st : plan())
        if (!step(st))
            break;
    if (service_)
        sum_.serviceEvents = service_->events;
    if (printer_)
        sum_.printerEvents = printer_->events;
    stopAll();
    sum_.totalSeconds = (QDateTime::currentMSecsSinceEpoch() - t0_) / 1000.0;
    return failure_.isEmpty();
}

} // namespace demo
