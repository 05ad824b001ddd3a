// The ejabberd kinds of BrokerLauncher: one node, or two nodes joined into a
// cluster with ejabberd's own join_cluster command. Every node has its own
// configuration, spool and log folders, its MQTT listener on a free
// 127.0.0.1 port and Erlang distribution on 127.0.0.1 only; the nodes share
// an Erlang port mapper of their own, on 127.0.0.1 and a free port.
#pragma once

#include "OwnBroker.h"

#include <QProcess>

#include <memory>

namespace tools {

// The node configuration for a test: the shipped ejabberd.yml with its
// listener moved to `port`, or with an empty `shipped` a minimal open one
// (no access rules; `anonymous` lets unregistered identifiers in with any
// password).
QString loopbackEjabberdConfig(const QString& shipped, int port, bool anonymous);

class EjabberdLauncher : public OwnBroker
{
public:
    EjabberdLauncher(BrokerSetup setup, int nodes);
    ~EjabberdLauncher() override;

    // Starts the port mapper and every node (a restart keeps ports and
    // spools); the users are registered on the first node, and a second
    // node joins the first one's cluster, which shares them.
    bool start(int timeoutMs = 5000) override;
    void stop() override;
    void kill() override;
    void killNode(size_t index) override;
    std::vector<BrokerEndpoint> endpoints() const override;
    QString log() const override;

    // Runs one of ejabberd's administration commands on node `index`, as
    // `ejabberdctl --node <node> <args>` does.
    bool ctl(size_t index, const QStringList& args, int timeoutMs = 30000);

private:
    struct Node;
    QString nodeName(size_t index) const;
    QString nodeDir(size_t index) const;
    QStringList erlArgs(const QStringList& args) const;
    QProcessEnvironment environment(size_t index) const;
    bool launch(size_t index);
    bool waitReady(size_t index, int timeoutMs);

    QProcess epmd_;
    int epmdPort_ = 0;
    std::vector<std::unique_ptr<Node>> nodes_;
    bool joined_ = false;
};

} // namespace tools
