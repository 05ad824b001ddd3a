// orlin_console: the service side and a test peer on the wyln transport.
#include "Console.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

void usage()
{
    std::printf(
        "usage: orlin_console <command> [options]\n\n"
        "commands:\n"
        "  service                          run as the service (\"wyln\"): print heartbeats, reports and\n"
        "                                   task-status updates, answer getClient\n"
        "  send <device> <func> [json-data] send a command and print the reply\n"
        "  send-file <device> <path>        send a file in chunks, with progress and throughput\n"
        "  watch <device>                   show a device's status while it prints\n\n"
        "Every command takes --help, --json, --host, --port, --user and --password.\n"
        "A client console logs in under the identifier the transport gives it (with a broker\n"
        "user name, that name).\n");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("orlin_console");
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        usage();
        return args.isEmpty() ? 1 : 0;
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
    std::fprintf(stderr, "unknown command \"%s\"\n", cmd.toUtf8().constData());
    usage();
    return 1;
}
