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

QJsonObject BuildStatisticsData(const __SCLOUD_STATISTICS_RESULT& r)
{
    QJsonObject data;
    data.insert(key::TaskInfo, HostArray(r.pTaskInfo, r.iTaskCount, [](const __SCLOUD_TASK_STATISTICS& t) {
        QJsonObject o;
        o.insert(key::TaskName, FieldText(t.szTaskName));
        o.insert(key::PrintArea, static_cast<double>(t.fPrintArea));
        o.insert(key::PrintLen, static_cast<double>(t.fPrintLen));
        o.insert(key::InkK, static_cast<double>(t.fK));
        o.insert(key::InkC, static_cast<double>(t.fC));
        o.insert(key::InkM, static_cast<double>(t.fM));
        o.insert(key::InkY, static_cast<double>(t.fY));
        return o;
    }));
    data.insert(key::TotalInk, static_cast<double>(r.fTotalInk));
    data.insert(key::TotalArea, static_cast<double>(r.fTotalArea));
    data.insert(key::TotalLen, static_cast<double>(r.fTotalLen));
    return data;
}

} // namespace orlin

using namespace orlin;

int CWylnOwner::HandleStatistics(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_STATISTICS cmd = ReadStatistics(body, hdr);
    __SCLOUD_STATISTICS_RESULT result = {};
    m_pOwner->OnStatistics(&cmd, &result);
    const QJsonObject data = BuildStatisticsData(result);
    GiveBack(m_pOwner, result.pTaskInfo, result.iTaskCount);
    return SendReply(hdr, func::Statistics, data);
}
