// The simulated printer's event lines on stdout. For people:
// "hh:mm:ss.zzz printer: <text>". For programs (--json): one compact JSON
// object per line, {"event":<name>,"time":"hh:mm:ss.zzz",<fields>...}.
#pragma once

#include <QJsonObject>
#include <QString>

namespace sim {

// Writes one whole line and flushes it; safe from any thread.
void writeEvent(bool json, const QString& event, const QJsonObject& fields, const QString& text);

} // namespace sim
