#include "ZumiTest.h"

#include <glib.h>

#include <cstdarg>
#include <mutex>
#include <thread>

#include <libzumi/ZumiPlatform.h>
#include "util/Log.h"

namespace zumi {
namespace testing {

namespace {

std::mutex g_linesMutex;
std::vector<LogLine> g_lines;

void captureLine(int priority, const char* format, va_list args) {
    gchar* text = g_strdup_vprintf(format, args);
    std::lock_guard<std::mutex> lock(g_linesMutex);
    g_lines.push_back(LogLine{priority, format, text});
    g_free(text);
}

}  // namespace

LogCapture::LogCapture() { clear(); veltra::kesh::util::setLogSink(&captureLine); }

LogCapture::~LogCapture() { veltra::kesh::util::setLogSink(nullptr); }

std::vector<LogLine> LogCapture::lines() const {
    std::lock_guard<std::mutex> lock(g_linesMutex);
    return g_lines;
}

std::vector<LogLine> LogCapture::withFormat(const std::string& format) const {
    std::vector<LogLine> result;
    for (const LogLine& line : lines()) {
        if (line.format == format) result.push_back(line);
    }
    return result;
}

std::vector<std::string> LogCapture::texts(const std::string& format) const {
    std::vector<std::string> result;
    for (const LogLine& line : lines()) {
        if (format.empty() || line.format == format) result.push_back(line.text);
    }
    return result;
}

std::string logged(const char* level, const std::string& tag, const std::string& text) {
    return std::string(level) + " " + APP_ID + ":" + tag + ":" + text + ":";
}

std::string statusFields(ZumiStatus status) {
    return " --errorCode: " + std::to_string(status) + " --error: " + ZumiGetErrorString(status);
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> lock(g_linesMutex);
    g_lines.clear();
}

void ZumiTest::SetUp() {
    FakeBusCore::instance().reset();
    m_savedMask = g_tessal_log_mask;
    m_savedAppId = APP_ID;
    g_tessal_log_mask = 0xffffffffu;
    m_logs.reset(new LogCapture());
}

void ZumiTest::TearDown() {
    m_logs.reset();
    g_tessal_log_mask = m_savedMask;
    APP_ID = m_savedAppId;
}

void ZumiTest::setLogMask(unsigned int mask) { g_tessal_log_mask = mask; }

void ZumiTest::setAppId(const char* appId) { APP_ID = appId; }

namespace {

// Calls `step` until `done` holds or the time is up; done's last answer.
bool until(const std::function<bool()>& done, std::chrono::milliseconds timeout,
           const std::function<void()>& step) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool result = done();
    while (!result && std::chrono::steady_clock::now() < deadline) {
        step();
        result = done();
    }
    return result;
}

}  // namespace

bool runMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    // A ticking source bounds each blocking iteration, so that `done` is
    // looked at again even when nothing else is dispatched.
    guint tick = g_timeout_add(2, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    const bool result = until(done, timeout, [] { g_main_context_iteration(nullptr, TRUE); });
    g_source_remove(tick);
    return result;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return until(done, timeout, [] { std::this_thread::sleep_for(std::chrono::microseconds(200)); });
}

}  // namespace testing
}  // namespace zumi
