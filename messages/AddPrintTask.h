// "add_print_task": a peer hands this side a print file for its task list.
// The task result structure, and its reply (TaskResultData in
// messages/HostResult.h), are shared with "set_task_param".
#pragma once

#include "OrlinTypes.h"

#include "wire/Envelope.h"

#include <QJsonObject>

namespace orlin {

// A peer's task result: zero-filled, sVer from the header's version, then
// "code" and "msg" (and "task_id" when bReadTaskId), each only when present.
// False, with nothing read, when "data" is not an object.
bool ReadTaskResult(const QJsonObject& body, const SCloudMsgHeader& hdr, __SCLOUD_TASK_RESULT& result,
                    bool bReadTaskId);

} // namespace orlin
