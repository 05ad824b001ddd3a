// The mosquitto kind of BrokerLauncher.
#pragma once

#include "OwnBroker.h"

#include <QProcess>

#include <memory>

namespace tools {

// Rewrites the shipped mosquitto.conf: @CONFDIR@ replaced, the TLS listener
// dropped, the local listener moved to `port`, the log sent to confDir.
QString loopbackMosquittoConfig(const QString& shippedText, const QString& confDir, int port, bool runAsRoot);

class MosquittoLauncher : public OwnBroker
{
public:
    explicit MosquittoLauncher(BrokerSetup setup);
    ~MosquittoLauncher() override;

    bool start(int timeoutMs = 5000) override;
    void stop() override;
    void kill() override;
    std::vector<BrokerEndpoint> endpoints() const override;
    QString log() const override;

private:
    static QProcessEnvironment brokerEnvironment();
    bool writeConfiguration();
    bool writePasswords();

    QProcess proc_;
    int port_ = 0;
    bool configured_ = false;
};

// Two mosquitto brokers: the remote one (endpoint 0) and the local one
// (endpoint 1), bridged to it with the shipped mosquitto-bridge.conf from
// setup.shippedConfDir. The bridge logs in to the remote broker as
// kBridgeUser, which its ACL lets carry the plug-in's topic trees.
class BridgeLauncher : public BrokerLauncher
{
public:
    static constexpr const char* kBridgeUser = "wyln-bridge";
    static constexpr const char* kBridgePassword = "wyln-bridge-pw";

    explicit BridgeLauncher(BrokerSetup setup);
    ~BridgeLauncher() override;

    bool start(int timeoutMs = 5000) override;
    void stop() override;
    void kill() override;
    void killNode(size_t index) override;
    std::vector<BrokerEndpoint> endpoints() const override;
    QString log() const override;
    QString dir() const override { return remote_->dir(); }

private:
    BrokerSetup setup_;
    std::unique_ptr<MosquittoLauncher> remote_, local_;
};

} // namespace tools
