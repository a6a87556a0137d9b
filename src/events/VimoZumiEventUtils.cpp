#include "events/VimoZumiEventUtils.h"

#include <cstring>
#include <memory>
#include <stdexcept>

#include <zumi/ZumiHandlerFactory.h>

#include "events/NullText.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::LogLevel;
using util::logLine;

namespace {

const char* const TIME_SOURCE = "com.tessal.time";
const char* const TIME_EVENT = "timeChanged";
const char* const MCC_SOURCE = "com.tessal.wan.event";
const char* const MCC_EVENT = "mccChanged";
const char* const REGISTRATION_SOURCE = "com.tessal.veltraRegistrationService";
const char* const REGISTRATION_EVENT = "registrationChanged";

// The three parsers run the same checks and differ only in the names they
// expect, their error result and the texts of their lines.
struct ParserLines {
    const char* source;
    const char* event;
    int errorResult;
    const char* sourceOrEventTag;
    const char* sourceOrEventFormat;
    const char* sizeTag;
    const char* sizeFormat;
    const char* typeTag;
    const char* typeFormat;
};

const ParserLines TIME_LINES = {
    TIME_SOURCE,
    TIME_EVENT,
    0,
    "kesh_error_vimoZumiEventUtils_parseTimeChangedEvent_wrongSourceOrEvent",
    "E %s:%s:source=%s,event=%s Error parsing time change event: source or event was NULL or "
    "did not match expected values.:",
    "kesh_error_vimoZumiEventUtils_parseTimeChangedEvent_wrongDataSize",
    "E %s:%s:data.size()=%d Error parsing time change event: data size does not equal 1:",
    "kesh_error_vimoZumiEventUtils_parseTimeChangedEvent_wrongDataType",
    "E %s:%s:Error parsing time change event: data type is not an integer:",
};

const ParserLines MCC_LINES = {
    MCC_SOURCE,
    MCC_EVENT,
    -1,
    "kesh_error_vimoZumiEventUtils_parseMCCChangedEvent_wrongSourceOrEvent",
    "E %s:%s:source=%s,event=%s Error parsing MCC change event: source or event was NULL or "
    "did not match expected values.:",
    "kesh_error_vimoZumiEventUtils_parseMCCChangedEvent_wrongDataSize",
    "E %s:%s:data.size()=%d Error parsing MCC change event: data size does not equal 1:",
    "kesh_error_vimoZumiEventUtils_parseMCCChangedEvent_wrongDataType",
    "E %s:%s:Error parsing MCC change event: data type is not an integer:",
};

const ParserLines REGISTRATION_LINES = {
    REGISTRATION_SOURCE,
    REGISTRATION_EVENT,
    0,
    "kesh_error_vimoZumiEventUtils_parseRegistrationChangedEvent_wrongSourceOrEvent",
    "E %s:%s:source=%s,event=%s Error parsing registration change event: source or event was "
    "NULL or did not match expected values.:",
    "kesh_error_vimoZumiEventUtils_parseRegistrationChangedEvent_wrongDataSize",
    "E %s:%s:data.size()=%d Error parsing registration change event: data size does not equal "
    "1:",
    "kesh_error_vimoZumiEventUtils_parseRegistrationChangedEvent_wrongDataType",
    "E %s:%s:Error parsing registration change event: data type is not an integer:",
};

// True when the event is the expected one with exactly one integer parameter;
// otherwise logs the first failed check.
bool isSingleIntegerEvent(const ParserLines& lines, const char* source, const char* event,
                          const SystemEventDataList& data) {
    if (source == nullptr || std::strcmp(source, lines.source) != 0 || event == nullptr ||
        std::strcmp(event, lines.event) != 0) {
        logLine(LogLevel::E, lines.sourceOrEventTag, lines.sourceOrEventFormat, textOrNull(source),
                textOrNull(event));
        return false;
    }
    if (data.size() != 1) {
        logLine(LogLevel::E, lines.sizeTag, lines.sizeFormat, static_cast<int>(data.size()));
        return false;
    }
    if (data.front().getType() != SystemEventListener::SystemEventData::INTEGER) {
        logLine(LogLevel::E, lines.typeTag, lines.typeFormat);
        return false;
    }
    return true;
}

}  // namespace

int SystemEventListener::SystemEventData::getIntValue() const {
    if (type != INTEGER) {
        throw std::runtime_error("getIntValue() called when data type is not integer");
    }
    return intValue;
}

ZumiEventUtils::~ZumiEventUtils() {}

VimoZumiEventUtils::~VimoZumiEventUtils() {}

const char* VimoZumiEventUtils::getTimeChangedSource() const { return TIME_SOURCE; }
const char* VimoZumiEventUtils::getTimeChangedEventName() const { return TIME_EVENT; }
const char* VimoZumiEventUtils::getMCCChangedSource() const { return MCC_SOURCE; }
const char* VimoZumiEventUtils::getMCCChangedEventName() const { return MCC_EVENT; }
const char* VimoZumiEventUtils::getRegistrationChangedSource() const {
    return REGISTRATION_SOURCE;
}
const char* VimoZumiEventUtils::getRegistrationChangedEventName() const {
    return REGISTRATION_EVENT;
}
const char* VimoZumiEventUtils::getEnergydSource() const { return "com.tessal.energyd"; }
const char* VimoZumiEventUtils::getResumingEventName() const { return "resuming"; }
const char* VimoZumiEventUtils::getOutOfShutdownEventName() const { return "outOfShutdown"; }
const char* VimoZumiEventUtils::getNotReadyToSuspendEventName() const {
    return "notReadyToSuspend";
}

int VimoZumiEventUtils::parseTimeChangedEvent(const char* source, const char* event,
                                              const SystemEventDataList& data) const {
    if (!isSingleIntegerEvent(TIME_LINES, source, event, data)) {
        return TIME_LINES.errorResult;
    }
    return data.front().getIntValue();
}

int VimoZumiEventUtils::parseMCCChangedEvent(const char* source, const char* event,
                                             const SystemEventDataList& data) const {
    if (!isSingleIntegerEvent(MCC_LINES, source, event, data)) {
        return MCC_LINES.errorResult;
    }
    return data.front().getIntValue();
}

int VimoZumiEventUtils::parseRegistrationChangedEvent(const char* source, const char* event,
                                                      const SystemEventDataList& data,
                                                      bool flag) const {
    if (!isSingleIntegerEvent(REGISTRATION_LINES, source, event, data)) {
        return REGISTRATION_LINES.errorResult;
    }
    const int value = data.front().getIntValue();
    switch (value) {
        case 1:
            return 2;
        case 2:
            return 1;
        case 3:
            return flag ? 3 : 2;
        case 4:
            return flag ? 3 : 1;
        default:
            logLine(LogLevel::W,
                    "kesh_error_vimoZumiEventUtils_parseRegistrationChangedEvent_unexpectedValue",
                    "W %s:%s:data.front().getIntValue()=%d Error parsing registration change "
                    "event: value was not an expected number.:",
                    value);
            return 0;
    }
}

// Declared with the factory; every call hands out a fresh, unshared object.
std::shared_ptr<ZumiEventUtils> ZumiHandlerFactory::getZumiEventUtils() {
    return std::shared_ptr<ZumiEventUtils>(new VimoZumiEventUtils());
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
