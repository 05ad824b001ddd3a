// Families not built yet: print tasks, task list, task parameters, display
// type, task status, and the inbound client list. Each entry leaves this file
// when its family is built.
#include "session/Orlin.h"

using namespace orlin;

int CWylnOwner::HandleGetClient(const QJsonObject&) { return 0; }
int CWylnOwner::HandlePrint(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandlePrintResult(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleAddPrintTask(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleAddPrintTaskResult(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleGetTaskListInfo(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleGetTaskListInfoResult(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleSetTaskParam(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleSetTaskParamResult(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleClientShowType(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleClientShowTypeResult(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::RegisterPeerTask(const std::string&, int nTaskId) { return nTaskId; }
int Orlin::StartPrintingTask(const char*, __SCLOUD_PRINT_TASK*, int) { return _Ready("StartPrintingTask") ? -1 : -1; }
int Orlin::UpgradePrintStatus(__SCLOUD_UPGRADE_PRINT_STATUS*, int) { return _Ready("UpgradePrintStatus") ? -1 : -1; }
