// The steps of the demo's job, in the order plan() lists them.
#include "ChunkText.h"
#include "ScenarioInternal.h"
#include "ToolProcess.h"

#include <QDate>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>

namespace demo {

namespace {

// A deterministic print file of `mib` MiB: a small header, then
// pseudo-random bytes. md5Hex gets its MD5.
bool writePrintFile(const QString& path, int mib, QString& md5Hex)
{
    return tools::writeRandomFile(path, qint64(mib) << 20, 0x9E3779B97F4A7C15ull, md5Hex, "PRN-SIM 1 600x400mm KCMY\n");
}

QJsonObject replyData(const QJsonObject& json)
{
    return json.value("reply").toObject().value("body").toObject().value("data").toObject();
}

} // namespace

bool isTaskStatus(const QJsonObject& serviceEvent, const QString& from, int id, int status)
{
    const QJsonObject d = serviceEvent.value("message").toObject().value("body").toObject().value("data").toObject();
    return serviceEvent.value("event").toString() == "task_status" && serviceEvent.value("from").toString() == from
           && d.value("id").toInt() == id && d.value("status").toInt() == status;
}

namespace {

QString compactText(const QJsonObject& o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

} // namespace

bool Scenario::startBroker(Step& s)
{
    tools::BrokerSetup setup;
    setup.kind = c_.brokerKind;
    setup.shippedConfDir = c_.confDir;
    for (const QString& user : {QString(kService), sum_.printerId, QString(kConsoleUser), QString(kWatchUser),
                                QString(kPresenceUser)})
        setup.users.push_back({user, password(user)});
    broker_ = tools::makeBroker(setup);
    if (!broker_->start()) {
        s.detail = broker_->errorText();
        return false;
    }
    const auto nodes = broker_->endpoints();
    if (broker_->shared())
        s.detail = QString("the broker at %1:%2 (from the environment)").arg(broker_->host()).arg(broker_->port());
    else if (nodes.size() > 1)
        s.detail = QString("%1 on 127.0.0.1:%2 (printer) and :%3 (service, consoles), shipped configuration, %4 users")
                       .arg(c_.brokerKind == tools::BrokerKind::EjabberdCluster ? "ejabberd cluster" : "mosquitto bridge")
                       .arg(nodes.front().port)
                       .arg(nodes.back().port)
                       .arg(setup.users.size());
    else if (c_.brokerKind == tools::BrokerKind::Ejabberd)
        s.detail = QString("ejabberd node on 127.0.0.1:%1, shipped configuration (users, access rules), %2 users")
                       .arg(broker_->port())
                       .arg(setup.users.size());
    else
        s.detail = QString("mosquitto on 127.0.0.1:%1, shipped configuration (passwords, ACL, user name as "
                           "client id), %2 users")
                       .arg(broker_->port())
                       .arg(setup.users.size());
    return true;
}

bool Scenario::startService(Step& s)
{
    service_ = spawn("service", "orlin_console", QStringList{"service", "--json", "--presence-user", kPresenceUser} + brokerArgs(),
                     kService, {{"WYLN_PRESENCE_PASSWORD", password(kPresenceUser)}});
    if (!waitForEvent(service_, "ready", 5000)) {
        s.detail = "the service did not come up";
        return false;
    }
    s.detail = "logged in as \"wyln\", watching presence";
    return true;
}

// The plug-in of the printer moves to the other nodes when its own is lost.
QList<QPair<QString, QString>> Scenario::printerBrokers() const
{
    QStringList others;
    const auto nodes = broker_->endpoints();
    for (size_t i = 1; i < nodes.size(); ++i)
        others << QString("%1:%2").arg(nodes[i].host).arg(nodes[i].port);
    if (others.isEmpty())
        return {};
    return {{"WYLN_BROKERS", others.join(',')}};
}

bool Scenario::startPrinter(Step& s)
{
    const QString dir = c_.workDir + "/printer-files";
    printer_ = spawn("printer", "orlin_printer",
                     QStringList{"--json", "--id", sum_.printerId, "--files-dir", dir, "--log",
                                 c_.workDir + "/printer.log", "--step-ms", QString::number(c_.stepMs)}
                         + brokerArgs(true),
                     sum_.printerId, printerBrokers());
    if (!waitForEvent(printer_, "online", 20000)) {
        s.detail = "the printer did not come up";
        return false;
    }
    s.detail = "7-argument Init as " + sum_.printerId + ", files in " + dir;
    return true;
}

bool Scenario::discoverClients(Step& s)
{
    // The printer's presence reaches the service asynchronously.
    QJsonObject j;
    for (int attempt = 0; attempt < 30; ++attempt) {
        QString errText;
        if (console({"send", kService, "getClient", "{}"}, j, 10000, &errText) != 0) {
            s.detail = "no answer: " + errText;
            return false;
        }
        const QJsonObject body = j.value("reply").toObject().value("body").toObject();
        if (body.value("message").toString() != "success") {
            s.detail = "message is not success";
            return false;
        }
        QStringList seen;
        bool printer = false, service100 = false;
        for (const auto& v : body.value("data").toArray()) {
            const QJsonObject r = v.toObject();
            seen << QString("%1 (type %2, status %3)")
                        .arg(r.value("id").toString())
                        .arg(r.value("type").toInt())
                        .arg(r.value("status").toInt());
            printer = printer || (r.value("id").toString() == sum_.printerId && r.value("status").toInt() == 1);
            service100 = service100 || (r.value("id").toString() == kService && r.value("type").toInt() == 100);
        }
        s.detail = seen.join(", ");
        s.reply = j;
        if (printer && service100)
            return true;
        QEventLoop l;
        QTimer::singleShot(100, &l, &QEventLoop::quit);
        l.exec();
    }
    s.detail = "the printer is not listed online: " + s.detail;
    return false;
}

bool Scenario::deviceInformation(Step& s)
{
    QJsonObject j;
    if (!command(s, {"send", sum_.printerId, "load_device_info", R"({"info_type":0})"}, j))
        return false;
    const QJsonObject d = replyData(j);
    const QString sn = d.value("mb_info").toObject().value("mb_sn_id").toString();
    const QString soft = d.value("soft_info").toObject().value("soft_ver").toString();
    const int hb = d.value("hb_info").toArray().size();
    const int db = d.value("db_info").toArray().size();
    s.detail = QString("main board %1, software %2, %3 head board(s), %4 drive board(s)").arg(sn, soft).arg(hb).arg(db);
    return !sn.isEmpty() && !soft.isEmpty() && hb == 2 && db == 1 && !d.contains("eb_info");
}

bool Scenario::printParameters(Step& s)
{
    QJsonObject j;
    if (!command(s, {"send", sum_.printerId, "load_param", R"({"param_type":0})"}, j))
        return false;
    const QJsonArray schemes = replyData(j).value("print_scheme").toArray();
    const QJsonArray canvases = replyData(j).value("canvas").toArray();
    QStringList names;
    for (const auto& v : schemes)
        names << QString("%1=%2")
                     .arg(v.toObject().value("print_scheme_id").toInt())
                     .arg(v.toObject().value("print_scheme_name").toString());
    if (!schemes.isEmpty())
        schemeId_ = schemes.at(0).toObject().value("print_scheme_id").toInt();
    s.detail = QString("schemes %1; %2 canvas size(s)").arg(names.join(", ")).arg(canvases.size());
    return !schemes.isEmpty() && !canvases.isEmpty() && schemeId_ > 0;
}

bool Scenario::prePrintCheck(Step& s)
{
    QJsonObject j;
    const QString good = QString(R"({"canvas_w":600,"canvas_h":400,"print_scheme_id":%1})").arg(schemeId_);
    if (!command(s, {"send", sum_.printerId, "check_before_print", good}, j))
        return false;
    const QJsonObject ok = replyData(j);
    const QJsonObject firstReply = j;
    if (!command(s, {"send", sum_.printerId, "check_before_print", R"({"canvas_w":5000,"canvas_h":400,"print_scheme_id":1})"}, j))
        return false;
    s.reply = firstReply;
    const QJsonObject bad = replyData(j);
    s.detail = QString("600x400: code %1 \"%2\"; 5000x400: code %3 \"%4\"")
                   .arg(ok.value("code").toInt())
                   .arg(ok.value("msg").toString())
                   .arg(bad.value("code").toInt())
                   .arg(bad.value("msg").toString());
    return ok.value("code").toInt(-1) == 0 && bad.value("code").toInt(0) != 0;
}

bool Scenario::sendPrintFile(Step& s)
{
    const qint64 size = qint64(c_.fileMiB) * 1048576;
    sum_.sentFile = c_.workDir + "/demo-job.prn";
    if (!writePrintFile(sum_.sentFile, c_.fileMiB, sum_.sentMd5)) {
        s.detail = "cannot write " + sum_.sentFile;
        return false;
    }
    QJsonObject j;
    QString errText;
    // A minute, or 5 MiB/s for large files (a busy machine).
    const int limitMs = std::max(60000, c_.fileMiB * 200);
    if (console({"send-file", sum_.printerId, sum_.sentFile}, j, limitMs, &errText) != 0 || !j.value("ok").toBool()) {
        s.detail = "send-file failed: " + errText;
        return false;
    }
    // The console's own figures: one definition of the transfer's throughput.
    sum_.transferSeconds = j.value("seconds").toDouble();
    sum_.transferMiBps = j.value("mib_per_s").toDouble();
    s.reply = j;
    sum_.receivedPath = j.value("file_path").toString();
    QJsonObject received;
    if (!waitForEvent(printer_, [](const QJsonObject& e) { return e.value("event").toString() == "file_received"; },
                      5000, &received)) {
        s.detail = "the printer did not report the file";
        return false;
    }
    sum_.printerSize = received.value("size").toVariant().toLongLong();
    sum_.printerMd5 = received.value("md5").toString();
    s.detail = QString("%1 chunks, %2 MiB/s; printer stored %3, %4 bytes, md5 %5 (%6)")
                   .arg(j.value("total_chunks").toInt())
                   .arg(j.value("mib_per_s").toDouble(), 0, 'f', 1)
                   .arg(sum_.receivedPath)
                   .arg(sum_.printerSize)
                   .arg(sum_.printerMd5, sum_.printerMd5 == sum_.sentMd5 ? "matches" : "DIFFERS");
    return received.value("path").toString() == sum_.receivedPath && sum_.printerSize == size
           && sum_.printerMd5 == sum_.sentMd5 && j.value("md5").toString() == sum_.sentMd5
           && j.value("total_chunks").toInt() == tools::chunkCount(size);
}

bool Scenario::addPrintTask(Step& s)
{
    QJsonObject j;
    if (!command(s, {"send", sum_.printerId, "add_print_task", compactText({{"file_path", sum_.receivedPath}})}, j))
        return false;
    const QJsonObject d = replyData(j);
    sum_.taskId = d.value("task_id").toInt();
    s.detail = QString("task %1, code %2 \"%3\"").arg(sum_.taskId).arg(d.value("code").toInt()).arg(d.value("msg").toString());
    return d.value("code").toInt(-1) == 0 && sum_.taskId > 0;
}

bool Scenario::listTasks(Step& s)
{
    QJsonObject j;
    if (!command(s, {"send", sum_.printerId, "get_task_list_info", R"({"type":0})"}, j))
        return false;
    const QJsonObject t = findTask(replyData(j), "print_list");
    s.detail = QString("waiting: %1 task(s); task %2 \"%3\", %4 print modes, status %5")
                   .arg(replyData(j).value("print_list").toObject().value("task_count").toInt())
                   .arg(sum_.taskId)
                   .arg(t.value("task_name").toString())
                   .arg(t.value("print_mode").toArray().size())
                   .arg(t.value("task_status").toInt());
    return t.value("task_name").toString() == "demo-job.prn" && t.value("task_status").toInt(-1) == 0
           && !t.value("print_mode").toArray().isEmpty();
}

bool Scenario::printWithProgress(Step& s)
{
    const QString dev = sum_.printerId;
    Proc* watch = spawn("watch", "orlin_console",
                        QStringList{"watch", dev, "--json", "--until-idle", "--timeout", "60"} + brokerArgs(),
                        kWatchUser);
    if (!waitForEvent(watch, "watching", 5000)) {
        s.detail = "watch did not start";
        return false;
    }
    const QJsonObject data{{"task_id", 1001},
                           {"type", 1},
                           {"file_path", sum_.receivedPath},
                           {"print_scheme_id", schemeId_},
                           {"print_count", c_.copies},
                           {"bidirect_offset", 0},
                           {"step_offset", 0},
                           {"workstation_w", 600},
                           {"workstation_h", 400}};
    const qint64 t = QDateTime::currentMSecsSinceEpoch();
    QJsonObject j;
    if (!command(s, {"send", dev, "print", compactText(data)}, j))
        return false;
    const int replied = replyData(j).value("task_id").toInt();
    if (replied != sum_.taskId) {
        s.detail = QString("the reply names task %1, not %2").arg(replied).arg(sum_.taskId);
        return false;
    }
    if (!waitFor([watch] { return watch->p.state() == QProcess::NotRunning; }, 30000) || watch->p.exitCode() != 0) {
        s.detail = "the print did not finish";
        return false;
    }
    sum_.printSeconds = (QDateTime::currentMSecsSinceEpoch() - t) / 1000.0;
    sum_.watchEvents = watch->events;
    const bool ended = waitForEvent(service_, [&](const QJsonObject& e) { return isTaskStatus(e, dev, 1001, 2); }, 3000);
    const bool started = std::any_of(service_->events.begin(), service_->events.end(),
                                     [&](const QJsonObject& e) { return isTaskStatus(e, dev, 1001, 1); });
    const bool full = tools::hasEvent(watch->events, "status", {{"progress", 100}})
                      && tools::hasEvent(watch->events, "status", {{"done_copies", c_.copies}, {"total_copies", c_.copies}});
    const auto reports = std::count_if(service_->events.begin(), service_->events.end(), [&](const QJsonObject& e) {
        return e.value("event").toString() == "report" && e.value("from").toString() == dev;
    });
    const auto statusLines = std::count_if(watch->events.begin(), watch->events.end(),
                                           [](const QJsonObject& e) { return e.value("event").toString() == "status"; });
    s.detail = QString("%1 status lines, %2 reports at the service, task-status updates %3/%4, %5 s")
                   .arg(statusLines)
                   .arg(reports)
                   .arg(started ? "started" : "-")
                   .arg(ended ? "ended" : "-")
                   .arg(sum_.printSeconds, 0, 'f', 2);
    return full && reports >= c_.copies * 5 && started && ended;
}

bool Scenario::taskInHistory(Step& s)
{
    QJsonObject j;
    if (!command(s, {"send", sum_.printerId, "get_task_list_info", R"({"type":0})"}, j))
        return false;
    const QJsonObject t = findTask(replyData(j), "history_list");
    s.detail = QString("history: task %1 \"%2\" status %3 mode \"%4\"")
                   .arg(sum_.taskId)
                   .arg(t.value("task_name").toString())
                   .arg(t.value("task_status").toInt())
                   .arg(t.value("print_mode").toString());
    return t.value("task_status").toInt() == 2 && findTask(replyData(j), "print_list").isEmpty();
}

bool Scenario::statisticsOfToday(Step& s)
{
    const QDate d = QDate::currentDate();
    const QString data = QString(R"({"year":%1,"month":%2,"day":%3})").arg(d.year()).arg(d.month()).arg(d.day());
    QJsonObject j;
    if (!command(s, {"send", sum_.printerId, "statistics", data}, j))
        return false;
    const QJsonObject r = replyData(j);
    const QJsonArray tasks = r.value("task_info").toArray();
    const QJsonObject t = tasks.isEmpty() ? QJsonObject() : tasks.at(0).toObject();
    s.detail = QString("%1 task(s), \"%2\" %3 m2, %4 m; total ink %5 ml")
                   .arg(tasks.size())
                   .arg(t.value("task_name").toString())
                   .arg(r.value("total_area").toDouble(), 0, 'f', 2)
                   .arg(r.value("total_len").toDouble(), 0, 'f', 2)
                   .arg(r.value("total_ink").toDouble(), 0, 'f', 2);
    // 600 x 400 mm, copies times.
    return tasks.size() == 1 && t.value("task_name").toString() == "demo-job.prn"
           && qAbs(r.value("total_area").toDouble() - 0.24 * c_.copies) < 0.001 && t.value("k").toDouble() > 0;
}

bool Scenario::dropPrinterBroker(Step& s)
{
    if (broker_->shared() || broker_->endpoints().size() < 2) {
        s.detail = "needs a broker of two nodes of its own";
        return false;
    }
    // The printer's heartbeats cross the nodes to the service (one every
    // 3 s) before its node goes.
    if (!waitForEvent(service_, [&](const QJsonObject& e) {
            return e.value("event").toString() == "heartbeat" && e.value("from").toString() == sum_.printerId;
        }, 12000)) {
        s.detail = "no heartbeat of the printer reached the service";
        return false;
    }
    broker_->killNode(0);
    droppedAt_ = QDateTime::currentMSecsSinceEpoch();
    s.detail = QString("after a heartbeat reached the service, node 127.0.0.1:%1 killed")
                   .arg(broker_->endpoints().front().port);
    return true;
}

bool Scenario::printerReachableAgain(Step& s)
{
    // The printer's plug-in notices the loss and logs in again through the
    // other node; the library's session goes on as it was.
    QJsonObject j;
    while (QDateTime::currentMSecsSinceEpoch() - droppedAt_ < 10000) {
        QString errText;
        if (console({"send", sum_.printerId, "load_param", R"({"param_type":0})", "--timeout", "1000"}, j, 5000,
                    &errText)
                == 0
            && !replyData(j).value("print_scheme").toArray().isEmpty()) {
            s.reply = j;
            s.detail = QString("load_param answered %1 ms after the node died")
                           .arg(QDateTime::currentMSecsSinceEpoch() - droppedAt_);
            return true;
        }
    }
    s.detail = "no answer within 10 s";
    return false;
}

bool Scenario::fileAfterTheMove(Step& s)
{
    const QString file = c_.workDir + "/after-move.prn";
    QString md5;
    const int mib = std::min(c_.fileMiB, 8);
    if (!writePrintFile(file, mib, md5)) {
        s.detail = "cannot write " + file;
        return false;
    }
    QJsonObject j;
    QString errText;
    if (console({"send-file", sum_.printerId, file}, j, 60000, &errText) != 0 || !j.value("ok").toBool()) {
        s.detail = "send-file failed: " + errText;
        return false;
    }
    QJsonObject received;
    const bool arrived = waitForEvent(printer_, [](const QJsonObject& e) {
        return e.value("event").toString() == "file_received" && e.value("path").toString().endsWith("/after-move.prn");
    }, 5000, &received);
    s.reply = j;
    s.detail = QString("%1 MiB, printer md5 %2 (%3)")
                   .arg(mib)
                   .arg(received.value("md5").toString(), received.value("md5").toString() == md5 ? "matches" : "DIFFERS");
    return arrived && received.value("md5").toString() == md5;
}

} // namespace demo
