// Local time for stamps made on any thread of a tool.
#pragma once

#include <QDateTime>

namespace tools {

// Now, in local time. The offset from UTC is taken once, before main: a
// local-time lookup on the transport's thread races one on another thread
// inside the C library's time-zone state.
QDateTime localNow();

} // namespace tools
