// orlin_printer: a simulated printer on the shipped library.
#include "SimPrinter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
std::atomic<bool> g_stop{false};
void onSignal(int) { g_stop = true; }
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("orlin_printer");
    QCommandLineParser p;
    p.setApplicationDescription(
        "A simulated printer: loads the Orlin library as a printer's PC software does and answers the protocol "
        "from its own task list, files and print jobs.\n"
        "Without --id or --apply-info it uses the 5-argument Init (identifier assigned by the transport); with "
        "either it uses the 7-argument Init, which also asks the service for its clients.");
    p.addHelpOption();
    p.addOptions({
        {"host", "Broker host.", "host", "127.0.0.1"},
        {"port", "Broker port.", "port", "1883"},
        {"id", "Identifier to log in under (7-argument Init; empty: apply for one).", "id"},
        {"apply-info", "Apply information for the 7-argument Init.", "text"},
        {"client-mode", "Init's client mode (0 or 1).", "mode", "0"},
        {"files-dir", "Where received files are stored.", "dir", "printer-files"},
        {"log", "The library's log, one line per message with a time prefix.", "file", "printer.log"},
        {"step-ms", "Duration of one print step (a fifth of a copy).", "ms", "150"},
        {"count", "Run this many printers in this one process. With --id X they log in as X-001, X-002, ...; each "
                  "keeps its files in its own folder under --files-dir and its log in --log with its number added.",
         "n", "1"},
    });
    p.process(app);
    bool countOk = false;
    const int count = p.value("count").toInt(&countOk);
    if (!countOk || count < 1 || count > 10000) {
        std::fprintf(stderr, "orlin_printer: --count wants a number from 1 to 10000\n");
        return 2;
    }

    sim::PrinterOptions o;
    o.host = p.value("host");
    o.port = p.value("port").toInt();
    o.useId = p.isSet("id") || p.isSet("apply-info");
    o.id = p.value("id");
    o.applyInfo = p.value("apply-info");
    o.clientMode = p.value("client-mode").toInt();
    o.filesDir = p.value("files-dir");
    o.logPath = p.value("log");
    o.stepMs = qMax(1, p.value("step-ms").toInt());

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
        printer->say("offline");
    }
    return rc;
}
