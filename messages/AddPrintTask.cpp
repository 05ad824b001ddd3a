#include "messages/AddPrintTask.h"

#include "messages/HostResult.h"
#include "messages/PrintTask.h"
#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"
#include "wire/FixedTexts.h"

#include <string.h>

namespace orlin {

bool ReadTaskResult(const QJsonObject& body, const SCloudMsgHeader& hdr, __SCLOUD_TASK_RESULT& result,
                    bool bReadTaskId)
{
    memset(&result, 0, sizeof(result));
    QJsonObject data;
    if (!DataObject(body, data))
        return false;
    result.sVer = VersionToShort(hdr.qsVersion);
    ReadText(data, key::Msg, result.szMsg);
    ReadInt(data, key::Code, result.iCode);
    if (bReadTaskId)
        ReadInt(data, key::TaskId, result.iTaskId);
    return true;
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleAddPrintTask(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_ADD_PRINT_TASK cmd;
    memset(&cmd, 0, sizeof(cmd));
    QJsonObject data;
    if (DataObject(body, data)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        if (ReadFilePath(data, cmd.szFilePath) == PathRead::TooLong) {
            // The host never sees a cut path; the peer learns why nothing was added.
            __SCLOUD_TASK_RESULT refused;
            memset(&refused, 0, sizeof(refused));
            refused.iCode = ResultPathTooLong;
            strcpy(refused.szMsg, say::PathTooLong);
            const int ret = SendReply(hdr, func::AddPrintTask, TaskResultData(refused));
            return ret != 0 ? ret : ResultPathTooLong;
        }
    }

    __SCLOUD_TASK_RESULT result;
    memset(&result, 0, sizeof(result));
    m_pOwner->OnAddPrintTask(&cmd, &result);
    return SendReply(hdr, func::AddPrintTask, TaskResultData(result));
}

int CWylnOwner::HandleAddPrintTaskResult(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_TASK_RESULT result;
    if (!ReadTaskResult(body, hdr, result, true))
        return ResultMissingMember;
    return m_pOwner->OnAddPrintTaskResult(&result) ? ResultOk : ResultRefused;
}
