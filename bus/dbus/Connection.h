#ifndef ZUMI_BUS_DBUS_CONNECTION_H
#define ZUMI_BUS_DBUS_CONNECTION_H

// One ZumiHandle: a connection to the bus under a service identifier (or
// none, for a client-only connection).
//
// Threads and buses. A connection owns two kinds of sd-bus objects, which are
// not thread-safe, so each is only ever used under its own lock:
//  - the dispatch bus (m_bus, guarded by m_busLock) owns the well-known name,
//    receives requests and subscribed events, and sends events. The dispatch
//    thread reads and parses incoming messages under m_busLock and queues them
//    as jobs; it runs the jobs, that is the application's callbacks, with no
//    lock held, one at a time in arrival order, and takes m_busLock again only
//    to send a reply. Application threads take m_busLock briefly to add or
//    remove match rules and to send events, then wake the dispatch thread
//    through m_wakeFd so that messages read meanwhile get dispatched.
//    m_busLock is never held while a callback runs, so a callback that waits
//    for an application thread (the GDK lock, say) cannot deadlock it.
//    What the socket does not take at once waits in sd-bus's write queue,
//    which the dispatch thread writes out. Past kMaxQueuedSends messages a
//    send waits there (m_sendRoom, at most the call timeout, then
//    ZUMI_ERR_TIMEOUT) until the dispatch thread has written the queue down
//    to kResumeSends, so a sender faster than the daemon cannot grow without
//    limit. A send made on the dispatch thread writes the queue down itself.
//  - the caller pool (CallerPool) serves outgoing synchronous calls.
//
// Where callbacks run: requests from the bus and all events run on the
// dispatch thread of the connection that received them, one at a time, in
// arrival order. A get or set that an application thread of this process
// makes on a service the process serves itself is handed to the dispatch
// thread of the connection owning that name (runOnDispatchThread) and runs
// there in turn with the requests from the bus; the caller waits for it at
// most the call timeout (LocalCall.h). Made from any dispatch thread
// of this process, that is from inside a callback, it runs right there
// instead: a dispatch thread never waits for another, so callbacks of one or
// of several connections that read each other's properties, in a cycle even,
// cannot deadlock. The price: such a nested callback runs on the thread of
// the callback that made the call.
//
// State (properties, subscriptions, the callbacks in flight, closing, the
// handed-over calls not yet taken) is guarded by m_stateLock, held only to
// read or change it.
//
// Lock order: the registry's lock (Registry.h), then m_busLock, then
// m_stateLock. The caller pool's lock and a LocalCall's lock are leaves.
//
// Losing the bus (ConnectionReconnect.cpp). When the daemon goes away the
// dispatch thread drops the dispatch bus and reconnects on its own, with a
// Backoff (BusLink.h) that waits on m_wakeFd, so that calls handed over from
// this process are still served and ZumiClose still ends it at once. Bus
// states: connected -> lost (m_bus null, m_lost set) -> connected. While lost,
// properties may be registered and unregistered (they only live here) and
// subscriptions added and removed (recorded, without match rules); events
// cannot be sent (ZUMI_ERR_BUS_LOST). On reconnecting, under m_busLock: the
// name is requested again (queued, should another process have taken it
// meanwhile), then every subscription gets its owner watch and match rule
// back. Name states: none -> owned | queued (behind a connection of this
// process) | taken (queued behind another process: the connection's own
// properties answer ZUMI_ERR_NAME_TAKEN) -> owned when the daemon hands the
// name over.
//
// Start-up grace. A service started for a call (D-Bus activation) takes its
// name before it has published anything, and the daemon delivers the queued
// call as soon as the name is owned: answered at once, it would meet an empty
// service. So for kStartupGrace after the connection first owns its name
// (requestName, or NameAcquired when it was queued; never again after a
// reconnect), a request from the bus for a property name this connection
// does not publish under any type (one asked as the wrong type is answered
// at once), or for the listing while nothing is published, makes the dispatch thread wait (awaitPublication, on
// m_stateChanged under m_stateLock) until it is registered, the window ends
// or the connection closes, and then it is served as usual. Registration
// needs only m_stateLock, so it never waits for the dispatch thread; a call
// handed over from this process waits behind it for at most the window.
// Window states: not opened -> open (until m_startupEnds) -> over.
//
// Closing (shutdown): the name is released, no new callback starts, the
// dispatch thread is stopped and joined (calls handed over and not yet run
// are dropped; their callers look the service up again), and then shutdown
// waits until every callback of this connection running on another thread
// (another connection of the same identifier, a nested in-process call) has
// returned. A
// callback that closes its own connection is not waited for; its dispatch
// thread then finishes after the callback returns.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <systemd/sd-bus.h>

#include "core/PropertyEntry.h"

#include "core/HashArray.h"
#include "dbus/BusLink.h"
#include "dbus/CallerPool.h"
#include "dbus/LocalCall.h"
#include "dbus/WireFormat.h"
#include <libzumi/ZumiBus.h>

struct ZumiHandleStruct {
protected:
    ZumiHandleStruct() = default;
    ~ZumiHandleStruct() = default;
};

struct ZumiEventHandleStruct {
    std::string source;
    zumi::bus::EventParams params;
    size_t nextInt = 0;
    size_t nextText = 0;
};

namespace zumi {
namespace bus {

// RequestName of `name` on `bus`, answered as sd_bus_request_name answers
// (1 owned, 0 queued, -EEXIST, -EALREADY, another -errno), and -EACCES when
// the bus's policy refuses, with the daemon's words noted as a refusal.
int requestBusName(sd_bus* bus, const std::string& name, bool queue);

class Connection;

// Marks a callback of `owner` as running on this thread for its lifetime;
// ZumiClose waits for it unless it is on the closing thread itself.
class CallbackScope {
public:
    CallbackScope() = default;
    ~CallbackScope() { reset(); }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

    // owner's m_inflight has already been counted up.
    void enter(std::shared_ptr<Connection> owner);
    void reset();
    Connection* owner() const { return m_owner.get(); }

private:
    std::shared_ptr<Connection> m_owner;
};

class Connection : public ZumiHandleStruct, public std::enable_shared_from_this<Connection> {
public:
    // Messages in sd-bus's write queue at which a send starts to wait, and
    // down to which the queue is written before waiting sends go on.
    static constexpr uint64_t kMaxQueuedSends = 1024;
    static constexpr uint64_t kResumeSends = 768;
    // Long enough for a service to publish its properties after it took its
    // name, even on a slow device; short enough that a caller asking a
    // freshly started service for what it really lacks is not kept long.
    static constexpr std::chrono::milliseconds kStartupGrace{1000};

    ~Connection();

    // A connected, named (or anonymous) connection whose dispatch thread
    // runs; the caller registers it with the Registry.
    static ZumiStatus create(const char* serviceId, std::shared_ptr<Connection>* out);

    ZumiHandle handle() { return this; }
    const std::string& serviceId() const { return m_serviceId; }
    CallerPool& callers() { return m_callers; }

    // Called by the Registry under its lock.
    // ZUMI_ERR_POLICY_DENIED when the bus's policy does not let this user
    // own the name.
    ZumiStatus requestName(bool queue, bool* primary);
    // Read without a lock: the daemon's view as last heard by this connection.
    bool ownsName() const { return m_nameState.load() == kNameOwned; }
    bool nameTakenElsewhere() const { return m_nameState.load() == kNameTaken; }
    void releaseName();
    ZumiStatus emitEvent(const std::string& event, const EventParamsView& params);

    ZumiStatus registerProperty(const char* name, const PropertyEntry& entry);
    static constexpr int kEveryType = -1;
    // The registration of name as type (ZUMI_TYPE_*), or all of them.
    ZumiStatus unregisterProperty(const char* name, int type);
    // Finds the entry and counts a callback in flight; ZUMI_ERR_NO_SUCH_PROPERTY
    // when absent or when the connection is closing.
    ZumiStatus beginCallback(const std::string& name, int type, PropertyEntry* entry,
                             CallbackScope* scope);
    // Dispatch thread, no lock held: while the start-up grace lasts, waits
    // until a property called name (of any type; "": any property at all,
    // for a listing) is registered here or closing begins.
    void awaitPublication(const std::string& name);
    void listProperties(std::vector<std::pair<std::string, PropertyEntry>>* out);

    ZumiStatus subscribe(const char* source, const char* event, ZumiEventCallback callback,
                         void* data);
    ZumiStatus unsubscribe(const char* source, const char* event);

    void shutdown();

    // Runs call on the dispatch thread, in turn with the requests from the
    // bus, and waits for it until `deadline`: call->wait()'s answer, or
    // kDropped at once when the connection is closing.
    LocalCall::Result runOnDispatchThread(const std::shared_ptr<LocalCall>& call,
                                          std::chrono::steady_clock::time_point deadline);
    // The same without waiting: false at once when closing; otherwise the
    // dispatch thread runs or drops the call later.
    bool postToDispatchThread(const std::shared_ptr<LocalCall>& call);
    // Whether this thread is the dispatch thread of any connection.
    static bool onAnyDispatchThread();

private:
    struct Job;
    struct Method;
    struct Subscription {
        ZumiEventCallback callback = nullptr;
        void* data = nullptr;
        uint64_t id = 0;
        sd_bus_slot* match = nullptr;
    };
    struct OwnerWatch {
        std::string owner;  // unique name of the source's current owner, "" if none
        unsigned users = 0;
        sd_bus_slot* match = nullptr;
    };
    typedef std::pair<std::string, std::string> EventKey;  // (source, event)

    enum NameState { kNoName, kNameOwned, kNameQueued, kNameTaken };

    explicit Connection(const std::string& serviceId);
    ZumiStatus start();
    void run();
    // Polls the bus (when there is one) and m_wakeFd, at most timeoutMs (-1: no limit).
    void waitForWork(int timeoutMs);
    void takeLocalCalls();
    void closeBus();
    void wake();
    // Both with m_busLock held (by `bus`, for the wait).
    ZumiStatus waitForSendRoom(std::unique_lock<std::mutex>& bus);
    void signalSendRoom();
    bool onDispatchThread() const;
    // The first time the name is owned; m_busLock held or not.
    void openStartupGrace();

    static int onMessage(sd_bus_message* message, void* data, sd_bus_error* error);
    int handleMessage(sd_bus_message* message);
    int parseRequest(sd_bus_message* message, const char* member);
    // Introspectable and Properties; 0 leaves the message to sd-bus (Peer).
    int parseStandardRequest(sd_bus_message* message, const char* interface, const char* member);
    // Takes a reference to the request and queues the job that answers it.
    int queueRequest(sd_bus_message* message, Job job);
    // The row of `member` in [begin, end) when the request's signature is
    // that row's; null after refusing the request.
    const Method* acceptMethod(sd_bus_message* message, const char* member, const Method* begin,
                               const Method* end);
    // Reads the property name into job->name; false after refusing the request.
    bool readPropertyName(sd_bus_message* message, Job* job);
    void serveStandardRequest(Job& job);
    // Builds the reply to job's request under m_busLock and sends it (a
    // Failed error when it cannot be built); releases the request.
    void answer(Job& job, const std::function<int(sd_bus_message** reply)>& build);
    void parseEvent(sd_bus_message* message);
    void trackOwnerChange(sd_bus_message* message);
    void runJob(Job& job);
    void serveRequest(Job& job);
    void deliverEvent(Job& job);
    int refuse(sd_bus_message* message, const char* error, const char* text);
    void dropJobs();

    ZumiStatus watchOwner(const std::string& source);
    void unwatchOwner(const std::string& source);
    // The owner watch and the event's match rule; m_busLock held.
    ZumiStatus addMatches(const EventKey& key, sd_bus_slot** match);

    // ConnectionReconnect.cpp, dispatch thread only.
    void loseBus();
    // One attempt when the backoff allows it; the milliseconds until the next
    // one otherwise (0 when connected again).
    int reconnect();
    bool restoreBus();  // m_busLock held
    void trackOwnName(sd_bus_message* message, bool acquired);
    void dropSlots();  // m_busLock held

    friend class CallbackScope;
    void endCallback();

    const std::string m_serviceId;
    CallerPool m_callers;

    std::mutex m_busLock;
    std::string m_address;
    sd_bus* m_bus = nullptr;  // changed by the dispatch thread only, under m_busLock
    sd_bus_slot* m_filter = nullptr;
    bool m_wantsName = false;  // the name was requested, and not released
    std::atomic<int> m_nameState{kNoName};
    std::atomic<bool> m_lost{false};
    Backoff m_backoff;       // dispatch thread
    uint64_t m_nextTryUsec = 0;
    std::map<std::string, OwnerWatch> m_owners;  // by source
    int m_wakeFd = -1;
    std::condition_variable m_sendRoom;  // with m_busLock
    unsigned m_sendWaiters = 0;

    // Touched by the dispatch thread only.
    std::deque<Job> m_jobs;
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{};
    std::atomic<bool> m_threadRunning{false};
    std::atomic<bool> m_stop{false};

    std::mutex m_stateLock;
    std::condition_variable m_stateChanged;
    std::map<std::pair<std::string, int>, PropertyEntry> m_properties;
    std::map<EventKey, Subscription> m_subscriptions;
    uint64_t m_nextSubscriptionId = 1;
    uint64_t m_runningSubscription = 0;  // the event callback running now, 0 if none
    std::deque<std::shared_ptr<LocalCall>> m_localCalls;  // handed over, not yet taken into m_jobs
    unsigned m_inflight = 0;
    bool m_closing = false;
    bool m_startupOpened = false;
    std::chrono::steady_clock::time_point m_startupEnds;
};

}  // namespace bus
}  // namespace zumi

#endif
