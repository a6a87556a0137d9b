#include "dbus/BusLog.h"

#include <stdarg.h>
#include <syslog.h>

namespace zumi {
namespace bus {

void writeBusLogLine(LogLevel level, const char* format, ...) {
    const int priority = level == LogLevel::E   ? LOG_ERR
                         : level == LogLevel::W ? LOG_WARNING
                         : level == LogLevel::I ? LOG_NOTICE
                                                : LOG_DEBUG;
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

}  // namespace bus
}  // namespace zumi
