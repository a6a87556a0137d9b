// The hash-array wrappers over the test double. Every test starts from one
// array {[0] volume: 1}; no test may leak or double-free an array or a
// connection.

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <zumi/VimoZumiHashListArray.h>
#include <zumi/ZumiException.h>
#include <zumi/ZumiHandlerFactory.h>

#include "ZumiTest.h"
#include "core/HashArray.h"

namespace veltra {
namespace kesh {
namespace zumi {
namespace {

using ::zumi::testing::statusFields;
using ::zumi::testing::thrownMessage;
typedef std::vector<std::vector<int>> Volumes;

// The service behind ZumiAccessHasharrayProperty, as the bus would run it:
// it keeps the "volume" of every hash it was sent ({} for a null array), the
// sent array turns read-only, and it answers `status` with an empty reply.
class AHashArray : public ::zumi::testing::ZumiTest {
protected:
    void SetUp() override {
        ZumiTest::SetUp();
        array.reset(new VimoZumiHashListArray("com.test.sender"));
        array->addNewHash();
        (*array)[0].putInt("volume", 1);
        logs().clear();
        bus().hooks.accessHasharrayProperty = [this](ZumiHandle handle, const char*, const char*,
                                                     ZumiHasharrayHandleStruct* input,
                                                     ZumiHasharrayHandleStruct** reply) {
            received.emplace_back();
            for (int i = 0; i < ZumiHasharrayGetHashCount(input); ++i) {
                received.back().push_back(-1);
                ZumiHasharrayGetInt(input, i, "volume", &received.back().back());
            }
            if (input != nullptr) input->readOnly = true;
            *reply = lastReply = ZumiHasharrayNew(handle);
            return status;
        };
    }
    void TearDown() override {
        array.reset();
        EXPECT_EQ(0u, bus().liveArrays());
        EXPECT_EQ(0u, bus().invalidFrees());
        EXPECT_EQ(0u, bus().openConnections());
        ZumiTest::TearDown();
    }
    std::shared_ptr<ZumiHashListArray> publish(bool destroyAfterPublish) {
        return array->publishSynchronously("com.test.service", "settings", destroyAfterPublish);
    }

    std::unique_ptr<VimoZumiHashListArray> array;
    ZumiStatus status = ZUMI_OK;
    Volumes received;
    ZumiHasharrayHandleStruct* lastReply = nullptr;
};

// ---- Construction, copies and assignment ------------------------------------

TEST_F(AHashArray, LeavesNothingBehindWhenItCannotBeConstructed) {
    bus().failNext("ZumiHasharrayNew", ZUMI_ERR_NO_MEMORY);
    EXPECT_EQ("ZumiHasharrayNew returned NULL!",
              thrownMessage<ZumiException>([] { VimoZumiHashListArray failed("com.test.other"); }));
    EXPECT_EQ(1u, bus().count("ZumiClose"));  // its handler had no other user

    ZumiHandlerSharedPtr handler = array->getZumiHandler();
    ZumiHasharrayHandleStruct* raw = ZumiHasharrayNew(handler->getUnderlyingZumiHandle());
    EXPECT_EQ("handler argument was NULL!", thrownMessage<std::invalid_argument>([&] {
                  VimoZumiHashListArray failed(ZumiHandlerSharedPtr(), raw);
              }));
    EXPECT_EQ("hashArray argument was NULL!", thrownMessage<std::invalid_argument>([&] {
                  VimoZumiHashListArray failed(handler, nullptr);
              }));
    EXPECT_TRUE(bus().isLiveArray(raw));  // still the caller's, adopted only now
    VimoZumiHashListArray adopting(handler, raw);
}

TEST_F(AHashArray, IsMadeNewByItsHandlerOnEachCallAndDestroyedBeforeItsConnectionCloses) {
    ZumiHandlerSharedPtr handler = array->getZumiHandler();
    std::shared_ptr<ZumiHashListArray> first = handler->createNewHashArray();
    std::shared_ptr<ZumiHashListArray> second = handler->createNewHashArray();
    first->addNewHash();
    EXPECT_EQ(0, second->length());

    first.reset();
    second.reset();
    handler.reset();
    array.reset();
    std::vector<std::string> order;
    for (const ::zumi::testing::Call& call : bus().calls()) {
        if (call.function == "ZumiHasharrayDestroy" || call.function == "ZumiClose") {
            order.push_back(call.function);
        }
    }
    EXPECT_EQ((std::vector<std::string>{"ZumiHasharrayDestroy", "ZumiHasharrayDestroy",
                                        "ZumiHasharrayDestroy", "ZumiClose"}),
              order);
}

TEST_F(AHashArray, CopiesAndAssignmentsCloneTheSourceAndShareItsHandler) {
    ZumiHashList& sourceHash = (*array)[0];
    VimoZumiHashListArray copy(*array);
    VimoZumiHashListArray assigned("com.test.other");
    assigned = *array;
    for (VimoZumiHashListArray* clone : {&copy, &assigned}) {
        EXPECT_EQ(array->getZumiHandler(), clone->getZumiHandler());
        EXPECT_EQ(1, (*clone)[0].getInt("volume"));
        (*clone)[0].putInt("volume", 9);
    }
    EXPECT_EQ(1, sourceHash.getInt("volume"));
    EXPECT_EQ(1u, bus().count("ZumiClose"));  // "com.test.other" went with its array

    *array = *array;  // a fresh writable clone of itself
    EXPECT_EQ(3u, bus().count("ZumiHasharrayClone"));
    (*array)[0].putInt("volume", 6);
    EXPECT_EQ(6, (*array)[0].getInt("volume"));
}

TEST_F(AHashArray, IsLeftUnchangedWhenTheCloneForAnAssignmentFails) {
    VimoZumiHashListArray source("com.test.other");
    ZumiHashList& hash = (*array)[0];
    bus().failNext("ZumiHasharrayClone", ZUMI_ERR_NO_MEMORY, 2);
    EXPECT_EQ("ZumiHasharrayClone returned NULL!", thrownMessage<ZumiException>([&] { *array = source; }));
    EXPECT_EQ("ZumiHasharrayClone returned NULL!",
              thrownMessage<ZumiException>([&] { VimoZumiHashListArray copy(source); }));
    EXPECT_NE(source.getZumiHandler(), array->getZumiHandler());
    hash.putInt("volume", 8);
    EXPECT_EQ(8, (*array)[0].getInt("volume"));
}

// ---- Hashes -------------------------------------------------------------------

TEST_F(AHashArray, KeepsOneHashObjectPerIndexAcrossNewIndicesAndHashes) {
    ZumiHashList& first = (*array)[0];
    for (int index = 1; index < 64; ++index) (*array)[index];
    EXPECT_EQ(1, array->addNewHash());
    EXPECT_EQ(&first, &(*array)[0]);
    first.putString("name", "kitchen");
    // An absent key or one of the other type reads as no value.
    EXPECT_EQ(nullptr, first.getString("volume"));
    EXPECT_EQ(0, first.getInt("name"));
    // Nothing of the caller's stack leaks out when the bus leaves the value alone.
    bus().hooks.hasharrayGetInt = [](ZumiHasharrayHandleStruct*, int, const char*, int*) {
        return static_cast<ZumiStatus>(ZUMI_HASH_KEY_ABSENT);
    };
    EXPECT_EQ(0, first.getInt("volume"));
}

TEST_F(AHashArray, NamesIndexKeyAndIntegerButNoStringInFailuresAndRefusesNullsFirst) {
    const size_t callsBefore = bus().calls().size();
    ZumiHashList& hash = (*array)[2];  // made without a bus call
    const struct {
        std::string expected;
        std::function<void()> operation;
    } cases[] = {
        {"key argument was NULL", [&] { hash.putString(nullptr, nullptr); }},
        {"value argument was NULL", [&] { hash.putString("k", nullptr); }},
        {"publisher argument was NULL", [&] { array->publishSynchronously(nullptr, nullptr, 0); }},
        {"propertyName argument was NULL", [&] { array->publishSynchronously("s", nullptr, 1); }},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(row.expected, thrownMessage<std::invalid_argument>(row.operation));
    }
    EXPECT_EQ(callsBefore, bus().calls().size());

    const ZumiStatus badIndex = ZUMI_ERR_INVALID_INDEX;
    EXPECT_EQ("ZumiHasharrayPutInt method failed. --index: 2 --key: volume --value: -3" + statusFields(badIndex),
              thrownMessage<ZumiException>([&] { hash.putInt("volume", -3); }));
    EXPECT_EQ("ZumiHasharrayPutString method failed. --index: 2 --key: owner" + statusFields(badIndex),
              thrownMessage<ZumiException>([&] { hash.putString("owner", "pin-1234"); }));
    bus().hooks.hasharrayGetInt = [](ZumiHasharrayHandleStruct*, int, const char*, int*) {
        return static_cast<ZumiStatus>(4000000000u);  // unsigned status, signed index
    };
    EXPECT_EQ("ZumiHasharrayGetInt method failed. --index: -1 --key: k" + statusFields(4000000000u),
              thrownMessage<ZumiException>([&] { (*array)[-1].getInt("k"); }));
    bus().failNext("ZumiHasharrayAddHash", ZUMI_ERR_NO_MEMORY);
    EXPECT_EQ("ZumiHasharrayAddHash method failed." + statusFields(ZUMI_ERR_NO_MEMORY),
              thrownMessage<ZumiException>([&] { array->addNewHash(); }));
}

// ---- Publishing -----------------------------------------------------------------

TEST_F(AHashArray, TurnsReadOnlyWithAWarningWhenTheCopyAfterPublishingFails) {
    ZumiHashList& hash = (*array)[0];
    bus().failNext("ZumiHasharrayClone", ZUMI_ERR_NO_MEMORY);
    publish(false);
    EXPECT_EQ(std::vector<std::string>{::zumi::testing::logged(
                  "W", "VimoZumiHashListArrayPrivate.publishSynchronously",
                  "ZumiHasharrayClone returned NULL after publishing it. The current hash array "
                  "has become read-only!")},
              logs().texts());
    EXPECT_EQ(1, hash.getInt("volume"));
    EXPECT_EQ("ZumiHasharrayPutInt method failed. --index: 0 --key: volume --value: 5" +
                  statusFields(ZUMI_ERR_READ_ONLY),
              thrownMessage<ZumiException>([&] { hash.putInt("volume", 5); }));
    publish(false);  // writable again on the next copy
    hash.putInt("volume", 5);
    EXPECT_EQ(5, hash.getInt("volume"));
}

TEST_F(AHashArray, IsEmptiedByADestroyingPublishUntilItIsAssignedAgain) {
    std::shared_ptr<ZumiHashListArray> reply = publish(true);
    EXPECT_FALSE(bus().isLiveArray(static_cast<ZumiHasharrayHandleStruct*>(
        bus().calls("ZumiAccessHasharrayProperty")[0].data)));
    EXPECT_EQ(0, array->length());
    EXPECT_EQ(std::vector<std::string>{::zumi::testing::logged(
                  "W", "VimoZumiHashListArray.length",
                  "Length called on invalid hash array. Returning 0.")},
              logs().texts());
    EXPECT_TRUE(publish(true));  // sends nothing: a read
    EXPECT_EQ((Volumes{{1}, {}}), received);

    *array = VimoZumiHashListArray("com.test.sender");
    EXPECT_EQ(0, array->addNewHash());
    (*array)[0].putInt("volume", 3);
    EXPECT_EQ(3, (*array)[0].getInt("volume"));
}

TEST_F(AHashArray, ThrowsOnARefusalAfterDestroyingTheReplyOnceAndKeepsItsArray) {
    status = ZUMI_ERR_SERVICE_FAILED;
    EXPECT_EQ("ZumiAccessHasharrayProperty method failed. --publisher: com.test.service --propertyName: settings" +
                  statusFields(ZUMI_ERR_SERVICE_FAILED),
              thrownMessage<ZumiException>([&] { publish(true); }));
    EXPECT_FALSE(bus().isLiveArray(lastReply));
    EXPECT_EQ(1u, bus().count("ZumiHasharrayDestroy"));
    EXPECT_EQ(0u, bus().count("ZumiHasharrayClone"));
    EXPECT_EQ(1, (*array)[0].getInt("volume"));
}

}  // namespace
}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
