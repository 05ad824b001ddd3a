#include "Envelope.h"

#include "Keys.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QUuid>

#include <cmath>

namespace orlin {

QString MakeMsgId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

int BuildReplyHeader(QJsonObject& header, const QString& qsVersion, int nMsgType, const QString& qsSourceId,
                     const QString& qsTargetId, const QString& qsMsgId)
{
    header.insert(key::Version, qsVersion);
    header.insert(key::MsgType, nMsgType);
    header.insert(key::MsgId, qsMsgId.isEmpty() ? MakeMsgId() : qsMsgId);
    header.insert(key::SourceId, qsSourceId);
    header.insert(key::TargetId, qsTargetId);
    header.insert(key::Timestamp, QDateTime::currentSecsSinceEpoch());
    return 0;
}

int BuildRequestHeader(QJsonObject& header, int nVersion, int nMsgType, const QString& qsSourceId,
                       const QString& qsTargetId, const QString& qsMsgId)
{
    return BuildReplyHeader(header, QString::number(nVersion), nMsgType, qsSourceId, qsTargetId, qsMsgId);
}

int ParseHeader(const QJsonObject& header, SCloudMsgHeader& out)
{
    QJsonObject::const_iterator it;
    if ((it = header.constFind(key::Version)) != header.constEnd())
        out.qsVersion = it.value().toString();
    if ((it = header.constFind(key::MsgId)) != header.constEnd())
        out.qsMsgId = it.value().toString();
    if ((it = header.constFind(key::SourceId)) != header.constEnd())
        out.qsSourceId = it.value().toString();
    if ((it = header.constFind(key::TargetId)) != header.constEnd())
        out.qsTargetId = it.value().toString();
    if ((it = header.constFind(key::MsgType)) != header.constEnd())
        out.nMsgType = it.value().toInt(0);
    if ((it = header.constFind(key::Timestamp)) != header.constEnd()) {
        const double d = std::trunc(it.value().toDouble(0.0));
        // Outside the 64-bit range the conversion would be undefined.
        out.llTimestamp = (d >= -9.2e18 && d <= 9.2e18) ? static_cast<qint64>(d) : 0;
    }
    return 0;
}

QByteArray ToCompactText(const QJsonObject& header, const QJsonObject& body)
{
    QJsonObject msg;
    msg.insert(key::Header, header);
    msg.insert(key::Body, body);
    return QJsonDocument(msg).toJson(QJsonDocument::Compact);
}

} // namespace orlin
