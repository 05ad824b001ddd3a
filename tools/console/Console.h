// orlin_console: a peer on the wyln transport for the service side and for
// testing. Subcommands: service, send, send-file, watch.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace console {

// Progress bar text, e.g. "[##########..........]  50%".
QString progressBar(int percent, int width = 30);

// One client known to the service.
struct ClientRecord
{
    QString id;
    int type = 0;
    int status = 0;       // 1 online, 0 offline
    QString createTime;
    QString updateTime;
};

// Filters of a "getClient" request ("type" array, "status", "id", "name").
bool clientMatches(const ClientRecord& r, const QJsonObject& filter);
QJsonObject clientToJson(const ClientRecord& r);

// A device's status out of a heartbeat (msg_type 3) or a report (msg_type
// 2, "report"): heartbeats carry the status members in the body, reports in
// body.data, with "device_status" in the body as the library sends it.
struct DeviceStatus
{
    bool valid = false;
    int deviceStatus = 0;
    int taskId = 0;
    int progress = 0;
    int doneCopies = 0;
    int totalCopies = 0;
    int spanTime = 0;
    int remainTime = 0;
    QString printedArea;
};
DeviceStatus statusOf(int msgType, const QJsonObject& body);

int runService(const QStringList& args);
int runSend(const QStringList& args);
int runSendFile(const QStringList& args);
int runWatch(const QStringList& args);

} // namespace console
