// "updateTaskStatus": the host reports how a task that a peer gave stands.
// The task is found in the per-peer registry filled by "print" commands.
#pragma once

#include "session/LinkContext.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace orlin {

// A registry entry found by its key: the peer's own task id (-1 when not
// found) and the peer that gave it (empty when not found).
struct SCloudTaskLookup
{
    int32_t iTaskId = -1;
    std::string strPeerId;
};

// Searches the records from the most recent backwards, and in each record
// the pairs from the most recent backwards, for the key iKey. A record whose
// matching pair holds task id -1 is passed over.
SCloudTaskLookup FindPeerTask(const std::vector<SCloudTaskRecord>& vecRecords, int32_t iKey);

// Removes the most recent pair with key iKey from the most recent record of
// strPeerId only. Records are kept, also when they have no pair left.
void ForgetPeerTask(std::vector<SCloudTaskRecord>& vecRecords, const std::string& strPeerId, int32_t iKey);

} // namespace orlin
