// A private mosquitto broker for the demo and the end-to-end test: the
// shipped configuration (wyln/conf/mosquitto.conf with its ACL and password
// file) rewritten for one plain listener on 127.0.0.1 and a free port. The
// TLS listener of the shipped file is left out: everything stays on the
// loopback interface.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <utility>
#include <vector>

namespace tools {

int freeLoopbackPort();
bool loopbackPortAccepts(int port);

// Rewrites the shipped mosquitto.conf: @CONFDIR@ replaced, the TLS listener
// dropped, the local listener moved to `port`, the log sent to confDir.
QString demoBrokerConfig(const QString& shippedText, const QString& confDir, int port, bool runAsRoot);

class DemoBroker
{
public:
    using Users = std::vector<std::pair<QString, QString>>;

    // shippedConfDir holds mosquitto.conf and wyln.acl.
    explicit DemoBroker(QString shippedConfDir);
    ~DemoBroker();

    // Writes the configuration and the password file for `users`, starts the
    // broker and waits until it accepts connections.
    bool start(const Users& users, int timeoutMs = 5000);
    void stop();

    int port() const { return port_; }
    QString dir() const { return dir_.path(); }
    QString errorText() const { return error_; }
    QString log() const;
    qint64 pid() const { return proc_.processId(); }

private:
    QString shipped_;
    QTemporaryDir dir_;
    QProcess proc_;
    int port_ = 0;
    QString error_;
};

} // namespace tools
