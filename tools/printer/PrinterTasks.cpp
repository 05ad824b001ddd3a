// The printer's task list: tasks added from received files, listed, and
// their print parameters changed.
#include "PrinterCommon.h"
#include "SimPrinter.h"

#include <QDir>
#include <QFileInfo>

namespace sim {

Task* SimPrinter::findTask(int id)
{
    for (auto& t : tasks_)
        if (t.id == id)
            return &t;
    return nullptr;
}

Task* SimPrinter::findTaskByPath(const QString& path)
{
    for (auto it = tasks_.rbegin(); it != tasks_.rend(); ++it)
        if (it->path == path && it->status != 2)
            return &*it;
    return nullptr;
}

QString SimPrinter::resolvePath(const QString& path) const
{
    const QFileInfo fi(QDir(o_.filesDir), path);
    return fi.absoluteFilePath();
}

int SimPrinter::addTask(const QString& path)
{
    Task t;
    t.id = nextTaskId_++;
    t.path = path;
    t.name = QFileInfo(path).fileName();
    tasks_.push_back(t);
    return t.id;
}

void SimPrinter::OnAddPrintTask(__SCLOUD_ADD_PRINT_TASK* pCmd, __SCLOUD_TASK_RESULT* pResult)
{
    const QString path = resolvePath(QString::fromUtf8(pCmd->szFilePath));
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pCmd->szFilePath[0] || !QFileInfo(path).isFile()) {
        pResult->iCode = 1;
        copyText(pResult->szMsg, "file not found: " + QString::fromUtf8(pCmd->szFilePath));
        say("task_refused", {{"path", path}}, QString("add_print_task refused: %1").arg(path));
        return;
    }
    pResult->iTaskId = addTask(path);
    pResult->iCode = 0;
    copyText(pResult->szMsg, "added");
    say("task_added", {{"task_id", pResult->iTaskId}, {"path", path}},
        QString("task %1 added: %2").arg(pResult->iTaskId).arg(path));
}

bool SimPrinter::OnAddPrintTaskResult(__SCLOUD_TASK_RESULT*) { return true; }

void SimPrinter::OnGetTaskListInfo(__SCLOUD_GET_TASK_LIST_INFO*, __SCLOUD_GET_TASK_LIST_INFO_RESULT* pResult)
{
    std::lock_guard<std::mutex> lock(mutex_);
    int waiting = 0, printed = 0;
    for (const auto& t : tasks_)
        (t.status == 2 ? printed : waiting)++;
    pResult->iPrintTaskCount = waiting;
    pResult->iHistoryTaskCount = printed;
    if (waiting > 0)
        pResult->pPrintTaskInfo = allocArray<__SCLOUD_PRINT_TASK_INFO>(waiting);
    if (printed > 0)
        pResult->pHistoryTaskInfo = allocArray<__SCLOUD_HISTORY_TASK_INFO>(printed);
    int wi = 0, hi = 0;
    for (const auto& t : tasks_) {
        if (t.status != 2) {
            auto& e = pResult->pPrintTaskInfo[wi];
            e.iTaskId = t.id;
            e.iTaskIndex = wi++;
            e.iPrintModeCount = kSchemeCount;
            e.pPrintMode = allocArray<__SCLOUD_PRINT_MODE>(kSchemeCount);
            for (int m = 0; m < kSchemeCount; ++m) {
                copyText(e.pPrintMode[m].szName, kSchemes[m].name);
                e.pPrintMode[m].iIndex = m;
            }
            e.iCurMode = t.mode;
            e.iTaskStatus = t.status;
            e.iPrintCopys = t.copies;
            e.dPrintH = e.dTaskH = t.h;
            e.dPrintW = e.dTaskW = t.w;
            copyText(e.szTaskName, t.name);
        } else {
            auto& e = pResult->pHistoryTaskInfo[hi];
            e.iTaskId = t.id;
            e.iTaskIndex = hi++;
            copyText(e.szPrintMode, kSchemes[t.mode].name);
            e.iTaskStatus = t.status;
            e.dPrintH = e.dTaskH = t.h;
            e.dPrintW = e.dTaskW = t.w;
            copyText(e.szTaskName, t.name);
        }
    }
}

bool SimPrinter::OnGetTaskListInfoResult(__SCLOUD_GET_TASK_LIST_INFO_RESULT*) { return true; }

void SimPrinter::OnSetTaskParam(__SCLOUD_SET_TASK_PARAM* pCmd, __SCLOUD_TASK_RESULT* pResult)
{
    std::lock_guard<std::mutex> lock(mutex_);
    pResult->iTaskId = pCmd->iTaskId;
    Task* t = findTask(pCmd->iTaskId);
    if (!t || t->status != 0) {
        pResult->iCode = 1;
        copyText(pResult->szMsg, t ? "task is not waiting" : "no such task");
        return;
    }
    if (pCmd->iPrintModeIndex != -2 && (pCmd->iPrintModeIndex < 0 || pCmd->iPrintModeIndex >= kSchemeCount)) {
        pResult->iCode = 2;
        copyText(pResult->szMsg, "no such print mode");
        return;
    }
    if (pCmd->iPrintCopys != -2 && pCmd->iPrintCopys < 1) {
        pResult->iCode = 3;
        copyText(pResult->szMsg, "copies must be at least 1");
        return;
    }
    if (pCmd->iPrintModeIndex != -2)
        t->mode = pCmd->iPrintModeIndex;
    if (pCmd->iPrintCopys != -2)
        t->copies = pCmd->iPrintCopys;
    copyText(pResult->szMsg, "ok");
    say("task_params", {{"task_id", t->id}, {"mode", t->mode}, {"copies", t->copies}},
        QString("task %1: mode %2, %3 copies").arg(t->id).arg(t->mode).arg(t->copies));
}

bool SimPrinter::OnSetTaskParamResult(__SCLOUD_TASK_RESULT*) { return true; }

void SimPrinter::OnClientShowType(__SCLOUD_CLIENT_SHOW_TYPE*, __SCLOUD_CMD_RESULT* pResult)
{
    copyText(pResult->szMsg, "ok");
}

bool SimPrinter::OnClientShowTypeResult(__SCLOUD_CMD_RESULT*) { return true; }

} // namespace sim
