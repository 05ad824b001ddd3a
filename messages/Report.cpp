#include "messages/Report.h"

#include "session/DeviceStatus.h"
#include "session/Orlin.h"
#include "wire/Base64.h"
#include "wire/Envelope.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"
#include "wire/FieldLength.h"
#include "wire/FixedTexts.h"

#include <QJsonArray>

#include <string.h>

namespace orlin {
namespace {

// An error text travels as all 260 bytes, trailing zeros included.
constexpr int kMsgChars = (sizeof(SCLOUD_ERROR_INFO::szMsg) + 2) / 3 * 4;  // 348

// The host terminates its texts; one that fills the field is cut at a whole
// character so that the stored copy stays terminated.
template <size_t N>
void CopyHostText(char (&dst)[N], const char (&src)[N])
{
    CopyText(QByteArray::fromRawData(src, static_cast<int>(FieldLength(src, N))), dst, N);
}

template <typename T>
bool Take(T& stored, T value)
{
    if (stored == value)
        return false;
    stored = value;
    return true;
}

} // namespace

bool MergeReportParam(__SCLOUD_UPGRADE_REPORT_PARAM& s, const __SCLOUD_UPGRADE_REPORT_PARAM& p,
                      std::vector<SCLOUD_ERROR_INFO>& errors)
{
    bool changed = false;
    changed |= Take(s.iDeviceStatus, p.iDeviceStatus);
    changed |= Take(s.iPrintStatus, p.iPrintStatus);
    if (p.iTaskId > 0 && p.iDeviceStatus == 2) {
        changed = true;
        s.iTaskId = p.iTaskId;
        s.iProgress = p.iProgress;
        CopyHostText(s.szCapacity, p.szCapacity);
        CopyHostText(s.szPrintedArea, p.szPrintedArea);
        s.iPrintDoneCopys = p.iPrintDoneCopys;
        s.iTotalPrintCopys = p.iTotalPrintCopys;
        s.iPrintSpanTime = p.iPrintSpanTime;
        s.iPrintRemainTime = p.iPrintRemainTime;
    }
    changed |= Take(s.iConnectStatus, p.iConnectStatus);
    changed |= Take(s.iUpgradeProcess, p.iUpgradeProcess);
    errors.clear();
    if (p.iErrorCount > 0 && p.pErrorInfo) {
        s.iErrorCount = p.iErrorCount;
        errors.assign(p.pErrorInfo, p.pErrorInfo + p.iErrorCount);
        changed = true;
    }
    changed |= Take(s.iAutoFlashStatus, p.iAutoFlashStatus);
    changed |= Take(s.iHeadTempStatus, p.iHeadTempStatus);
    return changed;
}

QJsonObject BuildReportBody(const __SCLOUD_UPGRADE_REPORT_PARAM& st, const std::vector<SCLOUD_ERROR_INFO>& errors)
{
    QJsonArray errorInfo;
    for (auto it = errors.rbegin(); it != errors.rend(); ++it) {
        char text[kMsgChars];
        Base64Encode(reinterpret_cast<const unsigned char*>(it->szMsg), sizeof(it->szMsg), text, kMsgChars);
        QJsonObject entry;
        entry.insert(key::Code, it->iCode);
        entry.insert(key::Msg, QString::fromLatin1(text, kMsgChars));
        errorInfo.append(entry);
    }

    QJsonObject upgradeInfo;
    upgradeInfo.insert(key::Process, st.iUpgradeProcess);

    QJsonObject data;
    data.insert(key::PrintInfo, BuildPrintInfo(st, true));
    data.insert(key::UpgradeInfo, upgradeInfo);
    data.insert(key::ErrorInfo, errorInfo);

    QJsonObject body;
    body.insert(key::Func, func::Report);
    body.insert(key::DeviceStatus, st.iDeviceStatus);
    body.insert(key::ConnectStatus, st.iConnectStatus);
    body.insert(key::AutoFlashStatus, st.iAutoFlashStatus);
    body.insert(key::HeadTempStatus, st.iHeadTempStatus);
    body.insert(key::Data, data);
    return body;
}

} // namespace orlin

using namespace orlin;

int Orlin::UpgradeReportParam(__SCLOUD_UPGRADE_REPORT_PARAM* pReportParam, int)
{
    if (!_Ready("UpgradeReportParam") || !pReportParam)
        return -1;
    std::vector<SCLOUD_ERROR_INFO> errors;
    bool changed;
    {
        // The heartbeat snapshots the record under the same lock, so it
        // never sees a half-merged status.
        std::lock_guard<std::mutex> lock(m_mtxState);
        changed = MergeReportParam(m_stReportParam, *pReportParam, errors);
    }
    if (changed)
        SendReportInfo(std::move(errors));
    return 0;
}

void Orlin::SendReportInfo(std::vector<SCLOUD_ERROR_INFO> vecErrInfo)
{
    if (!_Ready("SendReportInfo"))
        return;
    const __SCLOUD_UPGRADE_REPORT_PARAM st = _ReportSnapshot();
    QJsonObject header;
    BuildRequestHeader(header, st.sVer, MsgReport, _SourceId(), value::ServiceId, QString());
    const QByteArray text = ToCompactText(header, BuildReportBody(st, vecErrInfo));
    if (m_pWylnClient->Send(text.constData(), kDefaultTimeoutMs) != 0)
        _Log(say::ReportSendFailed);
}

int CWylnOwner::HandleReport(const QJsonObject& body)
{
    QJsonObject data;
    if (!DataObject(body, data))
        return ResultMissingMember;

    std::vector<SCLOUD_ERROR_INFO> errors;
    auto it = data.constFind(key::ErrorInfo);
    if (it != data.constEnd() && it.value().isArray()) {
        const QJsonArray arr = it.value().toArray();
        errors.reserve(static_cast<size_t>(arr.size()));
        for (const QJsonValue& v : arr) {
            SCLOUD_ERROR_INFO e;
            memset(&e, 0, sizeof(e));
            const QJsonObject o = v.toObject();
            ReadInt(o, key::Code, e.iCode);
            const auto mit = o.constFind(key::Msg);
            if (mit != o.constEnd() && mit.value().isString()) {
                const QString qsMsg = mit.value().toString();
                // One pass: a "%" in the peer's text must stay as it is.
                Log(QString::fromLatin1(say::ReportErrorEntry)
                        .arg(QString::number(qsMsg.size()), qsMsg, QString::number(260)));
                const QByteArray text = qsMsg.toUtf8();
                unsigned char bytes[kMsgChars / 4 * 3];
                if (qsMsg.size() == kMsgChars && text.size() == kMsgChars) {
                    const int n = Base64Decode(text.constData(), kMsgChars, bytes);
                    memcpy(e.szMsg, bytes, n < 260 ? static_cast<size_t>(n) : sizeof(e.szMsg));
                }
            }
            errors.push_back(e);
        }
    }
    m_stPeerParam.iErrorCount = static_cast<int32_t>(errors.size());
    m_stPeerParam.pErrorInfo = errors.empty() ? nullptr : errors.data();

    if ((it = data.constFind(key::UpgradeInfo)) != data.constEnd())
        ReadInt(it.value().toObject(), key::Process, m_stPeerParam.iUpgradeProcess);
    if ((it = data.constFind(key::PrintInfo)) != data.constEnd())
        ReadPrintInfo(it.value().toObject(), m_stPeerParam, true);
    ReadInt(data, key::DeviceDoing, m_stPeerParam.iDeviceStatus);
    ReadInt(data, key::ConnectStatus, m_stPeerParam.iConnectStatus);
    ReadInt(data, key::AutoFlashStatus, m_stPeerParam.iAutoFlashStatus);
    ReadInt(data, key::HeadTempStatus, m_stPeerParam.iHeadTempStatus);

    const bool bTaken = m_pOwner->OnReport(&m_stPeerParam);
    // The entries live only for the call.
    m_stPeerParam.iErrorCount = 0;
    m_stPeerParam.pErrorInfo = nullptr;
    return bTaken ? ResultOk : ResultRefused;
}
