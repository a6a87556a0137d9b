#ifndef ZUMI_HANDLER_PROPERTYTRAITS_H
#define ZUMI_HANDLER_PROPERTYTRAITS_H

// Where the three published value types differ; publish, unpublish and the
// callbacks are otherwise one algorithm each.
//
// | type                       | registry             | bus registration     | callbacks offered              | bus type |
// | int                        | m_intRegistrar       | RegisterIntProperty  | getter if readable, setter if writable | ZUMI_TYPE_INT |
// | const char*                | m_stringRegistrar    | RegisterStringProperty | getter if readable, setter if writable | ZUMI_TYPE_STRING |
// | ZumiHasharrayHandleStruct* | m_hasharrayRegistrar | RegisterHasharrayPropertyEx | accessor if readable or writable, for writes | ZUMI_TYPE_HASHARRAY |
//
// A name is published at most once per type, so unpublishing withdraws the
// bus registration of its own type only (ZumiUnregisterPropertyOfType): an
// integer "x" and a string "x" of one handler come and go independently.
//
// The log texts name the operations as they have always been logged, hence
// the uneven spelling between the types.

#include "handler/PropertyCallbacks.h"
#include "handler/VimoZumiHandlerPrivate.h"
#include "platform/ZumiBus.h"

namespace veltra {
namespace kesh {
namespace zumi {

template <typename PropertyType>
struct PropertyTraits;

template <>
struct PropertyTraits<int> {
    static constexpr int BUS_TYPE = ZUMI_TYPE_INT;
    static constexpr const char* REPEAT_TAG =
        "void veltra::kesh::zumi::VimoZumiHandlerPrivate::publishIntegerProperty(const char*, "
        "std::tr1::shared_ptr<veltra::kesh::zumi::ZumiHandler::ZumiPropertyPublisher<int> >&)";
    static constexpr const char* REPEAT_FORMAT =
        "D %s:%s:VimoZumiHandler::publishIntegerProperty - publisher for property %s published "
        "again. The second publication attempt was discarded.:";
    static constexpr const char* UNPUBLISH_TAG = "VimoZumiHandler.unpublishIntegerProperty";
    static constexpr const char* UNPUBLISH_FORMAT =
        "W %s:%s:zumierror=%d,zumierrormsg=%s,property=%sError when trying to unregister an "
        "integer property. If this was not a superfluous unregistration then we may crash the "
        "next time somebody tries to access this property!:";

    static VimoZumiPropertyPublisherRegistrar<int>& registrar(VimoZumiHandlerPrivate& owner) {
        return owner.m_intRegistrar;
    }
    // isReadable, then isWritable, both always.
    static ZumiStatus registerOnBus(ZumiHandle handle, const char* name,
                                    const ZumiHandler::ZumiPropertyPublisher<int>& publisher,
                                    void* data) {
        const bool readable = publisher.isReadable(name);
        const bool writable = publisher.isWritable(name);
        return ZumiRegisterIntProperty(
            handle, name, readable ? ZumiIntGetter(&onPropertyGet<int, int>) : nullptr,
            writable ? ZumiIntSetter(&onPropertySet<int, int>) : nullptr, data);
    }
};

template <>
struct PropertyTraits<const char*> {
    static constexpr int BUS_TYPE = ZUMI_TYPE_STRING;
    static constexpr const char* REPEAT_TAG =
        "void veltra::kesh::zumi::VimoZumiHandlerPrivate::publishStringProperty(const char*, "
        "std::tr1::shared_ptr<veltra::kesh::zumi::ZumiHandler::ZumiPropertyPublisher<const "
        "char*> >&)";
    static constexpr const char* REPEAT_FORMAT =
        "D %s:%s:VimoZumiHandler.publishStringProperty - publisher for property %s published "
        "again. The second publication attempt was discarded.:";
    static constexpr const char* UNPUBLISH_TAG = "VimoZumiHandler.unpublishStringProperty";
    static constexpr const char* UNPUBLISH_FORMAT =
        "W %s:%s:zumierror=%d,zumierrormsg=%s,property=%sError when trying to unregister a "
        "string property. If this was not a superfluous unregistration then we may crash the "
        "next time somebody tries to access this property!:";

    static VimoZumiPropertyPublisherRegistrar<const char*>& registrar(
        VimoZumiHandlerPrivate& owner) {
        return owner.m_stringRegistrar;
    }
    static ZumiStatus registerOnBus(
        ZumiHandle handle, const char* name,
        const ZumiHandler::ZumiPropertyPublisher<const char*>& publisher, void* data) {
        const bool readable = publisher.isReadable(name);
        const bool writable = publisher.isWritable(name);
        return ZumiRegisterStringProperty(
            handle, name, readable ? ZumiStringGetter(&onPropertyGet<char, const char*>) : nullptr,
            writable ? ZumiStringSetter(&onPropertySet<const char*, const char*>) : nullptr, data);
    }
};

template <>
struct PropertyTraits<ZumiHasharrayHandleStruct*> {
    static constexpr int BUS_TYPE = ZUMI_TYPE_HASHARRAY;
    static constexpr const char* REPEAT_TAG =
        "void veltra::kesh::zumi::VimoZumiHandlerPrivate::publishHasharrayProperty(const char*, "
        "std::tr1::shared_ptr<veltra::kesh::zumi::ZumiHandler::ZumiPropertyPublisher<"
        "ZumiHasharrayHandleStruct*> >&)";
    static constexpr const char* REPEAT_FORMAT =
        "D %s:%s:VimoZumiHandler::publishHashArrayProperty - publisher for property %s published "
        "again. The second publication attempt was discarded.:";
    static constexpr const char* UNPUBLISH_TAG = "VimoZumiHandler.unpublishHasharrayProperty";
    static constexpr const char* UNPUBLISH_FORMAT =
        "W %s:%s:zumierror=%d,zumierrormsg=%s,property=%sError when trying to unregister a hash "
        "property. If this was not a superfluous unregistration then we may crash the next time "
        "somebody tries to access this property!:";

    static VimoZumiPropertyPublisherRegistrar<ZumiHasharrayHandleStruct*>& registrar(
        VimoZumiHandlerPrivate& owner) {
        return owner.m_hasharrayRegistrar;
    }
    // One accessor serves reads and writes: isWritable is asked only when
    // the property is not readable. The accessor hands every access to
    // setValue and never fills the reply, so the bus is told it serves writes
    // only: a read is refused there instead of reaching the publisher as a
    // set of null, and a listing does not offer a value it cannot give.
    static ZumiStatus registerOnBus(
        ZumiHandle handle, const char* name,
        const ZumiHandler::ZumiPropertyPublisher<ZumiHasharrayHandleStruct*>& publisher,
        void* data) {
        const bool accessible = publisher.isReadable(name) || publisher.isWritable(name);
        return ZumiRegisterHasharrayPropertyEx(
            handle, name,
            accessible ? ZumiHasharrayAccessor(
                             &onPropertyAccessed<ZumiHasharrayHandleStruct*,
                                                 ZumiHasharrayHandleStruct*>)
                       : nullptr,
            ZUMI_ACCESS_WRITE, data);
    }
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
