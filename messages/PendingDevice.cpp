// Families not built yet: machine actions, print parameters, device
// information, pre-print check, Wi-Fi, statistics and upgrade. Each entry
// leaves this file when its family is built.
#include "session/Orlin.h"

using namespace orlin;

int CWylnOwner::HandleMotorRun(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleClean(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleLoadInk(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleRunMachine(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleSig(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleLoadParam(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleLoadDeviceInfo(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleCheckBeforePrint(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleConfigWifiInfo(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleStatistics(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleUpgrade(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
