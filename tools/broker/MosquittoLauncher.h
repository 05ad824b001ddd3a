// The mosquitto kind of BrokerLauncher.
#pragma once

#include "BrokerLauncher.h"

#include <QProcess>
#include <QTemporaryDir>

namespace tools {

// Rewrites the shipped mosquitto.conf: @CONFDIR@ replaced, the TLS listener
// dropped, the local listener moved to `port`, the log sent to confDir.
QString loopbackMosquittoConfig(const QString& shippedText, const QString& confDir, int port, bool runAsRoot);

class MosquittoLauncher : public BrokerLauncher
{
public:
    explicit MosquittoLauncher(BrokerSetup setup);
    ~MosquittoLauncher() override;

    bool start(int timeoutMs = 5000) override;
    void stop() override;
    void kill() override;
    std::vector<BrokerEndpoint> endpoints() const override;
    QString log() const override;
    QString dir() const override { return dir_.path(); }

private:
    bool writeConfiguration();
    bool writePasswords();
    bool fail(const QString& what);

    BrokerSetup setup_;
    QTemporaryDir dir_;
    QProcess proc_;
    int port_ = 0;
    bool configured_ = false;
};

} // namespace tools
