// orlin_console watch: a device's status as the service relays it, with a
// progress bar while it prints.
#include "Console.h"
#include "ConsoleIo.h"
#include "ToolOptions.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace console {

int runWatch(const QStringList& args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        "Shows a device's status, with a progress bar while it prints, from the heartbeats, reports and "
        "task-status updates the running service relays. Needs the service console. Exit status: 0, 1 when "
        "the service does not answer, 2 when --until-idle was given and the time-out came first.");
    addCommon(p);
    p.addPositionalArgument("device", "The device to watch.");
    p.addOptions({
        {"until-idle", "Exit when the device has printed and is idle again."},
        {"timeout", "Give up after this many seconds (0: never).", "s", "0"},
    });
    if (!parse(p, "watch", args, 1))
        return 1;
    int timeoutS = 0;
    if (!tools::intOption(p, "timeout", 0, timeoutS))
        return 1;
    const QString device = p.positionalArguments().at(0);
    const bool json = p.isSet("json");
    const bool untilIdle = p.isSet("until-idle");
    const bool tty = isTerminal(stdout) && !json;
    std::atomic<bool> printed{false};
    std::atomic<bool> finished{false};
    std::mutex m;
    QString lastLine;
    tools::WylnPeer peer;
    peer.setHandler([&](const tools::Inbound& in) {
        if (in.func != "console_relay")
            return;
        const QJsonObject d = in.body.value("data").toObject();
        const tools::Inbound inner = tools::parseInbound(
            QJsonDocument(d.value("message").toObject()).toJson(QJsonDocument::Compact), d.value("from").toString());
        std::lock_guard<std::mutex> lock(m);
        if (inner.func == "updateTaskStatus") {
            const QJsonObject td = inner.body.value("data").toObject();
            if (json)
                out(compact(QJsonObject{{"event", "task_status"}, {"device", inner.sender}, {"id", td.value("id")}, {"status", td.value("status")}}));
            else
                out(QString("%1%2 task %3 status %4").arg(tty ? "\n" : "", now()).arg(td.value("id").toInt()).arg(td.value("status").toInt()));
            return;
        }
        const DeviceStatus s = statusOf(inner.msgType, inner.body);
        if (!s.valid)
            return;
        if (s.deviceStatus == 2)
            printed = true;
        else if (printed && untilIdle)
            finished = true;
        if (json) {
            out(compact(QJsonObject{{"event", "status"},
                                    {"device", inner.sender},
                                    {"source", inner.msgType == 3 ? "heartbeat" : "report"},
                                    {"device_status", s.deviceStatus},
                                    {"task_id", s.taskId},
                                    {"progress", s.progress},
                                    {"done_copies", s.doneCopies},
                                    {"total_copies", s.totalCopies}}));
            return;
        }
        const QString line = s.deviceStatus == 2
                                 ? QString("%1 printing task %2 %3 copy %4/%5 span %6s remain %7s")
                                       .arg(device)
                                       .arg(s.taskId)
                                       .arg(progressBar(s.progress))
                                       .arg(s.doneCopies)
                                       .arg(s.totalCopies)
                                       .arg(s.spanTime)
                                       .arg(s.remainTime)
                                 : QString("%1 %2").arg(device, s.deviceStatus == 1 ? "idle" : QString("status %1").arg(s.deviceStatus));
        if (line == lastLine)
            return;
        lastLine = line;
        if (tty) {
            std::lock_guard<std::mutex> o(outputLock());
            std::fprintf(stdout, "\r\033[K%s", line.toUtf8().constData());
            std::fflush(stdout);
        } else {
            out(now() + " " + line);
        }
    });
    if (!startPeer(peer, p))
        return 1;
    tools::Inbound ack;
    if (!peer.request(tools::serviceId(), "console_watch", QJsonObject{{"device", device}}, 3000, ack)) {
        err("the service does not answer; start `orlin_console service` first");
        return 1;
    }
    if (json)
        out(compact(QJsonObject{{"event", "watching"}, {"device", device}}));
    else
        out(QString("%1 watching %2").arg(now(), device));
    catchSignals();
    QElapsedTimer t;
    t.start();
    int rc = 0;
    while (!stopRequested() && !finished) {
        if (timeoutS > 0 && t.elapsed() > timeoutS * 1000LL) {
            rc = untilIdle ? 2 : 0;
            break;
        }
        QThread::msleep(20);
    }
    tools::Inbound bye;
    peer.request(tools::serviceId(), "console_unwatch", QJsonObject{{"device", device}}, 1000, bye);
    if (tty)
        std::fprintf(stdout, "\n");
    peer.stop();
    return rc;
}

} // namespace console
