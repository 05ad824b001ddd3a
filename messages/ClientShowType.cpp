#include "messages/ClientShowType.h"

#include "messages/HostResult.h"
#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"

#include <string.h>

namespace orlin {

void ReadClientShowTypeResult(const QJsonObject& data, __SCLOUD_CMD_RESULT& result)
{
    ReadInt(data, key::Code, result.iCode);
    ReadText(data, key::Msg, result.szMsg);
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleClientShowType(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_CLIENT_SHOW_TYPE cmd;
    memset(&cmd, 0, sizeof(cmd));
    QJsonObject data;
    if (DataObject(body, data)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadInt(data, key::Type, cmd.iType);
    }

    __SCLOUD_CMD_RESULT result;
    memset(&result, 0, sizeof(result));
    m_pOwner->OnClientShowType(&cmd, &result);
    return SendReply(hdr, func::ClientShowType, CmdResultData(result));
}

int CWylnOwner::HandleClientShowTypeResult(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    QJsonObject data;
    if (!DataObject(body, data))
        return ResultMissingMember;
    __SCLOUD_CMD_RESULT result;
    memset(&result, 0, sizeof(result));
    result.sVer = VersionToShort(hdr.qsVersion);
    ReadClientShowTypeResult(data, result);
    return m_pOwner->OnClientShowTypeResult(&result) ? ResultOk : ResultRefused;
}
