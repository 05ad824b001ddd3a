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

JsonText LoadParamData(const __SCLOUD_LOAD_PARAM_RESULT& r)
{
    JsonText w;
    w.BeginObject();
    WriteHostArray(w, key::Canvas, r.pCanvases, r.iCanvasCount, [](JsonText& o, const __SCLOUD_CANVAS& c) {
        o.Number(key::CanvasH, static_cast<double>(c.fCanvasH)).Number(key::CanvasW, static_cast<double>(c.fCanvasW));
    });
    WriteHostArray(w, key::PrintScheme, r.pSchemes, r.iSchemeCount, [](JsonText& o, const __SCLOUD_PRINT_SCHEME& s) {
        o.Int(key::PrintSchemeId, s.iPrintSchemeId).String(key::PrintSchemeName, s.szPrintSchemeName);
    });
    w.EndObject();
    return w;
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleLoadParam(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_LOAD_PARAM cmd = ReadLoadParam(body, hdr);
    __SCLOUD_LOAD_PARAM_RESULT result = {};
    m_pOwner->OnLoadParam(&cmd, &result);
    const JsonText data = LoadParamData(result);
    // The arrays go back before the send, so a failed send leaks nothing.
    GiveBack(m_pOwner, result.pSchemes, result.iSchemeCount);
    GiveBack(m_pOwner, result.pCanvases, result.iCanvasCount);
    return SendReply(hdr, func::LoadParam, data, true);
}
