// orlin_console send: one command and its reply.
#include "Console.h"
#include "ConsoleIo.h"
#include "ToolOptions.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace console {

int runSend(const QStringList& args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        "Sends one command (msg_type 0) to a device and prints the reply that echoes its msg_id. "
        "Exit status: 0 reply received, 2 no reply within the time-out, 1 any other failure.");
    addCommon(p);
    p.addPositionalArgument("device", "Target identifier (\"wyln\" for the service).");
    p.addPositionalArgument("func", "The command's \"func\", e.g. load_param.");
    p.addPositionalArgument("json-data", "The command's \"data\" as JSON (default {}).", "[json-data]");
    p.addOptions({
        {"timeout", "Milliseconds to wait for the reply.", "ms", "5000"},
        {"no-wait", "Send and do not wait (one-way messages)."},
    });
    if (!parse(p, "send", args, 2))
        return 1;
    int timeout = 0;
    if (!tools::intOption(p, "timeout", 0, timeout))
        return 1;
    const QStringList pos = p.positionalArguments();
    QJsonValue data = QJsonObject();
    if (pos.size() > 2) {
        QJsonParseError pe;
        const QJsonDocument d = QJsonDocument::fromJson(("[" + pos[2] + "]").toUtf8(), &pe);
        if (pe.error != QJsonParseError::NoError || d.array().size() != 1) {
            err("json-data is not JSON: " + pos[2]);
            return 1;
        }
        data = d.array().at(0);
    }
    tools::WylnPeer peer;
    if (!startPeer(peer, p))
        return 1;
    const bool json = p.isSet("json");
    QElapsedTimer t;
    t.start();
    QString msgId;
    const int rc = peer.post(pos[0], pos[1], data, msgId, timeout);
    if (rc != 0) {
        err(QString("send failed with transport code %1").arg(rc));
        return 1;
    }
    if (p.isSet("no-wait")) {
        out(json ? compact(QJsonObject{{"ok", true}, {"msg_id", msgId}}) : "sent " + msgId);
        return 0;
    }
    tools::Inbound reply;
    if (!peer.waitReply(msgId, timeout, reply)) {
        if (json)
            out(compact(QJsonObject{{"ok", false}, {"error", "no reply"}, {"timeout_ms", timeout}}));
        err(QString("no reply from %1 to %2 within %3 ms").arg(pos[0], pos[1]).arg(timeout));
        return 2;
    }
    const qint64 ms = t.elapsed();
    if (json) {
        out(compact(QJsonObject{{"ok", true},
                                {"from", reply.sender},
                                {"elapsed_ms", ms},
                                {"reply", QJsonDocument::fromJson(reply.text).object()}}));
    } else {
        out(QString("reply from %1 (msg_type %2, func \"%3\", %4 ms):").arg(reply.sender).arg(reply.msgType).arg(reply.func).arg(ms));
        QJsonObject body = reply.body;
        body.remove("func");
        out(QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Indented)).trimmed());
    }
    return 0;
}

} // namespace console
