#include <zumi/VimoZumiHashListArray.h>

#include <memory>
#include <stdexcept>
#include <utility>

#include <zumi/ZumiException.h>

#include "hasharray/VimoZumiHashListArrayPrivate.h"
#include "platform/ZumiBus.h"
#include "util/ExceptionMessage.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::LogLevel;
using util::logLine;

// Each constructor builds the private object first and stores an array in it
// only then, so whatever throws afterwards (the bus, an allocation) leaves no
// array behind, and the handler reference goes with the private object.

ZumiHashListArray::~ZumiHashListArray() = default;

VimoZumiHashListArray::VimoZumiHashListArray(const char* handlerId) : m_private(nullptr) {
    std::unique_ptr<VimoZumiHashListArrayPrivate> state(
        new VimoZumiHashListArrayPrivate(ZumiHandlerFactory::getZumiHandler(handlerId)));
    state->m_hashArray = ZumiHasharrayNew(state->m_handler->getUnderlyingZumiHandle());
    if (state->m_hashArray == nullptr) throw ZumiException("ZumiHasharrayNew returned NULL!");
    m_private = state.release();
}

VimoZumiHashListArray::VimoZumiHashListArray(ZumiHandlerSharedPtr handler,
                                             ZumiHasharrayHandleStruct* hashArray)
    : m_private(nullptr) {
    if (!handler) throw std::invalid_argument("handler argument was NULL!");
    if (hashArray == nullptr) throw std::invalid_argument("hashArray argument was NULL!");
    // Adopted only once nothing can throw any more: until then the caller
    // keeps the array.
    m_private = new VimoZumiHashListArrayPrivate(std::move(handler));
    m_private->m_hashArray = hashArray;
}

VimoZumiHashListArray::VimoZumiHashListArray(const VimoZumiHashListArray& other)
    : ZumiHashListArray(), m_private(nullptr) {
    std::unique_ptr<VimoZumiHashListArrayPrivate> state(
        new VimoZumiHashListArrayPrivate(other.m_private->m_handler));
    state->m_hashArray = cloneOrThrow(other.m_private->m_hashArray);
    m_private = state.release();
}

VimoZumiHashListArray& VimoZumiHashListArray::operator=(const VimoZumiHashListArray& other) {
    // Cloned before anything is released: a failed clone leaves this object
    // as it was, and assigning an object to itself still clones a live array.
    ZumiHasharrayHandleStruct* clone = cloneOrThrow(other.m_private->m_hashArray);
    if (m_private->m_hashArray != nullptr) ZumiHasharrayDestroy(m_private->m_hashArray);
    m_private->m_handler = other.m_private->m_handler;
    m_private->m_hashes.clear();
    m_private->m_hashArray = clone;
    return *this;
}

VimoZumiHashListArray::~VimoZumiHashListArray() { delete m_private; }

ZumiHashList& VimoZumiHashListArray::operator[](int index) {
    auto found = m_private->m_hashes.find(index);
    if (found == m_private->m_hashes.end()) {
        found = m_private->m_hashes
                    .emplace(index, VimoZumiHash(&m_private->m_hashArray, index))
                    .first;
    }
    return found->second;
}

int VimoZumiHashListArray::addNewHash() {
    int index = -1;
    ZumiStatus status = ZumiHasharrayAddHash(m_private->m_hashArray, &index);
    if (status != ZUMI_OK) {
        throw ZumiException(
            util::ExceptionMessage("ZumiHasharrayAddHash method failed.").status(status).str());
    }
    return index;
}

std::shared_ptr<ZumiHashListArray> VimoZumiHashListArray::publishSynchronously(
    const char* publisher, const char* propertyName, bool destroyAfterPublish) {
    return m_private->publishSynchronously(publisher, propertyName, destroyAfterPublish);
}

int VimoZumiHashListArray::length() const {
    int count = ZumiHasharrayGetHashCount(m_private->m_hashArray);
    if (count < 0) {
        logLine(LogLevel::W, "VimoZumiHashListArray.length",
                "W %s:%s:Length called on invalid hash array. Returning 0.:");
        return 0;
    }
    return count;
}

ZumiHandlerSharedPtr VimoZumiHashListArray::getZumiHandler() const { return m_private->m_handler; }

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
