// Hash arrays sent with publishSynchronously to a service in another process
// (zumi_test_service, whose "hash" property echoes the hashes it received and
// appends {sent: their count}).

#include <memory>
#include <string>

#include <zumi/VimoZumiHashListArray.h>
#include <zumi/ZumiException.h>
#include <zumi/ZumiHandlerFactory.h>

#include "BusFixture.h"

namespace zumi {
namespace testing {
namespace {

using veltra::kesh::zumi::ZumiException;
using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;
using veltra::kesh::zumi::ZumiHashListArray;

class AHashArrayService : public ::testing::Test {
protected:
    void SetUp() override {
        service = serviceName("hashes");
        ASSERT_EQ("0", peer.request("open " + service));
        ASSERT_EQ("0", peer.request("hash settings 0"));
        ASSERT_EQ("0", peer.request("hash failing 258"));
        handler = ZumiHandlerFactory::getZumiHandler(serviceName("sender").c_str());
        array = handler->createNewHashArray();
        for (int i = 0; i < HASHES; ++i) {
            int index = array->addNewHash();
            (*array)[index].putInt("number", number(i));
            (*array)[index].putString("text", text(i).c_str());
        }
    }

    static int number(int i) { return i * 1000003 - 2000000; }
    static std::string text(int i) { return "r\xc3\xa4um " + std::to_string(i); }

    static constexpr int HASHES = 5;
    Peer peer;
    std::string service;
    ZumiHandlerSharedPtr handler;
    std::shared_ptr<ZumiHashListArray> array;
};

TEST_F(AHashArrayService, ReceivesAnEqualCopyAndAnswersOnTheSendersHandler) {
    std::shared_ptr<ZumiHashListArray> reply =
        array->publishSynchronously(service.c_str(), "settings", false);
    ASSERT_TRUE(reply);
    EXPECT_EQ(handler, reply->getZumiHandler());
    ASSERT_EQ(HASHES + 1, reply->length());
    for (int i = 0; i < HASHES; ++i) {
        EXPECT_EQ(number(i), (*reply)[i].getInt("number"));
        EXPECT_EQ(text(i), (*reply)[i].getString("text"));
    }
    EXPECT_EQ(HASHES, (*reply)[HASHES].getInt("sent"));

    // The sender writes on into its copy, and the next send carries it.
    (*array)[0].putInt("number", 7);
    reply = array->publishSynchronously(service.c_str(), "settings", true);
    ASSERT_TRUE(reply);
    EXPECT_EQ(7, (*reply)[0].getInt("number"));
    EXPECT_EQ(0, array->length());
}

// The refused send's reply is released with the exception (LeakSanitizer).
TEST_F(AHashArrayService, ThrowsOnARefusalAndTheSenderKeepsItsArray) {
    EXPECT_THROW(array->publishSynchronously(service.c_str(), "failing", false), ZumiException);
    EXPECT_EQ(HASHES, array->length());
    EXPECT_EQ(number(1), (*array)[1].getInt("number"));
}

}  // namespace
}  // namespace testing
}  // namespace zumi
