#ifndef ZUMI_TESTS_UNIT_HASHARRAY_HASHARRAYTEST_H
#define ZUMI_TESTS_UNIT_HASHARRAY_HASHARRAYTEST_H

// What the hash-array tests share: expected failure messages, the message of
// what an operation throws, and a fixture with one array {[0] volume: 1} that
// checks that no test leaks or double-frees an array or a connection.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <zumi/VimoZumiHashListArray.h>
#include <zumi/ZumiException.h>

#include "ZumiTest.h"
#include "platform/Platform.h"
#include "platform/ZumiBus.h"

namespace veltra {
namespace kesh {
namespace zumi {

inline std::string failure(const std::string& headlineAndFields, ZumiStatus status) {
    return headlineAndFields + " --errorCode: " + std::to_string(status) +
           " --error: " + ZumiGetErrorString(status);
}

template <typename Exception, typename Operation>
std::string messageOf(Operation operation) {
    try {
        operation();
    } catch (const Exception& e) {
        return e.what();
    }
    ADD_FAILURE() << "nothing thrown";
    return std::string();
}

class HashArrayTest : public ::zumi::testing::ZumiTest {
protected:
    void SetUp() override {
        ZumiTest::SetUp();
        array.reset(new VimoZumiHashListArray("com.test.sender"));
        array->addNewHash();
        (*array)[0].putInt("volume", 1);
        logs().clear();  // the factory's lines
    }
    void TearDown() override {
        array.reset();
        EXPECT_EQ(0u, bus().liveArrays());
        EXPECT_EQ(0u, bus().invalidFrees());
        EXPECT_EQ(0u, bus().openConnections());
        ZumiTest::TearDown();
    }
    // The priority-4 lines, without "W <APP_ID>:".
    std::vector<std::string> warnings() {
        std::vector<std::string> lines;
        std::string prefix = std::string("W ") + APP_ID + ":";
        for (const auto& line : logs().lines()) {
            if (line.priority == 4 && line.text.rfind(prefix, 0) == 0) {
                lines.push_back(line.text.substr(prefix.size()));
            }
        }
        return lines;
    }

    std::unique_ptr<VimoZumiHashListArray> array;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
