#include "messages/GetClient.h"

#include "session/Orlin.h"
#include "wire/Envelope.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"
#include "wire/FieldLength.h"
#include "wire/FixedTexts.h"

#include <QJsonArray>

#include <string.h>
#include <vector>

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

void ReadClientRecord(const QJsonObject& record, __SCLOUD_CLIENT_INFO& client)
{
    ReadInt(record, key::Type, client.iType);
    ReadInt(record, key::Status, client.iStatus);
    ReadTextFull(record, key::Id, client.szId);
    ReadTextFull(record, key::Name, client.szName);
    ReadTextFull(record, key::CreateTime, client.szCreateTime);
    ReadTextFull(record, key::UpdateTime, client.szUpdateTime);
}

} // namespace orlin

using namespace orlin;

int Orlin::SendMsgToGetSourceIdFromMsg(const char* const szId, const char* const szName, int nTypeCount,
                                       __EM_CLOUD_MODULE_TYPE* pTypes, int nStatus, const char* szIp,
                                       int nTimeoutMs)
{
    if (!_Ready("SendMsgToGetSourceIdFromMsg"))
        return -1;
    if (const int ret = _ApplyIdBeforeSend())
        return ret;

    QJsonObject header;
    BuildRequestHeader(header, 1, MsgRequest, _SourceId(), QString::fromUtf8(szId ? szId : ""), QString());
    return _SendRequest(header, func::GetClient, BuildGetClientFilter(szId, szName, nTypeCount, pTypes, nStatus, szIp),
                        false, nullptr, nTimeoutMs);
}

int CWylnOwner::HandleGetClient(const QJsonObject& body)
{
    const auto msg = body.constFind(key::Message);
    if (msg != body.constEnd() && msg.value().toString() != value::Success) {
        Log(say::GetClientFailed);
        return ResultPeerFailed;
    }

    const QJsonValue data = body.value(key::Data);
    QJsonArray records;
    if (data.isArray())
        records = data.toArray();
    else
        records.append(data);

    std::vector<__SCLOUD_CLIENT_INFO> vecClients;
    for (const QJsonValue& v : records) {
        __SCLOUD_CLIENT_INFO client;
        memset(&client, 0, sizeof(client));
        ReadClientRecord(v.toObject(), client);
        if (client.iType != EM_CLOUD_MODULE_SERVICE) {
            vecClients.push_back(client);
            continue;
        }
        // The service is not listed: it becomes the receiver of task-status
        // updates, which the host's thread reads under the same lock.
        if (m_pLinkContext) {
            CLinkLock lock(*m_pLinkContext);
            m_pLinkContext->strTargetId.assign(client.szId, FieldLength(client.szId, sizeof(client.szId)));
        }
    }

    __SCLOUD_GET_CLIENT list;
    memset(&list, 0, sizeof(list));
    list.sVer = 1;
    list.iCount = static_cast<int32_t>(vecClients.size());
    list.pClients = vecClients.empty() ? nullptr : vecClients.data();
    m_pOwner->OnGetClient(&list);
    return ResultOk;
}
