// "client_show_type": a peer sets the client's display type. The reply is
// CmdResultData (messages/HostResult.h) of the host's result.
#pragma once

#include "OrlinTypes.h"

#include <QJsonObject>

namespace orlin {

// A response's "code" and "msg", each only when present.
void ReadClientShowTypeResult(const QJsonObject& data, __SCLOUD_CMD_RESULT& result);

} // namespace orlin
