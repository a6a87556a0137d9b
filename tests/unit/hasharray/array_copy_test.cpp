#include <string>
#include <vector>

#include <zumi/ZumiHandlerFactory.h>

#include "HashArrayTest.h"

namespace veltra {
namespace kesh {
namespace zumi {
namespace {

using AHashArray = HashArrayTest;

TEST_F(AHashArray, LeavesNothingBehindWhenItCannotBeConstructed) {
    bus().failNext("ZumiHasharrayNew", ZUMI_ERR_NO_MEMORY);
    EXPECT_EQ("ZumiHasharrayNew returned NULL!",
              messageOf<ZumiException>([] { VimoZumiHashListArray failed("com.test.other"); }));
    EXPECT_EQ(1u, bus().count("ZumiClose"));  // its handler had no other user

    ZumiHandlerSharedPtr handler = array->getZumiHandler();
    ZumiHasharrayHandleStruct* raw = ZumiHasharrayNew(handler->getUnderlyingZumiHandle());
    EXPECT_EQ("handler argument was NULL!", messageOf<std::invalid_argument>([&] {
                  VimoZumiHashListArray failed(ZumiHandlerSharedPtr(), raw);
              }));
    EXPECT_EQ("hashArray argument was NULL!", messageOf<std::invalid_argument>([&] {
                  VimoZumiHashListArray failed(handler, nullptr);
              }));
    EXPECT_TRUE(bus().isLiveArray(raw));  // still the caller's, adopted only now
    VimoZumiHashListArray adopting(handler, raw);
}

TEST_F(AHashArray, DestroysItsArrayBeforeItReleasesTheConnection) {
    array.reset();
    std::vector<std::string> order;
    for (const ::zumi::testing::Call& call : bus().calls()) {
        if (call.function == "ZumiHasharrayDestroy" || call.function == "ZumiClose") {
            order.push_back(call.function);
        }
    }
    EXPECT_EQ((std::vector<std::string>{"ZumiHasharrayDestroy", "ZumiClose"}), order);
}

TEST_F(AHashArray, CopiesAndAssignmentsCloneTheSourceAndShareItsHandler) {
    ZumiHashList& sourceHash = (*array)[0];
    VimoZumiHashListArray copy(*array);
    VimoZumiHashListArray assigned("com.test.other");
    assigned = *array;
    for (VimoZumiHashListArray* clone : {&copy, &assigned}) {
        EXPECT_EQ(array->getZumiHandler(), clone->getZumiHandler());
        EXPECT_NE(&sourceHash, &(*clone)[0]);
        EXPECT_EQ(1, (*clone)[0].getInt("volume"));
        (*clone)[0].putInt("volume", 9);
        clone->addNewHash();
    }
    EXPECT_EQ(1, sourceHash.getInt("volume"));
    EXPECT_EQ(1, array->length());
    EXPECT_EQ(1u, bus().count("ZumiClose"));  // "com.test.other" went with its array
}

TEST_F(AHashArray, AssignedToItselfKeepsItsContentInAFreshWritableClone) {
    VimoZumiHashListArray& self = *array;
    *array = self;
    EXPECT_EQ(1u, bus().count("ZumiHasharrayClone"));
    EXPECT_EQ(1u, bus().count("ZumiHasharrayDestroy"));
    EXPECT_EQ(1, (*array)[0].getInt("volume"));
    (*array)[0].putInt("volume", 6);
    EXPECT_EQ(6, (*array)[0].getInt("volume"));
}

TEST_F(AHashArray, IsLeftUnchangedWhenTheCloneForAnAssignmentFails) {
    VimoZumiHashListArray source("com.test.other");
    ZumiHashList& hash = (*array)[0];
    bus().failNext("ZumiHasharrayClone", ZUMI_ERR_NO_MEMORY, 2);
    EXPECT_EQ("ZumiHasharrayClone returned NULL!",
              messageOf<ZumiException>([&] { *array = source; }));
    EXPECT_EQ("ZumiHasharrayClone returned NULL!",
              messageOf<ZumiException>([&] { VimoZumiHashListArray copy(source); }));
    EXPECT_NE(source.getZumiHandler(), array->getZumiHandler());
    hash.putInt("volume", 8);
    EXPECT_EQ(8, (*array)[0].getInt("volume"));
}

TEST_F(AHashArray, IsMadeNewByItsHandlerOnEachCallOnThatHandlersConnection) {
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler("com.test.sender");
    std::shared_ptr<ZumiHashListArray> first = handler->createNewHashArray();
    std::shared_ptr<ZumiHashListArray> second = handler->createNewHashArray();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(handler, first->getZumiHandler());
    EXPECT_EQ(handler, second->getZumiHandler());
    first->addNewHash();
    EXPECT_EQ(0, second->length());
    for (const ::zumi::testing::Call& call : bus().calls("ZumiHasharrayNew")) {
        EXPECT_EQ(handler->getUnderlyingZumiHandle(), call.handle);
    }
}

}  // namespace
}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
