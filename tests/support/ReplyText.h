// Byte-exact views of a reply's text.
#pragma once

#include <QRegularExpression>
#include <QString>

#include <string>

namespace testsupport {

// The body of a compact reply, exactly as sent. Keys ascend, so the text is
// {"body":<body>,"header":{...}}; "" when the text has another shape.
inline std::string BodyText(const std::string& reply)
{
    const std::string open = "{\"body\":";
    const size_t end = reply.rfind(",\"header\":{");
    if (reply.compare(0, open.size(), open) != 0 || end == std::string::npos)
        return std::string();
    return reply.substr(open.size(), end - open.size());
}

// The text with its two values that change from run to run masked: a fresh
// msg_id becomes "ID" and the timestamp T.
inline std::string MaskFresh(const std::string& text)
{
    static const QRegularExpression time(QStringLiteral("\"timestamp\":[0-9]+"));
    static const QRegularExpression id(QStringLiteral("\"msg_id\":\"[0-9a-f-]{36}\""));
    QString t = QString::fromStdString(text);
    t.replace(time, QStringLiteral("\"timestamp\":T"));
    t.replace(id, QStringLiteral("\"msg_id\":\"ID\""));
    return t.toStdString();
}

} // namespace testsupport
