#include "session/Orlin.h"

#include "session/DeviceStatus.h"
#include "wire/Envelope.h"
#include "wire/Keys.h"
#include "wire/FixedTexts.h"

#include <QTimer>

using namespace orlin;

void Orlin::SendHeartBeatPacket()
{
    if (!m_pWylnClient || !m_pTimer)
        return;

    int age;
    {
        CLinkLock lock(m_stLinkContext);
        // Time of day: after midnight the age is negative, which counts as
        // fresh.
        age = m_stLinkContext.tLastHeartBeat.secsTo(m_stLinkContext.Now());
    }
    const __SCLOUD_UPGRADE_REPORT_PARAM st = _ReportSnapshot();

    if (m_nClientMode == 1 || age <= 10) {
        if (m_nHeartState == -1) {
            m_pTimer->setInterval(3000);
            m_nHeartState = 0;
        } else if (st.iDeviceStatus == 1 && m_nHeartState == 1) {
            m_pTimer->setInterval(3000);
            m_nHeartState = 0;
        } else if (st.iDeviceStatus != 1 && m_nHeartState == 0) {
            m_pTimer->stop();
            m_pTimer->start(1000);
            m_nHeartState = 1;
        }
    } else {
        _Log(say::HeartbeatOvertime);
        if (m_nHeartState != -1)
            m_pTimer->setInterval(10000);
        m_nHeartState = -1;
    }

    QJsonObject header;
    BuildRequestHeader(header, st.sVer, MsgHeartbeat, _SourceId(), value::ServiceId, QString());
    const QByteArray text = ToCompactText(header, BuildHeartbeatBody(st));
    if (m_pWylnClient->Send(text.constData(), kDefaultTimeoutMs) != 0)
        _Log(say::HeartbeatSendFailed);
}

void Orlin::run()
{
    _Log(say::HeartbeatThreadRun);
    if (!m_pTimer)
        m_pTimer = new QTimer(this);
    connect(m_pTimer, &QTimer::timeout, this, &Orlin::SendHeartBeatPacket);
    m_pTimer->start(3000);
    exec();
}
