#include "messages/Statistics.h"

#include "messages/HostResult.h"
#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"

namespace orlin {

__SCLOUD_STATISTICS ReadStatistics(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_STATISTICS cmd = {};
    cmd.iYear = 2024;
    cmd.iMonth = 1;
    cmd.iDay = 1;
    QJsonObject rec;
    if (FirstDataRecord(body, rec)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadInt(rec, key::Year, cmd.iYear);
        ReadInt(rec, key::Month, cmd.iMonth);
        ReadInt(rec, key::Day, cmd.iDay);
    }
    return cmd;
}

JsonText StatisticsData(const __SCLOUD_STATISTICS_RESULT& r)
{
    JsonText w;
    w.BeginObject();
    WriteHostArray(w, key::TaskInfo, r.pTaskInfo, r.iTaskCount, [](JsonText& o, const __SCLOUD_TASK_STATISTICS& t) {
        o.Number(key::InkC, static_cast<double>(t.fC))
            .Number(key::InkK, static_cast<double>(t.fK))
            .Number(key::InkM, static_cast<double>(t.fM))
            .Number(key::PrintArea, static_cast<double>(t.fPrintArea))
            .Number(key::PrintLen, static_cast<double>(t.fPrintLen))
            .String(key::TaskName, t.szTaskName)
            .Number(key::InkY, static_cast<double>(t.fY));
    });
    w.Number(key::TotalArea, static_cast<double>(r.fTotalArea))
        .Number(key::TotalInk, static_cast<double>(r.fTotalInk))
        .Number(key::TotalLen, static_cast<double>(r.fTotalLen));
    w.EndObject();
    return w;
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleStatistics(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_STATISTICS cmd = ReadStatistics(body, hdr);
    __SCLOUD_STATISTICS_RESULT result = {};
    m_pOwner->OnStatistics(&cmd, &result);
    const JsonText data = StatisticsData(result);
    GiveBack(m_pOwner, result.pTaskInfo, result.iTaskCount);
    return SendReply(hdr, func::Statistics, data);
}
