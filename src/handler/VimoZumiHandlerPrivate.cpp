#include "handler/VimoZumiHandlerPrivate.h"

#include <stdexcept>

#include <zumi/ZumiException.h>

#include "handler/PropertyTraits.h"
#include "handler/RemoteFailures.h"
#include "platform/ZumiBus.h"
#include "util/ExceptionMessage.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::ExceptionMessage;
using util::LogLevel;
using util::logLine;

VimoZumiHandlerPrivate::VimoZumiHandlerPrivate(const char* zumiID)
    : m_handle(nullptr), m_id(zumiID != nullptr ? zumiID : "") {
    if (zumiID == nullptr) {
        throw std::invalid_argument("zumiID argument was NULL");
    }
    ZumiStatus status = ZUMI_OK;
    m_handle = ZumiOpenEx(zumiID, &status);
    if (m_handle == nullptr || status != ZUMI_OK) {
        // No handler will exist to close a connection that came back with a
        // failure status, so it is closed here rather than leaked.
        if (m_handle != nullptr) {
            ZumiClose(m_handle);
            m_handle = nullptr;
        }
        throw ZumiException(ExceptionMessage("Could not register zumi handle.").status(status).str());
    }
}

VimoZumiHandlerPrivate::~VimoZumiHandlerPrivate() {
    // Closing first guarantees that no callback still runs when the
    // registries, declared after m_handle, release their publishers.
    if (m_handle != nullptr) {
        ZumiClose(m_handle);
    }
}

void VimoZumiHandlerPrivate::sendEvent(const char* eventName) {
    if (eventName == nullptr) {
        throw std::invalid_argument("eventName argument was NULL");
    }
    const ZumiStatus status = ZumiCreateAndSendEvent(m_handle, eventName);
    if (status != ZUMI_OK) {
        throw sendFailure(eventName, status);
    }
}

template <typename PropertyType>
void VimoZumiHandlerPrivate::publish(
    const char* propertyName,
    std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<PropertyType>>& publisher) {
    typedef PropertyTraits<PropertyType> Traits;
    if (propertyName == nullptr) {
        throw std::invalid_argument("propertyName argument was NULL");
    }
    if (!publisher) {
        throw std::invalid_argument("publisher argument was a NULL reference.");
    }
    auto& registrar = Traits::registrar(*this);
    if (!registrar.addPropertyPublisher(propertyName, publisher)) {
        logLine(LogLevel::D, Traits::REPEAT_TAG, Traits::REPEAT_FORMAT, propertyName);
        return;
    }
    // A failed registration keeps the registry entry: the publisher stays
    // referenced until unpublish, and publishing the name again is a repeat.
    const ZumiStatus status = Traits::registerOnBus(m_handle, propertyName, *publisher, &registrar);
    if (status != ZUMI_OK) {
        throw ZumiException(ExceptionMessage("Could not set the request property.")
                                .field("property", propertyName)
                                .status(status)
                                .str());
    }
}

void VimoZumiHandlerPrivate::publishStringProperty(
    const char* propertyName,
    std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<const char*>>& publisher) {
    publish(propertyName, publisher);
}

void VimoZumiHandlerPrivate::publishIntegerProperty(
    const char* propertyName, std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>>& publisher) {
    publish(propertyName, publisher);
}

void VimoZumiHandlerPrivate::publishHasharrayProperty(
    const char* propertyName,
    std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<ZumiHasharrayHandleStruct*>>& publisher) {
    publish(propertyName, publisher);
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
