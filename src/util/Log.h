#ifndef ZUMI_UTIL_LOG_H
#define ZUMI_UTIL_LOG_H

// The one way the library writes a log line. A line's format is the level
// letter, a blank, "%s:%s:", the message and a closing colon; the first %s
// receives APP_ID, the second the tag, and the message's own conversions
// follow:
//
//   logLine(LogLevel::W, "VimoZumiHashListArray.length",
//           "W %s:%s:Length called on invalid hash array. Returning 0.:");
//
// Each line is written only when its bit of g_tessal_log_mask is set at the
// moment of the call. Threads: any; the mask is read without a lock, as the
// platform's own logging does.

#include <cstdarg>

#include "platform/Platform.h"

namespace veltra {
namespace kesh {
namespace util {

enum class LogLevel { E, W, I, D };

// The bits are libzumi's (ZumiPlatform.h), which reads the same mask.
constexpr unsigned int logMaskBit(LogLevel level) {
    return level == LogLevel::E   ? ZUMI_LOG_MASK_E
           : level == LogLevel::W ? ZUMI_LOG_MASK_W
           : level == LogLevel::I ? ZUMI_LOG_MASK_I
                                  : ZUMI_LOG_MASK_D;
}

constexpr int logPriority(LogLevel level) {
    return level == LogLevel::E ? 3 : level == LogLevel::W ? 4 : level == LogLevel::I ? 5 : 7;
}

inline bool logEnabled(LogLevel level) { return (g_tessal_log_mask & logMaskBit(level)) != 0; }

// Where enabled lines go: vsyslog unless a test installed a sink of its own.
using LogSink = void (*)(int priority, const char* format, va_list args);
LogSink setLogSink(LogSink sink);  // returns the previous sink; nullptr restores vsyslog

void writeLogLine(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

// For a %s argument that may be null: glibc would print "(null)" too, but
// printf does not promise it.
inline const char* logText(const char* text) { return text != nullptr ? text : "(null)"; }

template <typename... Args>
inline void logLine(LogLevel level, const char* tag, const char* format, Args... args) {
    if (logEnabled(level)) {
        writeLogLine(logPriority(level), format, APP_ID, tag, args...);
    }
}

}  // namespace util
}  // namespace kesh
}  // namespace veltra

#endif
