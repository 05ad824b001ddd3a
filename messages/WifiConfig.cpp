#include "messages/WifiConfig.h"

#include "messages/HostResult.h"
#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"

namespace orlin {

__SCLOUD_CONFIG_WIFI_INFO ReadConfigWifiInfo(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_CONFIG_WIFI_INFO cmd = {};
    QJsonObject rec;
    if (DataObject(body, rec)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadTextFull(rec, key::Name, cmd.szName);
        ReadTextFull(rec, key::Password, cmd.szPassword);
        ReadTextFull(rec, key::IpInWifi, cmd.szIpInWifi);
    }
    return cmd;
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleConfigWifiInfo(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_CONFIG_WIFI_INFO cmd = ReadConfigWifiInfo(body, hdr);
    __SCLOUD_CMD_RESULT result = {};
    m_pOwner->OnConfigWifiInfo(&cmd, &result);
    return SendReply(hdr, func::ConfigWifiInfo, CmdResultData(result));
}
