// The application-facing face of the in-process fake bus: it speaks in
// services, properties and values, and leaves every answer to FakeBusCore,
// so that the library's own unit tests and applications' tests run on the
// same fake.

#include <zumi/testing/FakeBus.h>

#include <glib.h>

#include <cstdarg>
#include <mutex>
#include <sstream>

#include "FakeAnswers.h"
#include "FakeBusCore.h"
#include "FakeHandles.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {
namespace testing {

namespace {

using Core = ::zumi::testing::FakeBusCore;
using CoreHash = ZumiHasharrayHandleStruct::Hash;
Core& core() { return Core::instance(); }

std::mutex g_logMutex;
std::vector<std::string> g_logLines;

void captureLine(int, const char* format, va_list args) {
    gchar* text = g_strdup_vprintf(format, args);
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logLines.emplace_back(text);
    g_free(text);
}

std::vector<CoreHash> toCore(const HashList& list) {
    std::vector<CoreHash> hashes;
    for (const Hash& hash : list) {
        CoreHash entry;
        for (const auto& field : hash) {
            ZumiHasharrayHandleStruct::Value value;
            value.isString = field.second.index() == 1;
            if (value.isString) {
                value.text = std::get<std::string>(field.second);
            } else {
                value.number = std::get<int>(field.second);
            }
            entry[field.first] = value;
        }
        hashes.push_back(entry);
    }
    return hashes;
}

HashList fromCore(const std::vector<CoreHash>& hashes) {
    HashList list;
    for (const CoreHash& entry : hashes) {
        Hash hash;
        for (const auto& field : entry) {
            if (field.second.isString) {
                hash[field.first] = field.second.text;
            } else {
                hash[field.first] = field.second.number;
            }
        }
        list.push_back(hash);
    }
    return list;
}

const char* functionOf(Operation operation) {
    switch (operation) {
        case Operation::Open: return "ZumiOpenEx";
        case Operation::Close: return "ZumiClose";
        case Operation::GetInt: return "ZumiGetIntProperty";
        case Operation::GetString: return "ZumiGetStringProperty";
        case Operation::SetInt: return "ZumiSetIntProperty";
        case Operation::SetString: return "ZumiSetStringProperty";
        case Operation::AccessHashArray: return "ZumiAccessHasharrayProperty";
        case Operation::SendEvent: return "ZumiCreateAndSendEvent";
        case Operation::Subscribe: return "ZumiSubscribeExt";
        case Operation::Unsubscribe: return "ZumiUnsubscribeExt";
        case Operation::PublishInt: return "ZumiRegisterIntProperty";
        case Operation::PublishString: return "ZumiRegisterStringProperty";
        case Operation::PublishHashArray: return "ZumiRegisterHasharrayPropertyEx";
        case Operation::Unpublish: return "ZumiUnregisterPropertyOfType";
        case Operation::NewHashArray: return "ZumiHasharrayNew";
    }
    return "";
}

// Runs the default main context until `done` holds or the time is up. A
// ticking source bounds each blocking iteration, so that `done` is looked at
// again even when nothing else is dispatched.
bool iterateUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    guint tick = g_timeout_add(2, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool result = done();
    while (!result && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        result = done();
    }
    g_source_remove(tick);
    return result;
}

}  // namespace

bool Leaks::none() const {
    return connections.empty() && hashArrays == 0 && strings == 0 && invalidFrees == 0;
}

std::string Leaks::text() const {
    std::ostringstream out;
    if (!connections.empty()) {
        out << connections.size() << " connection(s) still open:";
        for (const std::string& id : connections) out << " \"" << id << "\"";
        out << "\n";
    }
    if (hashArrays != 0) out << hashArrays << " hash array(s) not destroyed\n";
    if (strings != 0) out << strings << " string(s) not freed\n";
    if (invalidFrees != 0) out << invalidFrees << " release(s) of what was not handed out\n";
    return out.str();
}

FakeProperty::FakeProperty(std::string service, std::string name, int type)
    : m_service(std::move(service)), m_name(std::move(name)), m_type(type) {}

namespace {

Core::RemoteProperty read(const std::string& service, const std::string& name, int type) {
    Core::RemoteProperty property;
    core().remote(service, name, type, &property);
    return property;
}

}  // namespace

namespace {

void declare(const std::string& service, const std::string& name, int type,
             const std::function<void(Core::RemoteProperty&)>& change) {
    core().declareRemote(service, name, type, change);
}

}  // namespace

FakeProperty& FakeProperty::access(Access access) {
    declare(m_service, m_name, m_type, [&](Core::RemoteProperty& p) { p.access = static_cast<unsigned>(access); });
    return *this;
}

FakeProperty& FakeProperty::status(ZumiStatus status) {
    declare(m_service, m_name, m_type, [&](Core::RemoteProperty& p) { p.status = status; });
    return *this;
}

FakeProperty& FakeProperty::delay(std::chrono::milliseconds delay) {
    declare(m_service, m_name, m_type, [&](Core::RemoteProperty& p) { p.delay = delay; });
    return *this;
}

FakeProperty& FakeProperty::value(int value) {
    declare(m_service, m_name, m_type, [&](Core::RemoteProperty& p) { p.number = value; });
    return *this;
}

FakeProperty& FakeProperty::value(const std::string& value) {
    declare(m_service, m_name, m_type, [&](Core::RemoteProperty& p) { p.text = value; });
    return *this;
}

FakeProperty& FakeProperty::value(const HashList& value) {
    declare(m_service, m_name, m_type, [&](Core::RemoteProperty& p) { p.hashes = toCore(value); });
    return *this;
}

int FakeProperty::intValue() const { return read(m_service, m_name, m_type).number; }
std::string FakeProperty::stringValue() const { return read(m_service, m_name, m_type).text; }
HashList FakeProperty::hashValue() const { return fromCore(read(m_service, m_name, m_type).hashes); }
std::vector<int> FakeProperty::intWrites() const { return read(m_service, m_name, m_type).intWrites; }
std::vector<std::string> FakeProperty::stringWrites() const {
    return read(m_service, m_name, m_type).stringWrites;
}
std::vector<HashList> FakeProperty::hashWrites() const {
    std::vector<HashList> writes;
    for (const auto& hashes : read(m_service, m_name, m_type).hashWrites) writes.push_back(fromCore(hashes));
    return writes;
}
std::size_t FakeProperty::reads() const { return read(m_service, m_name, m_type).reads; }

FakeProperty FakeService::intProperty(const std::string& name, int value) {
    return FakeProperty(m_id, name, ZUMI_TYPE_INT).value(value);
}

FakeProperty FakeService::stringProperty(const std::string& name, const std::string& value) {
    return FakeProperty(m_id, name, ZUMI_TYPE_STRING).value(value);
}

FakeProperty FakeService::hashProperty(const std::string& name, const HashList& value) {
    return FakeProperty(m_id, name, ZUMI_TYPE_HASHARRAY).value(value);
}

int FakeService::emit(const std::string& event, const std::vector<int>& ints,
                      const std::vector<std::string>& strings) {
    return core().emit(m_id.c_str(), event.c_str(), ints, strings);
}

struct FakeBus::State {
    unsigned savedMask = 0;
};

FakeBus::FakeBus() : m_state(new State) {
    core().reset();
    clearLog();
    m_state->savedMask = g_tessal_log_mask;
    g_tessal_log_mask = ZUMI_LOG_MASK_E | ZUMI_LOG_MASK_W | ZUMI_LOG_MASK_I | ZUMI_LOG_MASK_D;
    veltra::kesh::util::setLogSink(&captureLine);
}

FakeBus::~FakeBus() {
    veltra::kesh::util::setLogSink(nullptr);
    g_tessal_log_mask = m_state->savedMask;
}

FakeService FakeBus::remote(const std::string& service) { return FakeService(service); }

void FakeBus::failNext(Operation operation, ZumiStatus status, int times) {
    core().failNext(functionOf(operation), status, times);
}

namespace {

// The connection that publishes `name` of `type` as `service`, or null.
ZumiHandle publisher(const std::string& service, const std::string& name, int type) {
    return core().connectionOwning(service, name, type);
}

}  // namespace

ZumiStatus FakeBus::getPublished(const std::string& service, const std::string& name, int* value) {
    ZumiHandle owner = publisher(service, name, ZUMI_TYPE_INT);
    return owner ? core().invokeIntGetter(owner, name.c_str(), value) : ZumiStatus(ZUMI_ERR_NO_SUCH_PROPERTY);
}

ZumiStatus FakeBus::getPublished(const std::string& service, const std::string& name,
                                 std::string* value) {
    ZumiHandle owner = publisher(service, name, ZUMI_TYPE_STRING);
    return owner ? core().invokeStringGetter(owner, name.c_str(), value)
                 : ZumiStatus(ZUMI_ERR_NO_SUCH_PROPERTY);
}

ZumiStatus FakeBus::setPublished(const std::string& service, const std::string& name, int value) {
    ZumiHandle owner = publisher(service, name, ZUMI_TYPE_INT);
    return owner ? core().invokeIntSetter(owner, name.c_str(), value) : ZumiStatus(ZUMI_ERR_NO_SUCH_PROPERTY);
}

ZumiStatus FakeBus::setPublished(const std::string& service, const std::string& name,
                                 const std::string& value) {
    ZumiHandle owner = publisher(service, name, ZUMI_TYPE_STRING);
    return owner ? core().invokeStringSetter(owner, name.c_str(), value.c_str())
                 : ZumiStatus(ZUMI_ERR_NO_SUCH_PROPERTY);
}

ZumiStatus FakeBus::setPublished(const std::string& service, const std::string& name,
                                 const HashList& value) {
    ZumiHandle owner = publisher(service, name, ZUMI_TYPE_HASHARRAY);
    if (!owner) return ZUMI_ERR_NO_SUCH_PROPERTY;
    // Both arrays belong to the bus, as on the wire: tracked, an accessor
    // that destroys one shows up in leaks() as an invalid free.
    ZumiHasharrayHandleStruct* input = core().track(::zumi::bus::hashArrayNew());
    input->hashes = toCore(value);
    ZumiHasharrayHandleStruct* reply = core().track(::zumi::bus::hashArrayNew());
    const ZumiStatus status = core().invokeAccessor(owner, name.c_str(), input, reply);
    core().releaseArray(input);
    core().releaseArray(reply);
    return status;
}

bool FakeBus::isSubscribed(const std::string& source, const std::string& event) const {
    std::lock_guard<std::recursive_mutex> lock(core().m_mutex);
    for (const auto& entry : core().m_subscriptions) {
        if (std::get<1>(entry.first) == source && std::get<2>(entry.first) == event) return true;
    }
    return false;
}

std::vector<std::string> FakeBus::logLines() const {
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_logLines;
}

void FakeBus::clearLog() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logLines.clear();
}

Leaks FakeBus::leaks() const {
    Leaks leaks;
    leaks.hashArrays = core().liveArrays();
    leaks.strings = core().liveStrings();
    leaks.invalidFrees = core().invalidFrees();
    std::lock_guard<std::recursive_mutex> lock(core().m_mutex);
    for (const auto& entry : core().m_open) {
        if (entry.second == core().m_generation) leaks.connections.push_back(entry.first->id);
    }
    return leaks;
}

bool FakeBus::runUntilIdle(std::chrono::milliseconds limit) {
    return iterateUntil(
        [] {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            return ::zumi::testing::FakeAnswers::instance().inFlight() == 0 && !g_main_context_pending(nullptr);
        },
        limit);
}

bool FakeBus::runUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    return iterateUntil(done, deadline);
}

}  // namespace testing
}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
