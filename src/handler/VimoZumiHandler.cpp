#include "handler/VimoZumiHandler.h"

#include <zumi/VimoZumiHashListArray.h>
#include <zumi/ZumiException.h>
#include <zumi/ZumiPropertyPublisherToUIBridge.h>

#include "async/MainLoopWatchdog.h"
#include "factory/CachedHandler.h"
#include "handler/PropertyTraits.h"
#include "handler/RemoteFailures.h"
#include "handler/VimoZumiHandlerPrivate.h"
#include "platform/GdkThreadsAutoLock.h"
#include "platform/ZumiBus.h"
#include "util/ExceptionMessage.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::ExceptionMessage;
using util::LogLevel;
using util::logLine;

namespace {

// Releases a text handed out by the bus library exactly once, whatever
// happens while it is copied.
struct BusStringRelease {
    void operator()(char* text) const { ZumiFreeString(text); }
};
typedef std::unique_ptr<char, BusStringRelease> BusString;

// A read of a property that a UI bridge of this process serves takes the GDK
// lock on the bus thread, so made by a thread that holds it, it could only
// end at the call timeout. Where the library knows this thread holds the lock
// (inside its own GDK-threads callbacks: listeners, deferred sets), the read
// is refused at once, with the timeout's status and a text that says why.
template <typename PropertyType>
void refuseReadWaitingForThisThread(const char* source, const char* property) {
    if (!util::GdkThreadsAutoLock::heldByThisThread() || source == nullptr || property == nullptr) {
        return;
    }
    ZumiHandlerSharedPtr server = cachedZumiHandler(source);
    if (!server ||
        !static_cast<VimoZumiHandler*>(server.get())->publishesThroughBridge<PropertyType>(property)) {
        return;
    }
    throw readFailure(source, property, ZUMI_ERR_TIMEOUT,
                      "this thread holds the GDK lock, which the UI bridge serving this property "
                      "in this process needs to answer");
}

}  // namespace

VimoZumiHandler::VimoZumiHandler(const char* zumiID)
    : m_eventManager(std::string(zumiID != nullptr ? zumiID : "")) {
    // Later fields are constructed before this point, so the private object
    // (and so the connection) is the last thing built.
    m_private.reset(new VimoZumiHandlerPrivate(zumiID));
}

VimoZumiHandler::~VimoZumiHandler() {
    // Close the connection and release the publishers before any later field
    // goes away.
    m_private.reset();
}

const char* VimoZumiHandler::getID() const { return m_private->m_id.c_str(); }

ZumiHandleStruct* VimoZumiHandler::getUnderlyingZumiHandle() const { return m_private->m_handle; }

template <typename PropertyType>
bool VimoZumiHandler::publishesThroughBridge(const char* name) const {
    typename VimoZumiPropertyPublisherRegistrar<PropertyType>::PublisherPtr publisher =
        PropertyTraits<PropertyType>::registrar(*m_private).getStrongReference(name);
    return dynamic_cast<ZumiPropertyPublisherToUIBridge<PropertyType>*>(publisher.get()) != nullptr;
}

std::string VimoZumiHandler::getStringProperty(const char* source, const char* property) const {
    MainLoopWatchdog watchdog(source, property);
    refuseReadWaitingForThisThread<const char*>(source, property);
    char* received = nullptr;
    const ZumiStatus status =
        ZumiGetStringProperty(m_private->m_handle, source, property, &received);
    // Guarded at once: a text that comes with a failure status is released
    // too, instead of leaking.
    BusString text(received);
    if (status != ZUMI_OK || !text) {
        throw readFailure(source, property, status);
    }
    return std::string(text.get());
}

int VimoZumiHandler::getIntProperty(const char* source, const char* property) const {
    MainLoopWatchdog watchdog(source, property);
    refuseReadWaitingForThisThread<int>(source, property);
    int number = 0;
    const ZumiStatus status = ZumiGetIntProperty(m_private->m_handle, source, property, &number);
    if (status != ZUMI_OK) {
        throw readFailure(source, property, status);
    }
    return number;
}

void VimoZumiHandler::getHashProperty(const char* source, const char* property,
                                      ZumiHasharrayHandleStruct*& result) const {
    MainLoopWatchdog watchdog(source, property);
    refuseReadWaitingForThisThread<ZumiHasharrayHandleStruct*>(source, property);
    const ZumiStatus status =
        ZumiAccessHasharrayProperty(m_private->m_handle, source, property, nullptr, &result);
    if (status != ZUMI_OK) {
        throw readFailure(source, property, status);
    }
}

void VimoZumiHandler::setStringProperty(const char* source, const char* property,
                                        const char* value) {
    MainLoopWatchdog watchdog(source, property);
    ZumiStatus status = ZumiSetStringProperty(m_private->m_handle, source, property, value);
    if (status == ZUMI_OK) {
        return;
    }
    // Properties of the nimbo service may be served by titlerail instead.
    if (const char* fallback = stringSetFallback(source)) {
        status = ZumiSetStringProperty(m_private->m_handle, fallback, property, value);
        logStringSetFallback(property, status == ZUMI_OK);
        if (status == ZUMI_OK) return;
    }
    throw writeFailure(source, property, value, status);
}

void VimoZumiHandler::setIntProperty(const char* source, const char* property, int value) {
    MainLoopWatchdog watchdog(source, property);
    const ZumiStatus status = ZumiSetIntProperty(m_private->m_handle, source, property, value);
    if (status != ZUMI_OK) {
        throw writeFailure(source, property, value, status);
    }
}

void VimoZumiHandler::sendEvent(const char* eventName) {
    MainLoopWatchdog watchdog(getID(), eventName);
    m_private->sendEvent(eventName);
}

void VimoZumiHandler::publishStringProperty(
    const char* propertyName, std::shared_ptr<ZumiPropertyPublisher<const char*>>& publisher) {
    m_private->publishStringProperty(propertyName, publisher);
}

void VimoZumiHandler::publishIntegerProperty(
    const char* propertyName, std::shared_ptr<ZumiPropertyPublisher<int>>& publisher) {
    m_private->publishIntegerProperty(propertyName, publisher);
}

void VimoZumiHandler::publishHasharrayProperty(
    const char* propertyName,
    std::shared_ptr<ZumiPropertyPublisher<ZumiHasharrayHandleStruct*>>& publisher) {
    m_private->publishHasharrayProperty(propertyName, publisher);
}

template <typename PropertyType>
void VimoZumiHandler::unpublish(const char* propertyName) {
    // The entry goes before the bus registration: a request arriving in
    // between is answered "no such property" by the callback.
    PropertyTraits<PropertyType>::registrar(*m_private).removePropertyPublisher(propertyName);
    unregisterFromBus<PropertyType>(propertyName);
}

template <typename PropertyType>
void VimoZumiHandler::unregisterFromBus(const char* propertyName) {
    typedef PropertyTraits<PropertyType> Traits;
    // By name and type: the name's registrations of the other types stay.
    const ZumiStatus status =
        ZumiUnregisterPropertyOfType(m_private->m_handle, propertyName, Traits::BUS_TYPE);
    if (status != ZUMI_OK) {
        logLine(LogLevel::W, Traits::UNPUBLISH_TAG, Traits::UNPUBLISH_FORMAT,
                static_cast<int>(status), ZumiGetErrorString(status), util::logText(propertyName));
    }
}

template <typename PropertyType>
void VimoZumiHandler::withdrawPublication(const char* propertyName,
                                          const ZumiPropertyPublisher<PropertyType>* publisher,
                                          bool onBus) {
    if (publisher != nullptr &&
        PropertyTraits<PropertyType>::registrar(*m_private).removePropertyPublisher(propertyName,
                                                                                   publisher) &&
        onBus) {
        unregisterFromBus<PropertyType>(propertyName);
    }
}

template void VimoZumiHandler::withdrawPublication<int>(const char*,
                                                        const ZumiPropertyPublisher<int>*, bool);
template void VimoZumiHandler::withdrawPublication<const char*>(
    const char*, const ZumiPropertyPublisher<const char*>*, bool);
template void VimoZumiHandler::withdrawPublication<ZumiHasharrayHandleStruct*>(
    const char*, const ZumiPropertyPublisher<ZumiHasharrayHandleStruct*>*, bool);

void VimoZumiHandler::unpublishStringProperty(const char* propertyName) {
    unpublish<const char*>(propertyName);
}

void VimoZumiHandler::unpublishIntegerProperty(const char* propertyName) {
    unpublish<int>(propertyName);
}

void VimoZumiHandler::unpublishHasharrayProperty(const char* propertyName) {
    unpublish<ZumiHasharrayHandleStruct*>(propertyName);
}

void VimoZumiHandler::subscribe(const char* source, const char* event,
                                const SystemEventListener* listener) {
    m_eventManager.subscribe(source, event, listener);
}

bool VimoZumiHandler::unsubscribe(const char* source, const char* event,
                                  const SystemEventListener* listener) {
    return m_eventManager.unsubscribe(source, event, listener);
}

// Goes through the factory by this handler's identifier, like any array an
// application makes; the shared pointer deletes it as what it is, and
// destroys it itself if its count cannot be allocated.
std::shared_ptr<ZumiHashListArray> VimoZumiHandler::createNewHashArray() {
    return std::shared_ptr<ZumiHashListArray>(new VimoZumiHashListArray(getID()));
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
