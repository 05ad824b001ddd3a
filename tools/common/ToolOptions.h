// Command-line pieces every tool shares: the version, numeric options and
// broker credentials.
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

} // namespace tools
