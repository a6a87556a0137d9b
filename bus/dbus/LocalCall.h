#ifndef ZUMI_BUS_DBUS_LOCALCALL_H
#define ZUMI_BUS_DBUS_LOCALCALL_H

// A get, set or hash-array access that an application thread makes on a
// service its own process serves, handed to the dispatch thread of the
// connection that serves it (Connection::runOnDispatchThread), so that the
// callback runs there, in order with the requests from the bus, and never on
// the application's thread. The caller waits for it; it lives on the caller's
// stack, so the handover allocates nothing of its own.
//
// States: queued -> done (the work ran on the dispatch thread) or
// queued -> dropped (the connection closed before its turn; the work never
// ran). Threads: the caller constructs, waits and destroys; the dispatch
// thread runs or drops. m_lock is a leaf lock.

#include <pthread.h>

#include <exception>

namespace zumi {
namespace bus {

class LocalCall {
public:
    // The work answers whether this process still serves the service.
    typedef bool (*Work)(void* context);

    LocalCall(Work work, void* context);
    ~LocalCall();
    LocalCall(const LocalCall&) = delete;
    LocalCall& operator=(const LocalCall&) = delete;

    // Dispatch thread: runs the work, or gives up on it, and wakes the
    // caller. The call may be gone as soon as either returns.
    void run();
    void drop();

    // Caller: waits until the call ran or was dropped. The work's answer,
    // false when dropped; what the work threw is thrown here.
    bool wait();

private:
    enum State { kQueued, kDone, kDropped };
    void finish(State state);

    const Work m_work;
    void* const m_context;
    bool m_served = false;
    std::exception_ptr m_error;
    State m_state = kQueued;
    pthread_mutex_t m_lock;
    pthread_cond_t m_finished;
};

}  // namespace bus
}  // namespace zumi

#endif
