#include "bridge/ZumiPropertyPublisherToGTKBridge.h"

#include <gdk/gdk.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include <zumi/ZumiException.h>

#include "handler/VimoZumiHandler.h"
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

const char* const DETACHED_MESSAGE = "Asynchronous publisher has detached from this bridge.";
const char* const PROPERTY_NAME_NULL = "propertyName argument was NULL";
const char* const KILL_PROPERTY = "kill";
// After GDK's redraw (120), before default idle work (200).
const gint SET_PRIORITY = 130;
// "kill" overtakes every set still waiting, and pending event handling too.
const gint KILL_PRIORITY = G_PRIORITY_HIGH;

// A value handed to setValue that no record took over: the bridge still owns
// it (see BridgeTraits.h) and releases it on every way out.
template <typename PropertyType>
struct UnclaimedValue {
    PropertyType value;
    bool claimed = false;
    ~UnclaimedValue() {
        if (!claimed) {
            BridgeTraits<PropertyType>::releaseUnused(value);
        }
    }
};

// GLib reports a removal of an unknown ID as a critical warning. Detaching
// from inside a delivery meets exactly that case (the source is destroyed but
// its destroy notification is held back), so look the ID up first and let the
// orphan branch speak for it.
bool removeSource(guint sourceId) {
    return g_main_context_find_source_by_id(nullptr, sourceId) != nullptr &&
           g_source_remove(sourceId);
}

}  // namespace

// ---- Lifecycle ---------------------------------------------------------------

template <typename PropertyType>
std::shared_ptr<ZumiPropertyPublisherToUIBridge<PropertyType>>
ZumiPropertyPublisherToGTKBridge<PropertyType>::createNewInstance(
    ZumiHandlerSharedPtr handler, ZumiPropertyPublisherUI<PropertyType>* uiPublisher,
    const PropertyMap& properties) {
    if (!handler) {
        throw std::invalid_argument("ZumiHandler passed into method was NULL");
    }
    typedef ZumiPropertyPublisherToGTKBridge<PropertyType> Bridge;
    Bridge* bridge = new Bridge(handler, uiPublisher, properties);
    std::shared_ptr<ZumiPropertyPublisherToUIBridge<PropertyType>> result(
        bridge, [](ZumiPropertyPublisherToUIBridge<PropertyType>* object) {
            delete static_cast<Bridge*>(object);
        });
    std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<PropertyType>> publisher = result;

    if (properties.empty()) {
        logLine(LogLevel::W, "ZumiPropertyPublisherToGTKBridge.createNewInstance",
                "W %s:%s:ZumiPropertyPublisherToGTKBridge created with no published properties.:");
        return result;
    }
    // The handler asks isReadable/isWritable while it registers each name and
    // offers the bus only what they allow, so every name is published here,
    // even one with no access at all.
    const PropertyMap& names = bridge->m_properties;
    for (auto it = names.begin(); it != names.end(); ++it) {
        try {
            publishProperty<PropertyType>(handler.get(), it->first.c_str(), publisher);
        } catch (...) {
            // Without this the handler would keep an Attached bridge that no
            // UI object knows, and its last release would end the process.
            bridge->abandon(*handler, it, result);
            throw;
        }
    }
    return result;
}

template <typename PropertyType>
void ZumiPropertyPublisherToGTKBridge<PropertyType>::abandon(
    ZumiHandler& handler, typename PropertyMap::const_iterator failed,
    const std::shared_ptr<ZumiPropertyPublisherToUIBridge<PropertyType>>& self) noexcept {
    bool pending;
    {
        AutoLock lock(m_mutex);
        withdrawAfterFailure(handler, failed);
        m_handler.reset();
        // From here on a delivery drops its value: the caller gets an
        // exception and may destroy the UI object at once.
        m_uiPublisher = nullptr;
        pending = !m_pendingSetValues.empty();
    }
    if (!pending) {
        return;
    }
    // Sets queued for the names published before the failure. They may be
    // cancelled only where none of them can be in delivery: here, if no
    // thread runs the default main context (acquiring it keeps any from
    // starting to); otherwise on the main loop itself, which the bridge is
    // kept alive for. Cancelling here while the main loop delivered one
    // would leave that delivery holding a bridge about to be freed.
    if (g_main_context_acquire(nullptr)) {
        {
            AutoLock lock(m_mutex);
            cancelPendingSetValues();
        }
        g_main_context_release(nullptr);
        return;
    }
    g_idle_add_full(
        G_PRIORITY_HIGH,
        [](gpointer data) -> gboolean {
            auto* bridge = static_cast<ZumiPropertyPublisherToGTKBridge<PropertyType>*>(
                static_cast<std::shared_ptr<ZumiPropertyPublisherToUIBridge<PropertyType>>*>(data)
                    ->get());
            AutoLock lock(bridge->m_mutex);
            bridge->cancelPendingSetValues();
            return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<ZumiPropertyPublisherToUIBridge<PropertyType>>(self),
        [](gpointer data) {
            delete static_cast<std::shared_ptr<ZumiPropertyPublisherToUIBridge<PropertyType>>*>(
                data);
        });
}

template <typename PropertyType>
void ZumiPropertyPublisherToGTKBridge<PropertyType>::withdrawAfterFailure(
    ZumiHandler& handler, typename PropertyMap::const_iterator failed) {
    VimoZumiHandler* own = dynamic_cast<VimoZumiHandler*>(&handler);
    typedef std::reverse_iterator<typename PropertyMap::const_iterator> Backwards;
    for (Backwards it(std::next(failed)); it != m_properties.rend(); ++it) {
        const char* name = it->first.c_str();
        try {
            if (own != nullptr) {
                // Only what this bridge holds, by name and type; the failed
                // name never reached the bus, only the handler's registry.
                own->withdrawPublication<PropertyType>(name, this, it.base() != std::next(failed));
            } else {
                unpublishProperty<PropertyType>(&handler, name);
            }
        } catch (...) {
            // Logged where it failed; the rest must still be withdrawn.
        }
    }
}

template <typename PropertyType>
ZumiPropertyPublisherToGTKBridge<PropertyType>::ZumiPropertyPublisherToGTKBridge(
    ZumiHandlerSharedPtr handler, ZumiPropertyPublisherUI<PropertyType>* uiPublisher,
    const PropertyMap& properties)
    : m_handler(handler), m_uiPublisher(uiPublisher), m_properties(properties) {
    if (uiPublisher == nullptr) {
        throw std::invalid_argument("uiPublisher argument was NULL");
    }
    util::initRecursiveMutex(m_mutex);
}

template <typename PropertyType>
ZumiPropertyPublisherToGTKBridge<PropertyType>::~ZumiPropertyPublisherToGTKBridge() {
    {
        AutoLock lock(m_mutex);
        if (m_uiPublisher != nullptr) {
            // Pending sets point at this bridge and the UI object still
            // expects calls from it: there is no safe way on.
            logLine(LogLevel::E, "ZumiPropertyPublisherToGTKBridge.dtor",
                    "E %s:%s:Bridge was still connected to outer object on deletion. Call "
                    "ZumiPropertyPublisherToGTKBridge.detach from your UI object's destructor!:");
            std::exit(1);
        }
    }
    pthread_mutex_destroy(&m_mutex);
}

template <typename PropertyType>
void ZumiPropertyPublisherToGTKBridge<PropertyType>::detachFromUI() noexcept {
    // Declared before the lock, so the handler is let go only after m_mutex:
    // should this be its last reference, closing its connection waits for the
    // bus callbacks in progress, and one of them may be waiting for m_mutex.
    ZumiHandlerSharedPtr handler;
    AutoLock lock(m_mutex);
    if (m_uiPublisher == nullptr) {
        return;
    }
    handler = m_handler.lock();
    if (handler) {
        for (auto it = m_properties.rbegin(); it != m_properties.rend(); ++it) {
            try {
                unpublishProperty<PropertyType>(handler.get(), it->first.c_str());
            } catch (...) {
                // Unpublishing logs its own failures; the detach must still
                // finish, or the UI object would be called after it is gone.
            }
        }
    }
    cancelPendingSetValues();
    m_handler.reset();
    m_uiPublisher = nullptr;
}

template <typename PropertyType>
void ZumiPropertyPublisherToGTKBridge<PropertyType>::cancelPendingSetValues() {
    while (!m_pendingSetValues.empty()) {
        auto first = m_pendingSetValues.begin();
        const guint sourceId = first->second;
        // On success GLib ran the destroy notification in there, which
        // removed the entry, unless the set is being delivered right now.
        if (removeSource(sourceId)) {
            continue;
        }
        logLine(LogLevel::W, "ZumiPropertyPublisherToGTKBridge.detach",
                "W %s:%s:sourceId=%d We found an orphaned GTK main context source ID when "
                "detaching from the UI!:",
                static_cast<int>(sourceId));
        SetValueArgs<PropertyType>* record = first->first;
        m_pendingSetValues.erase(first);
        // Unlinked: its destroy notification is still to come and releases
        // it; by then this bridge may be gone.
        record->m_bridge.store(nullptr, std::memory_order_relaxed);
    }
}

// ---- Deferred set, synchronous get, access checks ----------------------------

template <typename PropertyType>
void ZumiPropertyPublisherToGTKBridge<PropertyType>::setValue(const char* propertyName,
                                                              PropertyType value) {
    UnclaimedValue<PropertyType> unclaimed{value};
    if (propertyName == nullptr) {
        throw std::invalid_argument(PROPERTY_NAME_NULL);
    }
    AutoLock lock(m_mutex);
    if (m_uiPublisher == nullptr) {
        throw ZumiException(DETACHED_MESSAGE);
    }
    if (!this->isWritable(propertyName)) {
        throw ZumiException(std::string(propertyName) +
                            " is not a writable property for this publisher.");
    }
    std::unique_ptr<SetValueArgs<PropertyType>> record(
        new SetValueArgs<PropertyType>(propertyName, this, value));
    unclaimed.claimed = true;

    const bool kill = std::strcmp(propertyName, KILL_PROPERTY) == 0;
    if (kill) {
        logLine(LogLevel::I, BridgeTraits<PropertyType>::KILL_TAG,
                "I %s:%s:ZumiPropertyPublisherToGTKBridge - kill Property Detected:");
    }
    auto entry = m_pendingSetValues.emplace(record.get(), 0u).first;
    // The lock is held until the ID is stored: the delivery and the destroy
    // notification of the new source both need it, so neither can run before
    // the entry is complete.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    entry->second = gdk_threads_add_idle_full(kill ? KILL_PRIORITY : SET_PRIORITY,
                                              &onGDKIdle_setValue, record.release(),
                                              &onSourceDestory_setValue);
#pragma GCC diagnostic pop
}

template <typename PropertyType>
gboolean ZumiPropertyPublisherToGTKBridge<PropertyType>::onGDKIdle_setValue(gpointer data) {
    if (data == nullptr) {
        logLine(LogLevel::E, "ZumiPropertyPublisherToGTKBridge.onGDKIdle",
                "E %s:%s:Input data cannot be null:");
        return FALSE;
    }
    util::GdkLockedByDispatch gdkLocked;
    SetValueArgs<PropertyType>* args = static_cast<SetValueArgs<PropertyType>*>(data);
    args->m_bridge.load(std::memory_order_acquire)->onIdle_setValue(args);
    return FALSE;
}

template <typename PropertyType>
void ZumiPropertyPublisherToGTKBridge<PropertyType>::onIdle_setValue(
    SetValueArgs<PropertyType>* args) noexcept {
    try {
        ZumiPropertyPublisherUI<PropertyType>* uiPublisher;
        {
            AutoLock lock(m_mutex);
            uiPublisher = m_uiPublisher;
            args->m_handedOver = uiPublisher != nullptr;
        }
        if (uiPublisher == nullptr) {
            logLine(LogLevel::D, BridgeTraits<PropertyType>::DETACHED_TAG,
                    "D %s:%s:ZumiPropertyPublisherToGTKBridge.onSourceMessage - UI object has "
                    "detached. This message will be discarded.:");
            return;
        }
        // The UI object may detach and drop this bridge from inside the call:
        // nothing below touches the bridge any more. The record stays valid
        // until its destroy notification, which GLib runs after this returns.
        callSetValueOnUIPublisher<PropertyType>(*args, uiPublisher);
    } catch (const std::exception& error) {
        logLine(LogLevel::E, "kesh_vimoapplication_manager",
                "E %s:%s:error=%s ZumiPropertyPublisher.setValue allowed an std.exception to "
                "escape. This should not happen. setValue needs to handle all standard exceptions "
                "in a recoverable manner.:",
                error.what());
    } catch (...) {
        // Not a std::exception, so there is no text to report; the main loop
        // must go on all the same.
        logLine(LogLevel::E, "kesh_vimoapplication_manager",
                "E %s:%s:ZumiPropertyPublisher.setValue allowed a non-standard exception (not "
                "derived from std.exception) to escape. This should not happen. setValue must "
                "not let any exception escape.:");
    }
}

template <typename PropertyType>
void ZumiPropertyPublisherToGTKBridge<PropertyType>::onSourceDestory_setValue(gpointer data) {
    if (data == nullptr) {
        return;
    }
    SetValueArgs<PropertyType>* args = static_cast<SetValueArgs<PropertyType>*>(data);
    if (ZumiPropertyPublisherToGTKBridge<PropertyType>* bridge =
            args->m_bridge.load(std::memory_order_acquire)) {
        AutoLock lock(bridge->m_mutex);
        bridge->m_pendingSetValues.erase(args);
    }
    delete args;
}

template <typename PropertyType>
void ZumiPropertyPublisherToGTKBridge<PropertyType>::getValue(const char* propertyName,
                                                              PropertyType* value) {
    if (propertyName == nullptr) {
        throw std::invalid_argument(PROPERTY_NAME_NULL);
    }
    util::GdkThreadsAutoLock gdkLock;
    AutoLock lock(m_mutex);
    if (m_uiPublisher == nullptr) {
        throw ZumiException(DETACHED_MESSAGE);
    }
    if (!this->isReadable(propertyName)) {
        throw ZumiException(std::string(propertyName) +
                            " is not a readable property for this publisher.");
    }
    m_uiPublisher->getValue(propertyName, value);
}

template <typename PropertyType>
bool ZumiPropertyPublisherToGTKBridge<PropertyType>::isReadable(const char* propertyName) const {
    if (propertyName == nullptr) {
        throw std::invalid_argument(PROPERTY_NAME_NULL);
    }
    auto found = m_properties.find(propertyName);
    return found != m_properties.end() && found->second.first;
}

template <typename PropertyType>
bool ZumiPropertyPublisherToGTKBridge<PropertyType>::isWritable(const char* propertyName) const {
    if (propertyName == nullptr) {
        throw std::invalid_argument(PROPERTY_NAME_NULL);
    }
    auto found = m_properties.find(propertyName);
    return found != m_properties.end() && found->second.second;
}

// ---- Free functions ----------------------------------------------------------

template <typename PropertyType>
void publishProperty(ZumiHandler* handler, const char* propertyName,
                     std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<PropertyType>>& publisher) {
    (handler->*BridgeTraits<PropertyType>::publish)(propertyName, publisher);
}

template <typename PropertyType>
void unpublishProperty(ZumiHandler* handler, const char* propertyName) {
    (handler->*BridgeTraits<PropertyType>::unpublish)(propertyName);
}

template <typename PropertyType>
void callSetValueOnUIPublisher(const SetValueArgs<PropertyType>& args,
                               ZumiPropertyPublisherUI<PropertyType>* uiPublisher) {
    uiPublisher->setValue(args.m_propertyName.c_str(),
                          BridgeTraits<PropertyType>::handOver(args.m_value));
}

template <typename PropertyType>
std::shared_ptr<ZumiPropertyPublisherToUIBridge<PropertyType>> createNewBridge(
    ZumiHandlerSharedPtr handler, ZumiPropertyPublisherUI<PropertyType>* uiPublisher,
    const std::map<std::string, std::pair<bool, bool>>& properties) {
    return ZumiPropertyPublisherToGTKBridge<PropertyType>::createNewInstance(handler, uiPublisher,
                                                                             properties);
}

#define ZUMI_INSTANTIATE_BRIDGE(PropertyType)                                                   \
    template class ZumiPropertyPublisherToGTKBridge<PropertyType>;                              \
    template void publishProperty<PropertyType>(                                                \
        ZumiHandler*, const char*,                                                              \
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<PropertyType>>&);                    \
    template void unpublishProperty<PropertyType>(ZumiHandler*, const char*);                   \
    template void callSetValueOnUIPublisher<PropertyType>(const SetValueArgs<PropertyType>&,    \
                                                          ZumiPropertyPublisherUI<PropertyType>*); \
    template ZUMI_EXPORT std::shared_ptr<ZumiPropertyPublisherToUIBridge<PropertyType>>         \
    createNewBridge<PropertyType>(ZumiHandlerSharedPtr, ZumiPropertyPublisherUI<PropertyType>*, \
                                  const std::map<std::string, std::pair<bool, bool>>&);

ZUMI_INSTANTIATE_BRIDGE(int)
ZUMI_INSTANTIATE_BRIDGE(const char*)
ZUMI_INSTANTIATE_BRIDGE(ZumiHasharrayHandleStruct*)

#undef ZUMI_INSTANTIATE_BRIDGE

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
