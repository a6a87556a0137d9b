#include "dbus/StandardProperties.h"

#include <string.h>

#include <systemd/sd-bus.h>

#include "core/StatusText.h"
#include "dbus/BusNames.h"
#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

const char* const kPropertiesInterface = "org.freedesktop.DBus.Properties";

namespace {

struct Mapping {
    ZumiStatus status;
    const char* name;
};
// Read back in this order: the first of a status is what a read answers.
const Mapping kMappings[] = {
    {ZUMI_ERR_NO_SUCH_PROPERTY, SD_BUS_ERROR_UNKNOWN_PROPERTY},
    {ZUMI_ERR_ACCESS_DENIED, SD_BUS_ERROR_ACCESS_DENIED},
    {ZUMI_ERR_ACCESS_DENIED, SD_BUS_ERROR_PROPERTY_READ_ONLY},
    {ZUMI_ERR_INVALID_ARGUMENT, SD_BUS_ERROR_INVALID_ARGS},
    {ZUMI_ERR_TOO_LARGE, nullptr},  // kErrorTooLarge, not a constant expression
    {ZUMI_ERR_NO_MEMORY, SD_BUS_ERROR_NO_MEMORY},
    {ZUMI_ERR_TIMEOUT, SD_BUS_ERROR_TIMEOUT},
};

const char* nameOf(const Mapping& mapping) { return mapping.name != nullptr ? mapping.name : kErrorTooLarge; }

// The highest status a service's callback answers with a text of its own.
constexpr ZumiStatus kLastNamedStatus = ZUMI_ERR_SERVICE_FAILED;

}  // namespace

const char* standardErrorName(ZumiStatus status, bool writing) {
    if (status == ZUMI_ERR_ACCESS_DENIED && writing) return SD_BUS_ERROR_PROPERTY_READ_ONLY;
    for (const Mapping& mapping : kMappings) {
        if (mapping.status == status) return nameOf(mapping);
    }
    return SD_BUS_ERROR_FAILED;
}

ZumiStatus statusOfStandardError(const char* name, const char* message) {
    for (const Mapping& mapping : kMappings) {
        if (name != nullptr && strcmp(name, nameOf(mapping)) == 0) return mapping.status;
    }
    const char* unknown = statusText(kLastNamedStatus + 1);
    for (ZumiStatus status = ZUMI_ERR_INVALID_ARGUMENT; message != nullptr && status <= kLastNamedStatus; ++status) {
        const char* text = statusText(status);
        if (text != unknown && strcmp(text, message) == 0) return status;
    }
    return ZUMI_ERR_FAILED;
}

}  // namespace bus
}  // namespace zumi
