#include "handler/PropertyCallbacks.h"

#include <cstring>
#include <exception>
#include <stdexcept>

#include <zumi/ZumiException.h>

#include "handler/VimoZumiPropertyPublisherRegistrar.h"
#include "platform/ZumiBus.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::LogLevel;
using util::logLine;

namespace {

const char GET_TAG[] = "VimoZumiHandlerPrivate.onPropertyGet";
const char SET_TAG[] = "VimoZumiHandlerPrivate.onPropertySet";
const char ACCESS_TAG[] = "VimoZumiHandlerPrivate.onPropertyAccessed";
const char SET_INFO_TAG[] = "VimoZumiHandler.onPropertySet";
const char NULL_DATA_FORMAT[] = "E %s:%s:Input data cannot be null:";

const unsigned int SERVED = ZUMI_OK;
const unsigned int NO_PUBLISHER = ZUMI_ERR_NO_SUCH_PROPERTY;
const unsigned int BUFFER_TOO_SMALL = ZUMI_ERR_BUFFER_TOO_SMALL;
const unsigned int FAILED = ZUMI_ERR_SERVICE_FAILED;

// The one place where the callbacks meet exceptions. Publishers are asked to
// fail with ZumiException only; anything else is answered the same way so
// that nothing unwinds into the bus library.
template <typename Body>
unsigned int guarded(const char* tag, Body body) noexcept {
    try {
        return body();
    } catch (const ZumiException& e) {
        logLine(LogLevel::E, tag, "E %s:%s:what=%s ZumiException:", e.what());
    } catch (const std::exception& e) {
        logLine(LogLevel::E, tag, "E %s:%s:what=%s:", e.what());
    } catch (...) {
        logLine(LogLevel::E, tag, "E %s:%s:what=%s:",
                "non-standard exception (not derived from std::exception)");
    }
    return FAILED;
}

template <typename PropertyType>
VimoZumiPropertyPublisherRegistrar<PropertyType>* registrarOf(void* data) {
    return static_cast<VimoZumiPropertyPublisherRegistrar<PropertyType>*>(data);
}

// Asks the publisher for its value and hands it to deliver, which answers the
// status. The strong reference is dropped on every way out.
template <typename PropertyType, typename Deliver>
unsigned int serveGet(const char* name, void* data, Deliver deliver) {
    if (data == nullptr) {
        logLine(LogLevel::E, GET_TAG, NULL_DATA_FORMAT);
        return FAILED;
    }
    auto publisher = registrarOf<PropertyType>(data)->getStrongReference(name);
    if (!publisher) {
        return NO_PUBLISHER;
    }
    PropertyType result{};
    publisher->getValue(name, &result);
    return deliver(result);
}

template <typename PropertyType>
unsigned int serveSet(const char* name, PropertyType value, void* data) {
    if (data == nullptr) {
        logLine(LogLevel::E, SET_TAG, NULL_DATA_FORMAT);
        return FAILED;
    }
    logLine(LogLevel::I, SET_INFO_TAG, "I %s:%s:Property Name-> %s:", util::logText(name));
    auto publisher = registrarOf<PropertyType>(data)->getStrongReference(name);
    if (!publisher) {
        return NO_PUBLISHER;
    }
    publisher->setValue(name, value);
    logLine(LogLevel::I, SET_INFO_TAG, "I %s:%s:Returning zumiErrNone:");
    return SERVED;
}

unsigned int serveAccess(const char* name, ZumiHasharrayHandleStruct* input, void* data) {
    if (data == nullptr) {
        logLine(LogLevel::E, ACCESS_TAG, NULL_DATA_FORMAT);
        return FAILED;
    }
    auto publisher = registrarOf<ZumiHasharrayHandleStruct*>(data)->getStrongReference(name);
    if (!publisher) {
        return NO_PUBLISHER;
    }
    // The copy belongs to the publisher from here on, also when it throws:
    // it may already have handed the copy on, so releasing it here could
    // free it twice.
    publisher->setValue(name, ZumiHasharrayClone(input));
    return SERVED;
}

}  // namespace

template <>
unsigned int onPropertyGet<int, int>(ZumiHandleStruct*, const char* name, int* value,
                                     void* data) {
    return guarded(GET_TAG, [&] {
        return serveGet<int>(name, data, [&](int result) {
            *value = result;
            return SERVED;
        });
    });
}

template <>
unsigned int onPropertyGet<char, const char*>(ZumiHandleStruct*, const char* name, char* buffer,
                                              unsigned int* size, void* data) {
    return guarded(GET_TAG, [&] {
        return serveGet<const char*>(name, data, [&](const char* result) {
            if (result == nullptr) {
                // Broken publisher contract; answered like any other failure
                // rather than read through a null pointer.
                throw std::logic_error("getValue stored a null string");
            }
            const size_t length = std::strlen(result);
            if (*size < length + 1) {
                *size = static_cast<unsigned int>(length + 1);
                return BUFFER_TOO_SMALL;
            }
            std::memcpy(buffer, result, length);
            buffer[length] = '\0';
            return SERVED;
        });
    });
}

template <>
unsigned int onPropertySet<int, int>(ZumiHandleStruct*, const char* name, int value, void* data) {
    return guarded(SET_TAG, [&] { return serveSet<int>(name, value, data); });
}

template <>
unsigned int onPropertySet<const char*, const char*>(ZumiHandleStruct*, const char* name,
                                                     const char* value, void* data) {
    return guarded(SET_TAG, [&] { return serveSet<const char*>(name, value, data); });
}

template <>
unsigned int onPropertyAccessed<ZumiHasharrayHandleStruct*, ZumiHasharrayHandleStruct*>(
    ZumiHandleStruct*, const char* name, ZumiHasharrayHandleStruct* input,
    ZumiHasharrayHandleStruct*, void* data) {
    return guarded(ACCESS_TAG, [&] { return serveAccess(name, input, data); });
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
