// The well-known event parsers and the four stock listeners, called directly
// as the event manager would call them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include <zumi/VimoDeviceRegistrationEventListener.h>
#include <zumi/VimoDynamicConfigUpdateEventListener.h>
#include <zumi/VimoMemoryEventListener.h>
#include <zumi/VimoUserStoreEventListener.h>
#include <zumi/ZumiEventUtils.h>
#include <zumi/ZumiHandlerFactory.h>

#include "EventTestSupport.h"
#include "ZumiTest.h"

namespace {

using namespace veltra::kesh::zumi;
using Data = SystemEventListener::SystemEventData;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

Data integer(int value) { return Data(Data::INTEGER, value, ""); }
Data text(const char* value) { return Data(Data::STRING, 0, value); }

class TheEventUtils : public zumi::testing::ZumiTest {
protected:
    std::shared_ptr<ZumiEventUtils> utils = ZumiHandlerFactory::getZumiEventUtils();
    // The text of a line of level `level`: "E app:tag:message:".
    static std::string line(const char* level, const std::string& rest) {
        return std::string(level) + " " + APP_ID + ":" + rest;
    }
};

TEST_F(TheEventUtils, ReturnTheIntegerOfTheExpectedEventOrLogTheFirstFailedCheck) {
    EXPECT_NE(utils.get(), ZumiHandlerFactory::getZumiEventUtils().get());
    EXPECT_EQ(1700000000, utils->parseTimeChangedEvent("com.tessal.time", "timeChanged",
                                                       {integer(1700000000)}));
    EXPECT_EQ(-1, utils->parseMCCChangedEvent("com.tessal.wan.event", "mccChanged", {integer(-1)}));
    EXPECT_THAT(logs().lines(), IsEmpty());
    EXPECT_EQ(0, utils->parseTimeChangedEvent(nullptr, "timeChanged", {integer(5)}));
    EXPECT_EQ(0, utils->parseTimeChangedEvent("com.tessal.time", nullptr, {integer(5)}));
    EXPECT_EQ(-1, utils->parseMCCChangedEvent("com.tessal.wan.event", "timeChanged", {integer(5)}));
    EXPECT_EQ(-1, utils->parseMCCChangedEvent("com.tessal.wan.event", "mccChanged", {}));
    EXPECT_EQ(0, utils->parseRegistrationChangedEvent("com.tessal.veltraRegistrationService",
                                                      "registrationChanged",
                                                      {integer(1), integer(2)}, true));
    EXPECT_EQ(0, utils->parseTimeChangedEvent("com.tessal.time", "timeChanged", {text("7")}));
    EXPECT_THAT(
        logs().texts(),
        ElementsAre(line("E", "kesh_error_vimoZumiEventUtils_parseTimeChangedEvent_wrongSourceOrEvent:"
                          "source=NULL,event=timeChanged Error parsing time change event: source "
                          "or event was NULL or did not match expected values.:"),
                    line("E", "kesh_error_vimoZumiEventUtils_parseTimeChangedEvent_wrongSourceOrEvent:"
                          "source=com.tessal.time,event=NULL Error parsing time change event: "
                          "source or event was NULL or did not match expected values.:"),
                    line("E", "kesh_error_vimoZumiEventUtils_parseMCCChangedEvent_wrongSourceOrEvent:"
                          "source=com.tessal.wan.event,event=timeChanged Error parsing MCC change "
                          "event: source or event was NULL or did not match expected values.:"),
                    line("E", "kesh_error_vimoZumiEventUtils_parseMCCChangedEvent_wrongDataSize:"
                          "data.size()=0 Error parsing MCC change event: data size does not "
                          "equal 1:"),
                    line("E", "kesh_error_vimoZumiEventUtils_parseRegistrationChangedEvent_"
                          "wrongDataSize:data.size()=2 Error parsing registration change event: "
                          "data size does not equal 1:"),
                    line("E", "kesh_error_vimoZumiEventUtils_parseTimeChangedEvent_wrongDataType:"
                          "Error parsing time change event: data type is not an integer:")));
    EXPECT_EQ(3, logs().lines().front().priority);
}

TEST_F(TheEventUtils, MapRegistrationStatusesDependingOnTheFlag) {
    const char* source = utils->getRegistrationChangedSource();
    const char* event = utils->getRegistrationChangedEventName();
    const int expected[][3] = {{1, 2, 2}, {2, 1, 1}, {3, 3, 2}, {4, 3, 1}, {0, 0, 0}, {5, 0, 0}};
    for (const auto& row : expected) {
        EXPECT_EQ(row[1], utils->parseRegistrationChangedEvent(source, event, {integer(row[0])}, true))
            << row[0];
        EXPECT_EQ(row[2], utils->parseRegistrationChangedEvent(source, event, {integer(row[0])}, false))
            << row[0];
    }
    const auto warnings = logs().withFormat(
        "W %s:%s:data.front().getIntValue()=%d Error parsing registration change event: value was "
        "not an expected number.:");
    ASSERT_EQ(4u, warnings.size());
    EXPECT_EQ(4, warnings[0].priority);
    EXPECT_EQ(line("W", "kesh_error_vimoZumiEventUtils_parseRegistrationChangedEvent_unexpectedValue:"
                    "data.front().getIntValue()=5 Error parsing registration change event: value "
                    "was not an expected number.:"),
              warnings[3].text);
}

// ---- Stock listeners --------------------------------------------------------

struct Memory : VimoMemoryEventListener {
    std::vector<int> kinds;
    void onMemoryEvent(int kind) override { kinds.push_back(kind); }
};
struct UserStore : VimoUserStoreEventListener {
    std::vector<int> states;
    void onDriveModeStateChanged(int state) override { states.push_back(state); }
};
struct DynamicConfig : VimoDynamicConfigUpdateEventListener {
    std::vector<std::list<std::string>> updates;
    void onDynamicConfigUpdated(std::list<std::string>& keys) override { updates.push_back(keys); }
};
struct Registration : VimoDeviceRegistrationEventListener {
    std::vector<int> statuses;
    void onRegistrationStatusChanged(int status) override { statuses.push_back(status); }
};

using TheStockListeners = TheEventUtils;

TEST_F(TheStockListeners, MapMemoryEventsAndLogForeignOnes) {
    Memory memory;
    const char* source = Memory::MEMORY_EVENT_SOURCE;
    memory.onEvent(source, "systemMemoryLow", {});
    memory.onEvent(source, "systemMemoryVeryLow", {});
    memory.onEvent(source, "systemMemoryCritical", {});
    memory.onEvent(source, Memory::EVENT_PROCESS_TOO_LARGE, {});
    memory.onEvent(source, "systemMemoryFine", {});
    memory.onEvent("com.tessal.cellard", "systemMemoryLow", {});
    memory.onEvent(nullptr, nullptr, {});
    EXPECT_THAT(memory.kinds, ElementsAre(1, 2, 3, 257));
    EXPECT_THAT(logs().texts(),
                ElementsAre(line("W", "VimoMemoryEventListener::onEvent:Unknown event [systemMemoryFine]:"),
                            line("W", "VimoMemoryEventListener::onEvent:Invalid event source "
                                  "[com.tessal.cellard]:"),
                            line("W", "VimoMemoryEventListener::onEvent:Invalid event source [NULL]:")));
}

TEST_F(TheStockListeners, PassTheDriveModeStateAndIgnoreTheUnmountEvents) {
    UserStore store;
    const char* source = UserStore::USER_STORE_SOURCE;
    store.onEvent(source, "driveModeStateChanged", {integer(1), text("x")});
    store.onEvent(source, UserStore::EVENT_LIKELY_TO_UNMOUNT, {integer(4)});
    EXPECT_THAT(logs().lines(), IsEmpty());
    EXPECT_THAT([&] { store.onEvent(source, "driveModeStateChanged", {text("1")}); },
                ::testing::ThrowsMessage<std::runtime_error>(
                    ::testing::StrEq("getIntValue() called when data type is not integer")));
    store.onEvent(source, "driveModeStateChanged", {});
    store.onEvent(nullptr, "driveModeStateChanged", {integer(2)});
    EXPECT_THAT(store.states, ElementsAre(1));
    EXPECT_EQ(2u, logs().lines().size());
    EXPECT_EQ(4, logs().lines()[0].priority);
}

TEST_F(TheStockListeners, CollectTheUpdatedConfigurationKeysInOrder) {
    DynamicConfig config;
    const char* source = DynamicConfig::DC_UPDATE_EVENT_SOURCE;
    const char* event = DynamicConfig::EVENT_DYNAMIC_CONFIG_UPDATED;
    config.onEvent(source, event, {integer(2), text("a"), text("b")});
    EXPECT_THAT(logs().texts(),
                ElementsAre(line("D", "VimoDynamicConfigUpdateEventListener::onEvent: [2] values got "
                                  "updated in dynamic config:"),
                            line("D", "VimoDynamicConfigUpdateEventListener::onEvent: key [a] got "
                                  "updated in dynamic config:"),
                            line("D", "VimoDynamicConfigUpdateEventListener::onEvent: key [b] got "
                                  "updated in dynamic config:")));
    logs().clear();
    config.onEvent(source, event, {integer(0)});
    config.onEvent(source, event, {});
    config.onEvent(source, event, {integer(1), Data(static_cast<Data::DataType>(2), 0, "")});
    config.onEvent(source, nullptr, {integer(0)});
    ASSERT_EQ(2u, config.updates.size());
    EXPECT_THAT(config.updates[0], ElementsAre("a", "b"));
    EXPECT_THAT(config.updates[1], IsEmpty());
    EXPECT_EQ(1u, logs().withFormat("E %s:%s:Update is sent but there are no entries:").size());
    EXPECT_EQ(1u, logs().withFormat("E %s:%s:Error parsing dynamic config update change event: "
                                    "data type is not an integer or a string:")
                      .size());
    EXPECT_EQ(4, logs().lines().back().priority);
}

TEST_F(TheStockListeners, PassRegistrationStatusesExceptTheThirdAndZeroForUnreadableEvents) {
    Registration registration;
    const char* source = Registration::DEVICE_REGISTRATION_EVENT_SOURCE;
    const char* event = Registration::DEVICE_REGISTRATION_CHANGED_EVENT;
    for (int value : {1, 2, 3, 4, 7}) registration.onEvent(source, event, {integer(value)});
    registration.onEvent(source, event, {text("1")});
    registration.onEvent(source, "timeChanged", {integer(1)});
    registration.onEvent("com.tessal.time", event, {integer(1)});
    EXPECT_THAT(registration.statuses, ElementsAre(2, 1, 0, 0));
    EXPECT_THAT(
        logs().texts(),
        ElementsAre(line("W", "kesh_error_vimoZumiEventUtils_parseRegistrationChangedEvent_"
                          "unexpectedValue:data.front().getIntValue()=7 Error parsing "
                          "registration change event: value was not an expected number.:"),
                    line("E", "kesh_error_vimoZumiEventUtils_parseRegistrationChangedEvent_"
                          "wrongDataType:Error parsing registration change event: data type is "
                          "not an integer:"),
                    line("W", "VimoDeviceRegistrationEventListener::onEvent:Unknown event "
                          "[timeChanged]:"),
                    line("W", "VimoDeviceRegistrationEventListener::onEvent:Invalid event source "
                          "[com.tessal.time]:")));
}

}  // namespace
