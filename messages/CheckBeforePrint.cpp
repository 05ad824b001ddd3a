#include "messages/CheckBeforePrint.h"

#include "messages/HostResult.h"
#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"
#include "wire/FixedTexts.h"

namespace orlin {

__SCLOUD_CHECK_BEFORE_PRINT ReadCheckBeforePrint(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_CHECK_BEFORE_PRINT cmd = {};
    QJsonObject rec;
    if (FirstDataRecord(body, rec)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadDouble(rec, key::CanvasW, cmd.dCanvasW);
        ReadDouble(rec, key::CanvasH, cmd.dCanvasH);
        ReadInt(rec, key::PrintSchemeId, cmd.iPrintSchemeId);
    }
    return cmd;
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleCheckBeforePrint(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    if (body.value(key::Data).isArray())
        Log(say::CheckBeforePrintArray);
    __SCLOUD_CHECK_BEFORE_PRINT cmd = ReadCheckBeforePrint(body, hdr);
    __SCLOUD_CMD_RESULT result = {};
    m_pOwner->OnCheckBeforePrint(&cmd, &result);
    return SendReply(hdr, func::CheckBeforePrint, CmdResultData(result));
}
