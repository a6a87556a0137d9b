#ifndef ZUMI_HANDLER_VIMOZUMIHANDLER_H
#define ZUMI_HANDLER_VIMOZUMIHANDLER_H

#include <memory>
#include <string>

#include <zumi/ZumiHandler.h>

#include "events/VimoSystemEventManager.h"
#include "util/NotCopyable.h"

namespace veltra {
namespace kesh {
namespace zumi {

class VimoZumiHandlerPrivate;

// The handler over one bus connection, opened by the constructor and closed
// by the destructor. Applications normally get it from ZumiHandlerFactory.
//
// Threads: any application thread; remote operations block for one bus call
// and take no lock. A read of a property that a UI bridge of this process
// serves throws at once where the library knows this thread holds the GDK
// lock that the bridge needs (it takes the factory's map lock, then the
// registry's, briefly, to find that out). Publishers are called back on the bus library's thread
// through the callbacks in PropertyCallbacks.h. Locks: none of its own; the
// registries and the event manager guard themselves. Destruction must not
// overlap any other use (the factory's shared ownership ensures it).
//
// Construction: the event manager, then the private object (identifier,
// registries, connection). Destruction: the private object first (closing the
// connection, then releasing the publishers), then the event manager, which
// must outlive the connection's last callback.
class VimoZumiHandler : public ZumiHandler, private veltra::bramwick::util::NotCopyable {
public:
    // Throws std::invalid_argument "zumiID argument was NULL" for null, and
    // ZumiException when the connection cannot be opened.
    explicit VimoZumiHandler(const char* zumiID);
    ~VimoZumiHandler() override;

    const char* getID() const override;

    std::string getStringProperty(const char* source, const char* property) const override;
    int getIntProperty(const char* source, const char* property) const override;
    void getHashProperty(const char* source, const char* property,
                         ZumiHasharrayHandleStruct*& result) const override;
    // A failed set on "com.tessal.nimbo" is retried once on
    // "com.tessal.titlerail", with an E line either way.
    void setStringProperty(const char* source, const char* property, const char* value) override;
    void setIntProperty(const char* source, const char* property, int value) override;

    void publishStringProperty(
        const char* propertyName,
        std::shared_ptr<ZumiPropertyPublisher<const char*>>& publisher) override;
    void unpublishStringProperty(const char* propertyName) override;
    void publishIntegerProperty(const char* propertyName,
                                std::shared_ptr<ZumiPropertyPublisher<int>>& publisher) override;
    void unpublishIntegerProperty(const char* propertyName) override;
    void publishHasharrayProperty(
        const char* propertyName,
        std::shared_ptr<ZumiPropertyPublisher<ZumiHasharrayHandleStruct*>>& publisher) override;
    void unpublishHasharrayProperty(const char* propertyName) override;

    void subscribe(const char* source, const char* event,
                   const SystemEventListener* listener) override;
    bool unsubscribe(const char* source, const char* event,
                     const SystemEventListener* listener) override;

    void sendEvent(const char* eventName) override;

    std::shared_ptr<ZumiHashListArray> createNewHashArray() override;

    ZumiHandleStruct* getUnderlyingZumiHandle() const override;

    // Whether a UI bridge publishes name here as PropertyType: its reads
    // need the GDK lock on the bus thread.
    template <typename PropertyType>
    bool publishesThroughBridge(const char* name) const;

    // Undoes one publication of `publisher` under propertyName, for a caller
    // rolling back after a failed publish: nothing happens unless `publisher`
    // is the one registered under the name in its type's registry (a repeat
    // publication was discarded, so another publisher's name is left alone).
    // The bus registration is withdrawn too only when `onBus`, that is when
    // the publish returned: a publish that threw left no registration on the
    // bus, so there is nothing to withdraw and nothing to warn about.
    template <typename PropertyType>
    void withdrawPublication(const char* propertyName,
                             const ZumiPropertyPublisher<PropertyType>* publisher, bool onBus);

private:
    // Never throws for a bus failure; logs a W line instead.
    template <typename PropertyType>
    void unpublish(const char* propertyName);
    template <typename PropertyType>
    void unregisterFromBus(const char* propertyName);

    // Set in the constructor's body, not its initialiser list, and reset
    // first in the destructor's body: the private object is built after and
    // destroyed before every later field.
    std::unique_ptr<VimoZumiHandlerPrivate> m_private;
    // Serves subscribe/unsubscribe. Built before the connection is opened and
    // destroyed after it is closed, so no event callback can reach it dead.
    VimoSystemEventManager m_eventManager;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
