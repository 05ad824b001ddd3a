#include "messages/TaskStatus.h"

#include "session/Orlin.h"
#include "wire/Envelope.h"
#include "wire/Keys.h"

namespace orlin {

SCloudTaskLookup FindPeerTask(const std::vector<SCloudTaskRecord>& vecRecords, int32_t iKey)
{
    SCloudTaskLookup found;
    for (auto rec = vecRecords.rbegin(); rec != vecRecords.rend(); ++rec) {
        for (auto pair = rec->vecPairs.rbegin(); pair != rec->vecPairs.rend(); ++pair) {
            if (pair->iKey != iKey)
                continue;
            if (pair->iTaskId != -1) {
                found.iTaskId = pair->iTaskId;
                found.strPeerId = rec->strPeerId;
                return found;
            }
            break;  // only the record's most recent pair with this key counts
        }
    }
    return found;
}

void ForgetPeerTask(std::vector<SCloudTaskRecord>& vecRecords, const std::string& strPeerId, int32_t iKey)
{
    for (auto rec = vecRecords.rbegin(); rec != vecRecords.rend(); ++rec) {
        if (rec->strPeerId != strPeerId)
            continue;
        for (auto pair = rec->vecPairs.rbegin(); pair != rec->vecPairs.rend(); ++pair) {
            if (pair->iKey == iKey) {
                rec->vecPairs.erase(std::next(pair).base());
                break;
            }
        }
        return;
    }
}

} // namespace orlin

using namespace orlin;

int Orlin::UpgradePrintStatus(__SCLOUD_UPGRADE_PRINT_STATUS* pStatus, int nTimeoutMs)
{
    if (!_Ready("UpgradePrintStatus"))
        return -1;

    // One locked step: the print handler may register tasks and the client
    // list may replace the target on the transport's thread meanwhile.
    SCloudTaskLookup task;
    std::string strTargetId;
    {
        CLinkLock lock(m_stLinkContext);
        task = FindPeerTask(m_stLinkContext.vecTaskRecord, pStatus->iTaskId);
        if (pStatus->iStatus == 2)
            ForgetPeerTask(m_stLinkContext.vecTaskRecord, task.strPeerId, pStatus->iTaskId);
        strTargetId = m_stLinkContext.strTargetId;
    }

    if (const int ret = _ApplyIdBeforeSend())
        return ret;

    QJsonObject header;
    BuildRequestHeader(header, 1, MsgRequest, _SourceId(), QString::fromStdString(task.strPeerId), QString());
    QJsonObject data;
    data.insert(key::Id, task.iTaskId);
    data.insert(key::Status, pStatus->iStatus);
    // A service client (mode 0) routes every update through the service that
    // the client list named; other clients address the task's peer directly.
    const std::string& strSendTo = m_nClientMode == 0 ? strTargetId : task.strPeerId;
    return _SendRequest(header, func::UpdateTaskStatus, data, true, strSendTo.c_str(), nTimeoutMs);
}
