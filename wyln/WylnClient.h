// One connection of the wyln transport: a libmosquitto client (MQTT 5)
// with its own network thread.
#pragma once

#include "WylnConfig.h"
#include "WylnInterface.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

namespace wyln {

class Client final : public IWylnClient
{
public:
    explicit Client(const Config& config);
    ~Client() override;

    int Connect(const char* szHost, int nPort) override;
    int Login(char* szId, WYLN::IWylnOwner* pSink, int nLoginParam) override;
    int ApplyId(const char* szApplyInfo, char* szId, int nLoginParam) override;
    int NotifyRecv(const char* pData, int nLen, const char* szPeerId) override;
    int Send(const char* pData, int nTimeoutMs) override;
    int SendTo(const char* szTargetId, const char* pData, int nLen, int nTimeoutMs) override;

private:
    int reachBroker(const char* host, int port);
    int openSession(char* idBuffer, WYLN::IWylnOwner* sink);
    int makeId(char* idBuffer) const;
    int publishTo(const char* target, const char* data, int len, int timeoutMs);
    int setUpSession(const std::string& id);
    int handshake();
    void logout();
    // The network thread: drives the connection and, when it is lost,
    // reconnects with backoff, moving on to the next broker each time.
    void networkLoop();
    // Publishes at QoS 1; waits for the PUBACK unless wait is false.
    int publish(const std::string& topic, const void* data, int len, bool retain, bool wait, int timeoutMs,
                const mosquitto_property* props = nullptr);
    // The login's token as a user property; null without memory.
    mosquitto_property* tokenProperty() const;
    // Called with the properties of a message on the own presence topic.
    void checkTakeOver(mosquitto* mosq, const mosquitto_property* props);
    bool insideOwnCallback() const;

    static void onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property* props);
    static void onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property* props);
    static void onPublish(mosquitto*, void* self, int mid, int reason, const mosquitto_property* props);
    static void onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted,
                            const mosquitto_property* props);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* msg, const mosquitto_property* props);

    const Config config_;
    // The broker given to Connect, then the configured ones; brokers_[current_]
    // is the one in use (changed only by Connect and the network thread).
    std::vector<std::pair<std::string, int>> brokers_;
    size_t current_ = 0;

    mosquitto* mosq_ = nullptr;
    std::thread network_;
    std::atomic<bool> stopping_{false};
    std::string id_;
    WYLN::IWylnOwner* sink_ = nullptr;

    std::atomic<bool> loggedIn_{false};
    std::atomic<bool> linkUp_{false};
    std::atomic<bool> takenOver_{false};
    std::string token_;                    // this login's, see checkTakeOver
    std::atomic<int> connections_{0};      // of this login, the first included
    std::atomic<uint32_t> maxPacket_{0};

    // Guards everything below; callbacks signal cv_.
    std::mutex mu_;
    std::condition_variable cv_;
    int connackReason_ = -1;  // -1 until a CONNACK arrived during Login
    int subscribeMid_ = -1;
    int subackResult_ = -1;   // -1 until the inbox subscription was answered
    struct Pending
    {
        bool waiter;  // a sender waits for this PUBACK
        bool done;    // the PUBACK (or a disconnect) has settled it
        int result;   // plug-in result code once done
    };
    // Keyed by message id. An entry with waiter == false and done == false
    // is abandoned (nobody waits); with done == true it is a PUBACK that
    // arrived before its sender registered the id.
    std::unordered_map<int, Pending> pending_;
};

} // namespace wyln
