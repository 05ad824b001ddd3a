#include "messages/DeviceInfo.h"

#include "messages/HostResult.h"
#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"

namespace orlin {
namespace {

QJsonObject CardJson(const __SCLOUD_CARD_INFO& c)
{
    QJsonObject o;
    o.insert(key::Index, c.iIndex);
    o.insert(key::CardType, FieldText(c.szCardType));
    o.insert(key::LogicType, FieldText(c.szLogicType));
    o.insert(key::HardwareType, FieldText(c.szHardwareType));
    o.insert(key::LogicVer, FieldText(c.szLogicVer));
    o.insert(key::McnVer, FieldText(c.szMcnVer));
    return o;
}

void InsertCards(QJsonObject& data, QLatin1String name, const __SCLOUD_CARD_INFO* p, int32_t nCount)
{
    if (nCount > 0 && p)
        data.insert(name, HostArray(p, nCount, CardJson));
}

} // namespace

__SCLOUD_LOAD_DEVICE_INFO ReadLoadDeviceInfo(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_LOAD_DEVICE_INFO cmd = {};
    QJsonObject rec;
    if (FirstDataRecord(body, rec)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadInt(rec, key::InfoType, cmd.iInfoType);
    }
    return cmd;
}

QJsonObject BuildLoadDeviceInfoData(const __SCLOUD_LOAD_DEVICE_INFO_RESULT& r)
{
    QJsonObject mb;
    mb.insert(key::MbSnId, FieldText(r.szMbSnId));
    mb.insert(key::MbSerial, FieldText(r.szMbSerial));
    mb.insert(key::MbLogicVer, FieldText(r.szMbLogicVer));
    mb.insert(key::MbProgramVer, FieldText(r.szMbProgramVer));
    mb.insert(key::ConfigureVer, FieldText(r.szConfigureVer));
    mb.insert(key::ParamterVer, FieldText(r.szParamterVer));
    QJsonObject soft;
    soft.insert(key::SoftVer, FieldText(r.szSoftVer));
    soft.insert(key::DevManagerVer, FieldText(r.szDevManagerVer));
    soft.insert(key::DataProcessVer, FieldText(r.szDataProcessVer));

    QJsonObject data;
    data.insert(key::MbInfo, mb);
    data.insert(key::SoftInfo, soft);
    InsertCards(data, key::HbInfo, r.pHbInfo, r.iHbCount);
    InsertCards(data, key::DbInfo, r.pDbInfo, r.iDbCount);
    InsertCards(data, key::EbInfo, r.pEbInfo, r.iEbCount);
    return data;
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleLoadDeviceInfo(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    if (body.value(key::Data).isArray())
        Log("Recv json data handle warning,load device info data is arr");
    __SCLOUD_LOAD_DEVICE_INFO cmd = ReadLoadDeviceInfo(body, hdr);
    __SCLOUD_LOAD_DEVICE_INFO_RESULT result = {};
    m_pOwner->OnLoadDeviceInfo(&cmd, &result);
    const QJsonObject data = BuildLoadDeviceInfoData(result);
    GiveBack(m_pOwner, result.pHbInfo, result.iHbCount);
    GiveBack(m_pOwner, result.pDbInfo, result.iDbCount);
    GiveBack(m_pOwner, result.pEbInfo, result.iEbCount);
    return SendReply(hdr, func::LoadDeviceInfo, data);
}
