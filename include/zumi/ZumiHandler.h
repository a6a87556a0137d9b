#ifndef ZUMI_ZUMIHANDLER_H
#define ZUMI_ZUMIHANDLER_H

#include <memory>
#include <string>

#include <zumi/ZumiExport.h>
#include <zumi/ZumiTypes.h>

namespace veltra {
namespace kesh {
namespace zumi {

class SystemEventListener;
class ZumiHashListArray;

/// One connection to the message bus. Obtain handlers from ZumiHandlerFactory,
/// which shares one per service identifier.
///
/// Names: a service identifier (the handler's own, and every `source` or
/// service named in a call) must be a valid bus name: two or more elements
/// joined by dots, each of ASCII letters, digits, '_' and '-' and not starting
/// with a digit, 255 bytes at most ("com.example.audio"). Anything else is
/// refused by the bus, and the call throws ZumiException. Property and event
/// names are any non-empty UTF-8 text of at most 255 bytes.
///
/// Threads: every operation may be called from any application thread. Remote
/// reads and writes block the caller for one synchronous bus call; failures
/// are thrown as ZumiException. Publishers are called back on the bus
/// library's thread; event listeners on the GLib main loop.
class ZUMI_EXPORT ZumiHandler {
public:
    /// Serves one published property. Called on the bus library's thread,
    /// concurrently with anything else the application does; report failures
    /// by throwing ZumiException, and let no other exception out.
    ///
    /// PropertyType is int, const char* or ZumiHasharrayHandleStruct*:
    ///  - const char*: getValue stores a NUL-terminated string that stays
    ///    valid after it returns (it is copied at once); setValue's string is
    ///    valid during the call only.
    ///  - ZumiHasharrayHandleStruct*: setValue receives a copy of the array
    ///    that the requester sent; it belongs to the publisher, which releases
    ///    it with ZumiHasharrayDestroy. getValue is never called, and the
    ///    requester gets no reply array: on the bus the property can be
    ///    written only, and a read is refused there.
    /// isReadable/isWritable are asked once, while the property is published,
    /// to choose the accesses offered on the bus.
    template <typename PropertyType>
    class ZumiPropertyPublisher {
    public:
        virtual ~ZumiPropertyPublisher() {}
        /// Stores the property's current value in *value, for a reader.
        virtual void getValue(const char* propertyName, PropertyType* value) = 0;
        /// Takes a value that a writer sent.
        virtual void setValue(const char* propertyName, PropertyType value) = 0;
        /// Whether the bus may read the property.
        virtual bool isReadable(const char* propertyName) const = 0;
        /// Whether the bus may write the property.
        virtual bool isWritable(const char* propertyName) const = 0;
    };

    virtual ~ZumiHandler();

    /// The service identifier the connection was opened with; the pointer is
    /// the same for the handler's whole life.
    virtual const char* getID() const = 0;

    /// The string value of property published by the service source.
    virtual std::string getStringProperty(const char* source, const char* property) const = 0;
    /// The integer value of property published by the service source.
    virtual int getIntProperty(const char* source, const char* property) const = 0;
    /// result receives an array that the caller owns (ZumiHasharrayDestroy).
    virtual void getHashProperty(const char* source, const char* property,
                                 ZumiHasharrayHandleStruct*& result) const = 0;
    /// Writes value to property published by the service source.
    virtual void setStringProperty(const char* source, const char* property,
                                   const char* value) = 0;
    /// Writes value to property published by the service source.
    virtual void setIntProperty(const char* source, const char* property, int value) = 0;

    /// A name is published at most once per type: publishing it again with a
    /// publisher of the same type is discarded (a D line), while one integer,
    /// one string and one hash-array property may share a name. Unpublishing
    /// withdraws the name of that one type; the others stay published.
    virtual void publishStringProperty(
        const char* propertyName,
        std::shared_ptr<ZumiPropertyPublisher<const char*>>& publisher) = 0;
    /// Withdraws propertyName from the bus and lets its publisher go.
    virtual void unpublishStringProperty(const char* propertyName) = 0;
    /// As publishStringProperty, for an integer property.
    virtual void publishIntegerProperty(const char* propertyName,
                                        std::shared_ptr<ZumiPropertyPublisher<int>>& publisher) = 0;
    /// As unpublishStringProperty, for an integer property.
    virtual void unpublishIntegerProperty(const char* propertyName) = 0;
    /// As publishStringProperty, for a hash-array property (written only).
    virtual void publishHasharrayProperty(
        const char* propertyName,
        std::shared_ptr<ZumiPropertyPublisher<ZumiHasharrayHandleStruct*>>& publisher) = 0;
    /// As unpublishStringProperty, for a hash-array property.
    virtual void unpublishHasharrayProperty(const char* propertyName) = 0;

    /// Listeners are not owned; they receive events on the GLib main loop.
    virtual void subscribe(const char* source, const char* event,
                           const SystemEventListener* listener) = 0;
    /// Ends one subscription of listener; answers whether there was one.
    virtual bool unsubscribe(const char* source, const char* event,
                             const SystemEventListener* listener) = 0;

    /// Sends eventName, without parameters, from this connection's service.
    virtual void sendEvent(const char* eventName) = 0;

    /// A new, empty hash array on this connection.
    virtual std::shared_ptr<ZumiHashListArray> createNewHashArray() = 0;

    /// For calling the bus library directly on this connection; the handler
    /// keeps ownership.
    virtual ZumiHandleStruct* getUnderlyingZumiHandle() const = 0;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
