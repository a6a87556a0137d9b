#ifndef ZUMI_SYSTEMEVENTLISTENER_H
#define ZUMI_SYSTEMEVENTLISTENER_H

#include <stdint.h>

#include <list>
#include <string>

#include <zumi/ZumiExport.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// Receives the events of the (source, event) pairs it is subscribed to
/// through ZumiHandler::subscribe.
///
/// Threads: onEvent runs on the thread that runs the GLib default main loop,
/// with the GDK threads lock held. It may call subscribe and unsubscribe on the
/// handler that delivers to it; such changes apply to later events, and a
/// listener removed during a delivery is not called after its removal.
///
/// A listener is identified by its address only. The library never owns,
/// copies or deletes one, which is why there is no virtual destructor; the
/// application keeps it alive, and subscribed, no longer than it lives.
class ZUMI_EXPORT SystemEventListener {
public:
    /// One typed parameter of an event, a plain copyable value.
    class ZUMI_EXPORT SystemEventData {
    public:
        /// Which of the two values the parameter holds.
        enum DataType : int32_t { INTEGER = 0, STRING = 1 };

        /// A parameter of the given type; the value of the other type is
        /// ignored by the getters (0 and "" by convention).
        SystemEventData(DataType type, int intValue, const std::string& stringValue)
            : type(type), intValue(intValue), stringValue(stringValue) {}

        /// Throws std::runtime_error "getIntValue() called when data type is
        /// not integer" unless the type is INTEGER.
        int getIntValue() const;
        /// INTEGER or STRING: read it before reading a value.
        DataType getType() const { return type; }
        /// Empty for integers.
        const std::string& getStringValue() const { return stringValue; }

    private:
        DataType type;
        int intValue;
        std::string stringValue;
    };

    /// source, event and data are valid during the call only. data holds the
    /// integer parameters first, then the string parameters, in the order the
    /// sender gave them (see SystemEventDataList).
    virtual void onEvent(const char* source, const char* event,
                         const std::list<SystemEventData>& data) = 0;

protected:
    ~SystemEventListener() = default;
};

/// The parameters of one event: its integers, then its strings, each in the
/// order the sender gave them.
typedef std::list<SystemEventListener::SystemEventData> SystemEventDataList;

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
