#ifndef ZUMI_BUS_CORE_SENDABLE_H
#define ZUMI_BUS_CORE_SENDABLE_H

// What may travel: the limits of texts, hash arrays and event parameters,
// and the checks that refuse, before anything is sent, what D-Bus cannot
// carry (a text that is not UTF-8 or holds a NUL: ZUMI_ERR_INVALID_ARGUMENT)
// or what is over a limit (ZUMI_ERR_TOO_LARGE). libzumi and the in-process
// test double refuse through these same checks, so that an application's
// unit tests meet the refusals of the real bus. Threads: any.

#include <stddef.h>

#include <string>

#include "core/HashArray.h"
#include <libzumi/ZumiTypes.h>

namespace zumi {
namespace bus {

constexpr size_t kMaxNameBytes = 255;               // property and event names
constexpr size_t kMaxTextBytes = 1024 * 1024;        // a string value or parameter
constexpr size_t kMaxKeyBytes = 4096;                // a hash key
constexpr size_t kMaxHashes = 100000;                // hashes in one array
constexpr size_t kMaxEntriesPerHash = 10000;
constexpr size_t kMaxEventParams = 4096;             // of each kind
// One array's or parameter set's keys, texts and per-item framing, counted as
// Budget does.
constexpr size_t kMaxBlobBytes = 16 * 1024 * 1024;

// Sums what items cost against kMaxBlobBytes and says when it is passed: an
// item's bytes and a framing that stands for D-Bus's lengths, padding and
// variant signature.
class Budget {
public:
    static constexpr size_t kItemFraming = 16;
    bool take(size_t bytes) {
        m_used += bytes + kItemFraming;
        return m_used <= kMaxBlobBytes;
    }

private:
    size_t m_used = 0;
};

// Parameters to send, as the caller holds them.
struct EventParamsView {
    const int* ints;
    size_t intCount;
    const char* const* texts;
    size_t textCount;
};

// Whether an array may be sent: ZUMI_OK, ZUMI_ERR_TOO_LARGE or
// ZUMI_ERR_INVALID_ARGUMENT (a key or text that is not UTF-8).
ZumiStatus checkHashArray(const HashArray& array);
// The same for event parameters; a null pointer with a count is
// ZUMI_ERR_INVALID_ARGUMENT too.
ZumiStatus checkEventParams(const EventParamsView& params);

// Whether a service's hash-array reply (null: none) may travel to the
// requester. When it may not, the requester gets no reply, and a ZUMI_OK
// *status becomes the check's refusal.
bool keepReply(const HashArray* reply, ZumiStatus* status);

// A property or event name: non-empty, at most kMaxNameBytes, valid UTF-8 (it
// travels as a D-Bus string). What is not is ZUMI_ERR_INVALID_ARGUMENT.
bool isValidMemberName(const char* name);

bool isValidUtf8(const char* text, size_t length);

}  // namespace bus
}  // namespace zumi

#endif
