// A silent host and transport client for the fuzz targets: every callback
// answers "accepted", touches the memory the library hands over (so that the
// address sanitizer sees out-of-range arrays), and the sink keeps what was
// sent for the targets' comparisons.
#pragma once

#include "CountingClient.h"
#include "NullOwner.h"
#include "session/LinkContext.h"
#include "transport/WylnInterface.h"
#include "transport/WylnOwner.h"

#include <string.h>

#include <string>
#include <vector>

namespace fuzzhost {

// Reads every byte of a buffer; the sum keeps the reads from being dropped.
inline unsigned Touch(const void* p, size_t n)
{
    volatile unsigned sum = 0;
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i)
        sum = sum + b[i];
    return sum;
}

class Host : public NullOwner
{
public:
    std::vector<std::string> logs;
    bool keepLogs = false;

    void OnLog(const char* szText) override
    {
        Touch(szText, strlen(szText));
        if (keepLogs)
            logs.emplace_back(szText);
    }
    bool OnRecvPacket(const char*, const char* pPayload) override
    {
        // The payload's length is the frame's length field, 8 bytes before it.
        uint32_t n;
        memcpy(&n, pPayload - 8, 4);
        Touch(pPayload, n);
        return true;
    }
    void OnGetClient(__SCLOUD_GET_CLIENT* p) override
    {
        if (p->iCount > 0 && p->pClients)
            Touch(p->pClients, sizeof(*p->pClients) * static_cast<size_t>(p->iCount));
    }
    void OnFileTransfer(__SCLOUD_FILE_TRANSFER* p, __SCLOUD_FILE_TRANSFER_RESULT*) override
    {
        // pData holds iChunkSize bytes and a zero.
        if (p->pData)
            Touch(p->pData, static_cast<size_t>(p->iChunkSize) + 1);
    }
    bool OnGetTaskListInfoResult(__SCLOUD_GET_TASK_LIST_INFO_RESULT* p) override
    {
        // A count without an array arrives with a null array.
        if (p->iPrintTaskCount > 0 && p->pPrintTaskInfo)
            Touch(p->pPrintTaskInfo, sizeof(*p->pPrintTaskInfo) * static_cast<size_t>(p->iPrintTaskCount));
        if (p->iHistoryTaskCount > 0 && p->pHistoryTaskInfo)
            Touch(p->pHistoryTaskInfo, sizeof(*p->pHistoryTaskInfo) * static_cast<size_t>(p->iHistoryTaskCount));
        return true;
    }
};

// A receive sink attached to its own host, client and link context.
struct Sink
{
    Host host;
    CountingClient client;
    std::vector<std::string> sent;
    __SCLOUD_LINK_CONTEXT link;
    CWylnOwner owner;

    Sink()
    {
        client.pKeep = &sent;
        owner.Attach(&host, &client, &link);
    }
    void Clear()
    {
        host.logs.clear();
        sent.clear();
        // The task registry grows with every distinct peer task; keep one
        // input from depending on the ones before it.
        CLinkLock lock(link);
        link.vecTaskRecord.clear();
        link.strTargetId.clear();
    }
};

} // namespace fuzzhost
