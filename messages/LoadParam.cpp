#include "messages/LoadParam.h"

#include "messages/HostResult.h"
#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"

namespace orlin {

__SCLOUD_LOAD_PARAM ReadLoadParam(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_LOAD_PARAM cmd = {};
    QJsonObject rec;
    if (FirstDataRecord(body, rec)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadInt(rec, key::ParamType, cmd.iParamType);
    }
    return cmd;
}

QJsonObject BuildLoadParamData(const __SCLOUD_LOAD_PARAM_RESULT& r)
{
    QJsonObject data;
    data.insert(key::PrintScheme, HostArray(r.pSchemes, r.iSchemeCount, [](const __SCLOUD_PRINT_SCHEME& s) {
        QJsonObject o;
        o.insert(key::PrintSchemeName, FieldText(s.szPrintSchemeName));
        o.insert(key::PrintSchemeId, s.iPrintSchemeId);
        return o;
    }));
    data.insert(key::Canvas, HostArray(r.pCanvases, r.iCanvasCount, [](const __SCLOUD_CANVAS& c) {
        QJsonObject o;
        o.insert(key::CanvasW, static_cast<double>(c.fCanvasW));
        o.insert(key::CanvasH, static_cast<double>(c.fCanvasH));
        return o;
    }));
    return data;
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleLoadParam(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_LOAD_PARAM cmd = ReadLoadParam(body, hdr);
    __SCLOUD_LOAD_PARAM_RESULT result = {};
    m_pOwner->OnLoadParam(&cmd, &result);
    const QJsonObject data = BuildLoadParamData(result);
    // The arrays go back before the send, so a failed send leaks nothing.
    GiveBack(m_pOwner, result.pSchemes, result.iSchemeCount);
    GiveBack(m_pOwner, result.pCanvases, result.iCanvasCount);
    return SendReply(hdr, func::LoadParam, data, true);
}
