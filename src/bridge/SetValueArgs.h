#ifndef ZUMI_BRIDGE_SETVALUEARGS_H
#define ZUMI_BRIDGE_SETVALUEARGS_H

#include <atomic>
#include <cstddef>
#include <string>

#include "bridge/BridgeTraits.h"
#include "util/NotCopyable.h"

namespace veltra {
namespace kesh {
namespace zumi {

template <typename PropertyType>
class ZumiPropertyPublisherToGTKBridge;

// The base of the records that the bridge hands to main-loop callbacks. A
// record is owned by the callbacks of one idle source and deleted exactly
// once, through this virtual destructor.
class SharedData : private veltra::bramwick::util::NotCopyable {
public:
    explicit SharedData(const char* propertyName);
    virtual ~SharedData();

    // How many records exist right now in the process: lets a leak check
    // account for records that were never delivered.
    static std::size_t liveCount();

    std::string m_propertyName;
};

// One deferred set, from the bus thread's setValue until the destroy
// notification of its idle source. Its life is told in
// ZumiPropertyPublisherToGTKBridge.h.
template <typename PropertyType>
class SetValueArgs : public SharedData {
public:
    // Throws std::invalid_argument "value argument was NULL" for a null
    // string (the const char* instance must copy it).
    SetValueArgs(const char* propertyName, ZumiPropertyPublisherToGTKBridge<PropertyType>* bridge,
                 PropertyType value)
        : SharedData(propertyName), m_value(BridgeTraits<PropertyType>::store(value)) {
        // Made on the bus thread, used on the main-loop thread: GLib hands it
        // over under its own lock, which ThreadSanitizer cannot see, so the
        // record states the hand-off itself. Readers load m_bridge first.
        m_bridge.store(bridge, std::memory_order_release);
    }

    // A value that never reached the UI object is still the bridge's to release.
    ~SetValueArgs() override {
        if (!m_handedOver) {
            BridgeTraits<PropertyType>::releaseUnused(BridgeTraits<PropertyType>::handOver(m_value));
        }
    }

    // Null once the bridge has let go of the record while its destroy
    // notification is still to come (see the bridge's record states).
    std::atomic<ZumiPropertyPublisherToGTKBridge<PropertyType>*> m_bridge{nullptr};
    typename BridgeTraits<PropertyType>::Stored m_value;
    // Set under the bridge's m_mutex just before the UI object's setValue is
    // called with m_value; from then on the value is the UI object's.
    bool m_handedOver = false;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
