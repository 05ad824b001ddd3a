// Helpers for tests and benchmarks of the wyln plug-in: a recording sink,
// a plug-in client wrapper, a bare libmosquitto client, scoped environment.
#pragma once

#include "Wyln.h"
#include "WylnInterface.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace wyln_test {

using Clock = std::chrono::steady_clock;

inline long long elapsedMs(Clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// Sets (or unsets, with a null value) an environment variable for the
// lifetime of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        const char* old = std::getenv(name);
        if (old) {
            had_ = true;
            old_ = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

// Clears every WYLN_* setting so that tests start from the defaults.
struct CleanWylnEnv
{
    ScopedEnv conf{"WYLN_CONF", ""};
    ScopedEnv service{"WYLN_SERVICE_ID", nullptr};
    ScopedEnv user{"WYLN_USERNAME", nullptr};
    ScopedEnv pass{"WYLN_PASSWORD", nullptr};
    ScopedEnv cafile{"WYLN_CAFILE", nullptr};
    ScopedEnv capath{"WYLN_CAPATH", nullptr};
    ScopedEnv prefix{"WYLN_ID_PREFIX", nullptr};
    ScopedEnv timeout{"WYLN_CONNECT_TIMEOUT_MS", nullptr};
    ScopedEnv delayMin{"WYLN_RECONNECT_DELAY_MIN", nullptr};
    ScopedEnv delayMax{"WYLN_RECONNECT_DELAY_MAX", nullptr};
};

struct Message
{
    std::string data;
    std::string peer;
};

// Records every packet handed to OnRecv; an optional hook runs first (on
// the transport's thread), e.g. to reply.
class RecordingSink : public WYLN::IWylnOwner
{
public:
    std::function<void(const char*, int, const char*)> hook;

    void OnRecv(const char* pData, int nLen, const char* szPeerId, const char*) override
    {
        if (hook)
            hook(pData, nLen, szPeerId);
        std::lock_guard<std::mutex> lk(mu_);
        messages_.push_back(Message{std::string(pData, static_cast<size_t>(nLen)), szPeerId});
        cv_.notify_all();
    }

    bool waitFor(size_t count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lk(mu_);
        return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return messages_.size() >= count; });
    }

    std::vector<Message> messages()
    {
        std::lock_guard<std::mutex> lk(mu_);
        return messages_;
    }

    size_t count()
    {
        std::lock_guard<std::mutex> lk(mu_);
        return messages_.size();
    }

    void clear()
    {
        std::lock_guard<std::mutex> lk(mu_);
        messages_.clear();
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Message> messages_;
};

// The plug-in's factory for the lifetime of the object.
struct Plugin
{
    IWylnCreator* creator = NewInterface();
    ~Plugin() { ReleaseInterface(creator); }
};

// One plug-in connection with its sink. The client is destroyed before the
// sink, so no callback can reach a dead sink.
class Peer
{
public:
    explicit Peer(IWylnCreator* creator) : creator_(creator), client_(creator->CreateClient(0))
    {
        std::memset(id_, 0, sizeof(id_));
    }
    ~Peer() { destroy(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    void destroy()
    {
        if (client_)
            creator_->DestroyClient(client_);
        client_ = nullptr;
    }

    // Connect + Login; id may be empty to have one issued.
    int login(int port, const std::string& id = std::string(), const char* host = "127.0.0.1")
    {
        int rc = client_->Connect(host, port);
        if (rc != 0)
            return rc;
        std::memset(id_, 0, sizeof(id_));
        std::strncpy(id_, id.c_str(), sizeof(id_) - 1);
        return client_->Login(id_, &sink, 0);
    }

    IWylnClient* operator->() { return client_; }
    IWylnClient* client() { return client_; }
    std::string id() const { return id_; }
    char* idBuffer() { return id_; }

    RecordingSink sink;

private:
    IWylnCreator* creator_;
    IWylnClient* client_;
    char id_[WYLN_ID_BUFFER];
};

// A bare libmosquitto MQTT 5 client: for presence checks, attacks the
// broker must refuse, and baseline measurements.
class RawClient
{
public:
    explicit RawClient(const std::string& id)
    {
        mosq_ = mosquitto_new(id.c_str(), true, this);
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_connect_v5_callback_set(mosq_, [](mosquitto*, void* o, int rc, int, const mosquitto_property*) {
            auto* self = static_cast<RawClient*>(o);
            std::lock_guard<std::mutex> lk(self->mu_);
            self->connack_ = rc;
            self->cv_.notify_all();
        });
        mosquitto_publish_v5_callback_set(mosq_, [](mosquitto*, void* o, int mid, int reason, const mosquitto_property*) {
            auto* self = static_cast<RawClient*>(o);
            std::lock_guard<std::mutex> lk(self->mu_);
            self->acks_.emplace_back(mid, reason);
            self->cv_.notify_all();
        });
        mosquitto_subscribe_v5_callback_set(
            mosq_, [](mosquitto*, void* o, int, int, const int*, const mosquitto_property*) {
                auto* self = static_cast<RawClient*>(o);
                std::lock_guard<std::mutex> lk(self->mu_);
                ++self->subacks_;
                self->cv_.notify_all();
            });
        mosquitto_message_v5_callback_set(
            mosq_, [](mosquitto*, void* o, const mosquitto_message* m, const mosquitto_property*) {
                auto* self = static_cast<RawClient*>(o);
                if (self->hook) {
                    self->hook(m);
                    return;
                }
                std::lock_guard<std::mutex> lk(self->mu_);
                self->messages_.push_back(
                    Message{std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen)),
                            m->topic});
                self->cv_.notify_all();
            });
    }
    ~RawClient()
    {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // Called on the network thread instead of recording, when set.
    std::function<void(const mosquitto_message*)> hook;

    mosquitto* handle() { return mosq_; }

    bool connect(int port, const char* user = nullptr, const char* password = nullptr)
    {
        if (user)
            mosquitto_username_pw_set(mosq_, user, password);
        if (mosquitto_connect(mosq_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
            return false;
        mosquitto_loop_start(mosq_);
        std::unique_lock<std::mutex> lk(mu_);
        cv_.wait_for(lk, std::chrono::seconds(5), [&] { return connack_ >= 0; });
        return connack_ == 0;
    }

    bool subscribe(const std::string& filter)
    {
        std::unique_lock<std::mutex> lk(mu_);
        int before = subacks_;
        lk.unlock();
        if (mosquitto_subscribe_v5(mosq_, nullptr, filter.c_str(), 1, 0, nullptr) != MOSQ_ERR_SUCCESS)
            return false;
        lk.lock();
        return cv_.wait_for(lk, std::chrono::seconds(5), [&] { return subacks_ > before; });
    }

    // Publishes at QoS 1 and returns the PUBACK reason code, or -1.
    int publish(const std::string& topic, const std::string& payload, bool retain = false)
    {
        int mid = 0;
        std::unique_lock<std::mutex> lk(mu_);
        if (mosquitto_publish_v5(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                                 retain, nullptr)
            != MOSQ_ERR_SUCCESS)
            return -1;
        int reason = -1;
        cv_.wait_for(lk, std::chrono::seconds(5), [&] {
            for (auto& a : acks_)
                if (a.first == mid) {
                    reason = a.second;
                    return true;
                }
            return false;
        });
        return reason;
    }

    bool waitFor(size_t count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lk(mu_);
        return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return messages_.size() >= count; });
    }

    // Messages seen so far; Message::peer holds the topic.
    std::vector<Message> messages()
    {
        std::lock_guard<std::mutex> lk(mu_);
        return messages_;
    }

private:
    mosquitto* mosq_ = nullptr;
    std::mutex mu_;
    std::condition_variable cv_;
    int connack_ = -1;
    int subacks_ = 0;
    std::vector<std::pair<int, int>> acks_;
    std::vector<Message> messages_;
};

} // namespace wyln_test
