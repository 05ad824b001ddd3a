// The session: one per host connection. Hosts see only IOrlin; the class is
// exported whole so that its binary face (meta-object, virtual tables,
// members) stays stable across builds.
#pragma once

#include "IOrlin.h"
#include "session/LinkContext.h"
#include "transport/WylnOwner.h"

#include <QObject>
#include <QThread>

#include <mutex>
#include <vector>

class QTimer;

Q_DECLARE_INTERFACE(IOrlin, "IOrlin")

class ORLIN_EXPORT Orlin : public QThread, public IOrlin
{
    Q_OBJECT
    Q_INTERFACES(IOrlin)

public:
    Orlin();
    ~Orlin() override;

    int Init(IOrlinOwner* pOwner, const char* szHost, int nPort, int nLoginParam, int nClientMode) override;
    int Init(IOrlinOwner* pOwner, const char* szHost, int nPort, int nLoginParam, const char* const szApplyInfo,
             char* const szId, int nClientMode) override;
    int SendData(const char* szTargetId, const char* pData, int nLen, int nTimeoutMs) override;
    int StartPrintingTask(const char* szTargetId, __SCLOUD_PRINT_TASK* pTask, int nTimeoutMs) override;
    int SendPrintPrnFile(const char* szTargetId, __SCLOUD_SEND_PRN* pSendPrnParam, int nTimeoutMs) override;
    int SendMsgToGetSourceIdFromMsg(const char* const szId, const char* const szName, int nTypeCount,
                                    __EM_CLOUD_MODULE_TYPE* pTypes, int nStatus, const char* szIp,
                                    int nTimeoutMs) override;
    int UpgradeReportParam(__SCLOUD_UPGRADE_REPORT_PARAM* pReportParam, int nReserved) override;
    int UpgradePrintStatus(__SCLOUD_UPGRADE_PRINT_STATUS* pStatus, int nTimeoutMs) override;

    // Stops the heartbeat and releases the transport client and factory.
    // Always returns 0; a second call does nothing.
    int Exit();

public slots:
    void SendHeartBeatPacket();
    void SendReportInfo(std::vector<SCLOUD_ERROR_INFO> vecErrInfo);

protected:
    void run() override;

private:
    int _CreatPackage(char* pBuf, unsigned int nBufLen, const char* pPayload, unsigned short wCmdType);
    int _GetErrorCode(int iRetErrCode);
    int _LoadWlynDll();

    // Logs through the host, when there is one.
    void _Log(const char* szText) const;
    void _Log(const QByteArray& text) const;
    // False, with one log line, before a successful Init.
    bool _Ready(const char* szOperation) const;
    // The senders' first step: in client mode 1 a new identifier is applied
    // for. 0, or the mapped code of a refused application.
    int _ApplyIdBeforeSend();
    // The senders' last step: {"body": {"data", "func"}, "header"} as compact
    // text, handed to OnLog, sent with SendTo(szTargetId) when bAddressed,
    // else with Send, and the transport's result mapped.
    int _SendRequest(const QJsonObject& header, QLatin1String func, const QJsonValue& data, bool bAddressed,
                     const char* szTargetId, int nTimeoutMs);
    // Loads the plug-in, connects and attaches the receive sink: 0, 12 or a
    // mapped code.
    int _OpenTransport(const char* szHost, int nPort);
    void _StartHeartbeat();
    QString _SourceId() const;
    __SCLOUD_UPGRADE_REPORT_PARAM _ReportSnapshot() const;

    int m_nLoginParam;
    int m_nClientMode;
    PFN_WYLN_RELEASE_INTERFACE m_pfnReleaseInterface;
    IWylnCreator* m_pWylnCreator;
    CWylnOwner m_oWylnOwner;
    IOrlinOwner* m_pOwner;
    IWylnClient* m_pWylnClient;
    QTimer* m_pTimer;
    int m_nHeartState;
    __SCLOUD_LINK_CONTEXT m_stLinkContext;
    __SCLOUD_UPGRADE_REPORT_PARAM m_stReportParam;
    char m_szSourceId[260];
    char m_szApplyInfo[260];

    // True from a successful login until Exit: the operations need a client
    // that finished Init.
    bool m_bReady;

    // Guards m_stReportParam and m_szSourceId, which the heartbeat and the
    // senders copy whole.
    mutable std::mutex m_mtxState;

    // SendPrintPrnFile's chunk text, kept from one file to the next: the
    // Windows heap maps every block of megabytes anew, each paid again in
    // page faults. Released by Exit.
    std::vector<char> m_vChunkText;

    friend class OrlinTestAccess;
};
