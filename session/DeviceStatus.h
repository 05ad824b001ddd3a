// The device-status record in JSON: the heartbeat body (msg_type 3) and the
// "print_info" object that heartbeats and reports share, written for the
// device's own status and read into the peer's.
#pragma once

#include "OrlinTypes.h"

#include <QJsonObject>

namespace orlin {

// The outbound heartbeat body: "device_status", "connect_status" and
// "print_info".
QJsonObject BuildHeartbeatBody(const __SCLOUD_UPGRADE_REPORT_PARAM& st);

// "print_info" of the device's status: the print members while a task is
// printing (iTaskId not 0, iDeviceStatus 2), otherwise empty. Reports also
// carry the two time members (bWithTimes).
QJsonObject BuildPrintInfo(const __SCLOUD_UPGRADE_REPORT_PARAM& st, bool bWithTimes);

// Reads an inbound "print_info" into the peer's record; absent members leave
// their fields unchanged, the time members are read only with bWithTimes.
void ReadPrintInfo(const QJsonObject& printInfo, __SCLOUD_UPGRADE_REPORT_PARAM& peer, bool bWithTimes);

// Applies an inbound heartbeat body's members to the peer's record; absent
// members leave their fields unchanged.
void ApplyHeartbeatBody(const QJsonObject& body, __SCLOUD_UPGRADE_REPORT_PARAM& peer);

} // namespace orlin
