// orlin_printer: a simulated printer on the shipped library.
#include "SimPrinter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <csignal>

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
    });
    p.process(app);

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

    sim::SimPrinter printer(o);
    if (printer.start() != 0)
        return 1;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (g_stop)
            app.quit();
    });
    poll.start(50);
    const int rc = app.exec();
    printer.shutdown();
    printer.say("offline");
    return rc;
}
