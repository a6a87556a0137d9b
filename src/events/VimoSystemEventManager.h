#ifndef ZUMI_EVENTS_VIMOSYSTEMEVENTMANAGER_H
#define ZUMI_EVENTS_VIMOSYSTEMEVENTMANAGER_H

#include <glib.h>
#include <pthread.h>

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <zumi/SystemEventListener.h>
#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiTypes.h>

#include "util/NotCopyable.h"

namespace veltra {
namespace kesh {
namespace zumi {

// Serves the subscriptions of one VimoZumiHandler: one bus subscription per
// (source, event) pair that has listeners, events copied on the bus thread
// and delivered to the pair's listeners, in subscription order, on the GLib
// main loop. While any pair is in the map the manager holds a strong
// reference to the handler from the factory ("protects" it), so a
// factory-made handler outlives its last application reference until its
// last subscription ends.
//
// Threads:
//  - subscribe/unsubscribe: application threads, and the main loop from
//    inside a listener's onEvent (re-entrant, see below).
//  - zumiEventCallback: the bus library's thread. It takes no lock and reads
//    only what is fixed at construction, so the bus never waits for us. It
//    drops the event, counted, when the process already has the most events
//    waiting for the main loop that it may have (ZumiEventQueue).
//  - glibSerilizationFunction/handleZumiEvent: the main loop, GDK lock held.
//  - destructor: whichever thread destroys the handler. Destroying the
//    handler from inside one of its own listeners is not supported (it is a
//    use of the handler overlapping its destruction); a factory-made handler
//    cannot die there, because the pair being delivered keeps it protected.
//    A handler made without the factory has its subscriptions on the
//    factory's handler for the same identifier; its destructor ends them and
//    relies on the bus starting no callback for a pair once its
//    unsubscription has returned.
//
// Locks, in this order: GDK threads lock -> m_liveness->mutex ->
// m_listenerMapMutex -> the factory's m_handlerMapMutex. m_listenerMapMutex
// is held for a whole subscribe, unsubscribe or delivery (every onEvent
// included). The strong handler reference that attemptUnprotectHandler gives
// up is parked in m_pendingRelease and dropped only after every lock of the
// operation is released, so the last reference never destroys the manager
// inside its own lock.
//
// Pair states (one entry of m_listenerMap):
//   absent     -> subscribed   subscribe, bus subscription succeeded
//   subscribed -> subscribed   subscribe appends / unsubscribe leaves others
//   subscribed -> absent       last listener removed, bus unsubscription ok
//   subscribed -> stale        last listener removed, bus unsubscription
//                              failed: entry kept with an empty list, events
//                              still queued and delivered to nobody
//   stale      -> subscribed   subscribe appends, no new bus call
// While a delivery runs, a removal does not erase: the listener's element is
// overwritten with NULL (a tombstone, skipped by every walk and search) and
// the pair is noted in m_pairsToCompact. When the outermost delivery ends,
// still under the lock, the tombstones are erased, and a pair left without
// listeners goes on to absent or stale as above.
//
// Re-entrancy: a listener may call subscribe or unsubscribe on this manager
// from inside onEvent. The delivering thread is recognised through a
// thread-local chain of delivery frames; such a call does not take
// m_listenerMapMutex again (its thread holds it already). The walk covers
// only the elements that were in the list when it began, so a listener added
// during a delivery is first called for the next event, and a tombstoned one
// is never called again.
//
// Queued events and the manager's lifetime: every EventData carries a shared
// Liveness token. The destructor marks it dead under its mutex before doing
// anything else, and glibSerilizationFunction delivers only while holding
// that mutex and seeing the token alive, so an event queued for a destroyed
// manager is dropped on the main loop instead of reaching freed memory. The
// token's mutex is recursive so that a nested main loop run from inside a
// listener can deliver further events of the same manager.
class VimoSystemEventManager : private bramwick::util::NotCopyable {
public:
    struct UniqueEvent {
        UniqueEvent(const std::string& source, const std::string& event)
            : source(source), event(event) {}
        std::string source;
        std::string event;
    };
    struct UniqueEventHash {
        size_t operator()(const UniqueEvent& key) const;
    };
    struct UniqueEventEq {
        bool operator()(const UniqueEvent& a, const UniqueEvent& b) const;
    };

    // Shared by the manager and every event queued for it; alive until the
    // manager's destructor starts.
    struct Liveness {
        Liveness();
        ~Liveness();
        Liveness(const Liveness&) = delete;
        Liveness& operator=(const Liveness&) = delete;
        pthread_mutex_t mutex;  // recursive
        bool alive = true;
    };

    // One received event on its way to the main loop: created on the bus
    // thread, deleted by glibSerilizationFunction. It holds a place in the
    // process's bounded event queue (ZumiEventQueue), taken before it was
    // created and given back by its destructor.
    struct EventData {
        EventData(VimoSystemEventManager* manager, const char* source, const char* event,
                  SystemEventDataList data, std::shared_ptr<Liveness> liveness)
            : manager(manager), source(source), event(event), data(std::move(data)),
              liveness(std::move(liveness)) {}
        ~EventData();
        EventData(const EventData&) = delete;
        EventData& operator=(const EventData&) = delete;
        VimoSystemEventManager* manager;  // not owned; use only while liveness->alive
        std::string source;
        std::string event;
        SystemEventDataList data;
        std::shared_ptr<Liveness> liveness;
        // Released by the bus thread once the fields are written, acquired by
        // the main loop before it reads them. GLib's queue already orders the
        // two, but with futexes that ThreadSanitizer cannot see.
        std::atomic<bool> handedOver{false};
    };

    explicit VimoSystemEventManager(const std::string& zumiId);
    virtual ~VimoSystemEventManager();

    // Throws std::invalid_argument for a NULL source, event or listener, the
    // factory's exceptions while protecting, and ZumiException (the bus error
    // text) when the bus subscription fails.
    virtual void subscribe(const char* source, const char* event,
                           const SystemEventListener* listener);
    // True when the listener was found and removed. Throws
    // std::invalid_argument for a NULL source or event.
    virtual bool unsubscribe(const char* source, const char* event,
                             const SystemEventListener* listener);

    // Seams over the bus library; each passes its arguments through.
    virtual ZumiStatus ZumiSubscribeExtWrapper(ZumiHandleStruct* handle, const char* source,
                                               const char* event,
                                               void (*callback)(ZumiHandleStruct*, const char*,
                                                                ZumiEventHandleStruct*, void*),
                                               void* data);
    virtual ZumiStatus ZumiUnsubscribeExtWrapper(ZumiHandleStruct* handle, const char* source,
                                                 const char* event, void** data);
    virtual ZumiStatus ZumiGetIntParamWrapper(ZumiEventHandleStruct* event, int* value);
    virtual ZumiStatus ZumiGetStringParamWrapper(ZumiEventHandleStruct* event,
                                                 const char** value);
    virtual const char* ZumiGetEventSourceWrapper(ZumiEventHandleStruct* event);
    virtual const char* ZumiGetErrorStringWrapper(unsigned int status);

    // Queues function(data) on the GLib default main context at the default
    // idle priority; GDK runs it with the GDK threads lock held.
    virtual void addFunctionToDefaultMainLoop(int (*function)(void*), EventData* data) const;

    // Called with m_listenerMapMutex held: once the map is empty, gives up
    // the strong handler reference (parked until the lock is released).
    virtual void attemptUnprotectHandler();

    // The bus callback; data is the manager. Never lets an exception out.
    static void zumiEventCallback(ZumiHandle handle, const char* eventName, ZumiEventHandle event,
                                  void* data);
    // The idle function; data is an EventData*, deleted here. Returns FALSE.
    static gboolean glibSerilizationFunction(gpointer data);

    // Informs the listeners of one pair; main loop.
    void handleZumiEvent(const std::string& source, const std::string& event,
                         const SystemEventDataList& data);

private:
    typedef std::list<const SystemEventListener*> ListenerList;
    typedef std::unordered_map<UniqueEvent, ListenerList, UniqueEventHash, UniqueEventEq>
        ListenerMap;
    class MapLock;
    struct DeliveryFrame;

    bool isDeliveringOnThisThread() const;
    void queueEvent(const char* eventName, ZumiEventHandle event);
    void deliver(const std::string& source, const std::string& event,
                 const SystemEventDataList& data, ZumiHandlerSharedPtr& released);
    void compactPairs();
    void endPairWithoutListeners(ListenerMap::iterator entry);

    std::string m_handlerId;
    ZumiHandlerSharedPtr m_protectedHandler;
    ListenerMap m_listenerMap;
    pthread_mutex_t m_listenerMapMutex;

    // Fixed at construction; read by the bus thread without a lock.
    const std::shared_ptr<Liveness> m_liveness;
    // Guarded by m_listenerMapMutex.
    ZumiHandlerSharedPtr m_pendingRelease;
    int m_deliveryDepth = 0;
    std::vector<UniqueEvent> m_pairsToCompact;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
