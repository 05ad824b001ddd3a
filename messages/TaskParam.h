// "set_task_param": a peer changes the print mode and copies of a task in
// this side's list. Replies and responses use the task result of
// "add_print_task" (AddPrintTask.h).
#pragma once

#include "OrlinTypes.h"

#include <QJsonObject>

namespace orlin {

// The value of iPrintModeIndex and iPrintCopys when the command did not
// carry the key.
constexpr int32_t kTaskParamNotGiven = -2;

// The command's fields from its data object; absent keys keep their values.
void ReadSetTaskParam(const QJsonObject& data, __SCLOUD_SET_TASK_PARAM& cmd);

} // namespace orlin
