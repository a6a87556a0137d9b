#ifndef ZUMI_BUS_DBUS_WIREFORMAT_H
#define ZUMI_BUS_DBUS_WIREFORMAT_H

// How hash arrays and event parameters travel: in D-Bus's own types, so that
// any D-Bus client reads and writes them without a private encoding.
//
//   hash array    aa{sv}   one a{sv} per hash; a value is a variant holding
//                          "i" (an integer) or "s" (a text)
//   event params  ai, as   the integers in order, then the texts in order
//
// Kept apart from the transport so that a fuzzer can feed the readers
// arbitrary messages: everything a peer sends passes through here.
//
// Limits (a peer that exceeds one gets ZUMI_ERR_TOO_LARGE, a message of
// another shape ZUMI_ERR_PROTOCOL) and the checks before sending are in
// core/Sendable.h, which the test double shares. Keys are unique within a
// hash. Texts are UTF-8 (D-Bus strings). Threads: functions of the message
// given, any thread.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include <systemd/sd-bus.h>

#include "core/HashArray.h"
#include "core/Sendable.h"

namespace zumi {
namespace bus {

extern const char* const kHashArraySignature;  // "aa{sv}"

struct EventParams {
    std::vector<int> ints;
    std::vector<std::string> texts;
};

// Appending an array that passed checkHashArray (core/Sendable.h) can only
// fail for want of memory. Both return an sd-bus result (negative errno).
int appendHashArray(sd_bus_message* message, const HashArray& array);
// Reads an aa{sv} at the message's current position.
ZumiStatus readHashArray(sd_bus_message* message, HashArray* out);

// The same two for event parameters, checked by checkEventParams.
int appendEventParams(sd_bus_message* message, const EventParamsView& params);
ZumiStatus readEventParams(sd_bus_message* message, EventParams* out);

}  // namespace bus
}  // namespace zumi

#endif
