#ifndef ZUMI_HANDLER_VIMOZUMIPROPERTYPUBLISHERREGISTRAR_H
#define ZUMI_HANDLER_VIMOZUMIPROPERTYPUBLISHERREGISTRAR_H

#include <pthread.h>

#include <memory>
#include <string>
#include <unordered_map>

#include <zumi/ZumiHandler.h>

namespace veltra {
namespace kesh {
namespace zumi {

// The publishers of one value type on one handler, by property name. The
// registry, not the handler, is the user data of the bus callbacks, so a
// callback needs nothing else to find its publisher.
//
// Threads: application threads publish and unpublish; the bus library's
// callback thread looks publishers up. Locks: m_registrarMutex (recursive),
// held only inside the operations below, never while a publisher, the
// bus library or syslog is called - except that a publisher whose last
// reference the registry held is destroyed inside removePropertyPublisher
// with the mutex held, and may call back into this registry from there.
//
// Destruction must not overlap any other operation; the handler guarantees
// it by closing its connection (no more callbacks) before destroying its
// registries.
template <typename PropertyType>
class VimoZumiPropertyPublisherRegistrar {
public:
    typedef ZumiHandler::ZumiPropertyPublisher<PropertyType> Publisher;
    typedef std::shared_ptr<Publisher> PublisherPtr;

    VimoZumiPropertyPublisherRegistrar();
    ~VimoZumiPropertyPublisherRegistrar();
    VimoZumiPropertyPublisherRegistrar(const VimoZumiPropertyPublisherRegistrar&) = delete;
    VimoZumiPropertyPublisherRegistrar& operator=(const VimoZumiPropertyPublisherRegistrar&) = delete;

    // Inserts publisher under name unless the name is taken; false then, and
    // the standing publisher stays.
    bool addPropertyPublisher(const char* name, PublisherPtr& publisher);
    // One more strong reference to the publisher of name, or empty.
    PublisherPtr getStrongReference(const char* name) const;
    // Erases the entry of name; with `expected`, only if that is the
    // publisher it holds. True when an entry was erased.
    bool removePropertyPublisher(const char* name, const Publisher* expected = nullptr);

private:
    mutable pthread_mutex_t m_registrarMutex;
    std::unordered_map<std::string, PublisherPtr> m_publishers;
};

extern template class VimoZumiPropertyPublisherRegistrar<int>;
extern template class VimoZumiPropertyPublisherRegistrar<const char*>;
extern template class VimoZumiPropertyPublisherRegistrar<ZumiHasharrayHandleStruct*>;

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
