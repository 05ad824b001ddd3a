#include "messages/DeviceInfo.h"

#include "messages/HostResult.h"
#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"
#include "wire/FixedTexts.h"

namespace orlin {
namespace {

void WriteCard(JsonText& o, const __SCLOUD_CARD_INFO& c)
{
    o.String(key::CardType, c.szCardType)
        .String(key::HardwareType, c.szHardwareType)
        .Int(key::Index, c.iIndex)
        .String(key::LogicType, c.szLogicType)
        .String(key::LogicVer, c.szLogicVer)
        .String(key::McnVer, c.szMcnVer);
}

// A card list is written only when it has cards.
void WriteCards(JsonText& w, QLatin1String name, const __SCLOUD_CARD_INFO* p, int32_t nCount)
{
    if (nCount > 0 && p)
        WriteHostArray(w, name, p, nCount, WriteCard);
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

JsonText LoadDeviceInfoData(const __SCLOUD_LOAD_DEVICE_INFO_RESULT& r)
{
    JsonText w;
    w.BeginObject();
    WriteCards(w, key::DbInfo, r.pDbInfo, r.iDbCount);
    WriteCards(w, key::EbInfo, r.pEbInfo, r.iEbCount);
    WriteCards(w, key::HbInfo, r.pHbInfo, r.iHbCount);
    w.BeginObject(key::MbInfo)
        .String(key::ConfigureVer, r.szConfigureVer)
        .String(key::MbLogicVer, r.szMbLogicVer)
        .String(key::MbProgramVer, r.szMbProgramVer)
        .String(key::MbSerial, r.szMbSerial)
        .String(key::MbSnId, r.szMbSnId)
        .String(key::ParamterVer, r.szParamterVer)  // spelled so on the wire
        .EndObject();
    w.BeginObject(key::SoftInfo)
        .String(key::DataProcessVer, r.szDataProcessVer)
        .String(key::DevManagerVer, r.szDevManagerVer)
        .String(key::SoftVer, r.szSoftVer)
        .EndObject();
    w.EndObject();
    return w;
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleLoadDeviceInfo(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    if (body.value(key::Data).isArray())
        Log(say::DeviceInfoArray);
    __SCLOUD_LOAD_DEVICE_INFO cmd = ReadLoadDeviceInfo(body, hdr);
    __SCLOUD_LOAD_DEVICE_INFO_RESULT result = {};
    m_pOwner->OnLoadDeviceInfo(&cmd, &result);
    const JsonText data = LoadDeviceInfoData(result);
    GiveBack(m_pOwner, result.pHbInfo, result.iHbCount);
    GiveBack(m_pOwner, result.pDbInfo, result.iDbCount);
    GiveBack(m_pOwner, result.pEbInfo, result.iEbCount);
    return SendReply(hdr, func::LoadDeviceInfo, data);
}
