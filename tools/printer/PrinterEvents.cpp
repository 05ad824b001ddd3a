#include "PrinterEvents.h"

#include "LocalTime.h"

#include <QJsonDocument>

#include <cstdio>
#include <mutex>

namespace sim {

void writeEvent(bool json, const QString& event, const QJsonObject& fields, const QString& text)
{
    static std::mutex out;
    const QString time = tools::localNow().toString("hh:mm:ss.zzz");
    QByteArray line;
    if (json) {
        QJsonObject o = fields;
        o.insert("event", event);
        o.insert("time", time);
        line = QJsonDocument(o).toJson(QJsonDocument::Compact);
    } else {
        line = (time + " printer: " + text).toUtf8();
    }
    std::lock_guard<std::mutex> lock(out);
    std::fprintf(stdout, "%s\n", line.constData());
    std::fflush(stdout);
}

} // namespace sim
