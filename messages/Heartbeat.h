// Heartbeat bodies (msg_type 3): the device's status every few seconds.
#pragma once

#include "OrlinTypes.h"

#include <QJsonObject>

namespace orlin {

// The outbound body: "device_status", "connect_status" and "print_info",
// which is empty unless a task is printing (iTaskId not 0, iDeviceStatus 2).
QJsonObject BuildHeartbeatBody(const __SCLOUD_UPGRADE_REPORT_PARAM& st);

// "print_info" of the device's status: the print members while a task is
// printing (iTaskId not 0, iDeviceStatus 2), otherwise empty. Reports also
// carry the two time members.
QJsonObject BuildPrintInfo(const __SCLOUD_UPGRADE_REPORT_PARAM& st, bool bWithTimes);

// Applies an inbound body's members to the peer's record; absent members
// leave their fields unchanged.
void ApplyHeartbeatBody(const QJsonObject& body, __SCLOUD_UPGRADE_REPORT_PARAM& peer);

} // namespace orlin
