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
// another shape ZUMI_ERR_PROTOCOL): see the constants below. Keys are unique
// within a hash. Texts are UTF-8 (D-Bus strings): a text that is not is
// refused with ZUMI_ERR_INVALID_ARGUMENT before anything is sent. Threads:
// functions of the message given, any thread.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include <systemd/sd-bus.h>

#include "core/HashArray.h"

namespace zumi {
namespace bus {

constexpr size_t kMaxTextBytes = 1024 * 1024;        // a string value or parameter
constexpr size_t kMaxKeyBytes = 4096;                // a hash key
constexpr size_t kMaxHashes = 100000;                // hashes in one array
constexpr size_t kMaxEntriesPerHash = 10000;
constexpr size_t kMaxEventParams = 4096;             // of each kind
// One array's or parameter set's keys, texts and per-item framing, counted as
// wireBytes() does.
constexpr size_t kMaxBlobBytes = 16 * 1024 * 1024;

extern const char* const kHashArraySignature;  // "aa{sv}"

struct EventParams {
    std::vector<int> ints;
    std::vector<std::string> texts;
};

// Whether an array may be sent: ZUMI_OK, ZUMI_ERR_TOO_LARGE or
// ZUMI_ERR_INVALID_ARGUMENT (a key or text that is not UTF-8). Appending an
// array that passed can only fail for want of memory.
ZumiStatus checkHashArray(const HashArray& array);
// Both return an sd-bus result (negative errno).
int appendHashArray(sd_bus_message* message, const HashArray& array);
// Reads an aa{sv} at the message's current position.
ZumiStatus readHashArray(sd_bus_message* message, HashArray* out);

// Parameters to send, as the caller holds them.
struct EventParamsView {
    const int* ints;
    size_t intCount;
    const char* const* texts;
    size_t textCount;
};

// The same three for event parameters; a null pointer with a count is
// ZUMI_ERR_INVALID_ARGUMENT.
ZumiStatus checkEventParams(const EventParamsView& params);
int appendEventParams(sd_bus_message* message, const EventParamsView& params);
ZumiStatus readEventParams(sd_bus_message* message, EventParams* out);

bool isValidUtf8(const char* text, size_t length);

}  // namespace bus
}  // namespace zumi

#endif
