// The message envelope: {"body": {...}, "header": {...}} as compact JSON.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace orlin {

// One inbound message's parsed header.
struct SCloudMsgHeader
{
    QString qsVersion;
    QString qsMsgId;
    QString qsSourceId;
    QString qsTargetId;
    int nMsgType = 0;
    qint64 llTimestamp = 0;
};

// A new message identifier: a random UUID, 36 lower-case characters without
// braces.
QString MakeMsgId();

// Header of a request, notification or heartbeat: "version" is nVersion in
// decimal; an empty qsMsgId gets a new identifier. Always returns 0.
int BuildRequestHeader(QJsonObject& header, int nVersion, int nMsgType, const QString& qsSourceId,
                       const QString& qsTargetId, const QString& qsMsgId);

// As BuildRequestHeader, with the version text taken unchanged.
int BuildReplyHeader(QJsonObject& header, const QString& qsVersion, int nMsgType, const QString& qsSourceId,
                     const QString& qsTargetId, const QString& qsMsgId);

// Reads each key only when present; wrong types degrade to the defaults of
// SCloudMsgHeader. Always returns 0.
int ParseHeader(const QJsonObject& header, SCloudMsgHeader& out);

// The envelope {"body", "header"} as compact UTF-8 text, keys ascending.
QByteArray ToCompactText(const QJsonObject& header, const QJsonObject& body);

} // namespace orlin
