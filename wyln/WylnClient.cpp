#include "WylnClient.h"
#include "Wyln.h"
#include "WylnClientInternal.h"
#include "WylnNet.h"
#include "WylnTopic.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

namespace wyln {

thread_local const Client* t_callbackOf = nullptr;

// Each thread seeds its own generator from the system's entropy source once.
std::string RandomUuid()
{
    thread_local std::mt19937_64 rng = [] {
        std::random_device rd;
        std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
        return std::mt19937_64(seq);
    }();
    const uint64_t hi = (rng() & 0xFFFFFFFFFFFF0FFFull) | 0x4000ull;                 // version 4
    const uint64_t lo = (rng() & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;     // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof(text), "%08x-%04x-%04x-%04x-%012llx", unsigned(hi >> 32), unsigned((hi >> 16) & 0xFFFF),
                  unsigned(hi & 0xFFFF), unsigned(lo >> 48), static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
    return text;
}

// Result of a libmosquitto call that failed locally.
int mosqResult(int rc)
{
    switch (rc) {
    case MOSQ_ERR_SUCCESS: return WYLN_OK;
    case MOSQ_ERR_NOMEM: return WYLN_E_NO_MEMORY;
    case MOSQ_ERR_INVAL: return WYLN_E_INVALID_ARGUMENT;
    case MOSQ_ERR_PAYLOAD_SIZE:
    case MOSQ_ERR_OVERSIZE_PACKET: return WYLN_E_MESSAGE_TOO_LARGE;
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE: return WYLN_E_TLS;
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_CONN_REFUSED:
    case MOSQ_ERR_ERRNO:
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_KEEPALIVE: return WYLN_E_NOT_CONNECTED;
    case MOSQ_ERR_ACL_DENIED:
    case MOSQ_ERR_AUTH: return WYLN_E_NOT_AUTHORIZED;
    default: return WYLN_E_INTERNAL;
    }
}

namespace {

// Result of a connection refused in CONNACK (MQTT 5 reason codes).
int connackResult(int reason)
{
    switch (reason) {
    case MQTT_RC_CLIENTID_NOT_VALID:
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
    case MQTT_RC_NOT_AUTHORIZED:
        return WYLN_ID_REFUSED;
    default:
        return WYLN_E_BROKER_REFUSED;
    }
}

// Runs f, turning any exception into WYLN_E_INTERNAL / WYLN_E_NO_MEMORY so
// that none crosses the plug-in boundary.
template <typename F>
int guarded(F f)
{
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return WYLN_E_NO_MEMORY;
    } catch (...) {
        return WYLN_E_INTERNAL;
    }
}

} // namespace

Client::Client(const Config& config) : config_(config) {}

Client::~Client()
{
    try {
        logout();
    } catch (...) {
    }
}

int Client::Connect(const char* szHost, int nPort)
{
    return guarded([&] { return reachBroker(szHost, nPort); });
}

int Client::Login(char* szId, WYLN::IWylnOwner* pSink, int)
{
    return guarded([&] { return openSession(szId, pSink); });
}

int Client::ApplyId(const char*, char* szId, int)
{
    return guarded([&] { return makeId(szId); });
}

int Client::NotifyRecv(const char*, int, const char*)
{
    return 0;
}

int Client::Send(const char* pData, int nTimeoutMs)
{
    return guarded([&] {
        if (!pData)
            return static_cast<int>(WYLN_E_INVALID_ARGUMENT);
        size_t n = std::strlen(pData);
        if (n > static_cast<size_t>(kMqttMaxRemaining))
            return static_cast<int>(WYLN_E_MESSAGE_TOO_LARGE);
        return publishTo(config_.serviceId.c_str(), pData, static_cast<int>(n), nTimeoutMs);
    });
}

int Client::SendTo(const char* szTargetId, const char* pData, int nLen, int nTimeoutMs)
{
    return guarded([&] { return publishTo(szTargetId, pData, nLen, nTimeoutMs); });
}

int Client::reachBroker(const char* host, int port)
{
    if (!config_.error.empty())
        return WYLN_E_CONFIG;
    if (!host || !*host || port <= 0 || port > 65535)
        return WYLN_E_INVALID_ARGUMENT;
    brokers_.assign(1, {host, port});
    for (const auto& b : config_.brokers)
        if (b != brokers_.front())
            brokers_.push_back(b);
    // The first reachable broker in the list is the one Login opens.
    for (current_ = 0; current_ < brokers_.size(); ++current_)
        if (probeTcp(brokers_[current_].first.c_str(), brokers_[current_].second, config_.connectTimeoutMs))
            return WYLN_OK;
    current_ = 0;
    return WYLN_E_NOT_CONNECTED;
}

int Client::makeId(char* idBuffer) const
{
    if (!idBuffer)
        return WYLN_E_INVALID_ARGUMENT;
    if (!config_.error.empty())
        return WYLN_E_CONFIG;
    // With credentials the broker names the client after its user name.
    std::string id = config_.username;
    if (id.empty())
        id = config_.idPrefix + RandomUuid();
    return copyIdToBuffer(id, idBuffer) ? WYLN_OK : WYLN_E_INTERNAL;
}

int Client::openSession(char* idBuffer, WYLN::IWylnOwner* sink)
{
    if (!idBuffer || !sink)
        return WYLN_E_INVALID_ARGUMENT;
    if (!config_.error.empty())
        return WYLN_E_CONFIG;
    if (t_callbackOf == this)
        return WYLN_E_INVALID_ARGUMENT;
    if (brokers_.empty())
        return WYLN_E_NOT_CONNECTED;
    logout();
    sink_ = sink;

    int len = boundedIdLength(idBuffer);
    std::string id;
    if (len == 0) {
        char fresh[WYLN_ID_BUFFER];
        int rc = makeId(fresh);
        if (rc != WYLN_OK)
            return rc;
        id = fresh;
    } else {
        if (!isValidId(idBuffer))
            return WYLN_ID_REFUSED;
        id = idBuffer;
        if (!config_.username.empty() && id != config_.username)
            return WYLN_ID_REFUSED;
    }

    int rc = setUpSession(id);
    if (rc == WYLN_OK)
        rc = handshake();
    if (rc != WYLN_OK) {
        logout();
        return rc;
    }
    // The network thread takes over; from here on it also reconnects.
    stopping_ = false;
    network_ = std::thread(&Client::networkLoop, this);
    loggedIn_ = true;
    copyIdToBuffer(id_, idBuffer);
    return WYLN_OK;
}

int Client::setUpSession(const std::string& id)
{
    id_ = id;
    {
        std::lock_guard<std::mutex> lk(mu_);
        connackReason_ = -1;
        subscribeMid_ = -1;
        subackResult_ = -1;
        pending_.clear();
    }
    takenOver_ = false;
    connections_ = 0;
    maxPacket_ = 0;
    token_ = ConnectionToken();

    mosq_ = mosquitto_new(id.c_str(), true, this);
    if (!mosq_)
        return WYLN_E_NO_MEMORY;
    int rc = mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    // A password without a user name logs in as the identifier itself, for
    // brokers whose user base holds the identifiers (ejabberd).
    if (rc == MOSQ_ERR_SUCCESS && (!config_.username.empty() || !config_.password.empty()))
        rc = mosquitto_username_pw_set(mosq_, config_.username.empty() ? id.c_str() : config_.username.c_str(),
                                       config_.password.empty() ? nullptr : config_.password.c_str());
    // Packets queued by other threads are written by the network thread.
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_threaded_set(mosq_, true);
    if (rc == MOSQ_ERR_SUCCESS && config_.presence) {
        std::string topic = presenceTopic(id);
        // The will carries the token too: the connection that throws this
        // one out leaves it behind on the presence topic.
        mosquitto_property* props = tokenProperty();
        rc = props ? mosquitto_will_set_v5(mosq_, topic.c_str(), static_cast<int>(sizeof(kOffline) - 1), kOffline,
                                           1, true, props)
                   : MOSQ_ERR_NOMEM;
        if (rc != MOSQ_ERR_SUCCESS)
            mosquitto_property_free_all(&props);
    }
    if (rc != MOSQ_ERR_SUCCESS)
        return mosqResult(rc);
    if (config_.tls()) {
        auto opt = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
        rc = mosquitto_tls_set(mosq_, opt(config_.cafile), opt(config_.capath), opt(config_.certfile),
                               opt(config_.keyfile), nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_opts_set(mosq_, 1 /* verify peer */, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_insecure_set(mosq_, false);
        if (rc != MOSQ_ERR_SUCCESS)
            return rc == MOSQ_ERR_NOMEM ? WYLN_E_NO_MEMORY : WYLN_E_TLS;
    }
    mosquitto_connect_v5_callback_set(mosq_, &Client::onConnect);
    mosquitto_disconnect_v5_callback_set(mosq_, &Client::onDisconnect);
    mosquitto_publish_v5_callback_set(mosq_, &Client::onPublish);
    mosquitto_subscribe_v5_callback_set(mosq_, &Client::onSubscribe);
    mosquitto_message_v5_callback_set(mosq_, &Client::onMessage);
    return WYLN_OK;
}

// Opens the MQTT session on the caller's thread and drives it until the
// inbox subscription is confirmed, refused, or the time is up.
int Client::handshake()
{
    // The TCP connection is opened without blocking and completed by the
    // loop below, so a broker's host that stops answering after Connect's
    // check costs connect_timeout_ms, not the system's connect time-out.
    const auto deadline = Clock::now() + std::chrono::milliseconds(config_.connectTimeoutMs);
    const auto& broker = brokers_[current_];
    int rc = mosquitto_connect_bind_async(mosq_, broker.first.c_str(), broker.second, config_.keepaliveS, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
        return mosqResult(rc);

    for (;;) {
        {
            std::lock_guard<std::mutex> lk(mu_);
            if (connackReason_ > 0)
                return connackResult(connackReason_);
            if (subackResult_ >= 0)
                return subackResult_;
        }
        if (Clock::now() >= deadline)
            return WYLN_E_TIMEOUT;
        rc = mosquitto_loop(mosq_, 50, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            std::lock_guard<std::mutex> lk(mu_);
            if (connackReason_ > 0)
                return connackResult(connackReason_);
            return mosqResult(rc);
        }
    }
}

void Client::logout()
{
    if (!mosq_)
        return;
    if (loggedIn_ && linkUp_ && config_.presence && !takenOver_)
        publish(presenceTopic(id_), kOffline, static_cast<int>(sizeof(kOffline) - 1), true, t_callbackOf != this,
                1000);
    loggedIn_ = false;
    mosquitto_disconnect_v5(mosq_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    {
        std::lock_guard<std::mutex> lk(mu_);
        stopping_ = true;
        cv_.notify_all();
    }
    if (network_.joinable())
        network_.join();
    linkUp_ = false;
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    sink_ = nullptr;
    std::lock_guard<std::mutex> lk(mu_);
    pending_.clear();
}

void Client::networkLoop()
{
    int failures = 0;
    while (!stopping_) {
        const int rc = mosquitto_loop(mosq_, 100, 1);
        if (stopping_)
            break;
        if (rc == MOSQ_ERR_SUCCESS) {
            if (linkUp_)
                failures = 0;
            continue;
        }
        // The link is gone (or the last attempt failed). A connection thrown
        // out by another one under the same identifier stays down.
        std::unique_lock<std::mutex> lk(mu_);
        if (takenOver_) {
            cv_.wait(lk, [&] { return stopping_.load(); });
            break;
        }
        const int shift = failures < 16 ? failures : 16;
        const int delayS = std::min(config_.reconnectDelayMinS << shift, config_.reconnectDelayMaxS);
        ++failures;
        if (cv_.wait_for(lk, std::chrono::seconds(delayS), [&] { return stopping_.load(); }))
            break;
        lk.unlock();
        // Same identifier, next broker: the session's inbox and presence are
        // set up again by onConnect.
        current_ = (current_ + 1) % brokers_.size();
        mosquitto_connect_bind_async(mosq_, brokers_[current_].first.c_str(), brokers_[current_].second,
                                     config_.keepaliveS, nullptr);
    }
    // Lets a DISCONNECT queued by logout reach the broker.
    mosquitto_loop_write(mosq_, 1);
}

bool Client::insideOwnCallback() const
{
    return t_callbackOf == this;
}

void Client::onConnect(mosquitto* mosq, void* obj, int rc, int, const mosquitto_property* props)
{
    Client* self = static_cast<Client*>(obj);
    CallbackScope scope(self);
    if (rc != 0) {
        std::lock_guard<std::mutex> lk(self->mu_);
        if (self->connackReason_ < 0)
            self->connackReason_ = rc;
        self->cv_.notify_all();
        return;
    }
    uint32_t maxPacket = 0;
    if (mosquitto_property_read_int32(props, MQTT_PROP_MAXIMUM_PACKET_SIZE, &maxPacket, false))
        self->maxPacket_ = maxPacket;
    else
        self->maxPacket_ = 0;

    int mid = 0;
    std::string filter = inboxFilter(self->id_);
    int src = mosquitto_subscribe_v5(mosq, &mid, filter.c_str(), 1, 0, nullptr);
    {
        std::lock_guard<std::mutex> lk(self->mu_);
        self->connackReason_ = 0;
        if (src == MOSQ_ERR_SUCCESS)
            self->subscribeMid_ = mid;
        else if (self->subackResult_ < 0)
            self->subackResult_ = mosqResult(src);
        self->cv_.notify_all();
    }
    self->linkUp_ = true;
    ++self->connections_;
    if (self->config_.presence) {
        // The retained presence, read before our own "online" replaces it,
        // tells whether another connection took the identifier meanwhile.
        const std::string topic = presenceTopic(self->id_);
        mosquitto_subscribe_v5(mosq, nullptr, topic.c_str(), 1, 0, nullptr);
        mosquitto_property* props = self->tokenProperty();
        self->publish(topic, kOnline, static_cast<int>(sizeof(kOnline) - 1), true, false, 0, props);
        mosquitto_property_free_all(&props);
    }
}

void Client::onDisconnect(mosquitto* mosq, void* obj, int rc, const mosquitto_property*)
{
    Client* self = static_cast<Client*>(obj);
    CallbackScope scope(self);
    self->linkUp_ = false;
    if (rc == MQTT_RC_SESSION_TAKEN_OVER) {
        // Another connection now owns the identifier: stop reconnecting, or
        // the two would keep throwing each other out.
        self->takenOver_ = true;
        mosquitto_disconnect(mosq);
    }
    int result = self->takenOver_ ? WYLN_E_SESSION_TAKEN_OVER : WYLN_E_NOT_CONNECTED;
    std::lock_guard<std::mutex> lk(self->mu_);
    for (auto& kv : self->pending_) {
        if (kv.second.waiter && !kv.second.done) {
            kv.second.done = true;
            kv.second.result = result;
        }
    }
    self->cv_.notify_all();
}

void Client::onSubscribe(mosquitto*, void* obj, int mid, int count, const int* granted, const mosquitto_property*)
{
    Client* self = static_cast<Client*>(obj);
    std::lock_guard<std::mutex> lk(self->mu_);
    if (mid != self->subscribeMid_ || self->subackResult_ >= 0)
        return;
    bool ok = count >= 1 && granted && granted[0] < 0x80;
    self->subackResult_ = ok ? WYLN_OK : WYLN_E_NOT_AUTHORIZED;
    self->cv_.notify_all();
}

} // namespace wyln
