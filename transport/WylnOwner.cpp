#include "transport/WylnOwner.h"

#include "wire/Frame.h"
#include "wire/Crc32.h"
#include "wire/Keys.h"
#include "wire/FieldLength.h"
#include "wire/FixedTexts.h"

#include <QJsonDocument>

#include <string.h>

using namespace orlin;

CWylnOwner::CWylnOwner()
    : m_pOwner(nullptr), m_pWylnClient(nullptr), m_pLinkContext(nullptr), m_stPeerParam(), m_szPeerId()
{
}

CWylnOwner::~CWylnOwner() = default;

int CWylnOwner::Attach(IOrlinOwner* pOwner, IWylnClient* pClient, __SCLOUD_LINK_CONTEXT* pLinkContext)
{
    if (!pOwner || !pClient)
        return -1;
    std::lock_guard<std::recursive_mutex> lock(m_mtxAttach);
    m_pOwner = pOwner;
    m_pWylnClient = pClient;
    m_pLinkContext = pLinkContext;
    return 0;
}

void CWylnOwner::Detach()
{
    std::lock_guard<std::recursive_mutex> lock(m_mtxAttach);
    m_pOwner = nullptr;
    m_pWylnClient = nullptr;
    m_pLinkContext = nullptr;
    orlin::PageBytes().swap(m_vChunkBytes);
}

void CWylnOwner::Log(const char* szText) const
{
    if (m_pOwner)
        m_pOwner->OnLog(szText);
}

void CWylnOwner::Log(const QByteArray& text) const
{
    Log(text.constData());
}

void CWylnOwner::Log(const QString& qsText) const
{
    Log(qsText.toUtf8());
}

void CWylnOwner::OnRecv(const char* pData, int nLen, const char* szPeerId, const char* szPeerName)
{
    std::lock_guard<std::recursive_mutex> lock(m_mtxAttach);
    // A transport that delivers before Attach or after Detach has nobody to
    // deliver to.
    if (!m_pWylnClient || !m_pOwner)
        return;
    m_pWylnClient->NotifyRecv(pData, nLen, szPeerId);
    if (!pData) {
        Log(say::NullData);
        return;
    }

    memset(m_szPeerId, 0, sizeof(m_szPeerId));
    if (szPeerId)
        memcpy(m_szPeerId, szPeerId, FieldLength(szPeerId, sizeof(m_szPeerId) - 1));

    if (!HasFrameMagic(pData, nLen)) {
        OnRecvJson(pData, nLen);
        return;
    }
    if (nLen < static_cast<int>(kFrameHeaderLen)) {
        Log(say::FrameTooShort);
        return;
    }
    const FrameHeader h = ReadFrameHeader(pData);
    const unsigned int nPayload = static_cast<unsigned int>(nLen) - kFrameHeaderLen;
    if (h.nPayloadLen != nPayload) {
        Log(say::FrameLengthFailed);
        return;
    }
    if (Crc32(pData + kFrameHeaderLen, nPayload) != h.nCrc) {
        Log(say::CrcFailed);
        return;
    }
    Log(QString::fromLatin1(say::FrameReceived)
            .arg(QString::fromUtf8(m_szPeerId), szPeerName ? QString::fromUtf8(szPeerName) : QString(),
                 QString::number(h.wCmdVer), QString::number(h.wCmdType)));
    if (h.wCmdVer == 0 && h.wCmdType == 1) {
        if (!m_pOwner->OnRecvPacket(szPeerId, pData + kFrameHeaderLen))
            Log(QByteArray(say::PacketRefused) + QByteArray::number(ResultRefused));
    }
}

int CWylnOwner::SendReply(const SCloudMsgHeader& hdr, QLatin1String func, const JsonText& data, bool bLog)
{
    const QByteArray text = ReplyText(hdr, func, data);
    if (bLog)
        Log(text);
    return m_pWylnClient->SendTo(m_szPeerId, text.constData(), text.size(), kDefaultTimeoutMs);
}
