// The simulated printer's event lines on stdout. For people:
// "hh:mm:ss.zzz printer: <text>". For programs (--json): one compact JSON
// object per line, {"event":<name>,"time":"hh:mm:ss.zzz",<fields>...}.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

namespace sim {

// The local time for stamps made on any thread. The offset from UTC is taken
// once, before main: a local-time lookup on the transport's thread would
// race the library's on the main thread inside the C library.
QDateTime localNow();

// Writes one whole line and flushes it; safe from any thread.
void writeEvent(bool json, const QString& event, const QJsonObject& fields, const QString& text);

} // namespace sim
