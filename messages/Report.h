// "report": the device's status, sent when it changes, and the peer's status
// received as a notification (msg_type 2, never answered).
#pragma once

#include "OrlinTypes.h"

#include <QJsonObject>

#include <vector>

namespace orlin {

// Merges the host's status p into the stored one, field by field; true when
// a report is due. While a task prints (iTaskId > 0, iDeviceStatus 2) a
// report is always due and the print fields are taken. The host's error
// entries go to errors, in their order; stored keeps only their count.
bool MergeReportParam(__SCLOUD_UPGRADE_REPORT_PARAM& stored, const __SCLOUD_UPGRADE_REPORT_PARAM& p,
                      std::vector<SCLOUD_ERROR_INFO>& errors);

// The outbound body: "func", the four state values and "data" with
// "print_info" (empty unless a task prints), "upgrade_info" and "error_info"
// (the entries from last to first, each text as the Base64 of all 260 bytes).
QJsonObject BuildReportBody(const __SCLOUD_UPGRADE_REPORT_PARAM& st, const std::vector<SCLOUD_ERROR_INFO>& errors);

} // namespace orlin
