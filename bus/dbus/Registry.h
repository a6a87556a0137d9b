#ifndef ZUMI_BUS_DBUS_REGISTRY_H
#define ZUMI_BUS_DBUS_REGISTRY_H

// The process-wide table of open connections: which handles are live, and
// which service identifiers this process serves.
//
// Several connections of one process may open the same identifier. The first
// owns the bus name; the others wait in the daemon's queue for it (the
// process never queues for a name that another process owns when it opens),
// so that when the owner closes, the next one takes over without a gap. A
// request for the identifier is served from the properties of all of them,
// and an event for it is sent from whichever currently owns the name. After
// the daemon restarted, another process may own the name first: the
// connections then queue for it, and meanwhile the identifier's properties
// answer ZUMI_ERR_NAME_TAKEN to this process.
//
// A get or set for an identifier that this process serves never goes through
// the daemon: it is handed to the dispatch thread of the connection that owns
// the name, or runs inline when made from a dispatch thread (PropertyCalls.h),
// which is what lets a callback read its own service's properties without
// deadlock.
//
// Threads: any. One read-write lock, m_lock: shared by the lookups that every
// call makes, exclusive to open and close. Taken before any connection's
// locks; never held while a callback runs.

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dbus/Connection.h"
#include "dbus/WriterFirstMutex.h"

namespace zumi {
namespace bus {

class Registry {
public:
    static Registry& instance();

    // Opens a connection for serviceId, owning or sharing its name.
    ZumiStatus open(const char* serviceId, std::shared_ptr<Connection>* out);
    // Forgets the handle and its name; null if it was not open.
    std::shared_ptr<Connection> close(ZumiHandle handle);
    std::shared_ptr<Connection> find(ZumiHandle handle);
    // The connection of this process that owns the name `service` (or, while
    // the daemon is away, the first that did), whose dispatch thread serves
    // it; null if this process does not serve it.
    std::shared_ptr<Connection> server(const std::string& service);
    // Whether a connection of this process owns the name now.
    bool ownedInProcess(const std::string& service);

    // Whether this process serves `service`; if so, looks the property up
    // across its connections. *status: ZUMI_OK with *entry filled and the
    // callback counted in flight, ZUMI_ERR_NO_SUCH_PROPERTY, or
    // ZUMI_ERR_NAME_TAKEN while another process owns the name.
    bool findLocal(const std::string& service, const std::string& property, int type,
                   PropertyEntry* entry, CallbackScope* scope, ZumiStatus* status);
    // All properties of a service this process serves, by name and then type;
    // false if it serves none.
    bool listLocal(const std::string& service,
                   std::vector<std::pair<std::string, PropertyEntry>>* out);
    std::vector<std::string> localServices();

    ZumiStatus sendEvent(const std::string& service, const std::string& event,
                         const EventParamsView& params);

private:
    Registry();
    struct Name {
        std::vector<std::shared_ptr<Connection>> connections;  // in the order they opened
        // The owner if there is one, else the first; null when empty.
        Connection* serving() const;
    };

    WriterFirstMutex m_lock;
    std::unordered_map<ZumiHandle, std::shared_ptr<Connection>> m_handles;
    std::map<std::string, Name> m_names;
};

}  // namespace bus
}  // namespace zumi

#endif
