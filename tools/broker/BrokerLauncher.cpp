#include "BrokerLauncher.h"

#include "EjabberdLauncher.h"
#include "MosquittoLauncher.h"
#include "OwnBroker.h"

#include <QFile>

#include <QThread>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstring>

namespace tools {

namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
void closeSocket(Socket s) { closesocket(s); }
struct WinsockUser
{
    WinsockUser()
    {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
    }
    ~WinsockUser() { WSACleanup(); }
};
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void closeSocket(Socket s) { close(s); }
struct WinsockUser
{
};
#endif

// A broker someone else runs: nothing to start or stop, only to check.
class SharedBroker : public BrokerLauncher
{
public:
    explicit SharedBroker(BrokerEndpoint at) : at_(std::move(at)) {}

    bool start(int timeoutMs) override
    {
        for (int waited = 0;; waited += 50) {
            if (portAccepts(at_.host, at_.port))
                return true;
            if (waited >= timeoutMs)
                break;
            QThread::msleep(50);
        }
        error_ = QString("the broker at %1:%2 (%3, %4) does not accept connections")
                     .arg(at_.host)
                     .arg(at_.port)
                     .arg(kBrokerHostVariable, kBrokerPortVariable);
        return false;
    }
    void stop() override {}
    void kill() override {}
    std::vector<BrokerEndpoint> endpoints() const override { return {at_}; }
    QString log() const override { return QString(); }
    QString dir() const override { return QString(); }
    bool shared() const override { return true; }

private:
    BrokerEndpoint at_;
};

// Stands for a setup that needs its own broker where the environment names
// a shared one.
class UnavailableBroker : public SharedBroker
{
public:
    UnavailableBroker(BrokerEndpoint at, QString why) : SharedBroker(std::move(at))
    {
        unavailable_ = std::move(why);
        error_ = unavailable_;
    }
    bool start(int) override { return false; }
};

} // namespace

QString BrokerLauncher::host() const
{
    const auto e = endpoints();
    return e.empty() ? QString() : e.front().host;
}

int BrokerLauncher::port() const
{
    const auto e = endpoints();
    return e.empty() ? 0 : e.front().port;
}

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool writeText(const QString& path, const QString& text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) >= 0;
}

std::optional<BrokerKind> brokerKindNamed(const QString& name)
{
    const std::pair<const char*, BrokerKind> kinds[] = {{"mosquitto", BrokerKind::Mosquitto},
                                                        {"ejabberd", BrokerKind::Ejabberd},
                                                        {"cluster", BrokerKind::EjabberdCluster},
                                                        {"bridge", BrokerKind::MosquittoBridge}};
    for (const auto& k : kinds)
        if (name == QLatin1String(k.first))
            return k.second;
    return std::nullopt;
}

std::optional<BrokerEndpoint> sharedBrokerFromEnvironment()
{
    const QString host = qEnvironmentVariable(kBrokerHostVariable);
    const QString port = qEnvironmentVariable(kBrokerPortVariable);
    if (host.isEmpty() && port.isEmpty())
        return std::nullopt;
    return BrokerEndpoint{host.isEmpty() ? QString("127.0.0.1") : host, port.isEmpty() ? 1883 : port.toInt()};
}

std::unique_ptr<BrokerLauncher> makeBroker(const BrokerSetup& setup)
{
    if (const auto shared = sharedBrokerFromEnvironment()) {
        if (setup.needsOwnBroker || setup.kind != BrokerKind::Mosquitto)
            return std::make_unique<UnavailableBroker>(
                *shared, QString("needs a broker of its own configuration; %1/%2 name a shared one")
                             .arg(kBrokerHostVariable, kBrokerPortVariable));
        return std::make_unique<SharedBroker>(*shared);
    }
    switch (setup.kind) {
    case BrokerKind::Mosquitto:
        break;
    case BrokerKind::Ejabberd:
        return std::make_unique<EjabberdLauncher>(setup, 1);
    case BrokerKind::EjabberdCluster:
        return std::make_unique<EjabberdLauncher>(setup, 2);
    case BrokerKind::MosquittoBridge:
        return std::make_unique<BridgeLauncher>(setup);
    }
    return std::make_unique<MosquittoLauncher>(setup);
}

int freeLoopbackPort()
{
    [[maybe_unused]] WinsockUser ws;
    const Socket s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == kNoSocket)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0
        && getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    closeSocket(s);
    return port;
}

bool portAccepts(const QString& host, int port)
{
    [[maybe_unused]] WinsockUser ws;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found) != 0)
        return false;
    bool ok = false;
    for (addrinfo* ai = found; ai && !ok; ai = ai->ai_next) {
        const Socket s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (s == kNoSocket)
            continue;
        ok = ::connect(s, ai->ai_addr, static_cast<socklen_t>(ai->ai_addrlen)) == 0;
        closeSocket(s);
    }
    freeaddrinfo(found);
    return ok;
}

} // namespace tools
