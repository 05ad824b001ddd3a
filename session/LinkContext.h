// State shared by the session (host's thread) and its receive sink
// (transport's thread).
#pragma once

#include <QTime>

#include <stdint.h>
#include <mutex>
#include <string>
#include <vector>

// One pair of the per-peer task registry: the peer's own task id and the key
// under which the host knows the task.
struct SCloudTaskPair
{
    int32_t iTaskId;
    int32_t iKey;
};

// The tasks one peer gave, in the order they arrived.
struct SCloudTaskRecord
{
    std::string strPeerId;
    std::vector<SCloudTaskPair> vecPairs;
};

struct __SCLOUD_LINK_CONTEXT
{
    QTime tLastHeartBeat;                         // time of day of the last inbound heartbeat
    std::string strTargetId;                      // receiver of task-status updates
    std::vector<SCloudTaskRecord> vecTaskRecord;  // the per-peer task registry

    // Guards the three members above: the receive thread writes them while
    // the host's thread reads them for heartbeats and status updates.
    mutable std::mutex mtx;

    // The clock of the heartbeat supervision; tests replace it.
    QTime (*pfnNow)() = &QTime::currentTime;

    __SCLOUD_LINK_CONTEXT() : tLastHeartBeat(QTime::currentTime()) {}
    QTime Now() const { return pfnNow(); }
};

// Holds mtx of a link context for one scope.
class CLinkLock : public std::lock_guard<std::mutex>
{
public:
    explicit CLinkLock(const __SCLOUD_LINK_CONTEXT& ctx) : std::lock_guard<std::mutex>(ctx.mtx) {}
};
