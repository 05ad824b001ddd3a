#include "messages/GetClient.h"

#include "session/Orlin.h"
#include "wire/Envelope.h"
#include "wire/Keys.h"

#include <QJsonArray>

namespace orlin {

QJsonObject BuildGetClientFilter(const char* szId, const char* szName, int nTypeCount,
                                 const __EM_CLOUD_MODULE_TYPE* pTypes, int nStatus, const char* szIp)
{
    QJsonObject data;
    if (szName && *szName)
        data.insert(key::Name, QString::fromUtf8(szName));
    if (szIp && *szIp)
        data.insert(key::Ip, QString::fromUtf8(szIp));
    if (nStatus != -1)
        data.insert(key::Status, nStatus);
    if (szId && *szId)
        data.insert(key::Id, QString::fromUtf8(szId));
    if (nTypeCount != 0 && pTypes) {
        QJsonArray types;
        for (int i = 0; i < nTypeCount; ++i)
            types.append(static_cast<int>(pTypes[i]));
        data.insert(key::Type, types);
    }
    return data;
}

} // namespace orlin

using namespace orlin;

int Orlin::SendMsgToGetSourceIdFromMsg(const char* const szId, const char* const szName, int nTypeCount,
                                       __EM_CLOUD_MODULE_TYPE* pTypes, int nStatus, const char* szIp,
                                       int nTimeoutMs)
{
    if (!_Ready("SendMsgToGetSourceIdFromMsg"))
        return -1;
    const int ret = _ApplyIdBeforeSend();
    if (ret != 0)
        return _GetErrorCode(ret);

    QJsonObject header;
    BuildRequestHeader(header, 1, MsgRequest, _SourceId(), QString::fromUtf8(szId ? szId : ""), QString());
    QJsonObject body;
    body.insert(key::Func, func::GetClient);
    body.insert(key::Data, BuildGetClientFilter(szId, szName, nTypeCount, pTypes, nStatus, szIp));
    const QByteArray text = ToCompactText(header, body);
    _Log(text);
    return _GetErrorCode(m_pWylnClient->Send(text.constData(), nTimeoutMs));
}
