// "add_print_task": a peer hands this side a print file for its task list.
// The task result structure is shared with "set_task_param".
#pragma once

#include "OrlinTypes.h"

#include <QJsonObject>

namespace orlin {

// The reply's data: {"code", "msg", "task_id"} from the host's result.
QJsonObject BuildTaskResultData(const __SCLOUD_TASK_RESULT& result);

// A response's "code" and "msg" (and "task_id" when bReadTaskId), each only
// when present.
void ReadTaskResult(const QJsonObject& data, __SCLOUD_TASK_RESULT& result, bool bReadTaskId);

} // namespace orlin
