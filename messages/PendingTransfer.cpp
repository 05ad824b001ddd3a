// Families not built yet: file transfer and device reports. Each entry
// leaves this file when its family is built.
#include "session/Orlin.h"

using namespace orlin;

int CWylnOwner::HandleFileTransfer(const QJsonObject&, const SCloudMsgHeader&) { return 0; }
int CWylnOwner::HandleReport(const QJsonObject&) { return 0; }
int Orlin::SendPrintPrnFile(const char*, __SCLOUD_SEND_PRN*, int) { return _Ready("SendPrintPrnFile") ? -1 : -1; }
int Orlin::UpgradeReportParam(__SCLOUD_UPGRADE_REPORT_PARAM*, int) { return _Ready("UpgradeReportParam") ? -1 : -1; }
void Orlin::SendReportInfo(std::vector<SCLOUD_ERROR_INFO>) {}
