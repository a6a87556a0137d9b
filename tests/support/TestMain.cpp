// The main of every unit test executable.

#include <gdk/gdk.h>
#include <gmock/gmock.h>

#include "TrackedGdkLock.h"

int main(int argc, char** argv) {
    // A GDK lock that tests can ask about, and that ThreadSanitizer sees.
    zumi::testing::installTrackedGdkLock();
    // Without this the GDK threads lock is a no-op, and tests of code that
    // relies on it would prove nothing.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    gdk_threads_init();
#pragma GCC diagnostic pop
    // Death tests fork from a process that may have threads running.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
