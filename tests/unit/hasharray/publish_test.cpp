#include <memory>
#include <vector>

#include "HashArrayTest.h"
#include "core/HashArray.h"

namespace veltra {
namespace kesh {
namespace zumi {
namespace {

// The service behind ZumiAccessHasharrayProperty, as the bus would run it:
// it keeps the "volume" of every hash it was sent ({} for a null array), the
// sent array turns read-only, and it answers `status` with, if `withReply`,
// a reply {[0] answer: 42}.
class AHashArrayToPublish : public HashArrayTest {
protected:
    void SetUp() override {
        HashArrayTest::SetUp();
        bus().hooks.accessHasharrayProperty = [this](ZumiHandle handle, const char*, const char*,
                                                     ZumiHasharrayHandleStruct* input,
                                                     ZumiHasharrayHandleStruct** reply) {
            received.emplace_back();
            for (int i = 0; i < ZumiHasharrayGetHashCount(input); ++i) {
                received.back().push_back(-1);
                ZumiHasharrayGetInt(input, i, "volume", &received.back().back());
            }
            if (input != nullptr) input->readOnly = true;
            if (withReply) {
                *reply = lastReply = ZumiHasharrayNew(handle);
                int index = 0;
                ZumiHasharrayAddHash(lastReply, &index);
                ZumiHasharrayPutInt(lastReply, index, "answer", 42);
            }
            return status;
        };
    }
    std::shared_ptr<ZumiHashListArray> publish(bool destroyAfterPublish) {
        return array->publishSynchronously("com.test.service", "settings", destroyAfterPublish);
    }

    ZumiStatus status = ZUMI_OK;
    bool withReply = true;
    std::vector<std::vector<int>> received;
    ZumiHasharrayHandleStruct* lastReply = nullptr;
};

TEST_F(AHashArrayToPublish, RefusesNullArgumentsBeforeAnyBusCall) {
    EXPECT_EQ("publisher argument was NULL", messageOf<std::invalid_argument>([&] {
                  array->publishSynchronously(nullptr, nullptr, false);
              }));
    EXPECT_EQ("propertyName argument was NULL", messageOf<std::invalid_argument>([&] {
                  array->publishSynchronously("com.test.service", nullptr, true);
              }));
    EXPECT_EQ(0u, bus().count("ZumiAccessHasharrayProperty"));
}

TEST_F(AHashArrayToPublish, ReturnsTheReplyOnItsHandlerAndKeepsItsHashesWorkingOnACopy) {
    ZumiHashList& hash = (*array)[0];
    std::shared_ptr<ZumiHashListArray> reply = publish(false);
    ZumiHandle connection = array->getZumiHandler()->getUnderlyingZumiHandle();
    EXPECT_EQ(connection, bus().calls("ZumiAccessHasharrayProperty")[0].handle);
    ASSERT_TRUE(reply);
    EXPECT_EQ(array->getZumiHandler(), reply->getZumiHandler());
    EXPECT_EQ(42, (*reply)[0].getInt("answer"));

    hash.putInt("volume", 2);
    withReply = false;
    EXPECT_EQ(nullptr, publish(false));
    EXPECT_EQ((std::vector<std::vector<int>>{{1}, {2}}), received);
    EXPECT_TRUE(warnings().empty());
}

TEST_F(AHashArrayToPublish, TurnsReadOnlyWithAWarningWhenTheCopyFailsUntilTheNextPublish) {
    ZumiHashList& hash = (*array)[0];
    bus().failNext("ZumiHasharrayClone", ZUMI_ERR_NO_MEMORY);
    publish(false);
    EXPECT_EQ(std::vector<std::string>{"VimoZumiHashListArrayPrivate.publishSynchronously:"
                                       "ZumiHasharrayClone returned NULL after publishing it. "
                                       "The current hash array has become read-only!:"},
              warnings());
    EXPECT_EQ(1, hash.getInt("volume"));
    EXPECT_EQ(failure("ZumiHasharrayPutInt method failed. --index: 0 --key: volume --value: 5",
                      ZUMI_ERR_READ_ONLY),
              messageOf<ZumiException>([&] { hash.putInt("volume", 5); }));

    publish(false);
    hash.putInt("volume", 5);
    EXPECT_EQ(5, hash.getInt("volume"));
}

TEST_F(AHashArrayToPublish, IsEmptiedByADestroyingPublishUntilItIsAssignedAgain) {
    std::shared_ptr<ZumiHashListArray> reply = publish(true);
    EXPECT_FALSE(bus().isLiveArray(static_cast<ZumiHasharrayHandleStruct*>(
        bus().calls("ZumiAccessHasharrayProperty")[0].data)));
    EXPECT_EQ(0, array->length());
    EXPECT_EQ(std::vector<std::string>{"VimoZumiHashListArray.length:Length called on invalid "
                                       "hash array. Returning 0.:"},
              warnings());
    EXPECT_EQ("ZumiHasharrayClone returned NULL!",
              messageOf<ZumiException>([&] { VimoZumiHashListArray copy(*array); }));
    EXPECT_TRUE(publish(true));  // sends nothing: a read
    EXPECT_EQ((std::vector<std::vector<int>>{{1}, {}}), received);

    *array = VimoZumiHashListArray("com.test.sender");
    EXPECT_EQ(0, array->addNewHash());
    (*array)[0].putInt("volume", 3);
    EXPECT_EQ(3, (*array)[0].getInt("volume"));
}

TEST_F(AHashArrayToPublish, ThrowsOnARefusalAfterDestroyingTheReplyOnceAndKeepsItsArray) {
    status = ZUMI_ERR_SERVICE_FAILED;
    ZumiHashList& hash = (*array)[0];
    EXPECT_EQ(failure("ZumiAccessHasharrayProperty method failed. --publisher: com.test.service "
                      "--propertyName: settings",
                      ZUMI_ERR_SERVICE_FAILED),
              messageOf<ZumiException>([&] { publish(true); }));
    EXPECT_FALSE(bus().isLiveArray(lastReply));
    EXPECT_EQ(1u, bus().count("ZumiHasharrayDestroy"));
    EXPECT_EQ(0u, bus().count("ZumiHasharrayClone"));
    EXPECT_EQ(1, hash.getInt("volume"));
}

}  // namespace
}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
