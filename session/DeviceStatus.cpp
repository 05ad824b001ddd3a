#include "session/DeviceStatus.h"

#include "wire/JsonRead.h"
#include "wire/Keys.h"

namespace orlin {

QJsonObject BuildPrintInfo(const __SCLOUD_UPGRADE_REPORT_PARAM& st, bool bWithTimes)
{
    QJsonObject printInfo;
    if (st.iTaskId != 0 && st.iDeviceStatus == 2) {
        printInfo.insert(key::TaskId, st.iTaskId);
        printInfo.insert(key::Progress, st.iProgress);
        printInfo.insert(key::Capacity, FieldText(st.szCapacity));
        printInfo.insert(key::PrintedArea, FieldText(st.szPrintedArea));
        printInfo.insert(key::PrintStatus, st.iPrintStatus);
        printInfo.insert(key::PrintDoneCopys, st.iPrintDoneCopys);
        printInfo.insert(key::TotalPrintCopys, st.iTotalPrintCopys);
        if (bWithTimes) {
            printInfo.insert(key::PrintSpanTime, st.iPrintSpanTime);
            printInfo.insert(key::PrintRemainTime, st.iPrintRemainTime);
        }
    }
    return printInfo;
}

QJsonObject BuildHeartbeatBody(const __SCLOUD_UPGRADE_REPORT_PARAM& st)
{
    QJsonObject body;
    body.insert(key::DeviceStatus, st.iDeviceStatus);
    body.insert(key::ConnectStatus, st.iConnectStatus);
    body.insert(key::PrintInfo, BuildPrintInfo(st, false));
    return body;
}

void ReadPrintInfo(const QJsonObject& pi, __SCLOUD_UPGRADE_REPORT_PARAM& peer, bool bWithTimes)
{
    ReadInt(pi, key::TaskId, peer.iTaskId);
    ReadInt(pi, key::Progress, peer.iProgress);
    ReadText(pi, key::Capacity, peer.szCapacity);
    ReadText(pi, key::PrintedArea, peer.szPrintedArea);
    ReadInt(pi, key::PrintStatus, peer.iPrintStatus);
    ReadInt(pi, key::PrintDoneCopys, peer.iPrintDoneCopys);
    ReadInt(pi, key::TotalPrintCopys, peer.iTotalPrintCopys);
    if (bWithTimes) {
        ReadInt(pi, key::PrintSpanTime, peer.iPrintSpanTime);
        ReadInt(pi, key::PrintRemainTime, peer.iPrintRemainTime);
    }
}

void ApplyHeartbeatBody(const QJsonObject& body, __SCLOUD_UPGRADE_REPORT_PARAM& peer)
{
    ReadInt(body, key::DeviceStatus, peer.iDeviceStatus);
    ReadInt(body, key::ConnectStatus, peer.iConnectStatus);
    const auto it = body.constFind(key::PrintInfo);
    if (it != body.constEnd() && it.value().isObject())
        ReadPrintInfo(it.value().toObject(), peer, false);
}

} // namespace orlin
