// Upgrade: "upgrade" names a file and the kind of upgrade; the host's code
// travels back under "ret_type", its text under "msg".
#pragma once

#include "OrlinTypes.h"
#include "wire/Envelope.h"

#include <QJsonObject>

namespace orlin {

// The first record of "data" (FirstDataRecord). The path is copied full
// width: a path of 260 bytes or more carries no terminator.
__SCLOUD_UPGRADE ReadUpgrade(const QJsonObject& body, const SCloudMsgHeader& hdr);

} // namespace orlin
