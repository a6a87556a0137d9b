#include "hasharray/VimoZumiHashListArrayPrivate.h"

#include <stdexcept>
#include <utility>

#include <zumi/VimoZumiHashListArray.h>
#include <zumi/ZumiException.h>

#include "async/MainLoopWatchdog.h"
#include "handler/RemoteFailures.h"
#include "platform/ZumiBus.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::LogLevel;
using util::logLine;

ZumiHasharrayHandleStruct* cloneOrThrow(ZumiHasharrayHandleStruct* array) {
    ZumiHasharrayHandleStruct* clone = ZumiHasharrayClone(array);
    if (clone == nullptr) throw ZumiException("ZumiHasharrayClone returned NULL!");
    return clone;
}

std::shared_ptr<ZumiHashListArray> adoptHashArray(const ZumiHandlerSharedPtr& handler,
                                                  ZumiHasharrayHandleStruct* array) {
    if (array == nullptr) return std::shared_ptr<ZumiHashListArray>();
    VimoZumiHashListArray* wrapper = nullptr;
    try {
        wrapper = new VimoZumiHashListArray(handler, array);
    } catch (...) {
        ZumiHasharrayDestroy(array);
        throw;
    }
    return std::shared_ptr<ZumiHashListArray>(wrapper);  // deletes the wrapper itself if this throws
}

VimoZumiHashListArrayPrivate::VimoZumiHashListArrayPrivate(ZumiHandlerSharedPtr handler)
    : m_handler(std::move(handler)), m_hashArray(nullptr) {}

VimoZumiHashListArrayPrivate::~VimoZumiHashListArrayPrivate() {
    if (m_hashArray != nullptr) ZumiHasharrayDestroy(m_hashArray);
}

std::shared_ptr<ZumiHashListArray> VimoZumiHashListArrayPrivate::publishSynchronously(
    const char* publisher, const char* propertyName, bool destroyAfterPublish) {
    if (publisher == nullptr) throw std::invalid_argument("publisher argument was NULL");
    if (propertyName == nullptr) throw std::invalid_argument("propertyName argument was NULL");

    MainLoopWatchdog watchdog(publisher, propertyName);
    // An emptied wrapper sends a null array, which the bus treats as a read.
    ZumiHasharrayHandleStruct* reply = nullptr;
    ZumiStatus status = ZumiAccessHasharrayProperty(m_handler->getUnderlyingZumiHandle(),
                                                    publisher, propertyName, m_hashArray, &reply);

    // The reply is ours whatever the status: wrap it first, so that it is
    // released with the wrapper when the failure below is thrown.
    std::shared_ptr<ZumiHashListArray> result = adoptHashArray(m_handler, reply);

    if (status != ZUMI_OK) {
        throw hashAccessFailure(publisher, propertyName, status);
    }

    if (destroyAfterPublish) {
        if (m_hashArray != nullptr) ZumiHasharrayDestroy(m_hashArray);
        m_hashArray = nullptr;
        m_hashes.clear();
    } else {
        replaceSentArrayByClone();
    }
    return result;
}

void VimoZumiHashListArrayPrivate::replaceSentArrayByClone() {
    ZumiHasharrayHandleStruct* clone = ZumiHasharrayClone(m_hashArray);
    if (clone == nullptr) {
        // Not worth failing a publish that reached the service: the array
        // stays readable, and the next successful publish or an assignment
        // makes it writable again.
        logLine(LogLevel::W, "VimoZumiHashListArrayPrivate.publishSynchronously",
                "W %s:%s:ZumiHasharrayClone returned NULL after publishing it. The current hash "
                "array has become read-only!:");
        return;
    }
    if (m_hashArray != nullptr) ZumiHasharrayDestroy(m_hashArray);
    m_hashArray = clone;  // the proxies follow through their pointer to this field
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
