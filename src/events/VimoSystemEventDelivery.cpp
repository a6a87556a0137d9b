// The road of an event through VimoSystemEventManager: copied on the bus
// thread, queued on the GLib main loop, delivered there to the listeners.

#include <gdk/gdk.h>

#include <algorithm>
#include <memory>

#include "events/EventQueueSlots.h"
#include "events/ManagerLock.h"
#include "events/VimoSystemEventManager.h"
#include "platform/GdkThreadsAutoLock.h"
#include "util/AutoLock.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::AutoLock;
using util::LogLevel;
using util::logLine;

namespace {

const char* const CALLBACK_TAG =
    "static void veltra::kesh::zumi::VimoSystemEventManager::zumiEventCallback(ZumiHandle, const "
    "char*, ZumiEventHandle, void*)";
const char* const SERIALIZATION_TAG =
    "static gboolean "
    "veltra::kesh::zumi::VimoSystemEventManager::glibSerilizationFunction(gpointer)";
const char* const HANDLE_TAG =
    "void veltra::kesh::zumi::VimoSystemEventManager::handleZumiEvent(const string&, const "
    "string&, const SystemEventDataList&)";

}  // namespace

// One delivery in progress on this thread; frames chain outwards through
// nested main loops.
struct VimoSystemEventManager::DeliveryFrame {
    DeliveryFrame(const VimoSystemEventManager* manager) : manager(manager), outer(innermost) {
        innermost = this;
    }
    ~DeliveryFrame() { innermost = outer; }
    DeliveryFrame(const DeliveryFrame&) = delete;
    DeliveryFrame& operator=(const DeliveryFrame&) = delete;

    const VimoSystemEventManager* manager;
    DeliveryFrame* outer;
    static thread_local DeliveryFrame* innermost;
};

thread_local VimoSystemEventManager::DeliveryFrame*
    VimoSystemEventManager::DeliveryFrame::innermost = nullptr;

bool VimoSystemEventManager::isDeliveringOnThisThread() const {
    for (const DeliveryFrame* frame = DeliveryFrame::innermost; frame != nullptr;
         frame = frame->outer) {
        if (frame->manager == this) {
            return true;
        }
    }
    return false;
}

void VimoSystemEventManager::zumiEventCallback(ZumiHandle, const char* eventName,
                                               ZumiEventHandle event, void* data) {
    try {
        if (data == nullptr) {
            logLine(LogLevel::W, "kesh.warn.vimoSystemEventManager.zumiEventCallback.dataNull",
                    "W %s:%s:Zumi event recieved without a manager, event dropped.:");
            return;
        }
        static_cast<VimoSystemEventManager*>(data)->queueEvent(eventName, event);
    } catch (...) {
        logLine(LogLevel::E, "kesh_error_vimoSystemEventManager_zumiEventCallback_exception",
                "E %s:%s:Zumi event could not be queued for the main loop, event dropped.:");
    }
}

void VimoSystemEventManager::queueEvent(const char* eventName, ZumiEventHandle event) {
    const char* source = ZumiGetEventSourceWrapper(event);
    if (source == nullptr || eventName == nullptr) {
        logLine(LogLevel::W, "kesh.warn.vimoSystemEventManager.zumiEventCallback.sourceOrEventNull",
                "W %s:%s:Zumi event recieved with NULL source or event name, event dropped.:");
        return;
    }
    logLine(LogLevel::D, CALLBACK_TAG,
            "D %s:%s:Zumi event recieved for sourceName:%s and eventName:%s:", source, eventName);
    // A full queue drops the event here, before anything is copied; the
    // count goes into the W line of the release that empties the queue.
    eventQueue::Slot slot;
    if (!slot.held()) {
        return;
    }

    // The integers come first; the last of them announces how many strings
    // follow, and only those are read.
    SystemEventDataList parameters;
    int value = 0;
    int stringCount = 0;
    while (ZumiGetIntParamWrapper(event, &value) == 0) {
        parameters.emplace_back(SystemEventListener::SystemEventData::INTEGER, value, std::string());
        stringCount = value;
    }
    for (int i = 0; i < stringCount; ++i) {
        const char* text = nullptr;
        if (ZumiGetStringParamWrapper(event, &text) != 0) {
            break;
        }
        parameters.emplace_back(SystemEventListener::SystemEventData::STRING, 0,
                                text != nullptr ? std::string(text) : std::string());
    }

    std::unique_ptr<EventData> queued(
        new EventData(this, source, eventName, std::move(parameters), m_liveness));
    slot.handOver();  // from here on, deleting the EventData gives the place back
    queued->handedOver.store(true, std::memory_order_release);
    addFunctionToDefaultMainLoop(glibSerilizationFunction, queued.get());
    queued.release();  // the idle function owns it now
}

VimoSystemEventManager::EventData::~EventData() { eventQueue::release(); }

void VimoSystemEventManager::addFunctionToDefaultMainLoop(int (*function)(void*),
                                                          EventData* data) const {
    // Deprecated API, but the one that runs the function under the GDK
    // threads lock that the rest of the application shares.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    gdk_threads_add_idle(function, data);
#pragma GCC diagnostic pop
}

gboolean VimoSystemEventManager::glibSerilizationFunction(gpointer data) {
    if (data == nullptr) {
        logLine(LogLevel::W, "kesh.warn.vimoSystemEventManager.glibSerializationFunction.dataNull",
                "W %s:%s:VimoSystemEventManager::glibSerilizationFunction called with null data:");
        return FALSE;
    }
    util::GdkLockedByDispatch gdkLocked;
    try {
        std::unique_ptr<EventData> queued(static_cast<EventData*>(data));
        queued->handedOver.load(std::memory_order_acquire);
        logLine(LogLevel::D, SERIALIZATION_TAG,
                "D %s:%s:source %s, event %s scheduled to run on the main thread:",
                queued->source.c_str(), queued->event.c_str());
        // Declared before the token's lock: the handler reference that the
        // delivery gave up may be the last one, and destroying the handler
        // takes that lock.
        ZumiHandlerSharedPtr released;
        AutoLock token(queued->liveness->mutex);
        if (!queued->liveness->alive) {
            logLine(LogLevel::D, SERIALIZATION_TAG,
                    "D %s:%s:source %s, event %s dropped, its VimoSystemEventManager is gone:",
                    queued->source.c_str(), queued->event.c_str());
            return FALSE;
        }
        queued->manager->deliver(queued->source, queued->event, queued->data, released);
    } catch (...) {
        logLine(LogLevel::E, "kesh_error_vimoSystemEventManager_glibSerilizationFunction_exception",
                "E %s:%s:Event could not be delivered, unexpected exception was thrown.:");
    }
    return FALSE;
}

void VimoSystemEventManager::handleZumiEvent(const std::string& source, const std::string& event,
                                             const SystemEventDataList& data) {
    ZumiHandlerSharedPtr released;
    deliver(source, event, data, released);
}

void VimoSystemEventManager::deliver(const std::string& source, const std::string& event,
                                     const SystemEventDataList& data,
                                     ZumiHandlerSharedPtr& released) {
    MapLock lock(*this, released);
    auto entry = m_listenerMap.find(UniqueEvent(source, event));
    if (entry == m_listenerMap.end()) {
        logLine(LogLevel::D, HANDLE_TAG, "D %s:%s:No subscribers for source %s and event %s:",
                source.c_str(), event.c_str());
        return;
    }
    // The element stays put while we walk: nothing is erased from the map or
    // from a list until the outermost delivery ends, and rehashing moves no
    // element. Elements appended meanwhile lie beyond `count`.
    ListenerList& listeners = entry->second;
    const size_t count = listeners.size();
    logLine(LogLevel::D, HANDLE_TAG, "D %s:%s:Informing %d subscribers of source %s and event %s:",
            static_cast<int>(std::count_if(listeners.begin(), listeners.end(),
                                           [](const SystemEventListener* l) { return l != nullptr; })),
            source.c_str(), event.c_str());
    {
        DeliveryFrame frame(this);
        ++m_deliveryDepth;
        auto it = listeners.begin();
        for (size_t i = 0; i < count; ++i, ++it) {
            // Re-read each time: an earlier listener may have removed this one.
            SystemEventListener* listener = const_cast<SystemEventListener*>(*it);
            if (listener == nullptr) {
                continue;
            }
            try {
                listener->onEvent(source.c_str(), event.c_str(), data);
            } catch (...) {
                logLine(LogLevel::E,
                        "kesh_error_vimoSystemEventManager_handleZumiEvent_callback_exception",
                        "E %s:%s:During listener callback, unexpected exception was thrown. "
                        "Exception details unavailable.:");
            }
        }
        --m_deliveryDepth;
    }
    if (m_deliveryDepth == 0) {
        compactPairs();
    }
}

void VimoSystemEventManager::compactPairs() {
    std::vector<UniqueEvent> pairs;
    pairs.swap(m_pairsToCompact);
    for (const UniqueEvent& key : pairs) {
        auto entry = m_listenerMap.find(key);
        if (entry == m_listenerMap.end()) {
            continue;
        }
        entry->second.remove(nullptr);
        if (entry->second.empty()) {
            try {
                endPairWithoutListeners(entry);
            } catch (...) {
                // Logged where it was thrown; the main loop must not see it.
            }
        }
    }
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
