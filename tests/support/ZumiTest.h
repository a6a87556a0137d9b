#ifndef ZUMI_TESTS_SUPPORT_ZUMITEST_H
#define ZUMI_TESTS_SUPPORT_ZUMITEST_H

// The base of every unit test fixture: a fresh test double, every log level
// switched on, and the log lines captured for byte-exact comparison.

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeBusCore.h"

namespace zumi {
namespace testing {

// One log line as the library wrote it: the syslog priority, the format
// string exactly as passed, and the text it formats to.
struct LogLine {
    int priority = 0;
    std::string format;
    std::string text;
};

// Captures every line written through the library's log function while it
// lives. Threads: lines may be written from any thread.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();

    std::vector<LogLine> lines() const;
    // The lines whose format is exactly `format`.
    std::vector<LogLine> withFormat(const std::string& format) const;
    // The formatted texts of those lines (of every line when `format` is
    // empty), in order.
    std::vector<std::string> texts(const std::string& format = std::string()) const;
    void clear();
};

class ZumiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    FakeBusCore& bus() { return FakeBusCore::instance(); }
    LogCapture& logs() { return *m_logs; }
    // Sets g_tessal_log_mask for the rest of the test (restored afterwards).
    void setLogMask(unsigned int mask);
    // Sets APP_ID for the rest of the test (restored afterwards), so that
    // expected lines can be written out whole.
    void setAppId(const char* appId);

private:
    unsigned int m_savedMask = 0;
    const char* m_savedAppId = nullptr;
    std::unique_ptr<LogCapture> m_logs;
};

// A line's text as the library formats it: "<level> <APP_ID>:<tag>:<text>:".
std::string logged(const char* level, const std::string& tag, const std::string& text);
// The end of a failure's message: " --errorCode: <status> --error: <its text>".
std::string statusFields(ZumiStatus status);

// The what() of the Exception that body throws, or "<nothing thrown>".
template <typename Exception = std::exception, typename Body>
std::string thrownMessage(Body body) {
    try {
        body();
    } catch (const Exception& e) {
        return e.what();
    }
    return "<nothing thrown>";
}

// Runs the GLib default main context on the calling thread until `done`
// returns true or `timeout` passes; returns done's last answer. The calling
// thread becomes the main-loop thread for that time.
bool runMainLoopUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Waits on the calling thread, without running the main loop, until `done`
// returns true or `timeout` passes; returns done's last answer.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace testing
}  // namespace zumi

#endif
