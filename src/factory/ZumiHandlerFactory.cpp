#include <zumi/ZumiHandlerFactory.h>

#include <stdexcept>

#include "factory/CachedHandler.h"
#include "factory/DeferredRelease.h"
#include "handler/VimoZumiHandler.h"
#include "util/AutoLock.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::AutoLock;
using util::LogLevel;
using util::logLine;

// The map is defined before the string, so it is built first and destroyed
// last; both live from load to unload. The mutexes are constant-initialised
// and never destroyed, so they stay usable while static data is torn down.
std::unordered_map<std::string, std::weak_ptr<ZumiHandler>> ZumiHandlerFactory::m_handlerMap;
std::string ZumiHandlerFactory::m_defaultHandlerId("com.tessal.bramwick");
pthread_mutex_t ZumiHandlerFactory::m_defaultHandlerIdMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t ZumiHandlerFactory::m_handlerMapMutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

const char GET_TAG[] =
    "static veltra::kesh::zumi::ZumiHandlerFactory::ZumiHandlerSharedPtr "
    "veltra::kesh::zumi::ZumiHandlerFactory::getZumiHandler(const char*)";

// Whether this thread holds m_handlerMapMutex. The deleter can run on the
// thread that holds it (getZumiHandler losing an allocation after building a
// handler) and must not lock it again there: the mutex is of the default kind
// and would deadlock.
thread_local bool t_holdsMapLock = false;

// Guarded by m_handlerMapMutex. Cleared when the static data is torn down at
// unload: a handler still referenced then must not reach the destroyed map
// from its deleter.
bool g_mapAlive = true;

class MapLock {
public:
    MapLock() : m_lock(ZumiHandlerFactory::m_handlerMapMutex) { t_holdsMapLock = true; }
    ~MapLock() { t_holdsMapLock = false; }
    MapLock(const MapLock&) = delete;
    MapLock& operator=(const MapLock&) = delete;

private:
    AutoLock m_lock;
};

// Defined after the map and the string, so destroyed before them.
struct MapTeardown {
    ~MapTeardown() {
        MapLock lock;
        g_mapAlive = false;
    }
} g_mapTeardown;

// Under m_handlerMapMutex. Only an expired entry is removed: a handler whose
// deleter runs has no strong reference left, so an entry that can still be
// promoted belongs to a newer handler cached under the same identifier (after
// emptyMap or an expired entry was replaced) and must stay. An expired entry
// that is not ours refers to a dead handler too, whose own deleter would
// remove it anyway.
void forgetExpiredEntry(const std::string& id) {
    if (!g_mapAlive) {
        return;
    }
    auto entry = ZumiHandlerFactory::m_handlerMap.find(id);
    if (entry != ZumiHandlerFactory::m_handlerMap.end() && entry->second.expired()) {
        ZumiHandlerFactory::m_handlerMap.erase(entry);
    }
}

}  // namespace

void ZumiHandlerDeleter::operator()(VimoZumiHandler* handler) const {
    if (handler == nullptr) {
        return;
    }
    const std::string id(handler->getID());
    if (t_holdsMapLock) {
        forgetExpiredEntry(id);
    } else {
        MapLock lock;
        forgetExpiredEntry(id);
    }
    // Outside the map lock (except on the allocation-failure path): closing
    // a connection may wait for the bus library's callbacks to finish, and on
    // the main loop it waits for a plain idle source (DeferredRelease.h).
    releaseHandler(handler);
}

ZumiHandlerFactory::ZumiHandlerSharedPtr ZumiHandlerFactory::getZumiHandler(const char* zumiId) {
    if (zumiId == nullptr) {
        logLine(LogLevel::E, "kesh_zumiHandlerFactory_getZumiHandler_zumiIdNull",
                "E %s:%s:zumiId cannot be null:");
        throw std::invalid_argument("getZumiHandler failed because zumiId was null");
    }
    // Held for the whole operation, construction included: connections are
    // opened one at a time, and no second handler for zumiId can appear.
    MapLock lock;
    auto entry = m_handlerMap.find(zumiId);
    if (entry != m_handlerMap.end()) {
        if (ZumiHandlerSharedPtr cached = entry->second.lock()) {
            logLine(LogLevel::D, GET_TAG, "D %s:%s:Returning cached ZumiHandler for zumiId: %s:",
                    zumiId);
            return cached;
        }
        logLine(LogLevel::D, GET_TAG,
                "D %s:%s:Found expired cached ZumiHandler for zumiId: %s, removing from mapping:",
                zumiId);
        m_handlerMap.erase(entry);
    }
    logLine(LogLevel::D, GET_TAG,
            "D %s:%s:Creating and caching new ZumiHandler for zumiId: %s:", zumiId);
    // If the shared pointer's count block or the insertion cannot be
    // allocated, the new handler goes through ZumiHandlerDeleter on this
    // thread, with the lock held; t_holdsMapLock tells the deleter so.
    ZumiHandlerSharedPtr handler(new VimoZumiHandler(zumiId), ZumiHandlerDeleter());
    m_handlerMap.insert(std::make_pair(std::string(zumiId), std::weak_ptr<ZumiHandler>(handler)));
    return handler;
}

ZumiHandlerSharedPtr cachedZumiHandler(const char* zumiId) {
    MapLock lock;
    auto entry = ZumiHandlerFactory::m_handlerMap.find(zumiId);
    return entry != ZumiHandlerFactory::m_handlerMap.end() ? entry->second.lock() : nullptr;
}

ZumiHandlerFactory::ZumiHandlerSharedPtr ZumiHandlerFactory::getSystemZumiHandler() {
    AutoLock lock(m_defaultHandlerIdMutex);
    return getZumiHandler(m_defaultHandlerId.c_str());
}

void ZumiHandlerFactory::setSystemZumiHandler(const char* zumiId) {
    if (zumiId == nullptr) {
        throw std::invalid_argument("zumiId argument was NULL");
    }
    AutoLock lock(m_defaultHandlerIdMutex);
    m_defaultHandlerId = zumiId;
}

void ZumiHandlerFactory::emptyMap() {
    MapLock lock;
    m_handlerMap.clear();
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
