#include "messages/TaskParam.h"

#include "messages/AddPrintTask.h"
#include "messages/HostResult.h"
#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"

#include <string.h>

namespace orlin {

void ReadSetTaskParam(const QJsonObject& data, __SCLOUD_SET_TASK_PARAM& cmd)
{
    ReadInt(data, key::TaskId, cmd.iTaskId);
    ReadInt(data, key::PrintModeIndex, cmd.iPrintModeIndex);
    ReadInt(data, key::PrintCopys, cmd.iPrintCopys);
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleSetTaskParam(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_SET_TASK_PARAM cmd;
    memset(&cmd, 0, sizeof(cmd));
    cmd.iPrintModeIndex = kTaskParamNotGiven;
    cmd.iPrintCopys = kTaskParamNotGiven;
    QJsonObject data;
    if (DataObject(body, data)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadSetTaskParam(data, cmd);
    }

    __SCLOUD_TASK_RESULT result;
    memset(&result, 0, sizeof(result));
    m_pOwner->OnSetTaskParam(&cmd, &result);
    return SendReply(hdr, func::SetTaskParam, TaskResultData(result));
}

int CWylnOwner::HandleSetTaskParamResult(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    // The peer's "task_id" is not passed on: the host matches the answer to
    // its own request.
    __SCLOUD_TASK_RESULT result;
    if (!ReadTaskResult(body, hdr, result, false))
        return ResultMissingMember;
    return m_pOwner->OnSetTaskParamResult(&result) ? ResultOk : ResultRefused;
}
