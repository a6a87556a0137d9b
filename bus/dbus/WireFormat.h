#ifndef ZUMI_BUS_DBUS_WIREFORMAT_H
#define ZUMI_BUS_DBUS_WIREFORMAT_H

// The byte layout in which hash arrays and event parameters travel inside a
// D-Bus "ay" argument. Kept apart from the transport so that a fuzzer can feed
// the decoders arbitrary bytes: everything a peer sends passes through here.
//
// All integers are little-endian. A text is a u32 length and that many bytes,
// none of them NUL (the C API hands texts out NUL-terminated).
//
//   hash array   := u32 hashCount, hash*
//   hash         := u32 entryCount, entry*
//   entry        := text key, u8 kind (0 integer, 1 text), (i32 | text)
//   event params := u32 intCount, i32*, u32 textCount, text*
//
// Limits (a peer that exceeds one gets ZUMI_ERR_TOO_LARGE, malformed bytes
// ZUMI_ERR_PROTOCOL): see the constants below. Keys must be unique within a
// hash. Threads: pure functions, any thread.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "core/HashArray.h"

namespace zumi {
namespace bus {

constexpr size_t kMaxTextBytes = 1024 * 1024;        // a string value or parameter
constexpr size_t kMaxKeyBytes = 4096;                // a hash key
constexpr size_t kMaxHashes = 100000;                // hashes in one array
constexpr size_t kMaxEntriesPerHash = 10000;
constexpr size_t kMaxEventParams = 4096;             // of each kind
constexpr size_t kMaxBlobBytes = 16 * 1024 * 1024;   // one encoded array or parameter set

struct EventParams {
    std::vector<int> ints;
    std::vector<std::string> texts;
};

// Encoders answer ZUMI_ERR_TOO_LARGE or ZUMI_ERR_INVALID_ARGUMENT (a NUL
// inside a text cannot happen through the C API, but a key may be empty).
ZumiStatus encodeHashArray(const HashArray& array, std::vector<uint8_t>* out);
ZumiStatus decodeHashArray(const uint8_t* data, size_t size, HashArray* out);

ZumiStatus encodeEventParams(const int* ints, size_t intCount, const char* const* texts,
                             size_t textCount, std::vector<uint8_t>* out);
ZumiStatus decodeEventParams(const uint8_t* data, size_t size, EventParams* out);

}  // namespace bus
}  // namespace zumi

#endif
