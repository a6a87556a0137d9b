#ifndef ZUMI_BUS_DBUS_LOCALCALL_H
#define ZUMI_BUS_DBUS_LOCALCALL_H

// A get, set or hash-array access that an application thread makes on a
// service its own process serves, handed to the dispatch thread of the
// connection that serves it (Connection::runOnDispatchThread), so that the
// callback runs there, in order with the requests from the bus, and never on
// the application's thread. An asynchronous call (AsyncCalls) is waited for
// by nobody: it gives a `finished` function, which runs on the thread that ran
// or dropped the call instead of waking a waiter.
//
// The caller waits at most the call timeout, like a call through the daemon.
// A caller that gave up must not be reached any more, so the call owns
// everything the work touches: its inputs are copies taken by the work, its
// results land in the call's LocalOutcome, and the caller and the dispatch
// thread share the call (std::shared_ptr); whichever lets go last frees it.
//
// States: queued -> running -> done (the work ran on the dispatch thread);
// queued -> dropped (the connection closed before its turn; the work never
// ran); queued or running -> abandoned (the caller's deadline passed; a queued
// call is then skipped, a running one finishes unseen). Threads: the caller
// constructs and waits; the dispatch thread runs or drops. m_lock is a leaf.

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

#include "core/HashArray.h"
#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

// What an in-process call produced; the caller copies out what it needs.
struct LocalOutcome {
    LocalOutcome() = default;
    ~LocalOutcome() { hashArrayDestroy(reply); }
    LocalOutcome(const LocalOutcome&) = delete;
    LocalOutcome& operator=(const LocalOutcome&) = delete;

    ZumiStatus status = ZUMI_OK;
    int number = 0;
    std::string text;
    HashArray* reply = nullptr;  // owned until the caller takes it
};

class LocalCall {
public:
    // The work answers whether this process still serves the service.
    typedef std::function<bool(LocalOutcome&)> Work;
    enum Result { kServed, kNotServed, kDropped, kTimedOut };

    // served is false when the call was dropped, not served, or the work threw.
    typedef std::function<void(LocalCall& call, bool served)> Finished;

    explicit LocalCall(Work work, Finished finished = nullptr);
    LocalCall(const LocalCall&) = delete;
    LocalCall& operator=(const LocalCall&) = delete;

    // Dispatch thread: runs the work (unless the caller gave up already), or
    // gives up on it, and wakes the caller.
    void run();
    void drop();

    // Caller: waits until the call ran or was dropped, or until `deadline`.
    // What the work threw is thrown here.
    Result wait(std::chrono::steady_clock::time_point deadline);
    LocalOutcome& outcome() { return m_outcome; }

private:
    enum State { kQueued, kRunning, kDone, kDroppedState, kAbandoned };
    void finish(State state);

    const Work m_work;
    const Finished m_onFinished;
    LocalOutcome m_outcome;
    bool m_served = false;
    std::exception_ptr m_error;
    State m_state = kQueued;
    std::mutex m_lock;
    std::condition_variable m_finished;
};

}  // namespace bus
}  // namespace zumi

#endif
