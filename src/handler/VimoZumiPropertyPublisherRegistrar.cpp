#include "handler/VimoZumiPropertyPublisherRegistrar.h"

#include "util/AutoLock.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::AutoLock;

template <typename PropertyType>
VimoZumiPropertyPublisherRegistrar<PropertyType>::VimoZumiPropertyPublisherRegistrar() {
    // Recursive, so that a publisher destroyed inside removePropertyPublisher
    // may unpublish other names of this registry on the same thread.
    util::initRecursiveMutex(m_registrarMutex);
}

template <typename PropertyType>
VimoZumiPropertyPublisherRegistrar<PropertyType>::~VimoZumiPropertyPublisherRegistrar() {
    // The mutex goes first, then the map with the publishers still registered.
    pthread_mutex_destroy(&m_registrarMutex);
}

template <typename PropertyType>
bool VimoZumiPropertyPublisherRegistrar<PropertyType>::addPropertyPublisher(
    const char* name, PublisherPtr& publisher) {
    AutoLock lock(m_registrarMutex);
    return m_publishers.emplace(name, publisher).second;
}

template <typename PropertyType>
typename VimoZumiPropertyPublisherRegistrar<PropertyType>::PublisherPtr
VimoZumiPropertyPublisherRegistrar<PropertyType>::getStrongReference(const char* name) const {
    if (name == nullptr) {
        return PublisherPtr();
    }
    AutoLock lock(m_registrarMutex);
    auto entry = m_publishers.find(name);
    return entry == m_publishers.end() ? PublisherPtr() : entry->second;
}

template <typename PropertyType>
bool VimoZumiPropertyPublisherRegistrar<PropertyType>::removePropertyPublisher(
    const char* name, const Publisher* expected) {
    if (name == nullptr) {
        return false;
    }
    AutoLock lock(m_registrarMutex);
    auto entry = m_publishers.find(name);
    if (entry == m_publishers.end() || (expected != nullptr && entry->second.get() != expected)) {
        return false;
    }
    // The entry leaves the map before the publisher can be destroyed, so a
    // destructor that re-enters this registry finds the map consistent.
    PublisherPtr removed = std::move(entry->second);
    m_publishers.erase(entry);
    removed.reset();
    return true;
}

template class VimoZumiPropertyPublisherRegistrar<int>;
template class VimoZumiPropertyPublisherRegistrar<const char*>;
template class VimoZumiPropertyPublisherRegistrar<ZumiHasharrayHandleStruct*>;

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
