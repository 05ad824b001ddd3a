// A second MQTT connection beside the transport's, for the service side:
// it watches the retained presence/<id> topics (every client's "online" or
// "offline") and, when asked and the broker allows it, every peer-to-peer
// message (p2p/<target>/<sender>).
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

struct mosquitto;

namespace tools {

class PresenceWatcher
{
public:
    using PresenceHandler = std::function<void(const QString& id, bool online)>;
    using MessageHandler = std::function<void(const QString& target, const QString& sender, const QByteArray& payload)>;
    using RefusalHandler = std::function<void(const QString& filter, int reason)>;

    // Handlers run on the connection's own thread.
    explicit PresenceWatcher(PresenceHandler onPresence, MessageHandler onMessage = MessageHandler());
    ~PresenceWatcher();
    PresenceWatcher(const PresenceWatcher&) = delete;
    PresenceWatcher& operator=(const PresenceWatcher&) = delete;

    // Called (on the connection's thread) when the broker refuses a
    // subscription in its SUBACK, with the filter and the reason code. Set
    // before start(). A broker may instead grant it and deliver nothing.
    void setRefusalHandler(RefusalHandler h) { onRefused_ = std::move(h); }

    // An empty user connects anonymously under a made-up client id.
    bool start(const QString& host, int port, const QByteArray& user, const QByteArray& password);

private:
    PresenceHandler onPresence_;
    MessageHandler onMessage_;
    RefusalHandler onRefused_;
    mosquitto* mosq_ = nullptr;
    // The SUBSCRIBE packets' ids, touched on the connection's thread only.
    int presenceMid_ = -1;
    int messagesMid_ = -1;
};

} // namespace tools
