#ifndef ZUMI_BUS_DBUS_BUSLOG_H
#define ZUMI_BUS_DBUS_BUSLOG_H

// libzumi's log lines. libzumi is the ground floor and may not borrow
// libbramwickzumi's writer, so it has this one; its lines look exactly like
// those of the library above it (level letter, a blank, "%s:%s:", the
// message, a closing colon; APP_ID and the tag "zumi.bus" fill the two %s),
// so that one reader of syslog serves both:
//
//   logBus(LogLevel::W, "W %s:%s:The bus is not reachable; reconnecting:");
//
// A line is written only when its bit of g_tessal_log_mask is set at the
// moment of the call. Threads: any; the mask is read without a lock, as the
// platform's own logging does.

#include <libzumi/ZumiPlatform.h>

namespace zumi {
namespace bus {

enum class LogLevel { E, W, I, D };

void writeBusLogLine(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

constexpr unsigned int logMaskBit(LogLevel level) {
    return level == LogLevel::E   ? ZUMI_LOG_MASK_E
           : level == LogLevel::W ? ZUMI_LOG_MASK_W
           : level == LogLevel::I ? ZUMI_LOG_MASK_I
                                  : ZUMI_LOG_MASK_D;
}

template <typename... Args>
void logBus(LogLevel level, const char* format, Args... args) {
    if ((g_tessal_log_mask & logMaskBit(level)) != 0) {
        writeBusLogLine(level, format, APP_ID, "zumi.bus", args...);
    }
}

}  // namespace bus
}  // namespace zumi

#endif
