// orlin_console: the service side and a test peer on the wyln transport.
#include "Console.h"
#include "ToolOptions.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

// On stdout when asked for (--help), on stderr after a usage error.
void usage(FILE* to)
{
    std::fprintf(to,
        "usage: orlin_console <command> [options]\n\n"
        "commands:\n"
        "  service                          run as the service (\"wyln\"): print heartbeats, reports and\n"
        "                                   task-status updates, answer getClient\n"
        "  send <device> <func> [json-data] send a command and print the reply\n"
        "  send-file <device> <path>        send a file in chunks, with progress and throughput\n"
        "  watch <device>                   show a device's status while it prints\n\n"
        "Every command takes --help, --version, --json, --host, --port, --user and --password-file\n"
        "(the password's file; else WYLN_USERNAME and WYLN_PASSWORD). A client console logs in\n"
        "under the identifier the transport gives it (with a broker user name, that name).\n");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    tools::setToolName("orlin_console");
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        usage(stderr);
        return 1;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        usage(stdout);
        return 0;
    }
    if (args[0] == "--version" || args[0] == "-v") {
        std::printf("orlin_console %s\n", ORLIN_VERSION);
        return 0;
    }
    const QString cmd = args.takeFirst();
    if (cmd == "service")
        return console::runService(args);
    if (cmd == "send")
        return console::runSend(args);
    if (cmd == "send-file")
        return console::runSendFile(args);
    if (cmd == "watch")
        return console::runWatch(args);
    std::fprintf(stderr, "orlin_console: unknown command \"%s\"\n\n", cmd.toUtf8().constData());
    usage(stderr);
    return 1;
}
