// Command-line pieces every tool shares: name, version and help, numeric
// options, the broker options and credentials.
#pragma once

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QString>

#include <cstdio>

#ifndef ORLIN_VERSION
#define ORLIN_VERSION "0"
#endif

namespace tools {

// Names the tool and its version (shown by --version).
inline void setToolName(const char* name)
{
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(ORLIN_VERSION);
}

// The start of every tool's command line: its name and version (for
// --version), its description, --help and --version.
inline void describeTool(QCommandLineParser& p, const char* name, const QString& description)
{
    setToolName(name);
    p.setApplicationDescription(description);
    p.addHelpOption();
    p.addVersionOption();
}

// A usage error: the message on stderr.
inline void usageError(const QString& text)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), text.toUtf8().constData());
}

// The integer value of option `name`, at least `min`; false (with a usage
// error) when it is something else.
inline bool intOption(const QCommandLineParser& p, const QString& name, int min, int& out)
{
    bool ok = false;
    const int v = p.value(name).toInt(&ok);
    if (!ok || v < min) {
        usageError(QString("--%1 wants a whole number of at least %2, not \"%3\"").arg(name).arg(min).arg(p.value(name)));
        return false;
    }
    out = v;
    return true;
}

// Hands broker credentials to the plug-in through its environment
// variables. The password comes from a file (its first line, without the
// line end) so that it never shows on a command line, where other users of
// the machine can read it. Empty arguments leave the variables alone.
inline bool setCredentials(const QString& user, const QString& passwordFile, const char* userVariable,
                           const char* passwordVariable)
{
    if (!user.isEmpty())
        qputenv(userVariable, user.toUtf8());
    if (passwordFile.isEmpty())
        return true;
    QFile f(passwordFile);
    if (!f.open(QIODevice::ReadOnly)) {
        usageError("cannot read the password file " + passwordFile);
        return false;
    }
    QByteArray line = f.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    qputenv(passwordVariable, line);
    return true;
}

// A usage error for the first positional argument of a tool that takes none.
inline bool noArguments(const QCommandLineParser& p)
{
    if (p.positionalArguments().isEmpty())
        return true;
    usageError("unexpected argument \"" + p.positionalArguments().first() + "\"; see --help");
    return false;
}

// The options of a tool that logs in to a broker.
inline void addBrokerOptions(QCommandLineParser& p)
{
    p.addOptions({
        {"host", "Broker host.", "host", "127.0.0.1"},
        {"port", "Broker port.", "port", "1883"},
        {"user", "Broker user name (else WYLN_USERNAME).", "name"},
        {"password-file", "File whose first line is the broker password (else WYLN_PASSWORD).", "file"},
    });
}

// After parsing: the port, and the credentials handed to the plug-in; false
// after a usage error.
inline bool brokerOptions(const QCommandLineParser& p, int& port)
{
    return intOption(p, "port", 1, port)
           && setCredentials(p.value("user"), p.value("password-file"), "WYLN_USERNAME", "WYLN_PASSWORD");
}

} // namespace tools
