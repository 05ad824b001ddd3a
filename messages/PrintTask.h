// "print": print commands from peers, print requests to peers, print results,
// and the per-peer task registry that maps a peer's task id to the key the
// host knows the task by.
#pragma once

#include "OrlinTypes.h"
#include "session/LinkContext.h"

#include <QJsonObject>

#include <string>
#include <vector>

namespace orlin {

// How a command's "file_path" was taken.
enum class PathRead
{
    Absent,   // missing or not a JSON string: the field stays empty
    Copied,   // copied whole
    TooLong   // does not fit the field; the field is left empty
};

// Copies "file_path" of data into a 260-byte path field. A path that does not
// fit is never delivered cut: a cut path names another file.
PathRead ReadFilePath(const QJsonObject& data, char (&szFilePath)[260]);

// The "data" of an outbound "print" request.
QJsonObject BuildPrintTaskData(const __SCLOUD_PRINT_TASK& task);

// Reads every key of an inbound command's data into task (zero-filled
// first). Returns how "file_path" was taken.
PathRead ReadPrintTask(const QJsonObject& data, __SCLOUD_PRINT_TASK& task);

// The registry step of an inbound "print" command, without locking: the key
// already paired with (strPeerId, nTaskId), or a newly drawn one that is
// recorded. Searches from the most recent record and pair backwards.
int32_t FindOrAddTaskKey(std::vector<SCloudTaskRecord>& vecRecords, const std::string& strPeerId, int32_t nTaskId);

} // namespace orlin
