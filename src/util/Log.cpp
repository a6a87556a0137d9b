#include "util/Log.h"

#include <syslog.h>

#include <atomic>

namespace veltra {
namespace kesh {
namespace util {

namespace {
std::atomic<LogSink> g_sink{nullptr};
}

LogSink setLogSink(LogSink sink) { return g_sink.exchange(sink); }

void writeLogLine(int priority, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogSink sink = g_sink.load();
    if (sink != nullptr) {
        sink(priority, format, args);
    } else {
        vsyslog(priority, format, args);
    }
    va_end(args);
}

}  // namespace util
}  // namespace kesh
}  // namespace veltra
