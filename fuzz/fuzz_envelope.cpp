// The envelope: any text parsed as JSON, its "header" read by ParseHeader
// (the object itself when it has none), a reply header built from what was
// read, and the reply written and read back: the header must survive the
// round trip unchanged.
#include "wire/Envelope.h"
#include "wire/JsonScan.h"
#include "wire/Keys.h"

#include <QJsonDocument>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

using namespace orlin;

// Qt allocates some state on first use (the random source of new message
// identifiers) and keeps it: done here, it is not taken for a leak of the
// first input that needs it.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    MakeMsgId();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return -1;
    // Parsed as the receive path parses it (repeated keys never reach Qt's
    // parser, which would leak their earlier values).
    const QJsonDocument doc = ParseJson(reinterpret_cast<const char*>(data), size);
    if (!doc.isObject())
        return 0;
    const QJsonObject msg = doc.object();
    const QJsonValue h = msg.value(key::Header);
    SCloudMsgHeader in;
    ParseHeader(h.isObject() ? h.toObject() : msg, in);

    QJsonObject header;
    BuildReplyHeader(header, in.qsVersion, MsgReply, in.qsTargetId, in.qsSourceId, in.qsMsgId);
    const QByteArray text = ToCompactText(header, msg.value(key::Body).toObject());

    const QJsonDocument back = QJsonDocument::fromJson(text);
    if (!back.isObject()) {
        fprintf(stderr, "reply is not JSON: %s\n", text.constData());
        abort();
    }
    SCloudMsgHeader out;
    ParseHeader(back.object().value(key::Header).toObject(), out);
    if (out.nMsgType != MsgReply || out.qsVersion != in.qsVersion || out.qsSourceId != in.qsTargetId ||
        out.qsTargetId != in.qsSourceId || (!in.qsMsgId.isEmpty() && out.qsMsgId != in.qsMsgId)) {
        fprintf(stderr, "header changed on the way: %s\n", text.constData());
        abort();
    }
    return 0;
}
