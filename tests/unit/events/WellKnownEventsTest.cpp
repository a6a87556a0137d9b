// The well-known event parsers and the four stock listeners, called directly
// as the event manager would call them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <zumi/VimoDeviceRegistrationEventListener.h>
#include <zumi/VimoDynamicConfigUpdateEventListener.h>
#include <zumi/VimoMemoryEventListener.h>
#include <zumi/ZumiEventUtils.h>
#include <zumi/ZumiHandlerFactory.h>

#include "EventTestSupport.h"
#include "ZumiTest.h"

namespace {

using namespace veltra::kesh::zumi;
using Data = SystemEventListener::SystemEventData;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using zumi::testing::logged;

Data integer(int value) { return Data(Data::INTEGER, value, ""); }
Data text(const char* value) { return Data(Data::STRING, 0, value); }

class TheEventUtils : public zumi::testing::ZumiTest {
protected:
    std::shared_ptr<ZumiEventUtils> utils = ZumiHandlerFactory::getZumiEventUtils();
};

// Each call with its result and the one line it writes ("" for none).
TEST_F(TheEventUtils, ReturnTheIntegerOfTheExpectedEventOrLogTheFirstFailedCheck) {
    auto expect = [&](int got, int expected, const std::string& text) {
        EXPECT_EQ(expected, got) << text;
        EXPECT_EQ(text.empty() ? std::vector<std::string>() : std::vector<std::string>{text},
                  logs().texts());
        logs().clear();
    };
    const std::string mismatch = " source or event was NULL or did not match expected values.";
    const char* time = "com.tessal.time";
    expect(utils->parseTimeChangedEvent(time, "timeChanged", {integer(1700000000)}), 1700000000, "");
    expect(utils->parseTimeChangedEvent(nullptr, "timeChanged", {integer(5)}), 0,
           logged("E", "kesh_error_vimoZumiEventUtils_parseTimeChangedEvent_wrongSourceOrEvent",
                  "source=NULL,event=timeChanged Error parsing time change event:" + mismatch));
    expect(utils->parseMCCChangedEvent("com.tessal.wan.event", "timeChanged", {integer(5)}), -1,
           logged("E", "kesh_error_vimoZumiEventUtils_parseMCCChangedEvent_wrongSourceOrEvent",
                  "source=com.tessal.wan.event,event=timeChanged Error parsing MCC change event:" + mismatch));
    expect(utils->parseMCCChangedEvent("com.tessal.wan.event", "mccChanged", {}), -1,
           logged("E", "kesh_error_vimoZumiEventUtils_parseMCCChangedEvent_wrongDataSize",
                  "data.size()=0 Error parsing MCC change event: data size does not equal 1"));
    expect(utils->parseTimeChangedEvent(time, "timeChanged", {text("7")}), 0,
           logged("E", "kesh_error_vimoZumiEventUtils_parseTimeChangedEvent_wrongDataType",
                  "Error parsing time change event: data type is not an integer"));
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
    ASSERT_EQ(4u, logs().lines().size());  // one W line for each of 0 and 5, twice
    EXPECT_EQ(logged("W", "kesh_error_vimoZumiEventUtils_parseRegistrationChangedEvent_unexpectedValue",
                     "data.front().getIntValue()=5 Error parsing registration change event: "
                     "value was not an expected number."),
              logs().lines()[3].text);
}

// ---- Stock listeners --------------------------------------------------------

struct Memory : VimoMemoryEventListener {
    std::vector<int> kinds;
    void onMemoryEvent(int kind) override { kinds.push_back(kind); }
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

TEST_F(TheStockListeners, MapTheirEventsAndNameForeignOnesInTheirLines) {
    Memory memory;
    const char* source = Memory::MEMORY_EVENT_SOURCE;
    for (const char* event : {"systemMemoryLow", "systemMemoryVeryLow", "systemMemoryCritical",
                              Memory::EVENT_PROCESS_TOO_LARGE, "systemMemoryFine"}) {
        memory.onEvent(source, event, {});
    }
    memory.onEvent(nullptr, nullptr, {});
    EXPECT_THAT(memory.kinds, ElementsAre(1, 2, 3, 257));

    Registration registration;
    const char* registry = Registration::DEVICE_REGISTRATION_EVENT_SOURCE;
    const char* changed = Registration::DEVICE_REGISTRATION_CHANGED_EVENT;
    for (int value : {1, 2, 3, 4}) registration.onEvent(registry, changed, {integer(value)});
    registration.onEvent(registry, changed, {text("1")});
    registration.onEvent(registry, "timeChanged", {integer(1)});
    // Statuses 3 and 4 both parse to 3, which is not passed on; unreadable is 0.
    EXPECT_THAT(registration.statuses, ElementsAre(2, 1, 0));

    DynamicConfig config;
    const char* dc = DynamicConfig::DC_UPDATE_EVENT_SOURCE;
    config.onEvent(dc, DynamicConfig::EVENT_DYNAMIC_CONFIG_UPDATED, {integer(1), text("a")});
    config.onEvent(dc, DynamicConfig::EVENT_DYNAMIC_CONFIG_UPDATED, {integer(0)});
    ASSERT_EQ(2u, config.updates.size());
    EXPECT_THAT(config.updates[0], ElementsAre("a"));
    EXPECT_THAT(config.updates[1], IsEmpty());

    const char* configTag = "VimoDynamicConfigUpdateEventListener::onEvent";
    EXPECT_THAT(
        logs().texts(),
        ElementsAre(
            logged("W", "VimoMemoryEventListener::onEvent", "Unknown event [systemMemoryFine]"),
            logged("W", "VimoMemoryEventListener::onEvent", "Invalid event source [NULL]"),
            logged("E", "kesh_error_vimoZumiEventUtils_parseRegistrationChangedEvent_wrongDataType",
                   "Error parsing registration change event: data type is not an integer"),
            logged("W", "VimoDeviceRegistrationEventListener::onEvent", "Unknown event [timeChanged]"),
            logged("D", configTag, " [1] values got updated in dynamic config"),
            logged("D", configTag, " key [a] got updated in dynamic config"),
            logged("D", configTag, " [0] values got updated in dynamic config")));
}

}  // namespace
