// The full job the demo runs and the end-to-end test checks: a private
// broker with the shipped configuration (or the one ORLIN_BROKER_HOST and
// ORLIN_BROKER_PORT name), the service console, the simulated printer, then
// from a client console: discover clients, device information, print
// parameters, the pre-print check, a 40 MiB print file, add and list the
// task, print it with progress, statistics. The programs run with --json;
// the steps read their event lines as JSON objects.
#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include "BrokerLauncher.h"

namespace demo {

struct ScenarioConfig
{
    QString toolsDir;          // holds orlin_console, orlin_printer, libwyln.so
    QString confDir;           // the shipped wyln/conf
    QString workDir;           // print file, printer files and logs
    int fileMiB = 40;
    int copies = 2;
    int stepMs = 120;          // the printer's print step
    // The broker: a cluster or a bridge pair puts the printer on the first
    // node and the service and consoles on the last one.
    tools::BrokerKind brokerKind = tools::BrokerKind::Mosquitto;
    // After the job: the printer's node dies; the printer must be reachable
    // through the other node within 10 s, and a file sent then must arrive.
    bool failover = false;
    std::function<void(const QString&)> transcript;
    // Runs the printer instead of toolsDir's orlin_printer, e.g. another
    // system's build under an emulator: the program, then its first arguments.
    QStringList printerCommand;
};

struct Step
{
    QString name;
    bool ok = false;
    qint64 ms = 0;
    QString detail;
    QJsonObject reply;         // the console's JSON output (last command)
};

struct Summary
{
    QString printerId = "printer-01";
    QString sentFile;          // generated on this side
    QString sentMd5;
    QString receivedPath;      // where the printer says it stored the file
    QString printerMd5;        // what the printer computed
    qint64 printerSize = -1;
    int taskId = 0;
    double transferSeconds = 0;  // as the console measured the transfer
    double transferMiBps = 0;
    double printSeconds = 0;
    double totalSeconds = 0;
    // The JSON event lines of the service, the watching console and the
    // printer, in the order they came.
    std::vector<QJsonObject> serviceEvents;
    std::vector<QJsonObject> watchEvents;
    std::vector<QJsonObject> printerEvents;
};

// Whether a service event is the task-status update `id`/`status` from `from`.
bool isTaskStatus(const QJsonObject& serviceEvent, const QString& from, int id, int status);

class Scenario
{
public:
    explicit Scenario(ScenarioConfig c);
    ~Scenario();

    // Runs every step; false as soon as one fails (the rest are skipped).
    bool run();
    const std::vector<Step>& steps() const { return steps_; }
    const Summary& summary() const { return sum_; }
    QString failure() const { return failure_; }

private:
    struct Proc;
    // One named step of the job; the table in plan() is the order they run in.
    struct NamedStep
    {
        QString name;
        bool (Scenario::*body)(Step&);
    };
    std::vector<NamedStep> plan() const;

    // The steps (ScenarioSteps.cpp): each fills in its Step's detail and
    // reply and says whether it passed.
    bool startBroker(Step& s);
    bool startService(Step& s);
    bool startPrinter(Step& s);
    bool discoverClients(Step& s);
    bool deviceInformation(Step& s);
    bool printParameters(Step& s);
    bool prePrintCheck(Step& s);
    bool sendPrintFile(Step& s);
    bool addPrintTask(Step& s);
    bool listTasks(Step& s);
    bool printWithProgress(Step& s);
    bool taskInHistory(Step& s);
    bool statisticsOfToday(Step& s);
    bool dropPrinterBroker(Step& s);
    bool printerReachableAgain(Step& s);
    bool fileAfterTheMove(Step& s);

    void stopAll();
    // Starts a program logged in as `user` (its password in the environment),
    // with further environment variables `env`.
    Proc* spawn(const QString& tag, const QString& program, const QStringList& args, const QString& user,
                const QList<QPair<QString, QString>>& env = {});
    // Runs `orlin_console <args> --json` and parses its last output line.
    int console(const QStringList& args, QJsonObject& json, int timeoutMs = 20000, QString* errText = nullptr);
    // console() for one command: the reply goes to s.reply, a failure to s.detail.
    bool command(Step& s, const QStringList& args, QJsonObject& json);
    // --host and --port of the broker, for the programs the scenario starts
    // (the printer's node for the printer).
    QStringList brokerArgs(bool printer = false) const;
    // WYLN_BROKERS for the printer: the nodes after its own.
    QList<QPair<QString, QString>> printerBrokers() const;
    bool waitFor(const std::function<bool()>& cond, int timeoutMs);
    // Waits until p has printed an event that `match` accepts (true) or has
    // ended; the event goes to *found.
    bool waitForEvent(Proc* p, const std::function<bool(const QJsonObject&)>& match, int timeoutMs,
                      QJsonObject* found = nullptr);
    bool waitForEvent(Proc* p, const QString& name, int timeoutMs);
    QJsonObject findTask(const QJsonObject& list, const char* which) const;
    void say(const QString& line);
    bool step(const NamedStep& st);

    ScenarioConfig c_;
    std::vector<Step> steps_;
    Summary sum_;
    QString failure_;
    std::unique_ptr<tools::BrokerLauncher> broker_;
    std::vector<std::unique_ptr<Proc>> procs_;
    Proc* service_ = nullptr;
    Proc* printer_ = nullptr;
    int schemeId_ = 0;
    qint64 t0_ = 0;
    qint64 droppedAt_ = 0;
};

} // namespace demo
