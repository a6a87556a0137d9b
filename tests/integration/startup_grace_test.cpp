// A service that has only just taken its name, as one started for a call
// is: the call that started it may arrive before the service published the
// property it asks for, and must be answered by that property rather than
// refused; a property the service never publishes is still refused, within
// the start-up grace and not after the call's timeout.

#include <string>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

// Well past the grace, well short of the call timeout.
const std::chrono::milliseconds kGraceBound = std::chrono::seconds(10);

typedef PeerServiceTest AServiceThatOnlyJustTookItsName;

TEST_F(AServiceThatOnlyJustTookItsName, AnswersCallsForWhatItPublishesMomentsLater) {
    // The calls reach the peer long before its publishing thread wakes; that
    // it published something else already does not make them early.
    peer.requestAll({"int first 1 r", "later 300 int volume 7 rw", "later 300 str label kitchen r"});
    Watchdog watchdog(kGraceBound, "a call to a starting service hung");
    int number = -1;
    EXPECT_EQ(ZUMI_OK, ZumiGetIntProperty(client, service.c_str(), "volume", &number));
    EXPECT_EQ(7, number);
    std::string text;
    EXPECT_EQ(ZUMI_OK, getString("label", &text));
    EXPECT_EQ("kitchen", text);
}

TEST_F(AServiceThatOnlyJustTookItsName, StillRefusesWhatItNeverPublishes) {
    peer.requestAll({"int volume 7 rw"});
    Watchdog watchdog(kGraceBound, "a call for a missing property waited past the start-up grace");
    int number = -1;
    std::string text;
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, ZumiGetIntProperty(client, service.c_str(), "absent", &number));
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, getString("volume", &text)) << "an integer is no string";
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, ZumiSetIntProperty(client, service.c_str(), "absent", 1));
    EXPECT_EQ(ZUMI_OK, ZumiGetIntProperty(client, service.c_str(), "volume", &number));
}

}  // namespace
}  // namespace zumi::testing
