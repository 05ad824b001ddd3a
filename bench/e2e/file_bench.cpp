// End-to-end file transfer over one broker started with the shipped
// configuration, in one run:
//   (a) the plug-in's bare throughput: 8 MiB messages from one peer to
//       another, each sent when the previous one arrived;
//   (b) a generated file (1024 MiB unless --size-mib) from orlin_console
//       send-file to orlin_printer;
// then (b), (b)/(a) and the peak resident memory of the console and the
// printer next to their idle size. With --kill-broker-at-half the broker is
// killed when half of the file has been acknowledged and started again on
// the same port a second later; the transfer must still complete with the
// MD5 checked, and the chunks sent again are printed.
#include "BrokerLauncher.h"
#include "ToolProcess.h"
#include "WylnPeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include <sys/resource.h>
#include <unistd.h>

#ifndef ORLIN_WYLN_CONF_DIR
#define ORLIN_WYLN_CONF_DIR ""
#endif

namespace {

QString password(const QString& user)
{
    return user + "-bench-pw";
}

// CPU time (user + system) of a running process, in ms.
double cpuMs(qint64 pid)
{
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> v = stat.mid(stat.lastIndexOf(')') + 2).split(' ');  // from field 3 on
    return (v.value(11).toDouble() + v.value(12).toDouble()) * 1000.0 / sysconf(_SC_CLK_TCK);
}

// CPU time of this process's children that ended, in ms.
double endedChildrenMs()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// The child of this process running `name`.
qint64 childPid(const QByteArray& name)
{
    for (const QString& d : QDir("/proc").entryList(QDir::Dirs)) {
        QFile f("/proc/" + d + "/stat");
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        const int open = stat.indexOf('('), close = stat.lastIndexOf(')');
        if (stat.mid(open + 1, close - open - 1) == name && stat.mid(close + 2).split(' ').value(1).toLongLong() == getpid())
            return d.toLongLong();
    }
    return 0;
}

// (a): MiB/s of 8 MiB messages between two plug-in peers.
double barePluginMiBps(const QString& host, int port, int messages)
{
    std::mutex m;
    std::condition_variable cv;
    int arrived = 0;
    tools::WylnPeer a, b;
    b.setHandler([&](const tools::Inbound&) {
        std::lock_guard<std::mutex> lock(m);
        ++arrived;
        cv.notify_one();
    });
    tools::useAccount("bench-a", password("bench-a"));
    if (a.start(host, port, "bench-a") != 0)
        return 0;
    tools::useAccount("bench-b", password("bench-b"));
    if (b.start(host, port, "bench-b") != 0)
        return 0;
    const QByteArray payload(8 * 1048576, 'b');
    QElapsedTimer t;
    for (int i = -2; i < messages; ++i) {  // two to warm up
        if (i == 0)
            t.start();
        if (a.sendTo("bench-b", payload, 10000) != 0)
            return 0;
        std::unique_lock<std::mutex> lock(m);
        if (!cv.wait_for(lock, std::chrono::seconds(10), [&] { return arrived >= i + 3; }))
            return 0;
    }
    return messages * 8.0 / (t.nsecsElapsed() / 1e9);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription("End-to-end file transfer benchmark: bare plug-in throughput, then a file from "
                                "orlin_console send-file to orlin_printer over the same broker.");
    p.addHelpOption();
    p.addOptions({
        {"size-mib", "Size of the file, 1 to 2047.", "MiB", "1024"},
        {"messages", "8 MiB messages of the bare measurement.", "n", "48"},
        {"window", "send-file --window.", "n", "3"},
        {"kill-broker-at-half", "Kill the broker when half the file is acknowledged, start it again 1 s later."},
        {"work-dir", "Folder for the file and the printer's copy (default: a temporary one, removed).", "dir"},
    });
    p.process(app);
    const int mib = p.value("size-mib").toInt();
    if (mib < 1 || mib > 2047) {
        std::fprintf(stderr, "--size-mib must be 1 to 2047\n");
        return 1;
    }
    const bool killAtHalf = p.isSet("kill-broker-at-half");
    const QString tools = QCoreApplication::applicationDirPath();
    QTemporaryDir tmp(QDir::tempPath() + "/orlin-file-bench-XXXXXX");
    const QString work = p.isSet("work-dir") ? QDir(p.value("work-dir")).absolutePath() : tmp.path();
    QDir().mkpath(work + "/files");

    tools::BrokerSetup setup;
    setup.shippedConfDir = ORLIN_WYLN_CONF_DIR;
    setup.needsOwnBroker = true;
    for (const char* u : {"printer-01", "console", "bench-a", "bench-b"})
        setup.users.push_back({u, password(u)});
    auto broker = tools::makeBroker(setup);
    if (!broker->start()) {
        std::fprintf(stderr, "broker: %s\n", qPrintable(broker->errorText()));
        return 1;
    }
    const QString host = broker->host();
    const QString port = QString::number(broker->port());
    std::printf("broker: mosquitto on %s:%s with the shipped configuration\n", qPrintable(host), qPrintable(port));

    const double bare = barePluginMiBps(host, broker->port(), p.value("messages").toInt());
    std::printf("(a) bare plug-in, 8 MiB messages: %.1f MiB/s\n", bare);
    std::fflush(stdout);

    const QString file = work + "/bench.prn";
    QString md5;
    if (!tools::writeRandomFile(file, qint64(mib) << 20, 0x2545F4914F6CDD1Dull, md5)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return 1;
    }

    QProcess printer;
    printer.setProcessEnvironment(tools::accountEnvironment("printer-01", password("printer-01")));
    printer.setProcessChannelMode(QProcess::MergedChannels);
    printer.start(tools + "/orlin_printer", {"--host", host, "--port", port, "--id", "printer-01", "--files-dir",
                                             work + "/files", "--log", work + "/printer.log", "--json"});
    QByteArray printerOut;  // for the failure text
    tools::JsonLines printerEvents;
    auto readPrinter = [&] {
        const QByteArray bytes = printer.readAll();
        printerOut += bytes;
        printerEvents.feed(bytes);
    };
    QElapsedTimer up;
    up.start();
    while (!printerEvents.has("online") && up.elapsed() < 10000 && printer.state() != QProcess::NotRunning) {
        printer.waitForReadyRead(100);
        readPrinter();
    }
    if (!printerEvents.has("online")) {
        std::fprintf(stderr, "the printer did not come up: %s\n", printerOut.constData());
        return 1;
    }
    QThread::msleep(300);
    const qint64 printerIdle = tools::residentMemory(printer.processId()).nowKiB;

    const qint64 brokerPid = childPid("mosquitto");
    const double cpu0[3] = {endedChildrenMs(), cpuMs(printer.processId()), cpuMs(brokerPid)};
    QProcess console;
    console.setProcessEnvironment(tools::accountEnvironment("console", password("console")));
    console.start(tools + "/orlin_console", {"send-file", "printer-01", file, "--host", host, "--port", port, "--json",
                                             "--window", p.value("window"), "--timeout", "5000"});
    bool killed = false;
    QByteArray consoleErr;
    const QRegularExpression percent("\\]\\s+(\\d+)%");
    while (console.state() != QProcess::NotRunning) {
        console.waitForFinished(50);
        consoleErr += console.readAllStandardError();
        printer.waitForReadyRead(0);
        readPrinter();
        if (killAtHalf && !killed) {
            QRegularExpressionMatchIterator it = percent.globalMatch(QString::fromUtf8(consoleErr));
            int last = 0;
            while (it.hasNext())
                last = it.next().captured(1).toInt();
            if (last >= 50) {
                broker->kill();
                std::printf("broker killed at %d%% acknowledged; started again 1 s later\n", last);
                QThread::msleep(1000);
                if (!broker->start()) {
                    std::fprintf(stderr, "broker restart: %s\n", qPrintable(broker->errorText()));
                    return 1;
                }
                killed = true;
            }
        }
    }
    const qint64 printerPeak = tools::residentMemory(printer.processId()).peakKiB;
    const double cpu[3] = {endedChildrenMs() - cpu0[0], cpuMs(printer.processId()) - cpu0[1],
                           killed ? 0 : cpuMs(brokerPid) - cpu0[2]};
    QElapsedTimer drain;
    drain.start();
    while (!printerEvents.has("file_received") && drain.elapsed() < 2000) {
        printer.waitForReadyRead(100);
        readPrinter();
    }
    const QList<QByteArray> lines = console.readAllStandardOutput().trimmed().split('\n');
    const QJsonObject r = QJsonDocument::fromJson(lines.last()).object();
    printer.terminate();
    printer.waitForFinished(5000);
    broker->stop();

    const bool received = printerEvents.has("file_received", {{"md5", md5}, {"size", qint64(mib) << 20}});
    const bool ok = console.exitCode() == 0 && r.value("ok").toBool() && received && r.value("md5").toString() == md5;
    const double mibps = r.value("mib_per_s").toDouble();
    std::printf("(b) file of %d MiB, console -> printer: %.1f MiB/s (%.2f s), md5 %s\n", mib, mibps,
                r.value("seconds").toDouble(), ok ? "verified on both sides" : "NOT verified");
    std::printf("(b)/(a): %.2f\n", bare > 0 ? mibps / bare : 0.0);
    const qint64 ci = r.value("rss_idle_kib").toVariant().toLongLong();
    const qint64 cp = r.value("rss_peak_kib").toVariant().toLongLong();
    std::printf("console RSS: idle %.1f MiB, peak %.1f MiB (+%.1f MiB)\n", ci / 1024.0, cp / 1024.0, (cp - ci) / 1024.0);
    std::printf("printer RSS: idle %.1f MiB, peak %.1f MiB (+%.1f MiB)\n", printerIdle / 1024.0, printerPeak / 1024.0,
                (printerPeak - printerIdle) / 1024.0);
    std::printf("CPU per MiB of the file: console %.2f ms, printer %.2f ms, broker %s ms\n", cpu[0] / mib, cpu[1] / mib,
                killed ? "(restarted: not counted)" : qPrintable(QString::number(cpu[2] / mib, 'f', 2)));
    std::printf("chunks: %d, sent %d, sent again %d (%.1f MiB), window %s\n", r.value("total_chunks").toInt(),
                r.value("chunks_sent").toInt(), r.value("chunks_resent").toInt(),
                r.value("bytes_resent").toDouble() / 1048576.0, qPrintable(p.value("window")));
    if (!ok)
        std::fprintf(stderr, "transfer failed (console exit %d): %s\nfile md5 %s, console %s, printer %s\n%s\n",
                     console.exitCode(), qPrintable(r.value("error").toString()), qPrintable(md5),
                     qPrintable(r.value("md5").toString()), received ? "the same" : "not received", printerOut.right(1500).constData());
    return ok && (!killAtHalf || killed) ? 0 : 1;
}
