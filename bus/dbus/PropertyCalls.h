#ifndef ZUMI_BUS_DBUS_PROPERTYCALLS_H
#define ZUMI_BUS_DBUS_PROPERTYCALLS_H

// Serving a property request with the callbacks that connections of this
// process registered, on the calling thread: the dispatch thread calls these
// for requests from the bus; the contract's operations call them through
// servedInProcess, which decides the thread.
//
// Each returns false when this process does not serve `service` at all;
// otherwise *status is the answer: the callback's own status, unchanged, or
// ZUMI_ERR_NO_SUCH_PROPERTY (nothing of that name and type),
// ZUMI_ERR_ACCESS_DENIED (no getter / setter / accessor registered),
// ZUMI_ERR_SERVICE_FAILED (the callback threw). Outputs are written only on
// ZUMI_OK, except the hash-array reply, which is delivered with any status
// the accessor returned.
//
// The string getter is called with a buffer of a few hundred bytes first; when
// it answers ZUMI_ERR_BUFFER_TOO_SMALL with a larger *size it is called again
// with that much room, up to kStringGetterAttempts times in all. A getter that
// asks for more than kMaxTextBytes + 1 gets ZUMI_ERR_TOO_LARGE to its caller.

#include <new>
#include <string>

#include "core/HashArray.h"
#include "dbus/LocalCall.h"
#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

constexpr int kStringGetterAttempts = 10;

bool serveGetInt(const std::string& service, const std::string& property, int* value,
                 ZumiStatus* status);
bool serveSetInt(const std::string& service, const std::string& property, int value,
                 ZumiStatus* status);
bool serveGetString(const std::string& service, const std::string& property, std::string* value,
                    ZumiStatus* status);
bool serveSetString(const std::string& service, const std::string& property, const char* value,
                    ZumiStatus* status);
// input null means a read. *reply is a new array owned by the caller.
bool serveAccess(const std::string& service, const std::string& property, const HashArray* input,
                 HashArray** reply, ZumiStatus* status);
// The same for a caller done with `input`: the accessor gets its hashes rather
// than a copy of them, and `input` may be left empty.
bool serveAccessTaking(const std::string& service, const std::string& property, HashArray* input,
                       HashArray** reply, ZumiStatus* status);

// A get or set that this process makes: false at once when it does not serve
// `service` (the caller then goes through the daemon). Otherwise `work`, one of
// the above, runs on the dispatch thread of the connection owning the name,
// in turn with the bus's requests, while the caller waits; or right here when
// this thread is a dispatch thread itself, that is inside a callback (no
// dispatch thread ever waits for another, so nothing deadlocks). A call
// dropped by a closing connection is looked up anew.
//
// The caller waits at most the call timeout (ZUMI_CALL_TIMEOUT_MS), as for a
// call through the daemon; *outcome then holds ZUMI_ERR_TIMEOUT. This is what
// ends a call whose callback waits for something the caller holds (a bridged
// UI object's read needs the GDK lock). Because the work may outlive a caller
// that gave up, it must take copies of its inputs and write only to the
// LocalOutcome it is given, never to the caller's variables.
bool servedInProcess(const std::string& service, LocalCall::Work work, LocalOutcome* outcome);

// Whether a connection of this process owns the name `service` right now.
bool servesInProcess(const std::string& service);

// The same for a work(service, property, outcome) that gets its own copies of
// both names; running out of memory answers ZUMI_ERR_NO_MEMORY.
template <typename Work>
bool servedInProcess(const char* service, const char* property, LocalOutcome* outcome, Work work) {
    try {
        const std::string s(service);
        if (!servesInProcess(s)) return false;  // a remote call builds no work
        const std::string p(property);
        return servedInProcess(
            s, [s, p, work](LocalOutcome& o) { return work(s, p, o); }, outcome);
    } catch (const std::bad_alloc&) {
        outcome->status = ZUMI_ERR_NO_MEMORY;
        return true;
    }
}

}  // namespace bus
}  // namespace zumi

#endif
