#include "Presence.h"

#include "WylnPeer.h"

#include <QStringList>

#include <mosquitto.h>

namespace tools {

namespace {
const char kPresence[] = "presence/+";
const char kMessages[] = "p2p/+/+";
} // namespace

PresenceWatcher::PresenceWatcher(PresenceHandler onPresence, MessageHandler onMessage)
    : onPresence_(std::move(onPresence)), onMessage_(std::move(onMessage))
{
}

PresenceWatcher::~PresenceWatcher()
{
    if (mosq_) {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
    }
}

bool PresenceWatcher::start(const QString& host, int port, const QByteArray& user, const QByteArray& password)
{
    mosquitto_lib_init();
    const QByteArray clientId = user.isEmpty() ? ("presence-" + newMsgId().toUtf8()) : user;
    mosq_ = mosquitto_new(clientId.constData(), true, this);
    if (!mosq_)
        return false;
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (!user.isEmpty())
        mosquitto_username_pw_set(mosq_, user.constData(), password.constData());
    // Subscriptions are made again on every (re)connection. Messages first:
    // the broker handles one connection's packets in order, so once a
    // presence has arrived, the messages' subscription is in place too.
    mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void* raw, int rc) {
        if (rc != 0)
            return;
        auto* self = static_cast<PresenceWatcher*>(raw);
        if (self->onMessage_)
            mosquitto_subscribe(m, &self->messagesMid_, kMessages, 0);
        mosquitto_subscribe(m, &self->presenceMid_, kPresence, 1);
    });
    // With MQTT 5 the granted QoS is the SUBACK's reason code; 0x80 and up
    // is a refusal (ejabberd's access rules answer 0x8F).
    mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* raw, int mid, int count, const int* codes) {
        auto* self = static_cast<PresenceWatcher*>(raw);
        if (!self->onRefused_ || count < 1 || codes[0] < 0x80)
            return;
        if (mid == self->messagesMid_)
            self->onRefused_(kMessages, codes[0]);
        else if (mid == self->presenceMid_)
            self->onRefused_(kPresence, codes[0]);
    });
    mosquitto_message_callback_set(mosq_, [](mosquitto*, void* raw, const mosquitto_message* msg) {
        auto* self = static_cast<PresenceWatcher*>(raw);
        const QString topic = QString::fromUtf8(msg->topic);
        const QByteArray payload(static_cast<const char*>(msg->payload), msg->payloadlen);
        const QStringList levels = topic.split('/');
        if (levels.size() == 2 && levels[0] == "presence")
            self->onPresence_(levels[1], payload == "online");
        else if (levels.size() == 3 && levels[0] == "p2p" && self->onMessage_)
            self->onMessage_(levels[1], levels[2], payload);
    });
    if (mosquitto_connect(mosq_, host.toUtf8().constData(), port, 30) != MOSQ_ERR_SUCCESS)
        return false;
    return mosquitto_loop_start(mosq_) == MOSQ_ERR_SUCCESS;
}

} // namespace tools
