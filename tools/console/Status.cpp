// Reading a device's status out of heartbeats and reports, and showing it.
#include "Console.h"

namespace console {

QString progressBar(int percent, int width)
{
    percent = qBound(0, percent, 100);
    const int filled = percent * width / 100;
    return "[" + QString(filled, '#') + QString(width - filled, '.') + "] " + QString("%1%").arg(percent, 3);
}

DeviceStatus statusOf(int msgType, const QJsonObject& body)
{
    DeviceStatus s;
    QJsonObject info;
    if (msgType == 3) {
        if (!body.contains("device_status"))
            return s;
        s.deviceStatus = body.value("device_status").toInt();
        info = body.value("print_info").toObject();
    } else if (msgType == 2 && body.value("func").toString() == "report") {
        const QJsonObject data = body.value("data").toObject();
        s.deviceStatus = body.contains("device_status") ? body.value("device_status").toInt()
                                                        : data.value("device_doing").toInt();
        info = data.value("print_info").toObject();
    } else {
        return s;
    }
    s.valid = true;
    s.taskId = info.value("task_id").toInt();
    s.progress = info.value("progress").toInt();
    s.doneCopies = info.value("print_done_copys").toInt();
    s.totalCopies = info.value("total_print_copys").toInt();
    s.spanTime = info.value("print_span_time").toInt();
    s.remainTime = info.value("print_Remain_time").toInt();
    s.printedArea = info.value("printed_area").toString();
    return s;
}

} // namespace console
