#ifndef ZUMI_ASYNC_PENDINGCALL_H
#define ZUMI_ASYNC_PENDINGCALL_H

// One asynchronous operation of ZumiAsync between its start and its end: the
// bus library's call (or calls: a string set may retry on another service),
// the outcome, and its road to the main loop or to a future.
//
// States (m_mutex guards them):
//
//   waiting --outcome, callback form--> queued --main loop--> delivering --> finished
//   waiting --outcome, future form--> finished
//   waiting or queued --cancel()--> cancelled
//
// Who lets go of the handler and the callback (release()): the main loop
// after delivering; cancel() when it is certain that nothing else touches
// them (the call was queued, or the bus library took the cancellation);
// otherwise the bus library's thread, when the outcome of a cancelled call
// arrives. Nothing waits for anything: cancel() answers false for a call
// that is being delivered.
//
// Queued calls wait in one process-wide queue, which one GDK idle source at a
// time empties in order (a burst of results wakes the main loop once).
//
// Threads: started on any thread; the bus library's asynchronous thread
// completes; the main loop's thread delivers, with the GDK lock held (GDK's
// idle wrapper takes it); cancel() on any thread. Locks: m_mutex and the
// queue's mutex, leaves (never held together), except that start() holds
// m_mutex while the bus library starts the call (whose own locks never wait
// for this one).

#include <pthread.h>

#include <functional>
#include <memory>

#include <zumi/ZumiAsync.h>

#include "platform/ZumiBus.h"

namespace veltra {
namespace kesh {
namespace zumi {

class PendingCallState : public std::enable_shared_from_this<PendingCallState> {
public:
    // Starts the bus library's call: one of its asynchronous operations with
    // the given completion, user data and id.
    typedef std::function<ZumiStatus(ZumiCallDone done, void* data, ZumiCallId* id)> Starter;

    PendingCallState(ZumiHandlerSharedPtr handler, bool onMainLoop);
    virtual ~PendingCallState();
    PendingCallState(const PendingCallState&) = delete;
    PendingCallState& operator=(const PendingCallState&) = delete;

    // A status the call cannot start with is its outcome, on this thread.
    void start(const Starter& starter);
    bool cancel();
    bool pending() const;

protected:
    // The bus library's thread: turns its result into the outcome (never
    // throws; takes the reply array). False when it started another call
    // instead (start()), whose result will come here in turn.
    virtual bool complete(const ZumiCallResult& result) = 0;
    // The main loop: hands the outcome to the callback.
    virtual void deliver() = 0;
    // Lets go of the callback and the outcome; the handler goes after it.
    virtual void releaseCallback() = 0;

    ZumiHandlerSharedPtr m_handler;

private:
    enum State { kWaiting, kQueued, kDelivering, kFinished, kCancelled };
    typedef std::shared_ptr<PendingCallState> Holder;

    static void onDone(const ZumiCallResult* result, void* data);
    static void queueOnMainLoop(std::shared_ptr<PendingCallState> call);
    static int onIdle(void* data);
    void deliverQueued();
    void completeWith(const ZumiCallResult& result);
    void release();

    const bool m_onMainLoop;
    mutable pthread_mutex_t m_mutex;
    State m_state = kWaiting;
    ZumiCallId m_id = 0;
    Holder* m_busData = nullptr;  // what the bus library's call holds, while it runs
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
