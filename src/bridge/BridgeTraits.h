#ifndef ZUMI_BRIDGE_BRIDGETRAITS_H
#define ZUMI_BRIDGE_BRIDGETRAITS_H

// Where the three bridge instances differ; everything else is one template.
//
// | PropertyType               | record keeps  | UI setValue gets | releaseUnused        |
// |----------------------------|---------------|------------------|----------------------|
// | int                        | the integer   | the integer      | nothing              |
// | const char*                | a std::string | its characters   | nothing (the copy is |
// |                            |               |                  | the record's member) |
// | ZumiHasharrayHandleStruct* | the handle    | the handle       | ZumiHasharrayDestroy |
//
// A hash-array handle passed to a bridge's setValue is the bridge's from then
// on (the bus callback made it for that one set); it becomes the UI object's
// only when the UI object's setValue is called with it. So a handle whose set
// is refused, cancelled by detachFromUI or dropped at delivery is destroyed
// here instead of leaking.

#include <stdexcept>
#include <string>

#include <zumi/ZumiHandler.h>
#include <zumi/ZumiTypes.h>

#include "platform/ZumiBus.h"

namespace veltra {
namespace kesh {
namespace zumi {

template <typename PropertyType>
struct BridgeTraits;

template <>
struct BridgeTraits<int> {
    typedef int Stored;
    static Stored store(int value) { return value; }
    static int handOver(const Stored& stored) { return stored; }
    static void releaseUnused(int) {}

    static constexpr auto publish = &ZumiHandler::publishIntegerProperty;
    static constexpr auto unpublish = &ZumiHandler::unpublishIntegerProperty;

    static constexpr const char* KILL_TAG =
        "void veltra::kesh::zumi::ZumiPropertyPublisherToGTKBridge<PropertyType>::setValue(const "
        "char*, PropertyType) [with PropertyType = int]";
    static constexpr const char* DETACHED_TAG =
        "void veltra::kesh::zumi::ZumiPropertyPublisherToGTKBridge<PropertyType>::onIdle_setValue("
        "veltra::kesh::zumi::SetValueArgs<PropertyType>*) [with PropertyType = int]";
};

template <>
struct BridgeTraits<const char*> {
    typedef std::string Stored;
    // The bus library's string lives only as long as its callback: copy it.
    static Stored store(const char* value) {
        if (value == nullptr) {
            throw std::invalid_argument("value argument was NULL");
        }
        return Stored(value);
    }
    static const char* handOver(const Stored& stored) { return stored.c_str(); }
    static void releaseUnused(const char*) {}

    static constexpr auto publish = &ZumiHandler::publishStringProperty;
    static constexpr auto unpublish = &ZumiHandler::unpublishStringProperty;

    static constexpr const char* KILL_TAG =
        "void veltra::kesh::zumi::ZumiPropertyPublisherToGTKBridge<PropertyType>::setValue(const "
        "char*, PropertyType) [with PropertyType = const char*]";
    static constexpr const char* DETACHED_TAG =
        "void veltra::kesh::zumi::ZumiPropertyPublisherToGTKBridge<PropertyType>::onIdle_setValue("
        "veltra::kesh::zumi::SetValueArgs<PropertyType>*) [with PropertyType = const char*]";
};

template <>
struct BridgeTraits<ZumiHasharrayHandleStruct*> {
    typedef ZumiHasharrayHandleStruct* Stored;
    static Stored store(ZumiHasharrayHandleStruct* value) { return value; }
    static ZumiHasharrayHandleStruct* handOver(const Stored& stored) { return stored; }
    static void releaseUnused(ZumiHasharrayHandleStruct* value) {
        if (value != nullptr) {
            ZumiHasharrayDestroy(value);
        }
    }

    static constexpr auto publish = &ZumiHandler::publishHasharrayProperty;
    static constexpr auto unpublish = &ZumiHandler::unpublishHasharrayProperty;

    static constexpr const char* KILL_TAG =
        "void veltra::kesh::zumi::ZumiPropertyPublisherToGTKBridge<PropertyType>::setValue(const "
        "char*, PropertyType) [with PropertyType = ZumiHasharrayHandleStruct*]";
    static constexpr const char* DETACHED_TAG =
        "void veltra::kesh::zumi::ZumiPropertyPublisherToGTKBridge<PropertyType>::onIdle_setValue("
        "veltra::kesh::zumi::SetValueArgs<PropertyType>*) [with PropertyType = "
        "ZumiHasharrayHandleStruct*]";
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
