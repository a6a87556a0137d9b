// The Dimmer's tests, on the in-process fake bus: no daemon runs.

#include <gmock/gmock.h>

#include <zumi/testing/FakeBusTest.h>

#include "Dimmer.h"

using namespace veltra::kesh::zumi;
using namespace veltra::kesh::zumi::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The lamp the Dimmer talks to, declared before the Dimmer connects.
class ADimmer : public FakeBusTest {
protected:
    FakeProperty level = bus.remote(Dimmer::LAMP).intProperty("level", 50);
    FakeProperty note = bus.remote(Dimmer::LAMP).stringProperty("note");
    Dimmer dimmer{ZumiHandlerFactory::getZumiHandler("com.example.dimmer")};
};

TEST_F(ADimmer, WritesEachLowerLevelInOrderAndStopsAtZero) {
    dimmer.dimBy(20);
    dimmer.dimBy(20);
    dimmer.dimBy(20);
    EXPECT_THAT(level.intWrites(), ElementsAre(30, 10, 0));
    EXPECT_EQ(3u, level.reads());
}

TEST_F(ADimmer, DropsToTheSafeLevelWhenTheLampOverheats) {
    ASSERT_TRUE(bus.isSubscribed(Dimmer::LAMP, "overheat"));
    bus.remote(Dimmer::LAMP).emit("overheat", {82});
    ASSERT_TRUE(bus.runUntil([&] { return !note.stringWrites().empty(); }));
    EXPECT_THAT(level.intWrites(), ElementsAre(Dimmer::SAFE_LEVEL));
    EXPECT_THAT(note.stringWrites(), ElementsAre("overheat at 82"));
}

TEST_F(ADimmer, ReportsALampThatRefusesTheWrite) {
    level.access(Access::Read);
    EXPECT_THROW(dimmer.dimBy(5), ZumiException);
    EXPECT_THAT(level.intWrites(), IsEmpty());
}

TEST_F(ADimmer, ReportsATimeoutAndReadsAgainAfterIt) {
    bus.failNext(Operation::GetInt, ZUMI_ERR_TIMEOUT);
    EXPECT_THROW(dimmer.level(), ZumiException);
    EXPECT_EQ(50, dimmer.level());
}
