// Inbound heartbeats: the peer's status and the time it was last heard.
#include "session/DeviceStatus.h"
#include "session/LinkContext.h"
#include "transport/WylnOwner.h"
#include "wire/Keys.h"

using namespace orlin;

int CWylnOwner::HandleHeartBeat(const QJsonObject& body)
{
    const auto it = body.constFind(key::Message);
    if (it != body.constEnd())
        Log(it.value().toString());
    ApplyHeartbeatBody(body, m_stPeerParam);
    if (m_pLinkContext) {
        CLinkLock lock(*m_pLinkContext);
        m_pLinkContext->tLastHeartBeat = m_pLinkContext->Now();
    }
    m_pOwner->OnReport(&m_stPeerParam);
    return ResultOk;
}
