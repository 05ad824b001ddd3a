#include "session/Orlin.h"

#include "wire/Frame.h"
#include "wire/Keys.h"
#include "wire/FieldLength.h"
#include "wire/FixedTexts.h"

#include <QAbstractEventDispatcher>
#include <QTimer>

#include <stdio.h>
#include <string.h>

using namespace orlin;

namespace {

// Copies at most 259 characters and a terminating zero.
void CopyId(char (&dst)[260], const char* src)
{
    memset(dst, 0, sizeof(dst));
    if (src)
        memcpy(dst, src, FieldLength(src, sizeof(dst) - 1));
}

} // namespace

Orlin::Orlin()
    : QThread(nullptr), m_nLoginParam(0), m_nClientMode(0), m_pfnReleaseInterface(nullptr), m_pWylnCreator(nullptr),
      m_oWylnOwner(), m_pOwner(nullptr), m_pWylnClient(nullptr), m_pTimer(nullptr), m_nHeartState(0),
      m_stLinkContext(), m_stReportParam(), m_szSourceId(), m_szApplyInfo(), m_bReady(false)
{
}

Orlin::~Orlin()
{
    Exit();
}

void Orlin::_Log(const char* szText) const
{
    if (m_pOwner)
        m_pOwner->OnLog(szText);
}

void Orlin::_Log(const QByteArray& text) const
{
    _Log(text.constData());
}

bool Orlin::_Ready(const char* szOperation) const
{
    if (m_bReady)
        return true;
    _Log(QByteArray(szOperation) + say::NotInitialised);
    return false;
}

QString Orlin::_SourceId() const
{
    std::lock_guard<std::mutex> lock(m_mtxState);
    return QString::fromUtf8(m_szSourceId);
}

__SCLOUD_UPGRADE_REPORT_PARAM Orlin::_ReportSnapshot() const
{
    std::lock_guard<std::mutex> lock(m_mtxState);
    return m_stReportParam;
}

int Orlin::_ApplyIdBeforeSend()
{
    if (m_nClientMode == 0)
        return 0;
    // The transport writes into a private buffer, so the heartbeat never
    // reads a half-written identifier.
    char szId[260];
    {
        std::lock_guard<std::mutex> lock(m_mtxState);
        memcpy(szId, m_szSourceId, sizeof(szId));
    }
    const int ret = m_pWylnClient->ApplyId(m_szApplyInfo, szId, m_nLoginParam);
    if (ret != 0)
        return _GetErrorCode(ret);
    szId[sizeof(szId) - 1] = 0;
    std::lock_guard<std::mutex> lock(m_mtxState);
    memcpy(m_szSourceId, szId, sizeof(szId));
    return 0;
}

int Orlin::_SendRequest(const QJsonObject& header, QLatin1String func, const QJsonValue& data, bool bAddressed,
                        const char* szTargetId, int nTimeoutMs)
{
    QJsonObject body;
    body.insert(key::Func, func);
    body.insert(key::Data, data);
    const QByteArray text = ToCompactText(header, body);
    _Log(text);
    return _GetErrorCode(bAddressed ? m_pWylnClient->SendTo(szTargetId, text.constData(), text.size(), nTimeoutMs)
                                    : m_pWylnClient->Send(text.constData(), nTimeoutMs));
}

void Orlin::_StartHeartbeat()
{
    // Qt only warns on its debug channel when a timer cannot run here; the
    // host hears it from us.
    if (!QAbstractEventDispatcher::instance(QThread::currentThread()))
        _Log("Init: no Qt event loop on this thread, heartbeats will not be sent");
    if (!m_pTimer) {
        m_pTimer = new QTimer(this);
        connect(m_pTimer, &QTimer::timeout, this, &Orlin::SendHeartBeatPacket, Qt::AutoConnection);
    }
    m_nHeartState = 0;
    m_pTimer->start(3000);
}

int Orlin::_OpenTransport(const char* szHost, int nPort)
{
    const int ret = _LoadWlynDll();
    if (ret != 0)
        return ret;
    int code = m_pWylnClient->Connect(szHost, nPort);
    if (code == 0)
        code = m_oWylnOwner.Attach(m_pOwner, m_pWylnClient, &m_stLinkContext);
    return code == 0 ? 0 : _GetErrorCode(code);
}

int Orlin::Init(IOrlinOwner* pOwner, const char* szHost, int nPort, int nLoginParam, int nClientMode)
{
    // A second Init starts from a clean slate: one client, one timer.
    Exit();
    m_pOwner = pOwner;
    if (!pOwner)
        return 11;
    m_nClientMode = nClientMode;
    m_nLoginParam = nLoginParam;

    int ret = _OpenTransport(szHost, nPort);
    if (ret != 0)
        return ret;

    char szId[260] = {0};
    ret = m_pWylnClient->Login(szId, &m_oWylnOwner, nLoginParam);
    if (ret != 0)
        return _GetErrorCode(ret);

    m_bReady = true;
    _StartHeartbeat();
    char szSource[260];
    snprintf(szSource, sizeof(szSource), "%s:%d", szHost ? szHost : "", nPort);
    {
        std::lock_guard<std::mutex> lock(m_mtxState);
        CopyId(m_szSourceId, szSource);
    }
    return 0;
}

int Orlin::Init(IOrlinOwner* pOwner, const char* szHost, int nPort, int nLoginParam, const char* const szApplyInfo,
                char* const szIdArg, int nClientMode)
{
    Exit();
    // A host that passes no buffer gets the identifier the transport assigns.
    char szLocalId[260] = {0};
    char* const szId = szIdArg ? szIdArg : szLocalId;
    m_pOwner = pOwner;
    if (!pOwner)
        return 11;
    m_nClientMode = nClientMode;
    m_nLoginParam = nLoginParam;
    CopyId(m_szApplyInfo, szApplyInfo);

    int ret = _OpenTransport(szHost, nPort);
    if (ret != 0)
        return ret;

    if (m_nClientMode == 0 && szId[0] == 0) {
        ret = m_pWylnClient->ApplyId(szApplyInfo, szId, nLoginParam);
        if (ret != 0)
            return _GetErrorCode(ret);
    }
    ret = m_pWylnClient->Login(szId, &m_oWylnOwner, nLoginParam);
    if (ret == 8) {
        _Log(say::ReapplyId);
        ret = m_pWylnClient->ApplyId(szApplyInfo, szId, nLoginParam);
        if (ret != 0)
            return _GetErrorCode(ret);
        ret = m_pWylnClient->Login(szId, &m_oWylnOwner, nLoginParam);
    }
    if (ret != 0)
        return _GetErrorCode(ret);
    {
        std::lock_guard<std::mutex> lock(m_mtxState);
        CopyId(m_szSourceId, szId);
    }
    m_bReady = true;

    __EM_CLOUD_MODULE_TYPE eType = EM_CLOUD_MODULE_SERVICE;
    ret = SendMsgToGetSourceIdFromMsg("", "", 1, &eType, 1, "", kDefaultTimeoutMs);
    if (ret != 0) {
        _GetErrorCode(ret);
        m_bReady = false;
        return -1;
    }
    _StartHeartbeat();
    return 0;
}

int Orlin::SendData(const char* szTargetId, const char* pData, int nLen, int nTimeoutMs)
{
    if (!_Ready("SendData"))
        return -1;
    const int ret = szTargetId ? m_pWylnClient->SendTo(szTargetId, pData, nLen, nTimeoutMs)
                               : m_pWylnClient->Send(pData, nTimeoutMs);
    return _GetErrorCode(ret);
}

int Orlin::Exit()
{
    m_bReady = false;
    if (m_pTimer) {
        m_pTimer->stop();
        delete m_pTimer;
        m_pTimer = nullptr;
    }
    // Waits for a packet being handled; later deliveries find no client.
    m_oWylnOwner.Detach();
    std::vector<char>().swap(m_vChunkText);
    if (m_pWylnCreator) {
        if (m_pWylnClient) {
            m_pWylnCreator->DestroyClient(m_pWylnClient);
            m_pWylnClient = nullptr;
        }
        if (m_pfnReleaseInterface) {
            m_pfnReleaseInterface(m_pWylnCreator);
            m_pWylnCreator = nullptr;
        }
    }
    return 0;
}

int Orlin::_CreatPackage(char* pBuf, unsigned int nBufLen, const char* pPayload, unsigned short wCmdType)
{
    return BuildFrame(pBuf, nBufLen, pPayload, wCmdType, static_cast<uint16_t>(m_nLoginParam & 0xFFFF));
}
