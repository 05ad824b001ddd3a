#include "messages/PrintTask.h"

#include "session/Orlin.h"
#include "wire/Envelope.h"
#include "wire/JsonRead.h"
#include "wire/JsonText.h"
#include "wire/Keys.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace orlin {
namespace {

// The key is the C generator's first draw after seeding it with the current
// second, the scheme that hosts of this protocol already know; two tasks
// registered within one second therefore share a key (see OnPrint).
int32_t DrawKey()
{
    srand(static_cast<unsigned int>(time(nullptr)));
    return static_cast<int32_t>(rand());
}

} // namespace

PathRead ReadFilePath(const QJsonObject& data, char (&szFilePath)[260])
{
    const auto it = data.constFind(key::FilePath);
    if (it == data.constEnd() || !it.value().isString())
        return PathRead::Absent;
    if (CopyText(it.value().toString().toUtf8(), szFilePath, sizeof(szFilePath)))
        return PathRead::Copied;
    memset(szFilePath, 0, sizeof(szFilePath));
    return PathRead::TooLong;
}

QJsonObject BuildPrintTaskData(const __SCLOUD_PRINT_TASK& task)
{
    QJsonObject data;
    data.insert(key::TaskId, task.iTaskId);
    data.insert(key::Type, task.iType);
    data.insert(key::FilePath, FieldText(task.szFilePath));
    data.insert(key::PrintSchemeId, task.iPrintSchemeId);
    data.insert(key::PrintCount, task.iPrintCount);
    data.insert(key::BidirectOffset, task.iBidirectOffset);
    data.insert(key::StepOffset, task.iStepOffset);
    data.insert(key::WorkstationW, static_cast<double>(task.fWorkstationW));
    data.insert(key::WorkstationH, static_cast<double>(task.fWorkstationH));
    return data;
}

PathRead ReadPrintTask(const QJsonObject& data, __SCLOUD_PRINT_TASK& task)
{
    ReadInt(data, key::Type, task.iType);
    ReadInt(data, key::TaskId, task.iTaskId);
    const PathRead path = ReadFilePath(data, task.szFilePath);
    ReadInt(data, key::PrintSchemeId, task.iPrintSchemeId);
    ReadInt(data, key::PrintCount, task.iPrintCount);
    ReadInt(data, key::BidirectOffset, task.iBidirectOffset);
    ReadInt(data, key::StepOffset, task.iStepOffset);
    ReadFloat(data, key::WorkstationW, task.fWorkstationW);
    ReadFloat(data, key::WorkstationH, task.fWorkstationH);
    return path;
}

int32_t FindOrAddTaskKey(std::vector<SCloudTaskRecord>& vecRecords, const std::string& strPeerId, int32_t nTaskId)
{
    for (auto rec = vecRecords.rbegin(); rec != vecRecords.rend(); ++rec) {
        if (rec->strPeerId != strPeerId)
            continue;
        for (auto pair = rec->vecPairs.rbegin(); pair != rec->vecPairs.rend(); ++pair)
            if (pair->iTaskId == nTaskId)
                return pair->iKey;
        const int32_t key = DrawKey();
        rec->vecPairs.push_back(SCloudTaskPair{nTaskId, key});
        return key;
    }
    const int32_t key = DrawKey();
    vecRecords.push_back(SCloudTaskRecord{strPeerId, {SCloudTaskPair{nTaskId, key}}});
    return key;
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::RegisterPeerTask(const std::string& strPeerId, int nTaskId)
{
    if (!m_pLinkContext)
        return nTaskId;
    // UpgradePrintStatus reads and trims the registry on the host's thread.
    CLinkLock lock(*m_pLinkContext);
    return FindOrAddTaskKey(m_pLinkContext->vecTaskRecord, strPeerId, nTaskId);
}

int CWylnOwner::HandlePrint(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    const auto it = body.constFind(key::Data);
    if (it == body.constEnd())
        return ResultMissingMember;

    __SCLOUD_PRINT_TASK task;
    memset(&task, 0, sizeof(task));
    task.sVer = VersionToShort(hdr.qsVersion);
    const PathRead path = ReadPrintTask(it.value().toObject(), task);
    if (path == PathRead::TooLong)
        return ResultPathTooLong;
    // Paths too short to name a print file carry no task worth tracking.
    if (path == PathRead::Copied && strlen(task.szFilePath) >= 4)
        task.iTaskId = RegisterPeerTask(hdr.qsSourceId.toStdString(), task.iTaskId);

    __SCLOUD_PRINT_RESULT result;
    memset(&result, 0, sizeof(result));
    if (!m_pOwner->OnPrint(&task, &result))
        return ResultRefused;

    JsonText data;
    data.BeginObject().Int(key::TaskId, result.iTaskId).Int(key::Type, result.iType).EndObject();
    return SendReply(hdr, func::Print, data);
}

int CWylnOwner::HandlePrintResult(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    const auto it = body.constFind(key::Data);
    if (it == body.constEnd())
        return ResultMissingMember;
    const QJsonObject data = it.value().toObject();

    __SCLOUD_PRINT_RESULT result;
    memset(&result, 0, sizeof(result));
    result.sVer = VersionToShort(hdr.qsVersion);
    ReadInt(data, key::Type, result.iType);
    ReadInt(data, key::TaskId, result.iTaskId);
    return m_pOwner->OnPrintResult(&result) ? ResultOk : ResultRefused;
}

int Orlin::StartPrintingTask(const char* szTargetId, __SCLOUD_PRINT_TASK* pTask, int nTimeoutMs)
{
    if (!_Ready("StartPrintingTask"))
        return -1;
    if (const int ret = _ApplyIdBeforeSend())
        return ret;

    QJsonObject header;
    BuildReplyHeader(header, QString::asprintf("%d.0", static_cast<int>(pTask->sVer)), MsgRequest, _SourceId(),
                     QString::fromUtf8(szTargetId ? szTargetId : ""), QString());
    return _SendRequest(header, func::Print, BuildPrintTaskData(*pTask), true, szTargetId, nTimeoutMs);
}
