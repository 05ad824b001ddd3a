// One way to get an MQTT broker for the demo, the tools' tests, the plug-in's
// integration tests and its benchmark: either the broker the environment
// names (ORLIN_BROKER_HOST and ORLIN_BROKER_PORT, for example a broker on the
// Linux side while the tests run under Wine), or a broker of our own,
// started on a free 127.0.0.1 port in a temporary folder of its own and
// stopped again.
//
// Each kind of broker is one class behind BrokerLauncher; makeBroker() picks
// it from BrokerSetup::kind. The program is looked up on PATH.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace tools {

// The environment variables that name an already running broker. With
// either set, makeBroker() uses that broker instead of starting one (the
// host defaults to 127.0.0.1, the port to 1883).
constexpr const char* kBrokerHostVariable = "ORLIN_BROKER_HOST";
constexpr const char* kBrokerPortVariable = "ORLIN_BROKER_PORT";

// max_packet_size of the minimal configuration, as in the shipped one.
constexpr int kBrokerMaxPacket = 16 * 1024 * 1024;

enum class BrokerKind
{
    Mosquitto,
    // One ejabberd node (its MQTT 5 listener).
    Ejabberd,
    // Two ejabberd nodes joined into one cluster; endpoints() lists both.
    EjabberdCluster,
    // Two mosquitto brokers, the second bridged to the first with the
    // shipped bridge section; endpoints() lists both.
    MosquittoBridge,
};

// The kind a command line names: mosquitto, ejabberd, cluster or bridge.
std::optional<BrokerKind> brokerKindNamed(const QString& name);

struct BrokerUser
{
    QString name;
    QString password;
};

// A TLS listener's server side.
struct BrokerTls
{
    QString caCert;
    QString serverCert;
    QString serverKey;
};

struct BrokerSetup
{
    BrokerKind kind = BrokerKind::Mosquitto;
    // Set: the shipped configuration from this folder (mosquitto.conf and
    // wyln.acl; ejabberd.yml for ejabberd; mosquitto-bridge.conf too for a
    // bridge), with its local listener moved to the free port and its
    // network (TLS) listener left out. Empty: a minimal open configuration
    // (for ejabberd: no access rules, and any unregistered identifier logs in
    // with any password as an anonymous user).
    QString shippedConfDir;
    // The password file's users (ejabberd: its registered users); with the
    // minimal configuration, any user makes anonymous clients be refused.
    std::vector<BrokerUser> users;
    // Further lines of the configuration (mosquitto: after the listener).
    QStringList extraLines;
    // Further lines of the shipped ACL file (mosquitto).
    QStringList extraAclLines;
    // A TLS listener instead of the plain one (minimal configuration only).
    std::optional<BrokerTls> tls;
    // The caller depends on this very configuration (users, rules, TLS) or
    // stops and starts the broker itself: a broker named by the environment
    // will not do, and start() fails with unavailable() saying why.
    bool needsOwnBroker = false;
};

struct BrokerEndpoint
{
    QString host;
    int port = 0;
};

class BrokerLauncher
{
public:
    virtual ~BrokerLauncher() = default;

    // Starts the broker and waits until it accepts connections (for a
    // broker the environment names: checks that it does). A start after
    // stop() or kill() keeps the port. False with errorText() on failure.
    virtual bool start(int timeoutMs = 5000) = 0;
    // Ends the broker normally; kill() ends it abruptly, as a crash would.
    // Neither touches a broker the environment names.
    virtual void stop() = 0;
    virtual void kill() = 0;
    // Ends node `index` of endpoints() abruptly; the others go on.
    virtual void killNode(size_t index)
    {
        if (index == 0)
            kill();
    }
    // Where clients connect: one endpoint per node, the first one first.
    virtual std::vector<BrokerEndpoint> endpoints() const = 0;
    // The broker's own log, as far as it can be read.
    virtual QString log() const = 0;
    // The broker's folder (configuration, password file, logs); empty for
    // a broker the environment names.
    virtual QString dir() const = 0;
    // True for a broker the environment names.
    virtual bool shared() const { return false; }

    QString host() const;
    int port() const;
    QString errorText() const { return error_; }
    // Non-empty when this setup cannot be had here (it needs its own broker
    // and the environment names a shared one); start() then fails.
    QString unavailable() const { return unavailable_; }

protected:
    // Sets errorText(); returns false, for `return fail(...)`.
    bool fail(const QString& what)
    {
        error_ = what;
        return false;
    }

    QString error_;
    QString unavailable_;
};

// The launcher for `setup`: the environment's broker when it names one and
// the setup allows it (kinds other than mosquitto always need their own),
// else a new broker of setup.kind.
std::unique_ptr<BrokerLauncher> makeBroker(const BrokerSetup& setup);

// The broker named by ORLIN_BROKER_HOST/ORLIN_BROKER_PORT, if any.
std::optional<BrokerEndpoint> sharedBrokerFromEnvironment();

// A port on 127.0.0.1 that nothing listens on right now (0 on failure).
int freeLoopbackPort();
// Whether host:port accepts a TCP connection.
bool portAccepts(const QString& host, int port);

} // namespace tools
