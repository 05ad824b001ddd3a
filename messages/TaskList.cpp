#include "messages/TaskList.h"

#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"

#include <QJsonArray>

#include <stdlib.h>
#include <string.h>

namespace orlin {
namespace {

QJsonObject WaitingTaskJson(const __SCLOUD_PRINT_TASK_INFO& t, IOrlinOwner* pOwner)
{
    QJsonArray modes;
    for (int32_t j = 0; j < t.iPrintModeCount && t.pPrintMode; ++j) {
        QJsonObject mode;
        mode.insert(key::Name, FieldText(t.pPrintMode[j].szName));
        mode.insert(key::Index, t.pPrintMode[j].iIndex);
        modes.append(mode);
    }
    if (t.pPrintMode)
        pOwner->OnFreeMemory(t.pPrintMode);

    QJsonObject o;
    o.insert(key::TaskId, t.iTaskId);
    o.insert(key::TaskIndex, t.iTaskIndex);
    o.insert(key::PrintMode, modes);
    o.insert(key::CurMode, t.iCurMode);
    o.insert(key::TaskStatus, t.iTaskStatus);
    o.insert(key::PrintCopys, t.iPrintCopys);
    o.insert(key::PrintH, t.dPrintH);
    o.insert(key::PrintW, t.dPrintW);
    o.insert(key::TaskH, t.dTaskH);
    o.insert(key::TaskW, t.dTaskW);
    o.insert(key::ThumbPath, FieldText(t.szThumbPath));
    o.insert(key::TaskName, FieldText(t.szTaskName));
    return o;
}

QJsonObject HistoryTaskJson(const __SCLOUD_HISTORY_TASK_INFO& t)
{
    QJsonObject o;
    o.insert(key::TaskId, t.iTaskId);
    o.insert(key::TaskIndex, t.iTaskIndex);
    o.insert(key::PrintMode, FieldText(t.szPrintMode));
    o.insert(key::TaskStatus, t.iTaskStatus);
    o.insert(key::PrintH, t.dPrintH);
    o.insert(key::PrintW, t.dPrintW);
    o.insert(key::TaskH, t.dTaskH);
    o.insert(key::TaskW, t.dTaskW);
    o.insert(key::ThumbPath, FieldText(t.szThumbPath));
    o.insert(key::TaskName, FieldText(t.szTaskName));
    return o;
}

QJsonObject ListJson(int32_t nCount, const QJsonArray& tasks)
{
    QJsonObject o;
    o.insert(key::TaskCount, nCount);
    o.insert(key::TaskInfo, tasks);
    return o;
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
template <class T, class ReadOne>
T* ReadList(const QJsonObject& data, QLatin1String listKey, int32_t& nCount, CTaskListArrays& arrays, ReadOne readOne)
{
    const QJsonValue listValue = data.value(listKey);
    if (!listValue.isObject())
        return nullptr;
    const QJsonObject list = listValue.toObject();
    ReadInt(list, key::TaskCount, nCount);
    const QJsonValue info = list.value(key::TaskInfo);
    if (nCount < 1 || !info.isArray())
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

QJsonObject BuildTaskListData(const __SCLOUD_GET_TASK_LIST_INFO_RESULT& list, IOrlinOwner* pOwner)
{
    QJsonArray waiting;
    for (int32_t i = 0; i < list.iPrintTaskCount && list.pPrintTaskInfo; ++i)
        waiting.append(WaitingTaskJson(list.pPrintTaskInfo[i], pOwner));
    if (list.pPrintTaskInfo)
        pOwner->OnFreeMemory(list.pPrintTaskInfo);

    QJsonArray history;
    for (int32_t i = 0; i < list.iHistoryTaskCount && list.pHistoryTaskInfo; ++i)
        history.append(HistoryTaskJson(list.pHistoryTaskInfo[i]));
    if (list.pHistoryTaskInfo)
        pOwner->OnFreeMemory(list.pHistoryTaskInfo);

    QJsonObject data;
    data.insert(key::PrintList, ListJson(list.iPrintTaskCount, waiting));
    data.insert(key::HistoryList, ListJson(list.iHistoryTaskCount, history));
    return data;
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
    const QJsonValue data = body.value(key::Data);
    if (data.isObject()) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadInt(data.toObject(), key::Type, cmd.iType);
    }

    __SCLOUD_GET_TASK_LIST_INFO_RESULT list;
    memset(&list, 0, sizeof(list));
    m_pOwner->OnGetTaskListInfo(&cmd, &list);
    return SendReply(hdr, func::GetTaskListInfo, BuildTaskListData(list, m_pOwner));
}

int CWylnOwner::HandleGetTaskListInfoResult(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    const QJsonValue data = body.value(key::Data);
    if (!data.isObject())
        return ResultMissingMember;

    __SCLOUD_GET_TASK_LIST_INFO_RESULT list;
    memset(&list, 0, sizeof(list));
    list.sVer = VersionToShort(hdr.qsVersion);
    CTaskListArrays arrays;
    ReadTaskListData(data.toObject(), list, arrays);
    return m_pOwner->OnGetTaskListInfoResult(&list) ? ResultOk : ResultRefused;
}
