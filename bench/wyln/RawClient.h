// A bare libmosquitto MQTT 5 client, the baseline the plug-in is measured
// against. Message::peer holds the topic.
#pragma once

#include "WylnTestSupport.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <map>

namespace wyln_test {

class RawClient : public Inbox
{
public:
    explicit RawClient(const std::string& id) : mosq_(mosquitto_new(id.c_str(), true, this))
    {
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_connect_v5_callback_set(mosq_, [](mosquitto*, void* o, int rc, int, const mosquitto_property*) {
            locked(o, [&](RawClient& c) { c.connack_ = rc; });
        });
        mosquitto_publish_v5_callback_set(mosq_, [](mosquitto*, void* o, int mid, int reason, const mosquitto_property*) {
            locked(o, [&](RawClient& c) { c.acks_[mid] = reason; });
        });
        mosquitto_subscribe_v5_callback_set(mosq_, [](mosquitto*, void* o, int, int, const int*, const mosquitto_property*) {
            locked(o, [](RawClient& c) { ++c.subacks_; });
        });
        mosquitto_message_v5_callback_set(mosq_, [](mosquitto*, void* o, const mosquitto_message* m, const mosquitto_property*) {
            auto* self = static_cast<RawClient*>(o);
            if (self->hook)
                self->hook(m);
            else
                self->add(Message{std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen)), m->topic});
        });
    }
    ~RawClient()
    {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
    }

    // Called on the network thread instead of recording, when set.
    std::function<void(const mosquitto_message*)> hook;

    mosquitto* handle() { return mosq_; }

    bool connect(int port, const char* user = nullptr, const char* password = nullptr)
    {
        if (user)
            mosquitto_username_pw_set(mosq_, user, password);
        if (mosquitto_connect(mosq_, testBrokerHost(), port, 30) != MOSQ_ERR_SUCCESS)
            return false;
        mosquitto_loop_start(mosq_);
        std::unique_lock<std::mutex> lk(mu_);
        cv_.wait_for(lk, std::chrono::seconds(5), [&] { return connack_ >= 0; });
        return connack_ == 0;
    }

    // Subscribes at QoS 1 and waits for the SUBACK.
    bool subscribe(const std::string& filter)
    {
        std::unique_lock<std::mutex> lk(mu_);
        const int before = subacks_;
        return mosquitto_subscribe_v5(mosq_, nullptr, filter.c_str(), 1, 0, nullptr) == MOSQ_ERR_SUCCESS
               && cv_.wait_for(lk, std::chrono::seconds(5), [&] { return subacks_ > before; });
    }

    // Publishes at QoS 1 and returns the PUBACK reason code, or -1.
    int publish(const std::string& topic, const std::string& payload)
    {
        int mid = 0;
        std::unique_lock<std::mutex> lk(mu_);
        if (mosquitto_publish_v5(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                                 false, nullptr) != MOSQ_ERR_SUCCESS
            || !cv_.wait_for(lk, std::chrono::seconds(5), [&] { return acks_.count(mid) > 0; }))
            return -1;
        return acks_[mid];
    }

private:
    template <class F>
    static void locked(void* self, F f)
    {
        auto* c = static_cast<RawClient*>(self);
        std::lock_guard<std::mutex> lk(c->mu_);
        f(*c);
        c->cv_.notify_all();
    }

    mosquitto* mosq_;
    int connack_ = -1;
    int subacks_ = 0;
    std::map<int, int> acks_;
};

} // namespace wyln_test
