#include "handler/RemoteFailures.h"

#include <cstring>

#include "platform/ZumiBus.h"
#include "util/ExceptionMessage.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::ExceptionMessage;

namespace {

template <typename Value>
ZumiException writeFailureOf(const char* source, const char* property, Value value,
                             ZumiStatus status) {
    return ZumiException(ExceptionMessage("Could not set the request property.")
                             .field("source", source)
                             .field("property", property)
                             .field("value", value)
                             .status(status)
                             .str());
}

}  // namespace

ZumiException readFailure(const char* source, const char* property, ZumiStatus status,
                          const char* error) {
    ExceptionMessage message("Could not retrieve the request property.");
    message.field("source", source).field("property", property);
    if (error != nullptr) return ZumiException(message.status(status, error).str());
    return ZumiException(message.status(status).str());
}

ZumiException writeFailure(const char* source, const char* property, const char* value,
                           ZumiStatus status) {
    return writeFailureOf(source, property, value, status);
}

ZumiException writeFailure(const char* source, const char* property, int value, ZumiStatus status) {
    return writeFailureOf(source, property, value, status);
}

ZumiException sendFailure(const char* eventName, ZumiStatus status) {
    return ZumiException(
        ExceptionMessage("Could not send event.").field("event", eventName).status(status).str());
}

ZumiException hashAccessFailure(const char* publisher, const char* propertyName, ZumiStatus status) {
    return ZumiException(ExceptionMessage("ZumiAccessHasharrayProperty method failed.")
                             .field("publisher", publisher)
                             .field("propertyName", propertyName)
                             .status(status)
                             .str());
}

const char* stringSetFallback(const char* source) {
    return source != nullptr && std::strcmp(source, "com.tessal.nimbo") == 0 ? "com.tessal.titlerail"
                                                                            : nullptr;
}

void logStringSetFallback(const char* property, bool succeeded) {
    util::logLine(util::LogLevel::E, "VZH:ssp",
                  succeeded ? "E %s:%s:Failed setting %s for com.tessal.nimbo but succeeded for "
                              "com.tessal.titlerail:"
                            : "E %s:%s:Failed setting %s for com.tessal.nimbo as well as "
                              "com.tessal.titlerail:",
                  util::logText(property));
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
