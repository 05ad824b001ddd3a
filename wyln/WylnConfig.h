// Settings of the wyln transport: a key=value file and WYLN_* environment
// variables (see Wyln.h for the keys).
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace wyln {

struct Config
{
    std::string serviceId = "wyln";
    std::string username;
    std::string password;
    std::string cafile;
    std::string capath;
    std::string certfile;
    std::string keyfile;
    int keepaliveS = 30;
    int connectTimeoutMs = 5000;
    int reconnectDelayMinS = 1;
    int reconnectDelayMaxS = 30;
    std::string idPrefix;
    bool presence = true;
    // Largest packet to send when the broker announces no limit (0: none).
    int maxPacketSize = 0;
    // Further brokers (host, port) to move to when the current one is lost.
    std::vector<std::pair<std::string, int>> brokers;

    // Empty when every value was usable; otherwise describes the first bad one.
    std::string error;

    bool tls() const { return !cafile.empty() || !capath.empty(); }

    // fileText: contents of the configuration file (may be empty).
    // env: returns true and the value when the variable is set.
    static Config parse(const std::string& fileText,
                        const std::function<bool(const std::string&, std::string&)>& env);
    // Reads $WYLN_CONF or wyln.conf beside the plug-in, then the environment.
    static Config load();
};

} // namespace wyln
