// The benchmarks' helper processes are always reaped, even one that ignores
// termination: a leftover would skew every later figure.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>

#include "support/HelperProcess.h"

using zumi::bench::HelperProcess;
using namespace std::chrono_literals;

namespace {

TEST(AHelperProcess, IsReapedWhenDestroyedEvenIfItIgnoresTermination) {
    for (const char* mode : {"polite", "stubborn"}) {
        pid_t pid = -1;
        {
            HelperProcess helper("bench_scripted_helper", {mode});
            ASSERT_TRUE(helper.waitReady(10s)) << mode;
            pid = helper.pid();
        }
        EXPECT_TRUE(kill(pid, 0) != 0 && errno == ESRCH) << mode;
    }
}

}  // namespace
