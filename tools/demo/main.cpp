// orlin_demo: runs the whole system on this machine and drives one print job
// through it. Exit status 0 when every step passed.
#include "Scenario.h"
#include "ToolOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>

#ifndef ORLIN_WYLN_CONF_DIR
#define ORLIN_WYLN_CONF_DIR ""
#endif

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    tools::describeTool(
        p, "orlin_demo",
        "Starts a mosquitto broker on a free loopback port with the shipped configuration (or uses the broker "
        "ORLIN_BROKER_HOST and ORLIN_BROKER_PORT name), the service console and the simulated printer, then "
        "drives a full print job from a client console, prints the transcript and stops everything it started.");
    p.addOptions({
        {"conf-dir", "Directory of the shipped mosquitto.conf and wyln.acl.", "dir", ORLIN_WYLN_CONF_DIR},
        {"work-dir", "Keep the print file, the printer's files and logs here (default: a temporary directory).", "dir"},
        {"size-mib", "Size of the generated print file, 1 to 2047 (a print file has at most 2147483647 bytes).",
         "MiB", "40"},
        {"copies", "Copies to print.", "n", "2"},
        {"broker", "mosquitto, ejabberd, cluster (two ejabberd nodes) or bridge (two bridged mosquittos); with two "
                   "nodes the printer uses the first, the service and consoles the second.", "kind", "mosquitto"},
        {"failover", "After the job, kill the printer's node and check that the printer answers through the other "
                     "node and takes a file (cluster or bridge)."},
        {"printer", "Run this command as the simulated printer (program and first arguments, split at spaces) "
                    "instead of the orlin_printer beside the demo.", "command"},
    });
    p.process(app);
    const std::optional<tools::BrokerKind> kind = tools::brokerKindNamed(p.value("broker"));
    if (!kind) {
        tools::usageError("--broker must be mosquitto, ejabberd, cluster or bridge");
        return 1;
    }
    int sizeMiB = 0, copies = 0;
    if (!tools::intOption(p, "size-mib", 1, sizeMiB) || !tools::intOption(p, "copies", 1, copies))
        return 1;

    QTemporaryDir tmp(QDir::tempPath() + "/orlin-demo-XXXXXX");
    demo::ScenarioConfig c;
    c.toolsDir = QCoreApplication::applicationDirPath();
    c.confDir = p.value("conf-dir");
    c.workDir = p.isSet("work-dir") ? QDir(p.value("work-dir")).absolutePath() : tmp.path();
    if (sizeMiB > 2047) {
        tools::usageError("--size-mib must be 1 to 2047: a print file has at most 2147483647 bytes");
        return 1;
    }
    c.fileMiB = sizeMiB;
    c.copies = copies;
    c.brokerKind = *kind;
    c.failover = p.isSet("failover");
    c.printerCommand = p.value("printer").split(' ', Qt::SkipEmptyParts);
    c.transcript = [](const QString& line) {
        std::printf("%s\n", line.toUtf8().constData());
        std::fflush(stdout);
    };
    std::printf("Orlin demo: broker, service, simulated printer and a client console on 127.0.0.1\n"
                "work directory %s\n\n",
                c.workDir.toUtf8().constData());
    demo::Scenario s(c);
    const bool ok = s.run();
    const auto& sum = s.summary();
    int passed = 0;
    for (const auto& st : s.steps())
        passed += st.ok ? 1 : 0;
    std::printf("\nSUMMARY %s: %d/%d steps passed; %d MiB file sent in %.2f s (%.1f MiB/s), md5 %s; "
                "%d copies printed in %.2f s; total %.2f s\n",
                ok ? "OK" : "FAILED", passed, static_cast<int>(s.steps().size()), c.fileMiB, sum.transferSeconds,
                sum.transferMiBps,
                sum.printerMd5 == sum.sentMd5 && !sum.sentMd5.isEmpty() ? "verified" : "NOT verified", c.copies,
                sum.printSeconds, sum.totalSeconds);
    if (!ok)
        std::printf("failed at: %s\n", s.failure().toUtf8().constData());
    return ok ? 0 : 1;
}
