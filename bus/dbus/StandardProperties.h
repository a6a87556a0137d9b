#ifndef ZUMI_BUS_DBUS_STANDARDPROPERTIES_H
#define ZUMI_BUS_DBUS_STANDARDPROPERTIES_H

// What org.freedesktop.DBus.Properties on kObjectPath shares between the
// service that answers it (StandardInterfaces.cpp) and the monitor that
// decodes it (TrafficDecoder): the interface's name and how a refusal
// travels. A refusal is the standard error a generic client understands,
// with the status's text (statusText) as its message; the monitor reads the
// status back from both. Threads: any.

#include <libzumi/ZumiTypes.h>

namespace zumi {
namespace bus {

extern const char* const kPropertiesInterface;  // "org.freedesktop.DBus.Properties"

// The error name for a refused read (writing false) or write.
const char* standardErrorName(ZumiStatus status, bool writing);

// The status behind a service's error answer to a Properties call: by the
// error's name, else by its message (a status's text under Failed), else
// ZUMI_ERR_FAILED.
ZumiStatus statusOfStandardError(const char* name, const char* message);

}  // namespace bus
}  // namespace zumi

#endif
