#include "dbus/Registry.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>

#include "dbus/BusNames.h"

namespace zumi {
namespace bus {

Registry& Registry::instance() {
    // Never destroyed: connections may still be closed from static
    // destructors of the application.
    static Registry* registry = new Registry();
    return *registry;
}

// Writers first (WriterFirstMutex): a steady stream of calls must not keep
// ZumiOpenEx and ZumiClose waiting. No reader takes the lock twice on one thread.
Registry::Registry() = default;

ZumiStatus Registry::open(const char* serviceId, std::shared_ptr<Connection>* out) {
    if (serviceId == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    const bool named = *serviceId != '\0';
    if (named && !isOwnableBusName(serviceId)) return ZUMI_ERR_INVALID_NAME;
    std::shared_ptr<Connection> connection;
    ZumiStatus status = Connection::create(serviceId, &connection);
    if (status != ZUMI_OK) return status;
    {
        std::lock_guard<WriterFirstMutex> lock(m_lock);
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
    std::lock_guard<WriterFirstMutex> lock(m_lock);
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
    std::shared_lock<WriterFirstMutex> lock(m_lock);
    auto found = m_handles.find(handle);
    return found == m_handles.end() ? nullptr : found->second;
}

Connection* Registry::Name::serving() const {
    for (const auto& connection : connections) {
        if (connection->ownsName()) return connection.get();
    }
    return connections.empty() ? nullptr : connections.front().get();
}

std::shared_ptr<Connection> Registry::server(const std::string& service) {
    std::shared_lock<WriterFirstMutex> lock(m_lock);
    auto found = m_names.find(service);
    if (found == m_names.end()) return nullptr;
    Connection* serving = found->second.serving();
    return serving == nullptr ? nullptr : serving->shared_from_this();
}

bool Registry::ownedInProcess(const std::string& service) {
    std::shared_lock<WriterFirstMutex> lock(m_lock);
    auto found = m_names.find(service);
    if (found == m_names.end()) return false;
    const Connection* serving = found->second.serving();
    return serving != nullptr && serving->ownsName();
}

bool Registry::findLocal(const std::string& service, const std::string& property, int type,
                         PropertyEntry* entry, CallbackScope* scope, ZumiStatus* status) {
    std::shared_lock<WriterFirstMutex> lock(m_lock);
    auto found = m_names.find(service);
    if (found == m_names.end()) return false;
    Connection* serving = found->second.serving();
    if (serving != nullptr && serving->nameTakenElsewhere()) {
        *status = ZUMI_ERR_NAME_TAKEN;
        return true;
    }
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
    std::shared_lock<WriterFirstMutex> lock(m_lock);
    auto found = m_names.find(service);
    if (found == m_names.end()) return false;
    for (const auto& connection : found->second.connections) connection->listProperties(out);
    std::sort(out->begin(), out->end(), [](const std::pair<std::string, PropertyEntry>& a,
                                           const std::pair<std::string, PropertyEntry>& b) {
        return a.first != b.first ? a.first < b.first : a.second.type < b.second.type;
    });
    return true;
}

std::vector<std::string> Registry::localServices() {
    std::shared_lock<WriterFirstMutex> lock(m_lock);
    std::vector<std::string> names;
    for (const auto& entry : m_names) names.push_back(entry.first);
    return names;
}

ZumiStatus Registry::sendEvent(const std::string& service, const std::string& event,
                               const EventParamsView& params) {
    // Not under m_lock: a send may wait for its connection's queue to drain.
    std::shared_ptr<Connection> owner = server(service);
    if (!owner) return ZUMI_ERR_DISCONNECTED;
    return owner->emitEvent(event, params);
}

}  // namespace bus
}  // namespace zumi
