// Device information, print parameters, statistics and the machine commands
// the simulation only acknowledges.
#include "PrinterCommon.h"
#include "SimPrinter.h"

namespace sim {

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
    say("upgrade_refused", {{"type", pCmd->iType}}, QString("upgrade type %1 refused").arg(pCmd->iType));
}

void SimPrinter::OnConfigWifiInfo(__SCLOUD_CONFIG_WIFI_INFO*, __SCLOUD_CMD_RESULT* pResult)
{
    copyText(pResult->szMsg, "ok");
}

bool SimPrinter::OnReport(__SCLOUD_UPGRADE_REPORT_PARAM*) { return true; }
bool SimPrinter::OnSig(__SCLOUD_SIG* pCmd)
{
    say("sig", {{"sig_type", pCmd->iSigType}}, QString("sig %1").arg(pCmd->iSigType));
    return true;
}
void SimPrinter::OnMotorRun(__SCLOUD_MOTOR_RUN* pCmd)
{
    say("motor_run", {{"motor", pCmd->iMotor}, {"run_len", pCmd->fRunLen}},
        QString("motor %1 runs %2").arg(pCmd->iMotor).arg(pCmd->fRunLen));
}

void SimPrinter::OnClean(__SCLOUD_CLEAN* pCmd)
{
    say("clean", {{"head", pCmd->iHeadNum}}, QString("cleaning head %1").arg(pCmd->iHeadNum));
}

void SimPrinter::OnLoadInk(__SCLOUD_LOAD_INK* pCmd)
{
    say("load_ink", {{"head", pCmd->iHeadNum}}, QString("loading ink, head %1").arg(pCmd->iHeadNum));
}

void SimPrinter::OnRunMachine(__SCLOUD_RUN_MACHINE* pCmd)
{
    say("run_machine", {{"type", pCmd->iType}}, QString("run machine %1").arg(pCmd->iType));
}

} // namespace sim
