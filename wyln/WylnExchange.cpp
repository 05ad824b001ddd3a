#include "WylnClient.h"
#include "Wyln.h"
#include "WylnClientInternal.h"
#include "WylnNet.h"
#include "WylnTopic.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace wyln {

namespace {

// User property of presence messages naming the login that wrote them.
const char kTokenName[] = "wyln-login";

// Bytes of an MQTT 5 PUBLISH packet at QoS 1 without properties.
uint64_t publishPacketSize(size_t topicLen, int payloadLen)
{
    uint64_t remaining = 2 + topicLen + 2 + 1 + static_cast<uint64_t>(payloadLen);
    uint64_t lenBytes = remaining < 128 ? 1 : remaining < 16384 ? 2 : remaining < 2097152 ? 3 : 4;
    return 1 + lenBytes + remaining;
}

} // namespace

std::string ConnectionToken()
{
    const long long us = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%020lld-", us);
    return buf + RandomUuid();
}

mosquitto_property* Client::tokenProperty() const
{
    mosquitto_property* props = nullptr;
    if (mosquitto_property_add_string_pair(&props, MQTT_PROP_USER_PROPERTY, kTokenName, token_.c_str())
        != MOSQ_ERR_SUCCESS)
        mosquitto_property_free_all(&props);
    return props;
}

// mosquitto 2.0 throws a connection out for another one under the same
// identifier without saying so (no reason code 0x8E), so each would take the
// identifier back by reconnecting, for ever. Every login has a token that
// orders logins by time; after a reconnect, a presence left by a later login
// means this one is the older: it stops for good. The first connection of a
// login ignores what it finds, which is older or stale.
void Client::checkTakeOver(mosquitto* mosq, const mosquitto_property* props)
{
    if (connections_ < 2 || takenOver_)
        return;
    char* name = nullptr;
    char* value = nullptr;
    bool later = false;
    for (const mosquitto_property* p = props; p; p = mosquitto_property_next(p)) {
        if (mosquitto_property_identifier(p) != MQTT_PROP_USER_PROPERTY
            || !mosquitto_property_read_string_pair(p, MQTT_PROP_USER_PROPERTY, &name, &value, false))
            continue;
        later = later || (std::strcmp(name, kTokenName) == 0 && token_ < value);
        std::free(name);
        std::free(value);
    }
    if (!later)
        return;
    takenOver_ = true;
    std::fprintf(stderr, "wyln: another connection logged in as %s; this one stops (%d)\n", id_.c_str(),
                 static_cast<int>(WYLN_E_SESSION_TAKEN_OVER));
    mosquitto_disconnect(mosq);
}

int Client::publishTo(const char* target, const char* data, int len, int timeoutMs)
{
    if (len < 0 || (!data && len > 0))
        return WYLN_E_INVALID_ARGUMENT;
    if (!isValidId(target))
        return WYLN_E_BAD_TARGET;
    if (!loggedIn_ && !insideOwnCallback())
        return WYLN_E_NOT_LOGGED_IN;
    if (takenOver_)
        return WYLN_E_SESSION_TAKEN_OVER;
    if (!linkUp_)
        return WYLN_E_NOT_CONNECTED;
    std::string topic = p2pTopic(target, id_);
    uint64_t size = publishPacketSize(topic.size(), len);
    uint32_t limit = maxPacket_ ? maxPacket_.load() : static_cast<uint32_t>(config_.maxPacketSize);
    if (size - 1 - 4 > kMqttMaxRemaining || (limit && size > limit))
        return WYLN_E_MESSAGE_TOO_LARGE;
    return publish(topic, data, len, false, timeoutMs > 0 && !insideOwnCallback(), timeoutMs);
}

int Client::publish(const std::string& topic, const void* data, int len, bool retain, bool wait, int timeoutMs,
                    const mosquitto_property* props)
{
    int mid = 0;
    int rc = mosquitto_publish_v5(mosq_, &mid, topic.c_str(), len, data, 1, retain, props);
    if (rc != MOSQ_ERR_SUCCESS)
        return mosqResult(rc);

    std::unique_lock<std::mutex> lk(mu_);
    auto it = pending_.find(mid);
    if (it != pending_.end() && it->second.done && !it->second.waiter) {
        // The PUBACK beat us here.
        int result = it->second.result;
        pending_.erase(it);
        return result;
    }
    pending_[mid] = Pending{wait, false, WYLN_OK};
    if (!wait)
        return WYLN_OK;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool settled = cv_.wait_until(lk, deadline, [&] {
        auto p = pending_.find(mid);
        return p == pending_.end() || p->second.done;
    });
    auto p = pending_.find(mid);
    if (p == pending_.end())
        return WYLN_E_INTERNAL;
    if (!settled) {
        p->second.waiter = false;  // a late PUBACK just removes it
        return WYLN_E_TIMEOUT;
    }
    int result = p->second.result;
    if (result == WYLN_E_NOT_CONNECTED || result == WYLN_E_SESSION_TAKEN_OVER) {
        // libmosquitto resends in-flight messages after a reconnect; keep the
        // id so that the late PUBACK is recognised.
        p->second.waiter = false;
        p->second.done = false;
    } else {
        pending_.erase(p);
    }
    return result;
}

void Client::onPublish(mosquitto*, void* obj, int mid, int reason, const mosquitto_property*)
{
    Client* self = static_cast<Client*>(obj);
    int result = WYLN_OK;
    if (reason >= 0x80)
        result = reason == MQTT_RC_PACKET_TOO_LARGE ? WYLN_E_MESSAGE_TOO_LARGE : WYLN_E_NOT_AUTHORIZED;
    std::lock_guard<std::mutex> lk(self->mu_);
    auto it = self->pending_.find(mid);
    if (it == self->pending_.end()) {
        self->pending_[mid] = Pending{false, true, result};
    } else if (it->second.waiter) {
        it->second.done = true;
        it->second.result = result;
        self->cv_.notify_all();
    } else if (!it->second.done) {
        self->pending_.erase(it);
    }
}

void Client::onMessage(mosquitto* mosq, void* obj, const mosquitto_message* msg, const mosquitto_property* props)
{
    Client* self = static_cast<Client*>(obj);
    if (msg && msg->topic && self->config_.presence && msg->topic == presenceTopic(self->id_)) {
        self->checkTakeOver(mosq, props);
        return;
    }
    WYLN::IWylnOwner* sink = self->sink_;
    std::string sender;
    if (!sink || !msg || !senderFromTopic(msg->topic, self->id_, sender))
        return;
    char peer[WYLN_ID_BUFFER] = {};
    std::memcpy(peer, sender.data(), sender.size());
    const char* payload = msg->payload ? static_cast<const char*>(msg->payload) : "";
    CallbackScope scope(self);
    try {
        sink->OnRecv(payload, msg->payloadlen, peer, nullptr);
    } catch (...) {
        // The sink's exceptions must not unwind through libmosquitto.
    }
}

} // namespace wyln
