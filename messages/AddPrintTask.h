// "add_print_task": a peer hands this side a print file for its task list.
// The task result structure, and its reply (TaskResultData in
// messages/HostResult.h), are shared with "set_task_param".
#pragma once

#include "OrlinTypes.h"

#include <QJsonObject>

namespace orlin {

// A response's "code" and "msg" (and "task_id" when bReadTaskId), each only
// when present.
void ReadTaskResult(const QJsonObject& data, __SCLOUD_TASK_RESULT& result, bool bReadTaskId);

} // namespace orlin
