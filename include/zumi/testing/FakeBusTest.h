#ifndef ZUMI_TESTING_FAKEBUSTEST_H
#define ZUMI_TESTING_FAKEBUSTEST_H

/// @file
/// A GoogleTest fixture over a fresh FakeBus: derive a test's fixture from
/// it, declare the remote services the application talks to in its
/// constructor or SetUp, and make the application's objects members of the
/// derived fixture. When the test ends (after those members are gone) it
/// runs the main loop until idle and fails the test if anything handed out
/// on the bus was not given back.

#include <gtest/gtest.h>

#include <zumi/testing/FakeBus.h>

namespace veltra {
namespace kesh {
namespace zumi {
namespace testing {

class FakeBusTest : public ::testing::Test {
protected:
    ~FakeBusTest() override {
        EXPECT_TRUE(bus.runUntilIdle()) << "the main loop did not become idle";
        const Leaks leaks = bus.leaks();
        EXPECT_TRUE(leaks.none()) << leaks.text();
    }

    FakeBus bus;
};

}  // namespace testing
}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
