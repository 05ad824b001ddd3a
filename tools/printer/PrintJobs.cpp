// The print simulation: jobs queued by "print" run one after another on the
// main thread, a timer step at a time, with status reports and task-status
// updates as a real printer sends them.
#include "PrinterCommon.h"
#include "SimPrinter.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>

namespace sim {

bool SimPrinter::OnPrint(__SCLOUD_PRINT_TASK* pTask, __SCLOUD_PRINT_RESULT* pResult)
{
    const QString path = resolvePath(QString::fromUtf8(pTask->szFilePath));
    pResult->iType = pTask->iType;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!QFileInfo(path).isFile()) {
        // Answered with task id 0: nothing was queued.
        say("print_refused", {{"path", path}}, QString("print refused, no file %1").arg(path));
        return true;
    }
    Task* t = findTaskByPath(path);
    if (!t)
        t = findTask(addTask(path));
    if (pTask->iPrintCount > 0)
        t->copies = pTask->iPrintCount;
    for (int i = 0; i < kSchemeCount; ++i)
        if (kSchemes[i].id == pTask->iPrintSchemeId)
            t->mode = i;
    if (pTask->fWorkstationW > 0 && pTask->fWorkstationH > 0) {
        t->w = pTask->fWorkstationW;
        t->h = pTask->fWorkstationH;
    }
    Job j;
    j.taskId = t->id;
    j.key = pTask->iTaskId;
    j.copies = t->copies;
    j.w = static_cast<float>(t->w);
    j.h = static_cast<float>(t->h);
    jobs_.push_back(j);
    pResult->iTaskId = t->id;
    say("print_queued", {{"task_id", t->id}, {"name", t->name}, {"copies", t->copies}},
        QString("print: task %1 (%2), %3 copies, queued").arg(t->id).arg(t->name).arg(t->copies));
    QMetaObject::invokeMethod(this, [this] { runNextJob(); }, Qt::QueuedConnection);
    return true;
}

bool SimPrinter::OnPrintResult(__SCLOUD_PRINT_RESULT*) { return true; }

void SimPrinter::report(int deviceStatus)
{
    __SCLOUD_UPGRADE_REPORT_PARAM r;
    r.iDeviceStatus = deviceStatus;
    r.iConnectStatus = 1;
    copyText(r.szCapacity, "82%");
    std::unique_lock<std::mutex> lock(mutex_);
    if (deviceStatus == 2) {
        const int total = current_.copies * kStepsPerCopy;
        const qint64 span = QDateTime::currentMSecsSinceEpoch() - jobStartMs_;
        r.iTaskId = current_.taskId;
        r.iProgress = total ? step_ * 100 / total : 100;
        r.iPrintStatus = 1;
        r.iPrintDoneCopys = step_ / kStepsPerCopy;
        r.iTotalPrintCopys = current_.copies;
        r.iPrintSpanTime = static_cast<int>(span / 1000);
        r.iPrintRemainTime = step_ ? static_cast<int>(span * (total - step_) / step_ / 1000) : 0;
        const double area = current_.w * current_.h / 1e6 * step_ / kStepsPerCopy;
        copyText(r.szPrintedArea, QString::number(area, 'f', 3) + " m2");
    }
    lock.unlock();
    orlin_->UpgradeReportParam(&r, 0);
}

void SimPrinter::runNextJob()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (printing_ || jobs_.empty())
        return;
    current_ = jobs_.front();
    jobs_.pop_front();
    printing_ = true;
    step_ = 0;
    jobStartMs_ = QDateTime::currentMSecsSinceEpoch();
    if (Task* t = findTask(current_.taskId))
        t->status = 1;
    lock.unlock();
    __SCLOUD_UPGRADE_PRINT_STATUS st{};
    st.sVer = 1;
    st.iTaskId = current_.key;
    st.iStatus = 1;
    const int rc = orlin_->UpgradePrintStatus(&st, 3000);
    say("printing", {{"task_id", current_.taskId}, {"status_update", rc}},
        QString("task %1 printing (status update %2)").arg(current_.taskId).arg(rc));
    report(2);
    timer_.start();
}

void SimPrinter::printStep()
{
    std::unique_lock<std::mutex> lock(mutex_);
    ++step_;
    const bool done = step_ >= current_.copies * kStepsPerCopy;
    lock.unlock();
    report(2);
    if (!done)
        return;
    timer_.stop();
    lock.lock();
    printing_ = false;
    QString name;
    if (Task* t = findTask(current_.taskId)) {
        t->status = 2;
        name = t->name;
    }
    PrintRecord rec;
    rec.name = name;
    const QDate today = QDate::currentDate();
    rec.year = today.year();
    rec.month = today.month();
    rec.day = today.day();
    rec.area = current_.w * current_.h / 1e6f * current_.copies;
    rec.len = current_.h / 1000.0f * current_.copies;
    records_.push_back(rec);
    lock.unlock();
    report(1);
    __SCLOUD_UPGRADE_PRINT_STATUS st{};
    st.sVer = 1;
    st.iTaskId = current_.key;
    st.iStatus = 2;
    const int rc = orlin_->UpgradePrintStatus(&st, 3000);
    say("printed", {{"task_id", current_.taskId}, {"copies", current_.copies}, {"status_update", rc}},
        QString("task %1 printed, %2 copies (status update %3)").arg(current_.taskId).arg(current_.copies).arg(rc));
    runNextJob();
}

} // namespace sim
