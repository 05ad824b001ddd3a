// The printer as a host of the library: its options, the session, the log
// and the event lines.
#include "SimPrinter.h"
#include "LocalTime.h"
#include "PrinterCommon.h"
#include "PrinterEvents.h"

#include <QDateTime>
#include <QDir>

#include <cstdio>
#include <cstdlib>

namespace sim {

SimPrinter::SimPrinter(PrinterOptions o)
    : o_(std::move(o)), files_(o_.filesDir,
             [this](const QString& event, const QJsonObject& fields, const QString& text) { say(event, fields, text); })
{
    timer_.setInterval(o_.stepMs);
    connect(&timer_, &QTimer::timeout, this, &SimPrinter::printStep);
}

SimPrinter::~SimPrinter()
{
    shutdown();
}

void SimPrinter::say(const QString& event, const QJsonObject& fields, const QString& text)
{
    if (!o_.json || !o_.useId || fields.contains("printer")) {
        writeEvent(o_.json, event, fields, text);
        return;
    }
    // Several printers may share the output (--count).
    QJsonObject f = fields;
    f.insert("printer", o_.id);
    writeEvent(true, event, f, text);
}

int SimPrinter::start()
{
    log_.setFileName(o_.logPath);
    if (!log_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        say("error", {{"text", "cannot open the log " + o_.logPath}}, "cannot open the log " + o_.logPath);
        return -100;
    }
    if (!QDir().mkpath(o_.filesDir)) {
        say("error", {{"text", "cannot create the files directory " + o_.filesDir}},
            "cannot create the files directory " + o_.filesDir);
        return -100;
    }
    o_.filesDir = QDir(o_.filesDir).absolutePath();
    files_.setDir(o_.filesDir);
    orlin_ = NewInterface();
    const QByteArray host = o_.host.toUtf8();
    int rc;
    if (o_.useId) {
        char id[260] = {};
        copyText(id, o_.id);
        rc = orlin_->Init(this, host.constData(), o_.port, 0, o_.applyInfo.toUtf8().constData(), id, o_.clientMode);
        id_ = QString::fromUtf8(id);
    } else {
        rc = orlin_->Init(this, host.constData(), o_.port, 0, o_.clientMode);
        id_ = "(assigned by the transport)";
    }
    if (rc != 0) {
        say("init_failed", {{"code", rc}}, QString("Init failed with %1").arg(rc));
        return rc;
    }
    say("online", {{"id", id_}, {"host", o_.host}, {"port", o_.port}, {"files_dir", o_.filesDir}},
        QString("online as %1 on %2:%3, files in %4").arg(id_, o_.host).arg(o_.port).arg(o_.filesDir));
    report(1);
    return 0;
}

void SimPrinter::shutdown()
{
    timer_.stop();
    if (orlin_) {
        ReleaseInterface(orlin_);
        orlin_ = nullptr;
    }
    files_.close();
}

void SimPrinter::OnLog(const char* szText)
{
    std::lock_guard<std::mutex> lock(logMutex_);
    if (!log_.isOpen())
        return;
    const QByteArray line = tools::localNow().toString("yyyy-MM-dd hh:mm:ss.zzz ").toUtf8()
                            + QByteArray(szText ? szText : "") + '\n';
    log_.write(line);
    log_.flush();
}

void SimPrinter::OnFreeMemory(void* p)
{
    std::free(p);
}

bool SimPrinter::OnRecvPacket(const char* szPeerId, const char*)
{
    say("binary_packet", {{"from", QString::fromUtf8(szPeerId)}},
        QString("binary packet from %1").arg(QString::fromUtf8(szPeerId)));
    return true;
}

void SimPrinter::OnFileTransfer(__SCLOUD_FILE_TRANSFER* pChunk, __SCLOUD_FILE_TRANSFER_RESULT* pResult)
{
    QString path;
    const int code = files_.onChunk(*pChunk, path);
    copyText(pResult->szFilePath, path);
    pResult->iCode = code;
    // Queries (chunks without data) are answered with "held" or "not held".
    if (code != 0 && pChunk->pData)
        say("chunk_refused",
            {{"chunk_index", pChunk->iChunkIndex},
             {"total_chunks", pChunk->iTotalChunks},
             {"file_name", QString::fromUtf8(pChunk->szFileName)},
             {"code", code}},
            QString("chunk %1/%2 of %3 refused with code %4")
                .arg(pChunk->iChunkIndex + 1)
                .arg(pChunk->iTotalChunks)
                .arg(QString::fromUtf8(pChunk->szFileName))
                .arg(code));
}

void SimPrinter::OnGetClient(__SCLOUD_GET_CLIENT* pList)
{
    say("client_list", {{"count", pList->iCount}}, QString("client list: %1 other client(s)").arg(pList->iCount));
}

} // namespace sim
