// The four ready-made listeners. They keep no state; all of them run on the
// main loop under the event manager's delivery (see VimoSystemEventManager.h).

#include <cstring>
#include <list>
#include <memory>
#include <string>

#include <zumi/VimoDeviceRegistrationEventListener.h>
#include <zumi/VimoDynamicConfigUpdateEventListener.h>
#include <zumi/VimoMemoryEventListener.h>
#include <zumi/VimoUserStoreEventListener.h>
#include <zumi/ZumiEventUtils.h>
#include <zumi/ZumiHandlerFactory.h>

#include "events/NullText.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::LogLevel;
using util::logLine;

namespace {

bool sameName(const char* name, const char* expected) {
    return name != nullptr && std::strcmp(name, expected) == 0;
}

const char* const USER_STORE_TAG = "VimoUserStoreEventListener::onEvent";
const char* const MEMORY_TAG = "VimoMemoryEventListener::onEvent";
const char* const DC_UPDATE_TAG = "VimoDynamicConfigUpdateEventListener::onEvent";
const char* const REGISTRATION_TAG = "VimoDeviceRegistrationEventListener::onEvent";

}  // namespace

const char* const VimoUserStoreEventListener::USER_STORE_SOURCE = "com.tessal.cellard";
const char* const VimoUserStoreEventListener::EVENT_UNMOUNT_REQUEST_CANCELED =
    "userstoreNotUnMountingNevermind";
const char* const VimoUserStoreEventListener::EVENT_LIKELY_TO_UNMOUNT =
    "userstoreIsLikelyToUnMount";
const char* const VimoUserStoreEventListener::EVENT_DRIVEMODE_STATE = "driveModeStateChanged";

const char* const VimoMemoryEventListener::MEMORY_EVENT_SOURCE = "com.tessal.memwatchd";
const char* const VimoMemoryEventListener::EVENT_PROCESS_TOO_LARGE = "processTooLarge";
const char* const VimoMemoryEventListener::EVENT_SYSTEM_MEMORY_CRITICAL = "systemMemoryCritical";
const char* const VimoMemoryEventListener::EVENT_SYSTEM_MEMORY_VERY_LOW = "systemMemoryVeryLow";
const char* const VimoMemoryEventListener::EVENT_SYSTEM_MEMORY_LOW = "systemMemoryLow";

const char* const VimoDynamicConfigUpdateEventListener::DC_UPDATE_EVENT_SOURCE =
    "com.tessal.paramd";
const char* const VimoDynamicConfigUpdateEventListener::EVENT_DYNAMIC_CONFIG_UPDATED =
    "dynamicConfigUpdated";

const char* const VimoDeviceRegistrationEventListener::DEVICE_REGISTRATION_EVENT_SOURCE =
    "com.tessal.veltraRegistrationService";
const char* const VimoDeviceRegistrationEventListener::DEVICE_REGISTRATION_CHANGED_EVENT =
    "registrationChanged";

void VimoUserStoreEventListener::onEvent(const char* source, const char* event,
                                         const SystemEventDataList& data) {
    // The manager never passes NULL names; an application calling directly
    // might, and a NULL is not "another event" to be ignored in silence.
    if (source == nullptr || event == nullptr) {
        logLine(LogLevel::W, USER_STORE_TAG,
                "W %s:%s:source=%s,event=%s Event with NULL source or event ignored.:",
                textOrNull(source), textOrNull(event));
        return;
    }
    if (std::strcmp(source, USER_STORE_SOURCE) != 0 ||
        std::strcmp(event, EVENT_DRIVEMODE_STATE) != 0) {
        return;
    }
    if (data.empty()) {
        logLine(LogLevel::W, USER_STORE_TAG,
                "W %s:%s:Drive mode state event without a parameter ignored.:");
        return;
    }
    onDriveModeStateChanged(data.front().getIntValue());
}

void VimoMemoryEventListener::onEvent(const char* source, const char* event,
                                      const SystemEventDataList&) {
    if (!sameName(source, MEMORY_EVENT_SOURCE)) {
        logLine(LogLevel::W, MEMORY_TAG, "W %s:%s:Invalid event source [%s]:", textOrNull(source));
        return;
    }
    int kind;
    if (sameName(event, EVENT_SYSTEM_MEMORY_LOW)) {
        kind = 1;
    } else if (sameName(event, EVENT_SYSTEM_MEMORY_VERY_LOW)) {
        kind = 2;
    } else if (sameName(event, EVENT_SYSTEM_MEMORY_CRITICAL)) {
        kind = 3;
    } else if (sameName(event, EVENT_PROCESS_TOO_LARGE)) {
        kind = 0x101;
    } else {
        logLine(LogLevel::W, MEMORY_TAG, "W %s:%s:Unknown event [%s]:", textOrNull(event));
        return;
    }
    onMemoryEvent(kind);
}

void VimoDynamicConfigUpdateEventListener::onEvent(const char* source, const char* event,
                                                   const SystemEventDataList& data) {
    if (!sameName(source, DC_UPDATE_EVENT_SOURCE) ||
        !sameName(event, EVENT_DYNAMIC_CONFIG_UPDATED)) {
        logLine(LogLevel::W, DC_UPDATE_TAG,
                "W %s:%s:source=%s,event=%s Unexpected source or event for a dynamic config "
                "update, ignored.:",
                textOrNull(source), textOrNull(event));
        return;
    }
    if (data.empty()) {
        logLine(LogLevel::E, DC_UPDATE_TAG, "E %s:%s:Update is sent but there are no entries:");
        return;
    }
    std::list<std::string> keys;
    for (const SystemEventData& item : data) {
        if (item.getType() == SystemEventData::INTEGER) {
            logLine(LogLevel::D, DC_UPDATE_TAG, "D %s:%s: [%d] values got updated in dynamic config:",
                    item.getIntValue());
        } else if (item.getType() == SystemEventData::STRING) {
            keys.push_back(item.getStringValue());
            logLine(LogLevel::D, DC_UPDATE_TAG, "D %s:%s: key [%s] got updated in dynamic config:",
                    keys.back().c_str());
        } else {
            logLine(LogLevel::E, DC_UPDATE_TAG,
                    "E %s:%s:Error parsing dynamic config update change event: data type is not "
                    "an integer or a string:");
            return;
        }
    }
    onDynamicConfigUpdated(keys);
}

void VimoDeviceRegistrationEventListener::onEvent(const char* source, const char* event,
                                                  const SystemEventDataList& data) {
    std::shared_ptr<ZumiEventUtils> utils = ZumiHandlerFactory::getZumiEventUtils();
    if (!sameName(source, DEVICE_REGISTRATION_EVENT_SOURCE)) {
        logLine(LogLevel::W, REGISTRATION_TAG, "W %s:%s:Invalid event source [%s]:",
                textOrNull(source));
        return;
    }
    if (!sameName(event, DEVICE_REGISTRATION_CHANGED_EVENT)) {
        logLine(LogLevel::W, REGISTRATION_TAG, "W %s:%s:Unknown event [%s]:", textOrNull(event));
        return;
    }
    const int status = utils->parseRegistrationChangedEvent(source, event, data, true);
    switch (status) {
        case 0:
        case 1:
        case 2:
            onRegistrationStatusChanged(status);
            return;
        case 3:
            // The service's statuses 3 and 4 mean nothing to applications.
            return;
        default:
            logLine(LogLevel::E, "Unknown registration status", "E %s:%s:. status=%d:", status);
            onRegistrationStatusChanged(0);
            return;
    }
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
