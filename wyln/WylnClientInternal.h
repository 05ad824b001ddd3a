// What the two halves of Client (WylnClient.cpp: connection, network thread,
// failover; WylnExchange.cpp: publish, receive, presence and take-over) share.
// Not part of the plug-in's interface.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace wyln {

class Client;

using Clock = std::chrono::steady_clock;

// The client whose callback runs on this thread (null outside callbacks).
// A callback cannot wait for its own client's acknowledgements.
extern thread_local const Client* t_callbackOf;

struct CallbackScope
{
    const Client* saved;
    explicit CallbackScope(const Client* c) : saved(t_callbackOf) { t_callbackOf = c; }
    ~CallbackScope() { t_callbackOf = saved; }
};

constexpr char kOnline[] = "online";
constexpr char kOffline[] = "offline";
constexpr uint64_t kMqttMaxRemaining = 268435455;

// A random version-4 UUID in its 36-character text form.
std::string RandomUuid();
// Orders logins by time (microseconds since 1970, fixed width), unique by a
// random part.
std::string ConnectionToken();
// Result of a libmosquitto call that failed locally.
int mosqResult(int rc);

} // namespace wyln
