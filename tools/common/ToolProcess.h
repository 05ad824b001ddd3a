// What the programs that start the tools share (the demo, the tools' tests,
// the benchmarks): the environment of a broker account, the JSON objects a
// tool run with --json writes one per line, and a process's resident memory.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QString>

#include <vector>

namespace tools {

// This process's environment for a tool that logs in as broker account
// `user`: the plug-in's user name and password set, and WYLN_CONF removed so
// that no configuration file of this machine changes the broker's settings.
QProcessEnvironment accountEnvironment(const QString& user, const QString& password);

// The same for this process's own plug-in connections.
void useAccount(const QString& user, const QString& password);

// The object of one output line of a tool run with --json; an empty object
// for any other line.
QJsonObject jsonLine(const QByteArray& line);

// Whether one of `events` is named `name` and has every member of `fields`.
bool hasEvent(const std::vector<QJsonObject>& events, const QString& name, const QJsonObject& fields = {});

// A tool's output read as it arrives: the objects of its complete lines.
class JsonLines
{
public:
    void feed(const QByteArray& bytes);
    const std::vector<QJsonObject>& events() const { return events_; }
    bool has(const QString& name, const QJsonObject& fields = {}) const { return hasEvent(events_, name, fields); }

private:
    QByteArray partial_;
    std::vector<QJsonObject> events_;
};

// Writes `size` pseudo-random bytes drawn from `seed` (after `head`, when
// given) to `path`, one MiB at a time; false when it cannot. md5Hex gets
// the file's MD5 in hex.
bool writeRandomFile(const QString& path, qint64 size, quint64 seed, QString& md5Hex, const QByteArray& head = {});

// Resident memory of process `pid` (0: this one) now and at its peak, in
// KiB; zeros where the system does not say (only Linux does here).
struct ResidentMemory
{
    qint64 nowKiB = 0;
    qint64 peakKiB = 0;
};
ResidentMemory residentMemory(qint64 pid = 0);

} // namespace tools
