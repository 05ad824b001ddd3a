// State shared by the session (host's thread) and its receive sink
// (transport's thread).
#pragma once

#include <QMutex>
#include <QTime>

#include <stdint.h>
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
    mutable QMutex mtx;

    // The clock of the heartbeat supervision; tests replace it.
    QTime (*pfnNow)() = &QTime::currentTime;

    __SCLOUD_LINK_CONTEXT() : tLastHeartBeat(QTime::currentTime()) {}
    QTime Now() const { return pfnNow(); }
};

#if defined(__SANITIZE_THREAD__)
#  define ORLIN_TSAN 1
#elif defined(__has_feature)
#  if __has_feature(thread_sanitizer)
#    define ORLIN_TSAN 1
#  endif
#endif
#if defined(ORLIN_TSAN)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

// Holds mtx of a link context for one scope. A contended QMutex is handed
// over inside the Qt library, where ThreadSanitizer cannot see it; in such
// builds the guard reports the hand-over itself, so that only real races
// are reported.
class CLinkLock
{
public:
    explicit CLinkLock(const __SCLOUD_LINK_CONTEXT& ctx) : m_mtx(ctx.mtx)
    {
        m_mtx.lock();
#if defined(ORLIN_TSAN)
        __tsan_acquire(&m_mtx);
#endif
    }
    ~CLinkLock()
    {
#if defined(ORLIN_TSAN)
        __tsan_release(&m_mtx);
#endif
        m_mtx.unlock();
    }
    CLinkLock(const CLinkLock&) = delete;
    CLinkLock& operator=(const CLinkLock&) = delete;

private:
    QMutex& m_mtx;
};
