// What the launchers of brokers of our own share: the setup, a temporary
// folder for the configuration, password files and logs, and reading and
// writing those files.
#pragma once

#include "BrokerLauncher.h"

#include <QTemporaryDir>

#include <utility>

namespace tools {

class OwnBroker : public BrokerLauncher
{
public:
    QString dir() const override { return dir_.path(); }

protected:
    explicit OwnBroker(BrokerSetup setup) : setup_(std::move(setup)) {}

    BrokerSetup setup_;
    QTemporaryDir dir_;
};

// A file's text; empty when it cannot be read.
QString readText(const QString& path);
bool writeText(const QString& path, const QString& text);

} // namespace tools
