#include "transport/WylnOwner.h"

#include "wire/JsonScan.h"
#include "wire/Keys.h"
#include "wire/FieldLength.h"
#include "wire/FixedTexts.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <string.h>

using namespace orlin;

namespace {

typedef int (CWylnOwner::*Handler)(const QJsonObject& body, const SCloudMsgHeader& hdr);

struct Route
{
    QLatin1String func;
    Handler handler;
};

// The "getClient" command handler reads the body only.
int GetClientRequest(CWylnOwner* self, const QJsonObject& body, const SCloudMsgHeader&)
{
    return self->HandleGetClient(body);
}

// Matched in this order, case-sensitively and in full.
const Route kRequestRoutes[] = {
    {func::GetClient, nullptr},  // see GetClientRequest
    {func::Print, &CWylnOwner::HandlePrint},
    {func::MotorRun, &CWylnOwner::HandleMotorRun},
    {func::Sig, &CWylnOwner::HandleSig},
    {func::LoadParam, &CWylnOwner::HandleLoadParam},
    {func::Clean, &CWylnOwner::HandleClean},
    {func::LoadInk, &CWylnOwner::HandleLoadInk},
    {func::RunMachine, &CWylnOwner::HandleRunMachine},
    {func::Statistics, &CWylnOwner::HandleStatistics},
    {func::FileTransfer, &CWylnOwner::HandleFileTransfer},
    {func::LoadDeviceInfo, &CWylnOwner::HandleLoadDeviceInfo},
    {func::Upgrade, &CWylnOwner::HandleUpgrade},
    {func::CheckBeforePrint, &CWylnOwner::HandleCheckBeforePrint},
    {func::ConfigWifiInfo, &CWylnOwner::HandleConfigWifiInfo},
    {func::AddPrintTask, &CWylnOwner::HandleAddPrintTask},
    {func::GetTaskListInfo, &CWylnOwner::HandleGetTaskListInfo},
    {func::ClientShowType, &CWylnOwner::HandleClientShowType},
    {func::SetTaskParam, &CWylnOwner::HandleSetTaskParam},
};

// A print result arrives as a reply whose "func" is "getClient"; a reply
// with "func" "print" is not routed.
const Route kResponseRoutes[] = {
    {func::GetClient, &CWylnOwner::HandlePrintResult},
    {func::AddPrintTask, &CWylnOwner::HandleAddPrintTaskResult},
    {func::GetTaskListInfo, &CWylnOwner::HandleGetTaskListInfoResult},
    {func::ClientShowType, &CWylnOwner::HandleClientShowTypeResult},
    {func::SetTaskParam, &CWylnOwner::HandleSetTaskParamResult},
};

template <size_t N>
const Route* FindRoute(const Route (&routes)[N], const QJsonObject& body)
{
    const auto it = body.constFind(key::Func);
    if (it == body.constEnd())
        return nullptr;
    const QString name = it.value().toString();
    for (const Route& r : routes)
        if (name == r.func)
            return &r;
    return nullptr;
}

} // namespace

void CWylnOwner::OnRecvJson(const char* pData, int nLen)
{
    const int n = static_cast<int>(FieldLength(pData, nLen > 0 ? static_cast<size_t>(nLen) : 0));

    int result = ResultOk;
    // A text that repeats a key takes the plain path, parsed without the
    // members the parser would drop.
    const bool bRepeated = HasRepeatedKey(pData, static_cast<size_t>(n));
    if (bRepeated || !RecvFileChunk(pData, n, result)) {
        const QJsonDocument doc = bRepeated ? ParseJson(pData, static_cast<size_t>(n))
                                            : QJsonDocument::fromJson(QByteArray::fromRawData(pData, n));
        if (doc.isNull()) {
            Log(say::NotJson);
            result = ResultNotJson;
        } else if (doc.isArray()) {
            const QJsonArray arr = doc.array();
            for (const QJsonValue& v : arr)
                result = RouteMessage(v.toObject());
        } else {
            result = RouteMessage(doc.object());
        }
    }
    if (result != ResultOk)
        Log(QByteArray(say::HandleFailed) + QByteArray::number(result));
}

int CWylnOwner::RouteMessage(const QJsonObject& msg)
{
    const auto hit = msg.constFind(key::Header);
    if (hit == msg.constEnd())
        return ResultMissingMember;
    SCloudMsgHeader hdr;
    ParseHeader(hit.value().toObject(), hdr);
    const QJsonObject body = msg.value(key::Body).toObject();

    switch (hdr.nMsgType) {
    case MsgRequest:
        return DispatchRequest(body, hdr);
    case MsgReply:
        return DispatchResponse(body, hdr);
    case MsgReport: {
        const auto fit = body.constFind(key::Func);
        if (fit != body.constEnd() && fit.value().isString() && fit.value().toString() == func::Report)
            return HandleReport(body);
        return ResultOk;
    }
    case MsgHeartbeat:
        HandleHeartBeat(body);
        return ResultOk;
    default:
        return ResultOk;
    }
}

int CWylnOwner::DispatchRequest(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    const Route* r = FindRoute(kRequestRoutes, body);
    if (!r)
        return ResultOk;
    if (!r->handler)
        return GetClientRequest(this, body, hdr);
    return (this->*(r->handler))(body, hdr);
}

int CWylnOwner::DispatchResponse(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    const Route* r = FindRoute(kResponseRoutes, body);
    return r ? (this->*(r->handler))(body, hdr) : ResultOk;
}
