// Streams a file to a printer as "file_transfer" chunks over a WylnPeer.
//
// The file is read one chunk's worth of bytes at a time; each chunk's
// message is written straight into one reused buffer; at most `window`
// chunks wait for their replies. Before the first chunk the sender asks the
// printer what it holds of the file (a whole-file query). When it holds
// part of it, every chunk is offered with its digest first and only the
// chunks the printer lacks travel. When replies stop (broker restart, lost
// reply) or a send fails, the unacknowledged chunks are queried again once
// the link is back and only those the printer lacks are sent again. The
// transfer ends with a whole-file query that the printer answers with
// "held" only after it checked the assembled file's size and MD5.
#pragma once

#include "ChunkText.h"

#include <QString>

#include <functional>

namespace tools {

class WylnPeer;

struct SendOptions
{
    QString target;
    QString path;
    QString name;               // "file_name"; the file's own name when empty
    int window = 3;             // chunks in flight
    int replyTimeoutMs = 15000; // no reply for this long: the chunks in flight are asked for again
    int giveUpMs = 120000;      // the printer unreachable for this long: the transfer fails
    int sendTimeoutMs = 10000;  // the broker's acknowledgement of one send
    QString version = QStringLiteral("1.0");
};

struct SendReport
{
    int exitCode = 1;           // 0 received and checked, 1 refused or failed, 2 no answer
    QString error;
    qint64 size = 0;
    QString md5;                // hex MD5 of the whole file
    int total = 0;              // chunks of the file
    int sent = 0;               // chunk messages handed to the transport, repeats included
    int resent = 0;             // of those, repeats
    int held = 0;               // chunks the printer already had (not sent)
    qint64 bytesResent = 0;     // file bytes in the repeats
    qint64 bytesDelivered = 0;  // file bytes of the chunks this run carried, each counted once
    double seconds = 0;         // from the first query to the printer's confirmation
    QString filePath;           // where the printer stored the file

    // The throughput figure of a transfer: file bytes this run carried, per
    // second, from the first query to the printer's confirmation.
    double mibPerSecond() const { return seconds > 0 ? bytesDelivered / 1048576.0 / seconds : 0.0; }
};

// Called after every acknowledged chunk.
using SendProgress = std::function<void(int acked, int total, qint64 ackedBytes, double seconds)>;

// Sends the file; the peer must be logged in. Takes over the peer's handler.
SendReport sendFile(WylnPeer& peer, const SendOptions& o, const SendProgress& progress = SendProgress());

} // namespace tools
