#ifndef ZUMI_BUS_DBUS_ASYNCCALLS_H
#define ZUMI_BUS_DBUS_ASYNCCALLS_H

// The asynchronous calls of the contract (ZumiGetIntPropertyAsync ...): one
// table of calls and one dispatch thread for the whole process, started with
// the first call. No thread per call: a remote call is one sd_bus_call_async
// on the process's asynchronous bus, whose replies and timeouts the dispatch
// thread reads; a call to a service of this process is posted, without
// waiting, to the dispatch thread of the connection serving it (LocalCall),
// with its deadline kept here; an event is sent by the dispatch thread.
//
// A call's states (m_lock guards them):
//
//   pending --reply, timeout, local answer--> ready --dispatch thread--> delivering --> done
//   pending or ready --cancel, ZumiClose--> done (`done` never runs)
//
// `done` runs on the dispatch thread only, with no lock held, so it may start
// or cancel calls. A broken asynchronous bus fails its calls (the daemon's
// own error, or ZUMI_ERR_DISCONNECTED) and is opened anew by the next call.
//
// Threads: any, for start and cancel. Locks: m_busLock (the asynchronous bus
// and its slots) before m_lock (the table). A connection's m_stateLock may be
// held when a dropped local call finishes here, so neither lock is ever held
// while this file calls into a connection or the registry.

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <systemd/sd-bus.h>

#include <libzumi/ZumiBus.h>

#include "core/HashArray.h"

namespace zumi {
namespace bus {

struct LocalOutcome;

struct AsyncCall {
    enum Kind { kGetInt, kGetString, kSetInt, kSetString, kAccess, kSendEvent };
    enum State { kPending, kReady, kDelivering, kDone };

    Kind kind = kGetInt;
    ZumiHandle handle = nullptr;
    std::string service, property, text;  // text: a string to set, or the event
    int number = 0;
    std::unique_ptr<HashArray> input;  // a copy of the array to send
    ZumiCallDone done = nullptr;
    void* data = nullptr;
    uint64_t timeoutUsec = 0;

    // Set by AsyncCalls.
    ZumiCallId id = 0;
    State state = kPending;
    uint64_t startedUsec = 0;
    sd_bus_slot* slot = nullptr;
    std::thread::id deliverer;
    ZumiStatus status = ZUMI_OK;
    int resultNumber = 0;
    std::string resultText;
    std::string refusal;  // the daemon's words, with ZUMI_ERR_POLICY_DENIED
    std::unique_ptr<HashArray> reply;
};

class AsyncCalls {
public:
    static AsyncCalls& instance();

    // ZUMI_OK and *id, or a status and nothing started.
    ZumiStatus start(std::unique_ptr<AsyncCall> call, ZumiCallId* id);
    ZumiStatus cancel(ZumiHandle handle, ZumiCallId id);
    // Every call of handle: cancelled, and a `done` running on another
    // thread waited for.
    void cancelAll(ZumiHandle handle);

private:
    typedef std::shared_ptr<AsyncCall> CallPtr;

    AsyncCalls();
    void ensureThread();
    ZumiStatus startRemote(const CallPtr& call);
    bool startLocal(const CallPtr& call);
    void finishLocal(AsyncCall& call, LocalOutcome& outcome, bool served);
    static int onReply(sd_bus_message* reply, void* data, sd_bus_error* error);
    void finish(AsyncCall& call, ZumiStatus status);  // m_lock held
    void run();
    int processBus(uint64_t* busDeadline);  // the bus fd, or -1
    void sendEvents();
    void expireLocal(uint64_t now, uint64_t* nextDeadline);
    void deliverReady();
    void wake();

    std::mutex m_busLock;
    sd_bus* m_bus = nullptr;
    std::vector<sd_bus_slot*> m_answeredSlots;  // released after sd_bus_process
    // The deadline the dispatch thread's poll sleeps until; 0 while awake.
    // Written under m_busLock before sleeping.
    std::atomic<uint64_t> m_sleepingUntil{0};

    std::mutex m_lock;
    std::condition_variable m_delivered;
    std::map<ZumiCallId, CallPtr> m_calls;
    std::deque<CallPtr> m_ready;
    std::deque<CallPtr> m_events;
    std::multimap<uint64_t, CallPtr> m_localDeadlines;
    ZumiCallId m_nextId = 1;
    bool m_started = false;
    int m_wakeFd = -1;
    std::thread m_thread;
};

uint64_t monotonicUsec();

}  // namespace bus
}  // namespace zumi

#endif
