#include "LocalTime.h"

namespace tools {

namespace {
const int kUtcOffsetSecs = QDateTime::currentDateTime().offsetFromUtc();
}

QDateTime localNow()
{
    return QDateTime::currentDateTimeUtc().addSecs(kUtcOffsetSecs);
}

} // namespace tools
