// Pre-print check: "check_before_print" asks whether a job of a canvas size
// and print scheme can be printed; the host's code and text are the answer.
#pragma once

#include "OrlinTypes.h"
#include "wire/Envelope.h"

#include <QJsonObject>

namespace orlin {

// The first record of "data" (FirstDataRecord); the canvas sizes stay double.
__SCLOUD_CHECK_BEFORE_PRINT ReadCheckBeforePrint(const QJsonObject& body, const SCloudMsgHeader& hdr);

} // namespace orlin
