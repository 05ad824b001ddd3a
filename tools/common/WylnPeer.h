// A direct client of the wyln transport plug-in for the tools: loads the
// plug-in as the library does (transport/WylnBinding.h), connects,
// logs in and hands every inbound packet to a callback on the transport's
// thread. Also the JSON envelope helpers the console speaks.
#pragma once

#include "WylnInterface.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace tools {

// One protocol message as it arrived.
struct Inbound
{
    QString sender;       // the transport's sender identifier (topic level)
    QByteArray text;      // the raw JSON text
    QJsonObject header;
    QJsonObject body;
    int msgType = -1;     // -1: not a JSON envelope
    QString msgId;
    QString func;
};

Inbound parseInbound(const QByteArray& text, const QString& sender);

// Builds {"body":{"func","data"},"header":{...}} as compact text.
QByteArray buildMessage(const QString& func, const QJsonValue& data, int msgType, const QString& source,
                        const QString& target, const QString& msgId = QString(), const QString& version = "1");
// The same with a body of the caller's making (heartbeats have no "func").
QByteArray buildEnvelope(const QJsonObject& body, int msgType, const QString& source, const QString& target,
                         const QString& msgId = QString(), const QString& version = "1");
QString newMsgId();

class WylnPeer : public WYLN::IWylnOwner
{
public:
    using Handler = std::function<void(const Inbound&)>;

    WylnPeer();
    ~WylnPeer() override;
    WylnPeer(const WylnPeer&) = delete;
    WylnPeer& operator=(const WylnPeer&) = delete;

    // Loads the plug-in, connects to host:port and logs in. An empty id asks
    // the transport for one. Returns 0 or a transport code; -12 when the
    // plug-in cannot be loaded (errorText() says why).
    int start(const QString& host, int port, const QString& id = QString());
    void stop();
    QString id() const { return id_; }
    QString errorText() const { return error_; }

    // Every inbound packet that no pending request claims goes here.
    void setHandler(Handler h);

    int sendTo(const QString& target, const QByteArray& text, int timeoutMs = 3000);

    // Sends a request and waits for the message that echoes its msg_id (any
    // msg_type: the service answers "getClient" with type 0). False on a send
    // failure or time-out; sendResult gets the transport's code.
    bool request(const QString& target, const QString& func, const QJsonValue& data, int timeoutMs, Inbound& reply,
                 int* sendResult = nullptr);

    // Starts a request whose reply is collected later with waitReply.
    int post(const QString& target, const QString& func, const QJsonValue& data, QString& msgId,
             int sendTimeoutMs = 3000);
    bool waitReply(const QString& msgId, int timeoutMs, Inbound& reply);
    void forget(const QString& msgId);

    void OnRecv(const char* pData, int nLen, const char* szPeerId, const char* szPeerName) override;

private:
    IWylnCreator* creator_ = nullptr;
    IWylnClient* client_ = nullptr;
    PFN_WYLN_RELEASE_INTERFACE release_ = nullptr;
    QString id_;
    QString error_;

    std::mutex mutex_;
    std::condition_variable cv_;
    Handler handler_;
    struct Pending
    {
        bool done = false;
        Inbound reply;
    };
    std::map<QString, Pending> pending_;
};

// "wyln" unless WYLN_SERVICE_ID says otherwise (the plug-in's setting).
QString serviceId();

} // namespace tools
