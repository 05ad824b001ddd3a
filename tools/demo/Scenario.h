// The full job the demo runs and the end-to-end test checks: a private
// broker with the shipped configuration, the service console, the simulated
// printer, then from a client console: discover clients, device
// information, print parameters, the pre-print check, a 40 MiB print file,
// add and list the task, print it with progress, statistics.
#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace demo {

struct ScenarioConfig
{
    QString toolsDir;          // holds orlin_console, orlin_printer, libwyln.so
    QString confDir;           // the shipped wyln/conf
    QString workDir;           // print file, printer files and logs
    int fileMiB = 40;
    int copies = 2;
    int stepMs = 120;          // the printer's print step
    std::function<void(const QString&)> transcript;
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
    double transferSeconds = 0;
    double printSeconds = 0;
    double totalSeconds = 0;
    QStringList serviceLines;  // what the service printed
    QStringList watchLines;
    QStringList printerLines;
};

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
    bool startBackground();
    void stopAll();
    Proc* spawn(const QString& tag, const QString& program, const QStringList& args, const QString& user);
    // Runs `orlin_console <args> --json` and parses its last output line.
    int console(const QStringList& args, QJsonObject& json, int timeoutMs = 20000, QString* errText = nullptr);
    bool waitFor(const std::function<bool()>& cond, int timeoutMs);
    void say(const QString& line);
    bool step(const QString& name, const std::function<bool(Step&)>& body);

    ScenarioConfig c_;
    std::vector<Step> steps_;
    Summary sum_;
    QString failure_;
    struct BrokerHolder;
    std::unique_ptr<BrokerHolder> broker_;
    std::vector<std::unique_ptr<Proc>> procs_;
    qint64 t0_ = 0;
};

} // namespace demo
