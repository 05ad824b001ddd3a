#include "messages/Upgrade.h"

#include "messages/HostResult.h"
#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"
#include "wire/FixedTexts.h"

namespace orlin {

__SCLOUD_UPGRADE ReadUpgrade(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_UPGRADE cmd = {};
    QJsonObject rec;
    if (FirstDataRecord(body, rec)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadTextFull(rec, key::FilePath, cmd.szFilePath);
        ReadInt(rec, key::Type, cmd.iType);
    }
    return cmd;
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleUpgrade(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    if (body.value(key::Data).isArray())
        Log(say::UpgradeArray);
    __SCLOUD_UPGRADE cmd = ReadUpgrade(body, hdr);
    __SCLOUD_CMD_RESULT result = {};
    m_pOwner->OnUpgrade(&cmd, &result);
    return SendReply(hdr, func::Upgrade, CmdResultData(result, key::RetType));
}
