// orlin_console send-file: a file as "file_transfer" chunks, with progress
// and throughput.
#include "Console.h"
#include "ConsoleIo.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <cstdio>
#include <unistd.h>

namespace console {

std::vector<QJsonObject> fileChunks(const QByteArray& content, const QString& fileName, int chunkChars)
{
    std::vector<QJsonObject> chunks;
    const QByteArray b64 = content.toBase64();
    const int total = qMax(1, static_cast<int>((b64.size() + chunkChars - 1) / chunkChars));
    for (int i = 0; i < total; ++i) {
        const QByteArray part = b64.mid(static_cast<qsizetype>(i) * chunkChars, chunkChars);
        const QByteArray md5 = QCryptographicHash::hash(part, QCryptographicHash::Md5).toBase64();
        chunks.push_back(QJsonObject{{"file_name", fileName},
                                     {"file_size", content.size()},
                                     {"chunk_size", part.size()},
                                     {"md5", QString::fromLatin1(md5)},
                                     {"total_chunks", total},
                                     {"chunk_index", i},
                                     {"data", QString::fromLatin1(part)}});
    }
    return chunks;
}

int runSendFile(const QStringList& args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        "Sends a file as \"file_transfer\" chunks exactly as the library does (8388608 Base64 characters per "
        "chunk, each with the Base64 MD5 of its characters) and adds \"chunk_index\" to every chunk, because a "
        "receiver rebuilds the file by chunk index. Waits for every chunk's reply; exit status 0 when all "
        "replies carry code 0, 2 when one is missing, 1 otherwise.");
    addCommon(p);
    p.addPositionalArgument("device", "Target identifier.");
    p.addPositionalArgument("path", "The file to send.");
    p.addOptions({
        {"name", "File name to send (default: the file's own name).", "name"},
        {"timeout", "Milliseconds to wait for each reply.", "ms", "15000"},
    });
    if (!parse(p, "send-file", args, 2))
        return 1;
    const QStringList pos = p.positionalArguments();
    const bool json = p.isSet("json");
    QFile f(pos[1]);
    if (!f.open(QIODevice::ReadOnly)) {
        err("cannot read " + pos[1]);
        return 1;
    }
    const QByteArray content = f.readAll();
    if (content.isEmpty()) {
        err("the file is empty");
        return 1;
    }
    const QString name = p.isSet("name") ? p.value("name") : QFileInfo(pos[1]).fileName();
    tools::WylnPeer peer;
    if (!startPeer(peer, p))
        return 1;
    const int timeout = p.value("timeout").toInt();
    QElapsedTimer t;
    t.start();
    const std::vector<QJsonObject> chunks = fileChunks(content, name);
    const int total = static_cast<int>(chunks.size());
    std::vector<QString> ids(chunks.size());
    QJsonArray replies;
    QString filePath;
    int failures = 0;
    qint64 acked = 0;
    const bool tty = isatty(STDERR_FILENO);
    // The progress goes to stderr, also with --json.
    auto showProgress = [&](int done) {
        const double s = qMax<qint64>(1, t.elapsed()) / 1000.0;
        const QString text = QString("%1 %2/%3 chunks  %4 MiB  %5 MiB/s")
                                 .arg(progressBar(static_cast<int>(acked * 100 / content.size())))
                                 .arg(done)
                                 .arg(total)
                                 .arg(acked / 1048576.0, 0, 'f', 1)
                                 .arg(acked / 1048576.0 / s, 0, 'f', 1);
        std::lock_guard<std::mutex> lock(outputLock());
        std::fprintf(stderr, tty ? "\r%s" : "%s\n", text.toUtf8().constData());
        std::fflush(stderr);
    };
    auto collect = [&](int i) -> bool {
        tools::Inbound reply;
        if (!peer.waitReply(ids[i], timeout, reply))
            return false;
        const QJsonObject d = reply.body.value("data").toObject();
        replies.append(QJsonObject{{"chunk_index", i}, {"code", d.value("code").toInt(-1)}, {"file_path", d.value("file_path")}});
        if (d.value("code").toInt(-1) != 0)
            ++failures;
        filePath = d.value("file_path").toString();
        acked += chunks[i].value("chunk_size").toInt() / 4 * 3;
        acked = qMin<qint64>(acked, content.size());
        showProgress(i + 1);
        return true;
    };
    showProgress(0);
    bool missing = false;
    // Two chunks in flight: the next one travels while the device stores the
    // previous one.
    for (int i = 0; i < total && !missing; ++i) {
        const int rc = peer.post(pos[0], "file_transfer", chunks[i], ids[i], timeout);
        if (rc != 0) {
            err(QString("\nchunk %1 not sent: transport code %2").arg(i).arg(rc));
            return 1;
        }
        if (i > 0 && !collect(i - 1))
            missing = true;
    }
    if (!missing && !collect(total - 1))
        missing = true;
    const double secs = t.elapsed() / 1000.0;
    if (tty)
        std::fprintf(stderr, "\n");
    const bool ok = !missing && failures == 0;
    if (json) {
        out(compact(QJsonObject{{"ok", ok},
                                {"file_name", name},
                                {"file_size", content.size()},
                                {"md5", QString(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex())},
                                {"total_chunks", total},
                                {"file_path", filePath},
                                {"seconds", secs},
                                {"mib_per_s", content.size() / 1048576.0 / qMax(0.001, secs)},
                                {"replies", replies}}));
    } else {
        out(QString("%1: %2 bytes in %3 chunks, %4 s, %5 MiB/s -> %6")
                .arg(ok ? "sent" : "FAILED", QString::number(content.size()))
                .arg(total)
                .arg(secs, 0, 'f', 2)
                .arg(content.size() / 1048576.0 / qMax(0.001, secs), 0, 'f', 1)
                .arg(filePath));
    }
    if (missing)
        err("a chunk's reply did not come");
    return missing ? 2 : (ok ? 0 : 1);
}

} // namespace console
