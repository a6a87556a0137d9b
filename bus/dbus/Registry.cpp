#include "dbus/Registry.h"

#include <algorithm>

#include "dbus/BusNames.h"
#include "util/AutoLock.h"

using veltra::kesh::util::AutoLock;

namespace zumi {
namespace bus {

Registry& Registry::instance() {
    // Never destroyed: connections may still be closed from static
    // destructors of the application.
    static Registry* registry = new Registry();
    return *registry;
}

Registry::Registry() { pthread_mutex_init(&m_lock, nullptr); }

ZumiStatus Registry::open(const char* serviceId, std::shared_ptr<Connection>* out) {
    if (serviceId == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    const bool named = *serviceId != '\0';
    if (named && !isOwnableBusName(serviceId)) return ZUMI_ERR_INVALID_NAME;
    std::shared_ptr<Connection> connection;
    ZumiStatus status = Connection::create(serviceId, &connection);
    if (status != ZUMI_OK) return status;
    {
        AutoLock lock(m_lock);
        if (named) {
            // A name this process already serves is shared: queue behind our
            // own owner. Any other name must be free.
            auto found = m_names.find(serviceId);
            const bool ours = found != m_names.end() && !found->second.connections.empty();
            bool primary = false;
            status = connection->requestName(ours, &primary);
            if (status == ZUMI_OK) m_names[serviceId].connections.push_back(connection);
        }
        if (status == ZUMI_OK) m_handles[connection->handle()] = connection;
    }
    if (status != ZUMI_OK) {
        connection->shutdown();
        return status;
    }
    *out = std::move(connection);
    return ZUMI_OK;
}

std::shared_ptr<Connection> Registry::close(ZumiHandle handle) {
    AutoLock lock(m_lock);
    auto found = m_handles.find(handle);
    if (found == m_handles.end()) return nullptr;
    std::shared_ptr<Connection> connection = std::move(found->second);
    m_handles.erase(found);
    auto name = m_names.find(connection->serviceId());
    if (name != m_names.end()) {
        auto& list = name->second.connections;
        list.erase(std::remove(list.begin(), list.end(), connection), list.end());
        // Under the lock, so that no event is sent from a connection that
        // is about to lose the name.
        connection->releaseName();
        if (list.empty()) m_names.erase(name);
    }
    return connection;
}

std::shared_ptr<Connection> Registry::find(ZumiHandle handle) {
    AutoLock lock(m_lock);
    auto found = m_handles.find(handle);
    return found == m_handles.end() ? nullptr : found->second;
}

std::shared_ptr<Connection> Registry::server(const std::string& service) {
    AutoLock lock(m_lock);
    auto found = m_names.find(service);
    if (found == m_names.end() || found->second.connections.empty()) return nullptr;
    return found->second.connections.front();  // the others wait in the queue
}

bool Registry::findLocal(const std::string& service, const std::string& property, int type,
                         PropertyEntry* entry, CallbackScope* scope, ZumiStatus* status) {
    AutoLock lock(m_lock);
    auto found = m_names.find(service);
    if (found == m_names.end()) return false;
    for (const auto& connection : found->second.connections) {
        if (connection->beginCallback(property, type, entry, scope) == ZUMI_OK) {
            *status = ZUMI_OK;
            return true;
        }
    }
    *status = ZUMI_ERR_NO_SUCH_PROPERTY;
    return true;
}

bool Registry::listLocal(const std::string& service,
                         std::vector<std::pair<std::string, PropertyEntry>>* out) {
    AutoLock lock(m_lock);
    auto found = m_names.find(service);
    if (found == m_names.end()) return false;
    for (const auto& connection : found->second.connections) connection->listProperties(out);
    return true;
}

std::vector<std::string> Registry::localServices() {
    AutoLock lock(m_lock);
    std::vector<std::string> names;
    for (const auto& entry : m_names) names.push_back(entry.first);
    return names;
}

ZumiStatus Registry::sendEvent(const std::string& service, const std::string& event,
                               const std::vector<uint8_t>& params) {
    // Not under m_lock: a send may wait for its connection's queue to drain.
    std::shared_ptr<Connection> owner = server(service);
    if (!owner) return ZUMI_ERR_DISCONNECTED;
    return owner->emitEvent(event, params);
}

}  // namespace bus
}  // namespace zumi
