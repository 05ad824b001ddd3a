// orlin_console send-file: a file streamed as "file_transfer" chunks, with
// progress by acknowledged chunk, resumable, ending with size, MD5 and
// throughput.
#include "Console.h"
#include "ConsoleIo.h"
#include "FileSender.h"
#include "ToolOptions.h"
#include "ToolProcess.h"

#include <QFileInfo>
#include <QJsonObject>

#include <cstdio>

namespace console {

int runSendFile(const QStringList& args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        "Streams a file to a printer as \"file_transfer\" chunks: 8388608 Base64 characters each, with the Base64 "
        "MD5 of its characters and its \"chunk_index\", read from the file one chunk at a time, at most --window "
        "chunks awaiting their replies. Files of 1 to 2147483647 bytes (the printer reads \"file_size\" as a 32-bit "
        "integer). A transfer cut off by a killed console, a broker restart or lost replies goes on when the same "
        "file is sent again: the printer is asked what it holds and only the rest travels.\n"
        "Throughput: file bytes this run carried, from the first question to the printer until it confirmed the "
        "whole file, size and MD5 checked.\n"
        "Exit status: 0 the printer confirmed the file, 2 it did not answer, 1 any other failure.");
    addCommon(p);
    p.addPositionalArgument("device", "Target identifier.");
    p.addPositionalArgument("path", "The file to send.");
    p.addOptions({
        {"name", "File name to send (default: the file's own name).", "name"},
        {"window", "Chunks in flight.", "n", "3"},
        {"timeout", "Milliseconds without any reply after which the chunks in flight are asked for again.", "ms",
         "15000"},
        {"give-up", "Seconds the printer may stay unreachable before the transfer fails.", "s", "120"},
    });
    int window = 0, timeout = 0, giveUp = 0;
    if (!parse(p, "send-file", args, 2) || !tools::intOption(p, "window", 1, window)
        || !tools::intOption(p, "timeout", 100, timeout) || !tools::intOption(p, "give-up", 1, giveUp))
        return 1;
    const QStringList pos = p.positionalArguments();
    const bool json = p.isSet("json");
    const QFileInfo info(pos[1]);
    if (!info.isFile() || !info.isReadable()) {
        err("cannot read " + pos[1]);
        return 1;
    }
    const QString problem = tools::sizeProblem(info.size());
    if (!problem.isEmpty()) {
        err(pos[1] + ": " + problem + "; nothing sent");
        return 1;
    }
    tools::WylnPeer peer;
    if (!startPeer(peer, p))
        return 1;
    const qint64 idleKiB = tools::residentMemory().nowKiB;

    tools::SendOptions o;
    o.target = pos[0];
    o.path = pos[1];
    o.name = p.value("name");
    o.window = window;
    o.replyTimeoutMs = timeout;
    o.giveUpMs = giveUp * 1000;
    const bool tty = isTerminal(stderr);
    // The progress goes to stderr, also with --json; without a terminal one
    // line per tenth of the file.
    int shown = -1;
    auto progress = [&](int acked, int total, qint64 bytes, double seconds) {
        const int percent = static_cast<int>(bytes * 100 / info.size());
        if (!tty && acked != total && percent / 10 == shown / 10)
            return;
        shown = percent;
        const QString text = QString("%1 %2/%3 chunks  %4 MiB  %5 MiB/s")
                                 .arg(progressBar(percent))
                                 .arg(acked)
                                 .arg(total)
                                 .arg(bytes / 1048576.0, 0, 'f', 1)
                                 .arg(bytes / 1048576.0 / qMax(0.001, seconds), 0, 'f', 1);
        std::lock_guard<std::mutex> lock(outputLock());
        std::fprintf(stderr, tty ? "\r%s" : "%s\n", text.toUtf8().constData());
        std::fflush(stderr);
    };
    const tools::SendReport r = tools::sendFile(peer, o, progress);
    if (tty) {
        std::lock_guard<std::mutex> lock(outputLock());
        std::fprintf(stderr, "\n");
    }
    const qint64 peakKiB = tools::residentMemory().peakKiB;
    peer.stop();
    const QString name = o.name.isEmpty() ? info.fileName() : o.name;
    if (json) {
        out(compact(QJsonObject{{"ok", r.exitCode == 0},
                                {"error", r.error},
                                {"file_name", name},
                                {"file_size", r.size},
                                {"md5", r.md5},
                                {"total_chunks", r.total},
                                {"chunks_sent", r.sent},
                                {"chunks_resent", r.resent},
                                {"chunks_held", r.held},
                                {"bytes_resent", r.bytesResent},
                                {"file_path", r.filePath},
                                {"seconds", r.seconds},
                                {"mib_per_s", r.mibPerSecond()},
                                {"rss_idle_kib", idleKiB},
                                {"rss_peak_kib", peakKiB}}));
    } else if (r.exitCode == 0) {
        out(QString("sent %1: %2 bytes, md5 %3, %4 chunks (%5 sent, %6 again, %7 already held), %8 s, %9 MiB/s -> %10")
                .arg(name)
                .arg(r.size)
                .arg(r.md5)
                .arg(r.total)
                .arg(r.sent)
                .arg(r.resent)
                .arg(r.held)
                .arg(r.seconds, 0, 'f', 2)
                .arg(r.mibPerSecond(), 0, 'f', 1)
                .arg(r.filePath));
    }
    if (r.exitCode != 0)
        err("send-file failed: " + r.error);
    return r.exitCode;
}

} // namespace console
