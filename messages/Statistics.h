// Print statistics: "statistics" asks for one day's records; the host's task
// array and totals are the answer.
#pragma once

#include "OrlinTypes.h"
#include "wire/Envelope.h"
#include "wire/JsonText.h"

#include <QJsonObject>

namespace orlin {

// The first record of "data" (FirstDataRecord); the date defaults to
// 2024-01-01, a fixed day rather than today.
__SCLOUD_STATISTICS ReadStatistics(const QJsonObject& body, const SCloudMsgHeader& hdr);

// {"task_info": [{"c", "k", "m", "print_area", "print_len", "task_name", "y"}...],
// "total_area", "total_ink", "total_len"}; floats widened to double.
JsonText StatisticsData(const __SCLOUD_STATISTICS_RESULT& r);

} // namespace orlin
