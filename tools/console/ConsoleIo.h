// What the console's subcommands share: output lines, option parsing, the
// transport login and the stop signal.
#pragma once

#include "WylnPeer.h"

#include <QCommandLineParser>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <mutex>

namespace console {

// Lines to stdout and stderr, whole and flushed, from any thread.
void out(const QString& line);
void err(const QString& line);
// Held by whoever writes partial lines (progress shown in place).
std::mutex& outputLock();

// Any JSON value as compact text.
QString compact(const QJsonValue& v);
// Whether `f` is a terminal (progress is then redrawn in place).
bool isTerminal(FILE* f);
// Wall-clock time of day with milliseconds, the prefix of event lines.
QString now();

// Options every subcommand takes: --help, --version, --host, --port, --user,
// --password-file, --json.
void addCommon(QCommandLineParser& p);
// Parses `args` of subcommand `cmd`; false (with a message on stderr) when
// fewer than `positional` arguments were given or an option is wrong. Broker
// credentials given as options are handed to the plug-in through its
// environment variables.
bool parse(QCommandLineParser& p, const QString& cmd, const QStringList& args, int positional);
// Logs `peer` in at --host/--port; reports a failure on stderr.
bool startPeer(tools::WylnPeer& peer, QCommandLineParser& p, const QString& id = QString());

// SIGINT and SIGTERM set the flag stopRequested() reads.
void catchSignals();
bool stopRequested();

} // namespace console
