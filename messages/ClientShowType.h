// "client_show_type": a peer sets the client's display type.
#pragma once

#include "OrlinTypes.h"

#include <QJsonObject>

namespace orlin {

// The reply's data: {"code", "msg"} from the host's result.
QJsonObject BuildClientShowTypeReply(const __SCLOUD_CMD_RESULT& result);

// A response's "code" and "msg", each only when present.
void ReadClientShowTypeResult(const QJsonObject& data, __SCLOUD_CMD_RESULT& result);

} // namespace orlin
