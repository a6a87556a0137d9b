#include "events/VimoSystemEventManager.h"

#include <algorithm>
#include <functional>
#include <stdexcept>

#include <zumi/ZumiException.h>

#include "events/ManagerLock.h"
#include "platform/ZumiBus.h"
#include "util/AutoLock.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::AutoLock;
using util::LogLevel;
using util::logLine;

namespace {

const char* const SUBSCRIBE_TAG =
    "virtual void veltra::kesh::zumi::VimoSystemEventManager::subscribe(const char*, const "
    "char*, const veltra::kesh::zumi::SystemEventListener*)";
const char* const UNSUBSCRIBE_TAG =
    "virtual bool veltra::kesh::zumi::VimoSystemEventManager::unsubscribe(const char*, const "
    "char*, const veltra::kesh::zumi::SystemEventListener*)";
const char* const UNPROTECT_TAG =
    "virtual void veltra::kesh::zumi::VimoSystemEventManager::attemptUnprotectHandler()";
const char* const DESTRUCTOR_TAG =
    "virtual veltra::kesh::zumi::VimoSystemEventManager::~VimoSystemEventManager()";

}  // namespace

size_t VimoSystemEventManager::UniqueEventHash::operator()(const UniqueEvent& key) const {
    return std::hash<std::string>()(key.source + key.event);
}

bool VimoSystemEventManager::UniqueEventEq::operator()(const UniqueEvent& a,
                                                       const UniqueEvent& b) const {
    return a.source == b.source && a.event == b.event;
}

VimoSystemEventManager::Liveness::Liveness() {
    util::initRecursiveMutex(mutex);
}

VimoSystemEventManager::Liveness::~Liveness() { pthread_mutex_destroy(&mutex); }

VimoSystemEventManager::VimoSystemEventManager(const std::string& zumiId)
    : m_handlerId(zumiId), m_liveness(std::make_shared<Liveness>()) {
    pthread_mutex_init(&m_listenerMapMutex, nullptr);
}

VimoSystemEventManager::~VimoSystemEventManager() {
    {
        // Waits for a delivery in progress; every event still queued will
        // find the token dead and be dropped.
        AutoLock token(m_liveness->mutex);
        m_liveness->alive = false;
    }
    {
        AutoLock lock(m_listenerMapMutex);
        if (m_protectedHandler) {
            ZumiHandleStruct* handle = m_protectedHandler->getUnderlyingZumiHandle();
            logLine(LogLevel::D, DESTRUCTOR_TAG,
                    "D %s:%s:VimoSysteMEventManager destructed with %d zumi events subscribed to, "
                    "unsubscribing:",
                    static_cast<int>(m_listenerMap.size()));
            for (const auto& entry : m_listenerMap) {
                const ZumiStatus status = ZumiUnsubscribeExtWrapper(
                    handle, entry.first.source.c_str(), entry.first.event.c_str(), nullptr);
                if (status != 0) {
                    logLine(LogLevel::E, "kesh_error_vimoSystemEventManager_destructor_unsubscribe_failed",
                            "E %s:%s:source=%s,event=%s Could not unsubscribe from zumi event in "
                            "VimoSystemEventManager destructor.:",
                            entry.first.source.c_str(), entry.first.event.c_str());
                }
            }
        }
    }
    pthread_mutex_destroy(&m_listenerMapMutex);
}

void VimoSystemEventManager::subscribe(const char* source, const char* event,
                                       const SystemEventListener* listener) {
    if (source == nullptr || event == nullptr) {
        logLine(LogLevel::W, "kesh.warn.vimoSystemEventManager.subscribe.sourceOrEventNull",
                "W %s:%s:Subscribe called with NULL source or event, subscribe ignored.:");
        throw std::invalid_argument("subscribe called with NULL source or event");
    }
    // A NULL listener could never be called; refuse it before it is stored.
    if (listener == nullptr) {
        throw std::invalid_argument("listener argument was NULL");
    }
    ZumiHandlerSharedPtr released;
    MapLock lock(*this, released);

    auto entry = m_listenerMap.find(UniqueEvent(source, event));
    if (entry != m_listenerMap.end()) {
        logLine(LogLevel::D, SUBSCRIBE_TAG, "D %s:%s:Adding subscriber for source:%s and event:%s:",
                source, event);
        entry->second.push_back(listener);
        return;
    }
    if (!m_protectedHandler) {
        logLine(LogLevel::D, SUBSCRIBE_TAG, "D %s:%s:Protecting ZumiHandler:");
        m_protectedHandler = ZumiHandlerFactory::getZumiHandler(m_handlerId.c_str());
    }
    // Everything that allocates comes before the bus subscription: the entry
    // is made first, so that running out of memory can never leave a bus
    // subscription that the map does not know, and taken back (erasing does
    // not allocate) if the bus refuses or a seam throws. The bus callback
    // never reads the map, so the entry standing a moment early changes
    // nothing for it.
    ListenerMap::iterator created = m_listenerMap.end();
    ZumiStatus status = ZUMI_OK;
    try {
        created = m_listenerMap.emplace(UniqueEvent(source, event), ListenerList(1, listener)).first;
        status = ZumiSubscribeExtWrapper(m_protectedHandler->getUnderlyingZumiHandle(), source,
                                         event, zumiEventCallback, this);
    } catch (...) {
        if (created != m_listenerMap.end()) {
            m_listenerMap.erase(created);
        }
        attemptUnprotectHandler();
        throw;
    }
    if (status != 0) {
        m_listenerMap.erase(created);
        logLine(LogLevel::D, SUBSCRIBE_TAG,
                "D %s:%s:There was an error subscribing to event, so attempting to unprotect "
                "handler:");
        attemptUnprotectHandler();
        const char* text = ZumiGetErrorStringWrapper(status);
        throw ZumiException(text != nullptr ? text : "");
    }
    logLine(LogLevel::D, SUBSCRIBE_TAG,
            "D %s:%s:Creating new subscriber list and adding subscriber for source:%s and "
            "event:%s:",
            source, event);
}

bool VimoSystemEventManager::unsubscribe(const char* source, const char* event,
                                         const SystemEventListener* listener) {
    if (source == nullptr || event == nullptr) {
        logLine(LogLevel::W, "kesh.warn.vimoSystemEventManager.unsubscribe.sourceOrEventNull",
                "W %s:%s:Unsubscribe called with NULL source or event, unsubscribe ignored.:");
        throw std::invalid_argument("unsubscribe called with NULL source or event");
    }
    ZumiHandlerSharedPtr released;
    MapLock lock(*this, released);

    auto entry = m_listenerMap.find(UniqueEvent(source, event));
    if (entry == m_listenerMap.end()) {
        logLine(LogLevel::D, UNSUBSCRIBE_TAG,
                "D %s:%s:Unsubscribe called for source and event that aren't subscribed, "
                "source:%s and event:%s:",
                source, event);
        return false;
    }
    ListenerList& listeners = entry->second;
    // A NULL never matches: NULL elements are tombstones of a delivery.
    auto found = listener == nullptr ? listeners.end()
                                     : std::find(listeners.begin(), listeners.end(), listener);
    if (found == listeners.end()) {
        logLine(LogLevel::D, UNSUBSCRIBE_TAG,
                "D %s:%s:Unsubscribe called for listener that is not subscribed to source:%s and "
                "event:%s:",
                source, event);
        return false;
    }
    logLine(LogLevel::D, UNSUBSCRIBE_TAG, "D %s:%s:Removing subscriber for source:%s and event:%s:",
            source, event);
    if (m_deliveryDepth > 0) {
        // Only the delivering thread gets here while a delivery runs (it holds
        // the lock); erasing could pull the list from under its walk. The
        // pair is noted before the tombstone is written: should noting it run
        // out of memory, the listener simply stays subscribed.
        if (std::find_if(m_pairsToCompact.begin(), m_pairsToCompact.end(),
                         [&](const UniqueEvent& key) { return UniqueEventEq()(key, entry->first); }) ==
            m_pairsToCompact.end()) {
            m_pairsToCompact.push_back(entry->first);
        }
        *found = nullptr;
        return true;
    }
    listeners.erase(found);
    if (listeners.empty()) {
        endPairWithoutListeners(entry);
    }
    return true;
}

void VimoSystemEventManager::endPairWithoutListeners(ListenerMap::iterator entry) {
    const char* source = entry->first.source.c_str();
    const char* event = entry->first.event.c_str();
    if (!m_protectedHandler) {
        logLine(LogLevel::E, "kesh_error_vimoSystemEventManager_unsubscribe_handlerUnprotected",
                "E %s:%s:zumiHandler is unprotected even though there are still subscribers.:");
        throw std::runtime_error(
            "ZumiHandler is unprotected even though there are subscribers to its events. This is "
            "a serious error sicne we should be keeping the ZumiHandler alive.");
    }
    const ZumiStatus status = ZumiUnsubscribeExtWrapper(
        m_protectedHandler->getUnderlyingZumiHandle(), source, event, nullptr);
    if (status != 0) {
        const char* text = ZumiGetErrorStringWrapper(status);
        logLine(LogLevel::E, "kesh_error_vimoSystemEventManager_unsubscribe_zumiError",
                "E %s:%s:source=%s,event=%s,zumiStatus=%s Could not unsubscribe from zumi event.:",
                source, event, util::logText(text));
        return;
    }
    logLine(LogLevel::D, UNSUBSCRIBE_TAG,
            "D %s:%s:No more subscribers, removing subscriber list for source:%s and event:%s:",
            source, event);
    m_listenerMap.erase(entry);
    attemptUnprotectHandler();
}

void VimoSystemEventManager::attemptUnprotectHandler() {
    if (!m_listenerMap.empty()) {
        return;
    }
    logLine(LogLevel::D, UNPROTECT_TAG, "D %s:%s:Unprotecting ZumiHandler:");
    // Dropped by MapLock once the lock is released.
    m_pendingRelease = std::move(m_protectedHandler);
}

ZumiStatus VimoSystemEventManager::ZumiSubscribeExtWrapper(
    ZumiHandleStruct* handle, const char* source, const char* event,
    void (*callback)(ZumiHandleStruct*, const char*, ZumiEventHandleStruct*, void*), void* data) {
    return ZumiSubscribeExt(handle, source, event, callback, data);
}

ZumiStatus VimoSystemEventManager::ZumiUnsubscribeExtWrapper(ZumiHandleStruct* handle,
                                                             const char* source, const char* event,
                                                             void** data) {
    return ZumiUnsubscribeExt(handle, source, event, data);
}

ZumiStatus VimoSystemEventManager::ZumiGetIntParamWrapper(ZumiEventHandleStruct* event,
                                                          int* value) {
    return ZumiGetIntParam(event, value);
}

ZumiStatus VimoSystemEventManager::ZumiGetStringParamWrapper(ZumiEventHandleStruct* event,
                                                             const char** value) {
    return ZumiGetStringParam(event, value);
}

const char* VimoSystemEventManager::ZumiGetEventSourceWrapper(ZumiEventHandleStruct* event) {
    return ZumiGetEventSource(event);
}

const char* VimoSystemEventManager::ZumiGetErrorStringWrapper(unsigned int status) {
    return ZumiGetErrorString(status);
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
