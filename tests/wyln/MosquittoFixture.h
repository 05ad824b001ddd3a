// Test helpers: the broker of a test (through the project's broker launcher:
// a private mosquitto on a free 127.0.0.1 port, or the broker that
// ORLIN_BROKER_HOST/ORLIN_BROKER_PORT name), and a test CA made with openssl.
#pragma once

#include "BrokerLauncher.h"

#include <QStringList>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace wyln_test {

// The broker's max_packet_size.
constexpr uint32_t kMaxPacket = tools::kBrokerMaxPacket;

inline bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(f << text);
}

inline std::string readFile(const std::string& path)
{
    std::ostringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    return ss.str();
}

// Runs a shell command with its output discarded. Arguments are quoted with
// '...', so paths must not contain a single quote (temporary ones do not).
inline bool runQuiet(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A CA and a server certificate for 127.0.0.1 (only) signed by it.
struct TestCa
{
    std::string caCert, serverCert, serverKey;
};

inline bool makeTestCa(const std::string& dir, const std::string& name, TestCa& out)
{
    const std::string ca = "'" + dir + "/" + name + "-ca", srv = "'" + dir + "/" + name + "-server";
    const std::string ext = dir + "/" + name + "-ext.cnf";
    out = TestCa{dir + "/" + name + "-ca.crt", dir + "/" + name + "-server.crt", dir + "/" + name + "-server.key"};
    return writeFile(ext, "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                          "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
           && runQuiet("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + name + "-test-ca -keyout " + ca
                       + ".key' -out " + ca + ".crt'")
           && runQuiet("openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + srv + ".key' -out " + srv
                       + ".csr'")
           && runQuiet("openssl x509 -req -days 2 -in " + srv + ".csr' -CA " + ca + ".crt' -CAkey " + ca
                       + ".key' -CAcreateserial -extfile '" + ext + "' -out " + srv + ".crt'");
}

using tools::BrokerKind;

inline const char* kindName(BrokerKind k)
{
    switch (k) {
    case BrokerKind::Mosquitto: return "Mosquitto";
    case BrokerKind::Ejabberd: return "Ejabberd";
    case BrokerKind::EjabberdCluster: return "EjabberdCluster";
    case BrokerKind::MosquittoBridge: return "MosquittoBridge";
    }
    return "?";
}

struct BrokerOptions
{
    // Password file users (ejabberd: registered users); when non-empty,
    // anonymous clients are refused.
    std::vector<std::pair<std::string, std::string>> users;
    std::string extra;        // further mosquitto lines, e.g. acl_file
    const TestCa* tls = nullptr;  // a TLS listener with this CA's server certificate
    BrokerKind kind = BrokerKind::Mosquitto;
    std::string shippedConfDir = {};  // the shipped configuration instead of a minimal one
};

// Where the test broker is: the host of ORLIN_BROKER_HOST, else 127.0.0.1.
inline const char* testBrokerHost()
{
    static const std::string host = [] {
        const auto shared = tools::sharedBrokerFromEnvironment();
        return shared ? shared->host.toStdString() : std::string("127.0.0.1");
    }();
    return host.c_str();
}

// The test's broker. Options beyond the default (users, rules, TLS, another
// kind) need a broker of the test's own: with a shared broker named by the
// environment, start() fails and unavailable() says why (tests then skip).
class TestBroker
{
public:
    explicit TestBroker(const BrokerOptions& options = BrokerOptions()) : broker_(tools::makeBroker(setup(options))) {}

    bool start(int timeoutMs = 5000) { return broker_->start(timeoutMs); }
    void stop() { broker_->stop(); }
    void killNode(size_t index) { broker_->killNode(index); }
    int port() const { return broker_->port(); }
    // Node `index` of a cluster or bridge pair.
    int port(size_t index) const { return broker_->endpoints().at(index).port; }
    bool shared() const { return broker_->shared(); }
    std::string unavailable() const { return broker_->unavailable().toStdString(); }
    std::string lastError() const { return broker_->errorText().toStdString(); }

private:
    static tools::BrokerSetup setup(const BrokerOptions& o)
    {
        tools::BrokerSetup s;
        for (const auto& u : o.users)
            s.users.push_back({QString::fromStdString(u.first), QString::fromStdString(u.second)});
        if (!o.extra.empty())
            s.extraLines = QString::fromStdString(o.extra).split('\n');
        if (o.tls)
            s.tls = tools::BrokerTls{QString::fromStdString(o.tls->caCert), QString::fromStdString(o.tls->serverCert),
                                     QString::fromStdString(o.tls->serverKey)};
        s.kind = o.kind;
        s.shippedConfDir = QString::fromStdString(o.shippedConfDir);
        s.needsOwnBroker = !o.users.empty() || !o.extra.empty() || o.tls || !o.shippedConfDir.empty();
        return s;
    }

    std::unique_ptr<tools::BrokerLauncher> broker_;
};

// Starts `broker`, or skips the test when this setup cannot be had here.
#define WYLN_START_BROKER(broker)                                                                              \
    do {                                                                                                        \
        if (!(broker).unavailable().empty())                                                                    \
            GTEST_SKIP() << (broker).unavailable();                                                             \
        ASSERT_TRUE((broker).start()) << (broker).lastError();                                                  \
    } while (0)

} // namespace wyln_test
