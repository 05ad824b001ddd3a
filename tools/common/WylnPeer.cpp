#include "WylnPeer.h"

#include "transport/WylnBinding.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <chrono>
#include <cstring>

namespace tools {

QString newMsgId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString serviceId()
{
    const QByteArray v = qgetenv("WYLN_SERVICE_ID");
    return v.isEmpty() ? QStringLiteral("wyln") : QString::fromUtf8(v);
}

QByteArray buildMessage(const QString& func, const QJsonValue& data, int msgType, const QString& source,
                        const QString& target, const QString& msgId, const QString& version)
{
    QJsonObject body;
    body["func"] = func;
    body["data"] = data;
    return buildEnvelope(body, msgType, source, target, msgId, version);
}

QByteArray buildEnvelope(const QJsonObject& body, int msgType, const QString& source, const QString& target,
                         const QString& msgId, const QString& version)
{
    QJsonObject header;
    header["version"] = version;
    header["msg_type"] = msgType;
    header["msg_id"] = msgId.isEmpty() ? newMsgId() : msgId;
    header["source_id"] = source;
    header["target_id"] = target;
    header["timestamp"] = static_cast<double>(QDateTime::currentSecsSinceEpoch());
    QJsonObject msg;
    msg["header"] = header;
    msg["body"] = body;
    return QJsonDocument(msg).toJson(QJsonDocument::Compact);
}

Inbound parseInbound(const QByteArray& text, const QString& sender)
{
    Inbound in;
    in.sender = sender;
    in.text = text;
    const QJsonDocument doc = QJsonDocument::fromJson(text);
    if (!doc.isObject() || !doc.object().value("header").isObject())
        return in;
    in.header = doc.object().value("header").toObject();
    in.body = doc.object().value("body").toObject();
    in.msgType = in.header.value("msg_type").toInt(0);
    in.msgId = in.header.value("msg_id").toString();
    in.func = in.body.value("func").toString();
    return in;
}

WylnPeer::WylnPeer() = default;

WylnPeer::~WylnPeer()
{
    stop();
}

int WylnPeer::start(const QString& host, int port, const QString& id)
{
    orlin::SWylnEntryPoints entry;
    if (!orlin::LoadWylnPlugin(entry, error_))
        return -12;
    auto create = entry.pfnNewInterface;
    release_ = entry.pfnReleaseInterface;
    if (!create || !release_ || !(creator_ = create()) || !(client_ = creator_->CreateClient(0))) {
        error_ = "the transport plug-in is incomplete";
        return -12;
    }
    int rc = client_->Connect(host.toUtf8().constData(), port);
    if (rc != 0) {
        error_ = QString("cannot reach the broker at %1:%2").arg(host).arg(port);
        return rc;
    }
    char buf[260] = {};
    const QByteArray wanted = id.toUtf8();
    std::strncpy(buf, wanted.constData(), sizeof(buf) - 1);
    rc = client_->Login(buf, this, 0);
    if (rc != 0) {
        error_ = QString("login refused (transport code %1)").arg(rc);
        return rc;
    }
    id_ = QString::fromUtf8(buf);
    return 0;
}

void WylnPeer::stop()
{
    if (client_)
        creator_->DestroyClient(client_);
    client_ = nullptr;
    if (creator_ && release_)
        release_(creator_);
    creator_ = nullptr;
}

void WylnPeer::setHandler(Handler h)
{
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(h);
}

int WylnPeer::sendTo(const QString& target, const QByteArray& text, int timeoutMs)
{
    if (!client_)
        return 1251;
    return client_->SendTo(target.toUtf8().constData(), text.constData(), text.size(), timeoutMs);
}

int WylnPeer::post(const QString& target, const QString& func, const QJsonValue& data, QString& msgId,
                   int sendTimeoutMs)
{
    msgId = newMsgId();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_[msgId] = Pending();
    }
    const int rc = sendTo(target, buildMessage(func, data, 0, id_, target, msgId), sendTimeoutMs);
    if (rc != 0)
        forget(msgId);
    return rc;
}

bool WylnPeer::waitReply(const QString& msgId, int timeoutMs, Inbound& reply)
{
    std::unique_lock<std::mutex> lock(mutex_);
    auto it = pending_.find(msgId);
    if (it == pending_.end())
        return false;
    const bool got = cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return it->second.done; });
    if (got)
        reply = it->second.reply;
    pending_.erase(it);
    return got;
}

void WylnPeer::forget(const QString& msgId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.erase(msgId);
}

bool WylnPeer::request(const QString& target, const QString& func, const QJsonValue& data, int timeoutMs,
                       Inbound& reply, int* sendResult)
{
    QString msgId;
    const int rc = post(target, func, data, msgId, timeoutMs);
    if (sendResult)
        *sendResult = rc;
    return rc == 0 && waitReply(msgId, timeoutMs, reply);
}

void WylnPeer::OnRecv(const char* pData, int nLen, const char* szPeerId, const char* /*szPeerName*/)
{
    if (!pData || nLen < 0)
        return;
    const Inbound in = parseInbound(QByteArray(pData, nLen), QString::fromUtf8(szPeerId ? szPeerId : ""));
    Handler h;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!in.msgId.isEmpty()) {
            auto it = pending_.find(in.msgId);
            if (it != pending_.end() && !it->second.done) {
                it->second.done = true;
                it->second.reply = in;
                cv_.notify_all();
                return;
            }
        }
        h = handler_;
    }
    if (h)
        h(in);
}

} // namespace tools
