// orlin_printer: a simulated printer on the shipped library.
#include "SimPrinter.h"
#include "ToolOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <memory>
#include <vector>

namespace {
std::atomic<bool> g_stop{false};
void onSignal(int) { g_stop = true; }
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    tools::describeTool(
        p, "orlin_printer",
        "A simulated printer: loads the Orlin library as a printer's PC software does and answers the protocol "
        "from its own task list, files and print jobs.\n"
        "Without --id or --apply-info it uses the 5-argument Init (identifier assigned by the transport); with "
        "either it uses the 7-argument Init, which also asks the service for its clients.\n"
        "Broker credentials: --user and --password-file, or WYLN_USERNAME and WYLN_PASSWORD.");
    tools::addBrokerOptions(p);
    p.addOptions({
        {"id", "Identifier to log in under (7-argument Init; empty: apply for one).", "id"},
        {"apply-info", "Apply information for the 7-argument Init.", "text"},
        {"client-mode", "Init's client mode (0 or 1).", "mode", "0"},
        {"files-dir", "Where received files are stored.", "dir", "printer-files"},
        {"log", "The library's log, one line per message with a time prefix.", "file", "printer.log"},
        {"step-ms", "Duration of one print step (a fifth of a copy).", "ms", "150"},
        {"json", "Event lines as JSON objects, one per line, for programs."},
        {"count", "Run this many printers in this one process. With --id X they log in as X-001, X-002, ...; each "
                  "keeps its files in its own folder under --files-dir and its log in --log with its number added.",
         "n", "1"},
    });
    p.process(app);
    if (!tools::noArguments(p))
        return 1;

    sim::PrinterOptions o;
    int count = 1;
    if (!tools::brokerOptions(p, o.port) || !tools::intOption(p, "client-mode", 0, o.clientMode)
        || !tools::intOption(p, "step-ms", 1, o.stepMs) || !tools::intOption(p, "count", 1, count))
        return 1;
    if (count > 10000) {
        tools::usageError("--count wants a number from 1 to 10000");
        return 1;
    }
    o.host = p.value("host");
    o.useId = p.isSet("id") || p.isSet("apply-info");
    o.id = p.value("id");
    o.applyInfo = p.value("apply-info");
    o.filesDir = p.value("files-dir");
    o.logPath = p.value("log");
    o.json = p.isSet("json");

    std::vector<std::unique_ptr<sim::SimPrinter>> printers;
    const int width = qMax(3, static_cast<int>(QString::number(count).size()));
    for (int i = 1; i <= count; ++i) {
        sim::PrinterOptions oi = o;
        if (count > 1) {
            const QString n = QString("%1").arg(i, width, 10, QLatin1Char('0'));
            if (o.useId)
                oi.id = (o.id.isEmpty() ? QString("printer") : o.id) + "-" + n;
            oi.filesDir = QDir(o.filesDir).filePath(o.useId ? oi.id : n);
            const QFileInfo log(o.logPath);
            oi.logPath = log.dir().filePath(log.completeBaseName() + "-" + n + (log.suffix().isEmpty() ? "" : "." + log.suffix()));
        }
        printers.push_back(std::make_unique<sim::SimPrinter>(oi));
        if (printers.back()->start() != 0)
            return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (g_stop)
            app.quit();
    });
    poll.start(50);
    const int rc = app.exec();
    for (auto& printer : printers) {
        printer->shutdown();
        printer->say("offline", {}, "offline");
    }
    return rc;
}
