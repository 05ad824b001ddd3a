#include "messages/TaskList.h"

#include "messages/HostResult.h"
#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"

#include <QJsonArray>

#include <stdlib.h>
#include <string.h>

namespace orlin {
namespace {

// Object members in ascending key order, as the wire has them.
void WriteWaitingTask(JsonText& w, const __SCLOUD_PRINT_TASK_INFO& t, IOrlinOwner* pOwner)
{
    w.Int(key::CurMode, t.iCurMode).Int(key::PrintCopys, t.iPrintCopys).Number(key::PrintH, t.dPrintH);
    WriteHostArray(w, key::PrintMode, t.pPrintMode, t.iPrintModeCount,
                   [](JsonText& o, const __SCLOUD_PRINT_MODE& m) { o.Int(key::Index, m.iIndex).String(key::Name, m.szName); });
    if (t.pPrintMode)
        pOwner->OnFreeMemory(t.pPrintMode);
    w.Number(key::PrintW, t.dPrintW)
        .Number(key::TaskH, t.dTaskH)
        .Int(key::TaskId, t.iTaskId)
        .Int(key::TaskIndex, t.iTaskIndex)
        .String(key::TaskName, t.szTaskName)
        .Int(key::TaskStatus, t.iTaskStatus)
        .Number(key::TaskW, t.dTaskW)
        .String(key::ThumbPath, t.szThumbPath);
}

void WriteHistoryTask(JsonText& w, const __SCLOUD_HISTORY_TASK_INFO& t)
{
    w.Number(key::PrintH, t.dPrintH)
        .String(key::PrintMode, t.szPrintMode)
        .Number(key::PrintW, t.dPrintW)
        .Number(key::TaskH, t.dTaskH)
        .Int(key::TaskId, t.iTaskId)
        .Int(key::TaskIndex, t.iTaskIndex)
        .String(key::TaskName, t.szTaskName)
        .Int(key::TaskStatus, t.iTaskStatus)
        .Number(key::TaskW, t.dTaskW)
        .String(key::ThumbPath, t.szThumbPath);
}

void ReadSizes(const QJsonObject& o, double& dPrintH, double& dPrintW, double& dTaskH, double& dTaskW)
{
    ReadDouble(o, key::PrintH, dPrintH);
    ReadDouble(o, key::PrintW, dPrintW);
    ReadDouble(o, key::TaskH, dTaskH);
    ReadDouble(o, key::TaskW, dTaskW);
}

void ReadWaitingTask(const QJsonObject& o, __SCLOUD_PRINT_TASK_INFO& t, CTaskListArrays& arrays)
{
    ReadInt(o, key::TaskId, t.iTaskId);
    ReadInt(o, key::TaskIndex, t.iTaskIndex);
    ReadInt(o, key::CurMode, t.iCurMode);
    ReadInt(o, key::TaskStatus, t.iTaskStatus);
    const auto copies = o.constFind(key::PrintCopys);
    if (copies != o.constEnd())
        t.iPrintCopys = ToIntTruncated(copies.value());
    ReadSizes(o, t.dPrintH, t.dPrintW, t.dTaskH, t.dTaskW);
    ReadText(o, key::ThumbPath, t.szThumbPath);
    ReadText(o, key::TaskName, t.szTaskName);

    const QJsonValue modes = o.value(key::PrintMode);
    if (!modes.isArray())
        return;
    const QJsonArray arr = modes.toArray();
    t.iPrintModeCount = arr.size();
    if (t.iPrintModeCount <= 0)
        return;
    t.pPrintMode = static_cast<__SCLOUD_PRINT_MODE*>(arrays.Allocate(arr.size(), sizeof(__SCLOUD_PRINT_MODE)));
    for (int32_t j = 0; j < t.iPrintModeCount && t.pPrintMode; ++j) {
        const QJsonObject m = arr.at(j).toObject();
        const auto index = m.constFind(key::Index);
        if (index != m.constEnd())
            t.pPrintMode[j].iIndex = ToIntTruncated(index.value());
        ReadText(m, key::Name, t.pPrintMode[j].szName);
    }
}

void ReadHistoryTask(const QJsonObject& o, __SCLOUD_HISTORY_TASK_INFO& t)
{
    ReadInt(o, key::TaskId, t.iTaskId);
    ReadInt(o, key::TaskIndex, t.iTaskIndex);
    ReadInt(o, key::TaskStatus, t.iTaskStatus);
    ReadText(o, key::PrintMode, t.szPrintMode);
    ReadSizes(o, t.dPrintH, t.dPrintW, t.dTaskH, t.dTaskW);
    ReadText(o, key::ThumbPath, t.szThumbPath);
    ReadText(o, key::TaskName, t.szTaskName);
}

// One list of the response: "task_count" entries, filled from the first
// elements of "task_info". Returns the array, or null when there is none.
constexpr int32_t kMaxListEntries = 16384;

template <class T, class ReadOne>
T* ReadList(const QJsonObject& data, QLatin1String listKey, int32_t& nCount, CTaskListArrays& arrays, ReadOne readOne)
{
    const QJsonValue listValue = data.value(listKey);
    if (!listValue.isObject())
        return nullptr;
    const QJsonObject list = listValue.toObject();
    ReadInt(list, key::TaskCount, nCount);
    const QJsonValue info = list.value(key::TaskInfo);
    // A peer's count alone must not reserve more memory than a list of
    // tasks can need.
    if (nCount < 1 || nCount > kMaxListEntries || !info.isArray())
        return nullptr;
    T* p = static_cast<T*>(arrays.Allocate(static_cast<size_t>(nCount), sizeof(T)));
    if (!p)
        return nullptr;
    const QJsonArray elements = info.toArray();
    const int32_t nFill = nCount < elements.size() ? nCount : elements.size();
    for (int32_t i = 0; i < nFill; ++i)
        readOne(elements.at(i).toObject(), p[i]);
    return p;
}

} // namespace

CTaskListArrays::~CTaskListArrays()
{
    for (void* p : m_vecBlocks)
        free(p);
}

void* CTaskListArrays::Allocate(size_t n, size_t nSize)
{
    // calloc rather than new: a peer's count must not be able to throw.
    void* p = calloc(n, nSize);
    if (p)
        m_vecBlocks.push_back(p);
    return p;
}

JsonText BuildTaskListData(const __SCLOUD_GET_TASK_LIST_INFO_RESULT& list, IOrlinOwner* pOwner)
{
    JsonText w;
    w.BeginObject();
    w.BeginObject(key::HistoryList).Int(key::TaskCount, list.iHistoryTaskCount);
    WriteHostArray(w, key::TaskInfo, list.pHistoryTaskInfo, list.iHistoryTaskCount, WriteHistoryTask);
    w.EndObject();
    w.BeginObject(key::PrintList).Int(key::TaskCount, list.iPrintTaskCount);
    WriteHostArray(w, key::TaskInfo, list.pPrintTaskInfo, list.iPrintTaskCount,
                   [pOwner](JsonText& o, const __SCLOUD_PRINT_TASK_INFO& t) { WriteWaitingTask(o, t, pOwner); });
    w.EndObject();
    w.EndObject();
    // Handed back in the order the header promises, whatever the key order.
    if (list.pPrintTaskInfo)
        pOwner->OnFreeMemory(list.pPrintTaskInfo);
    if (list.pHistoryTaskInfo)
        pOwner->OnFreeMemory(list.pHistoryTaskInfo);
    return w;
}

void ReadTaskListData(const QJsonObject& data, __SCLOUD_GET_TASK_LIST_INFO_RESULT& list, CTaskListArrays& arrays)
{
    list.pPrintTaskInfo = ReadList<__SCLOUD_PRINT_TASK_INFO>(
        data, key::PrintList, list.iPrintTaskCount, arrays,
        [&arrays](const QJsonObject& o, __SCLOUD_PRINT_TASK_INFO& t) { ReadWaitingTask(o, t, arrays); });
    list.pHistoryTaskInfo = ReadList<__SCLOUD_HISTORY_TASK_INFO>(data, key::HistoryList, list.iHistoryTaskCount,
                                                                  arrays, ReadHistoryTask);
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleGetTaskListInfo(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_GET_TASK_LIST_INFO cmd;
    memset(&cmd, 0, sizeof(cmd));
    QJsonObject data;
    if (DataObject(body, data)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadInt(data, key::Type, cmd.iType);
    }

    __SCLOUD_GET_TASK_LIST_INFO_RESULT list;
    memset(&list, 0, sizeof(list));
    m_pOwner->OnGetTaskListInfo(&cmd, &list);
    return SendReply(hdr, func::GetTaskListInfo, BuildTaskListData(list, m_pOwner));
}

int CWylnOwner::HandleGetTaskListInfoResult(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    QJsonObject data;
    if (!DataObject(body, data))
        return ResultMissingMember;

    __SCLOUD_GET_TASK_LIST_INFO_RESULT list;
    memset(&list, 0, sizeof(list));
    list.sVer = VersionToShort(hdr.qsVersion);
    CTaskListArrays arrays;
    ReadTaskListData(data, list, arrays);
    return m_pOwner->OnGetTaskListInfoResult(&list) ? ResultOk : ResultRefused;
}
