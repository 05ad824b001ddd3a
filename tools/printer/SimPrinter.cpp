#include "SimPrinter.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

const struct
{
    const char* name;
    int id;
} kSchemes[] = {{"Standard 600x600", 1}, {"Fine 1200x600", 2}, {"Draft 300x300", 3}};
constexpr int kSchemeCount = 3;
constexpr float kMaxCanvasW = 1200, kMaxCanvasH = 900;
const float kCanvases[][2] = {{600, 400}, {900, 600}, {1200, 900}};
constexpr int kStepsPerCopy = 5;

template <size_t N>
void copyText(char (&dst)[N], const QString& s)
{
    const QByteArray b = s.toUtf8();
    const size_t n = std::min(static_cast<size_t>(b.size()), N - 1);
    std::memcpy(dst, b.constData(), n);
    dst[n] = '\0';
}

template <typename T>
T* allocArray(int n)
{
    return static_cast<T*>(std::calloc(static_cast<size_t>(n > 0 ? n : 1), sizeof(T)));
}

// A file name from a peer, reduced to its last component.
QString safeName(const char* raw)
{
    QString n = QFileInfo(QString::fromUtf8(raw)).fileName();
    if (n.isEmpty() || n == "." || n == "..")
        n = "unnamed.prn";
    return n;
}

} // namespace

SimPrinter::SimPrinter(PrinterOptions o) : o_(std::move(o))
{
    timer_.setInterval(o_.stepMs);
    connect(&timer_, &QTimer::timeout, this, &SimPrinter::printStep);
}

SimPrinter::~SimPrinter()
{
    shutdown();
}

void SimPrinter::say(const QString& text)
{
    std::lock_guard<std::mutex> lock(outMutex_);
    std::fprintf(stdout, "%s printer: %s\n", qPrintable(QTime::currentTime().toString("hh:mm:ss.zzz")),
                 text.toUtf8().constData());
    std::fflush(stdout);
}

int SimPrinter::start()
{
    log_.setFileName(o_.logPath);
    if (!log_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        say("cannot open the log " + o_.logPath);
        return -100;
    }
    if (!QDir().mkpath(o_.filesDir)) {
        say("cannot create the files directory " + o_.filesDir);
        return -100;
    }
    o_.filesDir = QDir(o_.filesDir).absolutePath();
    orlin_ = NewInterface();
    const QByteArray host = o_.host.toUtf8();
    int rc;
    if (o_.useId) {
        char id[260] = {};
        copyText(id, o_.id);
        rc = orlin_->Init(this, host.constData(), o_.port, 0, o_.applyInfo.toUtf8().constData(), id, o_.clientMode);
        id_ = QString::fromUtf8(id);
    } else {
        rc = orlin_->Init(this, host.constData(), o_.port, 0, o_.clientMode);
        id_ = "(assigned by the transport)";
    }
    if (rc != 0) {
        say(QString("Init failed with %1").arg(rc));
        return rc;
    }
    say(QString("online as %1 on %2:%3, files in %4").arg(id_, o_.host).arg(o_.port).arg(o_.filesDir));
    report(1);
    return 0;
}

void SimPrinter::shutdown()
{
    timer_.stop();
    if (orlin_) {
        ReleaseInterface(orlin_);
        orlin_ = nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& t : transfers_)
        if (t.second.file)
            t.second.file->remove();
    transfers_.clear();
}

void SimPrinter::OnLog(const char* szText)
{
    std::lock_guard<std::mutex> lock(logMutex_);
    if (!log_.isOpen())
        return;
    const QByteArray line = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz ").toUtf8()
                            + QByteArray(szText ? szText : "") + '\n';
    log_.write(line);
    log_.flush();
}

void SimPrinter::OnFreeMemory(void* p)
{
    std::free(p);
}

bool SimPrinter::OnRecvPacket(const char* szPeerId, const char*)
{
    say(QString("binary packet from %1").arg(QString::fromUtf8(szPeerId)));
    return true;
}

void SimPrinter::OnGetClient(__SCLOUD_GET_CLIENT* pList)
{
    say(QString("client list: %1 other client(s)").arg(pList->iCount));
}

// ---- tasks -----------------------------------------------------------------

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
        say(QString("add_print_task refused: %1").arg(path));
        return;
    }
    pResult->iTaskId = addTask(path);
    pResult->iCode = 0;
    copyText(pResult->szMsg, "added");
    say(QString("task %1 added: %2").arg(pResult->iTaskId).arg(path));
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
    say(QString("task %1: mode %2, %3 copies").arg(t->id).arg(t->mode).arg(t->copies));
}

bool SimPrinter::OnSetTaskParamResult(__SCLOUD_TASK_RESULT*) { return true; }

void SimPrinter::OnClientShowType(__SCLOUD_CLIENT_SHOW_TYPE*, __SCLOUD_CMD_RESULT* pResult)
{
    copyText(pResult->szMsg, "ok");
}

bool SimPrinter::OnClientShowTypeResult(__SCLOUD_CMD_RESULT*) { return true; }

// ---- printing ----------------------------------------------------------------

bool SimPrinter::OnPrint(__SCLOUD_PRINT_TASK* pTask, __SCLOUD_PRINT_RESULT* pResult)
{
    const QString path = resolvePath(QString::fromUtf8(pTask->szFilePath));
    pResult->iType = pTask->iType;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!QFileInfo(path).isFile()) {
        // Answered with task id 0: nothing was queued.
        say(QString("print refused, no file %1").arg(path));
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
    say(QString("print: task %1 (%2), %3 copies, queued").arg(t->id).arg(t->name).arg(t->copies));
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
    say(QString("task %1 printing (status update %2)").arg(current_.taskId).arg(rc));
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
    say(QString("task %1 printed, %2 copies (status update %3)").arg(current_.taskId).arg(current_.copies).arg(rc));
    runNextJob();
}

// ---- files -----------------------------------------------------------------

int SimPrinter::storeChunk(const __SCLOUD_FILE_TRANSFER& c, QString& finalPath)
{
    const QString name = safeName(c.szFileName);
    finalPath = QDir(o_.filesDir).filePath(name);
    if (c.iTotalChunks < 1 || c.llFileSize < 0 || !c.pData)
        return 4;
    auto it = transfers_.find(name);
    if (it != transfers_.end() && (it->second.total != c.iTotalChunks || it->second.size != c.llFileSize)) {
        it->second.file->remove();
        transfers_.erase(it);
        it = transfers_.end();
    }
    if (it == transfers_.end()) {
        Transfer t;
        t.file = std::make_unique<QFile>(QDir(o_.filesDir).filePath("." + name + ".part"));
        if (!t.file->open(QIODevice::ReadWrite | QIODevice::Truncate))
            return 3;
        t.total = c.iTotalChunks;
        t.size = c.llFileSize;
        it = transfers_.emplace(name, std::move(t)).first;
    }
    Transfer& t = it->second;
    int index = c.iChunkIndex;
    // A sender that puts no "chunk_index" into its chunks (the library's own
    // sender) sends them in order: a repeated index 0 is the next chunk.
    if (index == 0 && t.received.count(0))
        index = static_cast<int>(t.received.size());
    const qint64 offset = index * kChunkBytes;
    const bool last = index == t.total - 1;
    if (index < 0 || index >= t.total || offset + c.iChunkSize > t.size || (!last && c.iChunkSize != kChunkBytes))
        return 4;
    if (!t.file->seek(offset) || t.file->write(reinterpret_cast<const char*>(c.pData), c.iChunkSize) != c.iChunkSize)
        return 3;
    t.received.insert(index);
    if (static_cast<int>(t.received.size()) < t.total)
        return 0;

    std::unique_ptr<QFile> f = std::move(t.file);
    const qint64 size = t.size;
    transfers_.erase(it);
    f->flush();
    if (f->size() != size) {
        say(QString("file %1 has %2 bytes, expected %3: dropped").arg(name).arg(f->size()).arg(size));
        f->remove();
        return 2;
    }
    f->seek(0);
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(f.get());
    f->close();
    QFile::remove(finalPath);
    if (!f->rename(finalPath))
        return 3;
    say(QString("file received: %1 size=%2 md5=%3").arg(finalPath).arg(size).arg(QString(md5.result().toHex())));
    return 0;
}

void SimPrinter::OnFileTransfer(__SCLOUD_FILE_TRANSFER* pChunk, __SCLOUD_FILE_TRANSFER_RESULT* pResult)
{
    QString path;
    int code;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        code = storeChunk(*pChunk, path);
    }
    copyText(pResult->szFilePath, path);
    pResult->iCode = code;
    if (code != 0)
        say(QString("chunk %1/%2 of %3 refused with %4")
                .arg(pChunk->iChunkIndex + 1)
                .arg(pChunk->iTotalChunks)
                .arg(QString::fromUtf8(pChunk->szFileName))
                .arg(code));
}

// ---- device information and commands ---------------------------------------

void SimPrinter::OnLoadParam(__SCLOUD_LOAD_PARAM*, __SCLOUD_LOAD_PARAM_RESULT* pResult)
{
    pResult->iSchemeCount = kSchemeCount;
    pResult->pSchemes = allocArray<__SCLOUD_PRINT_SCHEME>(kSchemeCount);
    for (int i = 0; i < kSchemeCount; ++i) {
        copyText(pResult->pSchemes[i].szPrintSchemeName, kSchemes[i].name);
        pResult->pSchemes[i].iPrintSchemeId = kSchemes[i].id;
    }
    pResult->iCanvasCount = 3;
    pResult->pCanvases = allocArray<__SCLOUD_CANVAS>(3);
    for (int i = 0; i < 3; ++i) {
        pResult->pCanvases[i].fCanvasW = kCanvases[i][0];
        pResult->pCanvases[i].fCanvasH = kCanvases[i][1];
    }
}

void SimPrinter::OnLoadDeviceInfo(__SCLOUD_LOAD_DEVICE_INFO*, __SCLOUD_LOAD_DEVICE_INFO_RESULT* r)
{
    copyText(r->szMbSnId, "SIM-MB-0001-7F3A");
    copyText(r->szMbSerial, "MB2400117");
    copyText(r->szMbLogicVer, "L3.2.1");
    copyText(r->szMbProgramVer, "P5.0.4");
    copyText(r->szConfigureVer, "C1.8");
    copyText(r->szParamterVer, "R2.1");
    copyText(r->szSoftVer, "4.6.0-sim");
    copyText(r->szDevManagerVer, "2.3.1");
    copyText(r->szDataProcessVer, "1.9.7");
    auto card = [](__SCLOUD_CARD_INFO& c, int i, const char* type, const char* hw) {
        c.iIndex = i;
        copyText(c.szCardType, type);
        copyText(c.szLogicType, "FPGA");
        copyText(c.szHardwareType, hw);
        copyText(c.szLogicVer, "1.4." + QString::number(i));
        copyText(c.szMcnVer, "0.9.2");
    };
    r->iHbCount = 2;
    r->pHbInfo = allocArray<__SCLOUD_CARD_INFO>(2);
    card(r->pHbInfo[0], 0, "head-board", "HB-4");
    card(r->pHbInfo[1], 1, "head-board", "HB-4");
    r->iDbCount = 1;
    r->pDbInfo = allocArray<__SCLOUD_CARD_INFO>(1);
    card(r->pDbInfo[0], 0, "drive-board", "DB-2");
}

void SimPrinter::OnCheckBeforePrint(__SCLOUD_CHECK_BEFORE_PRINT* pCmd, __SCLOUD_CMD_RESULT* pResult)
{
    bool known = false;
    for (const auto& s : kSchemes)
        known = known || s.id == pCmd->iPrintSchemeId;
    std::lock_guard<std::mutex> lock(mutex_);
    if (pCmd->dCanvasW <= 0 || pCmd->dCanvasH <= 0 || pCmd->dCanvasW > kMaxCanvasW || pCmd->dCanvasH > kMaxCanvasH) {
        pResult->iCode = 1;
        copyText(pResult->szMsg, QString("canvas %1x%2 outside 1..%3 x 1..%4")
                                     .arg(pCmd->dCanvasW)
                                     .arg(pCmd->dCanvasH)
                                     .arg(kMaxCanvasW)
                                     .arg(kMaxCanvasH));
    } else if (!known) {
        pResult->iCode = 2;
        copyText(pResult->szMsg, QString("unknown print scheme %1").arg(pCmd->iPrintSchemeId));
    } else if (printing_) {
        pResult->iCode = 3;
        copyText(pResult->szMsg, QString("busy printing task %1").arg(current_.taskId));
    } else {
        copyText(pResult->szMsg, "ready");
    }
}

void SimPrinter::OnStatistics(__SCLOUD_STATISTICS* pCmd, __SCLOUD_STATISTICS_RESULT* pResult)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<const PrintRecord*> day;
    for (const auto& r : records_)
        if (r.year == pCmd->iYear && r.month == pCmd->iMonth && r.day == pCmd->iDay)
            day.push_back(&r);
    pResult->iTaskCount = static_cast<int>(day.size());
    if (!day.empty())
        pResult->pTaskInfo = allocArray<__SCLOUD_TASK_STATISTICS>(pResult->iTaskCount);
    for (size_t i = 0; i < day.size(); ++i) {
        auto& s = pResult->pTaskInfo[i];
        copyText(s.szTaskName, day[i]->name);
        s.fPrintArea = day[i]->area;
        s.fPrintLen = day[i]->len;
        // Ink in ml per m² of the four colours.
        s.fK = day[i]->area * 1.8f;
        s.fC = day[i]->area * 1.2f;
        s.fM = day[i]->area * 1.1f;
        s.fY = day[i]->area * 1.0f;
        pResult->fTotalInk += s.fK + s.fC + s.fM + s.fY;
        pResult->fTotalArea += s.fPrintArea;
        pResult->fTotalLen += s.fPrintLen;
    }
}

void SimPrinter::OnUpgrade(__SCLOUD_UPGRADE* pCmd, __SCLOUD_CMD_RESULT* pResult)
{
    pResult->iCode = 1;
    copyText(pResult->szMsg, "upgrades are not simulated");
    say(QString("upgrade type %1 refused").arg(pCmd->iType));
}

void SimPrinter::OnConfigWifiInfo(__SCLOUD_CONFIG_WIFI_INFO*, __SCLOUD_CMD_RESULT* pResult)
{
    copyText(pResult->szMsg, "ok");
}

bool SimPrinter::OnReport(__SCLOUD_UPGRADE_REPORT_PARAM*) { return true; }
bool SimPrinter::OnSig(__SCLOUD_SIG* pCmd)
{
    say(QString("sig %1").arg(pCmd->iSigType));
    return true;
}
void SimPrinter::OnMotorRun(__SCLOUD_MOTOR_RUN* pCmd) { say(QString("motor %1 runs %2").arg(pCmd->iMotor).arg(pCmd->fRunLen)); }
void SimPrinter::OnClean(__SCLOUD_CLEAN* pCmd) { say(QString("cleaning head %1").arg(pCmd->iHeadNum)); }
void SimPrinter::OnLoadInk(__SCLOUD_LOAD_INK* pCmd) { say(QString("loading ink, head %1").arg(pCmd->iHeadNum)); }
void SimPrinter::OnRunMachine(__SCLOUD_RUN_MACHINE* pCmd) { say(QString("run machine %1").arg(pCmd->iType)); }

} // namespace sim
