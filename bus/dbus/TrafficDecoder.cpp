#include "dbus/TrafficDecoder.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <fstream>

#include "dbus/BusNames.h"
#include "dbus/CallerPool.h"
#include "dbus/StandardProperties.h"
#include "dbus/WireFormat.h"

namespace zumi {
namespace bus {

namespace {

struct Member {
    const char* name;
    int kind;
    int type;
};
// AccessHash is a read or a write depending on its "send" argument.
const Member kMembers[] = {
    {"GetInt", ZUMI_TRAFFIC_GET, ZUMI_TYPE_INT},
    {"SetInt", ZUMI_TRAFFIC_SET, ZUMI_TYPE_INT},
    {"GetString", ZUMI_TRAFFIC_GET, ZUMI_TYPE_STRING},
    {"SetString", ZUMI_TRAFFIC_SET, ZUMI_TYPE_STRING},
    {"AccessHash", ZUMI_TRAFFIC_GET, ZUMI_TYPE_HASHARRAY},
    {"List", ZUMI_TRAFFIC_LIST, -1},
};

bool readBytes(sd_bus_message* message, std::string* out) {
    const void* data = nullptr;
    size_t size = 0;
    if (sd_bus_message_read_array(message, 'y', &data, &size) < 0) return false;
    out->assign(static_cast<const char*>(data), size);
    return true;
}

std::unique_ptr<HashArray> readArray(sd_bus_message* message) {
    std::unique_ptr<HashArray> array(new HashArray());
    if (readHashArray(message, array.get()) != ZUMI_OK) return nullptr;
    return array;
}

// std::to_string would leave a template's static data among libzumi's
// exported symbols.
std::string decimal(pid_t pid) {
    char text[16];
    snprintf(text, sizeof text, "%d", static_cast<int>(pid));
    return text;
}

std::string programName(pid_t pid) {
    std::ifstream comm("/proc/" + decimal(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

}  // namespace

void TrafficRecord::seal() {
    view.caller = caller.c_str();
    view.service = service.c_str();
    view.name = name.c_str();
    view.text = text.c_str();
    view.array = array.get();
    view.reply = reply.get();
    view.ints = ints.data();
    view.intCount = ints.size();
    stringViews.clear();
    for (const std::string& s : strings) stringViews.push_back(s.c_str());
    view.strings = stringViews.data();
    view.stringCount = stringViews.size();
}

TrafficDecoder::TrafficDecoder(PidLookup lookup, uint64_t expiryUsec)
    : m_lookup(std::move(lookup)), m_expiryUsec(expiryUsec) {}

void TrafficDecoder::setOwner(const std::string& name, const std::string& owner) {
    m_owners[name] = owner;
}

void TrafficDecoder::feed(sd_bus_message* message, uint64_t monotonicUsec, int64_t realtimeUsec) {
    uint8_t type = 0;
    if (sd_bus_message_get_type(message, &type) < 0) return;
    const char* path = sd_bus_message_get_path(message);
    const char* interface = sd_bus_message_get_interface(message);
    const bool onObject = path != nullptr && interface != nullptr && strcmp(path, kObjectPath) == 0;
    const bool ours = onObject && strcmp(interface, kInterface) == 0;
    if (type == SD_BUS_MESSAGE_METHOD_CALL && (ours || (onObject && strcmp(interface, kPropertiesInterface) == 0))) {
        request(message, monotonicUsec, realtimeUsec);
    } else if (type == SD_BUS_MESSAGE_METHOD_RETURN || type == SD_BUS_MESSAGE_METHOD_ERROR) {
        answer(message, monotonicUsec);
    } else if (type == SD_BUS_MESSAGE_SIGNAL && ours &&
               sd_bus_message_is_signal(message, kInterface, kEventMember) > 0) {
        event(message, realtimeUsec);
    } else if (type == SD_BUS_MESSAGE_SIGNAL &&
               sd_bus_message_is_signal(message, kDaemon, "NameOwnerChanged") > 0) {
        const char* sender = sd_bus_message_get_sender(message);
        if (sender != nullptr && strcmp(sender, kDaemon) == 0) ownerChanged(message, realtimeUsec);
    }
}

std::unique_ptr<TrafficRecord> TrafficDecoder::start(int kind, const std::string& sender,
                                                     int64_t realtimeUsec) {
    std::unique_ptr<TrafficRecord> record(new TrafficRecord());
    record->view.kind = kind;
    record->view.timeUsec = realtimeUsec;
    record->view.latencyUsec = -1;
    record->view.type = -1;
    pid_t pid = 0;
    record->caller = describe(sender, &pid);
    record->view.callerPid = pid;
    return record;
}

void TrafficDecoder::request(sd_bus_message* message, uint64_t monotonicUsec, int64_t realtimeUsec) {
    const char* member = sd_bus_message_get_member(message);
    const char* sender = sd_bus_message_get_sender(message);
    const char* destination = sd_bus_message_get_destination(message);
    uint64_t cookie = 0;
    if (member == nullptr || sender == nullptr || destination == nullptr ||
        sd_bus_message_get_cookie(message, &cookie) < 0) {
        return;
    }
    if (strcmp(sd_bus_message_get_interface(message), kPropertiesInterface) == 0) {
        std::unique_ptr<TrafficRecord> record = standardRequest(message, member, sender, realtimeUsec);
        if (!record) return;
        record->service = destination;
        hold(CallKey(sender, cookie), std::move(record), std::string(kStandardPrefix) + member, monotonicUsec);
        return;
    }
    const Member* known = nullptr;
    for (const Member& m : kMembers) {
        if (strcmp(m.name, member) == 0) known = &m;
    }
    if (known == nullptr) return;
    std::unique_ptr<TrafficRecord> record = start(known->kind, sender, realtimeUsec);
    record->service = destination;
    record->view.type = known->type;
    if (known->kind != ZUMI_TRAFFIC_LIST) {
        const char* name = nullptr;
        if (sd_bus_message_read(message, "s", &name) < 0) return;
        record->name = name;
    }
    bool ok = true;
    if (strcmp(member, "SetInt") == 0) {
        ok = sd_bus_message_read(message, "i", &record->view.intValue) >= 0;
        record->view.hasValue = 1;
    } else if (strcmp(member, "SetString") == 0) {
        ok = readBytes(message, &record->text);
        record->view.hasValue = 1;
    } else if (strcmp(member, "AccessHash") == 0) {
        int send = 0;
        ok = sd_bus_message_read(message, "b", &send) >= 0;
        if (ok && send) {
            record->view.kind = ZUMI_TRAFFIC_SET;
            record->array = readArray(message);
            record->view.hasValue = 1;
            ok = record->array != nullptr;
        }
    }
    if (!ok) return;  // the service refuses it; nothing in the library's terms to show
    hold(CallKey(sender, cookie), std::move(record), member, monotonicUsec);
}

void TrafficDecoder::hold(const CallKey& key, std::unique_ptr<TrafficRecord> record, const std::string& member,
                          uint64_t monotonicUsec) {
    Pending& pending = m_pending[key];
    pending.record = std::move(record);
    pending.member = member;
    pending.startUsec = monotonicUsec;
    m_arrivals.emplace_back(monotonicUsec, key);
}

void TrafficDecoder::answer(sd_bus_message* message, uint64_t monotonicUsec) {
    const char* destination = sd_bus_message_get_destination(message);
    uint64_t cookie = 0;
    if (destination == nullptr || sd_bus_message_get_reply_cookie(message, &cookie) < 0) return;
    auto found = m_pending.find(CallKey(destination, cookie));
    if (found == m_pending.end()) return;
    Pending pending = std::move(found->second);
    m_pending.erase(found);
    TrafficRecord& record = *pending.record;
    record.view.latencyUsec = static_cast<long long>(monotonicUsec - pending.startUsec);
    if (pending.member.compare(0, strlen(kStandardPrefix), kStandardPrefix) == 0) {
        standardAnswer(message, std::move(pending));
        return;
    }
    if (sd_bus_message_is_method_error(message, nullptr) > 0) {
        record.view.status =
            statusFromCallError(-sd_bus_message_get_errno(message), sd_bus_message_get_error(message), false);
        emit(std::move(pending.record));
        return;
    }
    static const std::map<std::string, const char*> kReplies = {
        {"GetInt", "ui"}, {"SetInt", "u"}, {"GetString", "uay"}, {"SetString", "u"},
        {"AccessHash", "ubaa{sv}"}, {"List", "a(siu)"}};
    uint32_t status = ZUMI_OK;
    if (!sd_bus_message_has_signature(message, kReplies.at(pending.member)) ||
        (pending.member != "List" && sd_bus_message_read(message, "u", &status) < 0)) {
        status = ZUMI_ERR_PROTOCOL;
    } else if (status == ZUMI_OK && pending.member == "GetInt") {
        record.view.hasValue = sd_bus_message_read(message, "i", &record.view.intValue) >= 0;
    } else if (status == ZUMI_OK && pending.member == "GetString") {
        record.view.hasValue = readBytes(message, &record.text);
    } else if (pending.member == "AccessHash") {
        // The service's reply comes with any status.
        int hasReply = 0;
        if (sd_bus_message_read(message, "b", &hasReply) >= 0 && hasReply) {
            std::unique_ptr<HashArray> reply = readArray(message);
            if (record.view.kind == ZUMI_TRAFFIC_SET) {
                record.reply = std::move(reply);
            } else {
                record.array = std::move(reply);
                record.view.hasValue = status == ZUMI_OK && record.array != nullptr;
            }
        }
    }
    record.view.status = status;
    learnType(record);
    emit(std::move(pending.record));
}

void TrafficDecoder::event(sd_bus_message* message, int64_t realtimeUsec) {
    const char* sender = sd_bus_message_get_sender(message);
    const char* source = nullptr;
    const char* name = nullptr;
    EventParams params;
    if (sender == nullptr || !sd_bus_message_has_signature(message, "ssaias") ||
        sd_bus_message_read(message, "ss", &source, &name) < 0 ||
        readEventParams(message, &params) != ZUMI_OK) {
        return;  // subscribers drop it too
    }
    std::unique_ptr<TrafficRecord> record = start(ZUMI_TRAFFIC_EVENT, sender, realtimeUsec);
    record->service = source;
    record->name = name;
    record->ints = std::move(params.ints);
    record->strings = std::move(params.texts);
    auto owner = m_owners.find(source);
    record->view.spoofed = owner == m_owners.end() || owner->second != sender;
    emit(std::move(record));
}

void TrafficDecoder::ownerChanged(sd_bus_message* message, int64_t realtimeUsec) {
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return;
    if (name[0] == ':') {
        // A new connection: learn its process now, while it surely lives.
        if (newOwner[0] != '\0') {
            m_pids[name] = m_lookup(name);
        } else {
            m_pids.erase(name);
        }
        return;
    }
    if (!isOwnableBusName(name)) return;
    if (newOwner[0] == '\0') {
        std::unique_ptr<TrafficRecord> record = start(ZUMI_TRAFFIC_SERVICE_DOWN, oldOwner, realtimeUsec);
        record->service = name;
        emit(std::move(record));
        m_owners.erase(name);
        // Published anew, a name may come back as the other type.
        m_types.erase(m_types.lower_bound(PropertyKey(name, "")),
                      m_types.lower_bound(PropertyKey(std::string(name) + '\0', "")));
        return;
    }
    m_owners[name] = newOwner;
    std::unique_ptr<TrafficRecord> record = start(ZUMI_TRAFFIC_SERVICE_UP, newOwner, realtimeUsec);
    record->service = name;
    emit(std::move(record));
}

pid_t TrafficDecoder::pidOf(const std::string& unique) {
    auto found = m_pids.find(unique);
    if (found != m_pids.end()) return found->second;
    pid_t pid = m_lookup(unique);
    m_pids[unique] = pid;  // a connection that is gone stays unknown
    return pid;
}

std::string TrafficDecoder::describe(const std::string& unique, pid_t* pid) {
    *pid = unique.empty() || unique[0] != ':' ? 0 : pidOf(unique);
    std::string services;
    for (const auto& owned : m_owners) {
        if (owned.second != unique && (*pid == 0 || pidOf(owned.second) != *pid)) continue;
        services += (services.empty() ? "" : ",") + owned.first;
    }
    if (!services.empty()) return services;
    if (*pid == 0) return unique;
    std::string program = programName(*pid);
    return (program.empty() ? std::string("pid") : program) + "[" + decimal(*pid) + "]";
}

void TrafficDecoder::expire(uint64_t monotonicUsec) {
    while (!m_arrivals.empty() && monotonicUsec - m_arrivals.front().first >= m_expiryUsec) {
        auto found = m_pending.find(m_arrivals.front().second);
        // Answered long ago, or a newer request that reused the key.
        if (found != m_pending.end() && found->second.startUsec == m_arrivals.front().first) {
            TrafficRecord& record = *found->second.record;
            record.view.status = ZUMI_ERR_TIMEOUT;
            if (record.view.type < 0 && record.view.kind != ZUMI_TRAFFIC_LIST) record.view.type = typeOf(record);
            emit(std::move(found->second.record));
            m_pending.erase(found);
        }
        m_arrivals.pop_front();
    }
}

uint64_t TrafficDecoder::nextExpiry() const {
    return m_arrivals.empty() ? UINT64_MAX : m_arrivals.front().first + m_expiryUsec;
}

void TrafficDecoder::emit(std::unique_ptr<TrafficRecord> record) {
    record->seal();
    m_ready.push_back(std::move(record));
}

bool TrafficDecoder::pop(std::unique_ptr<TrafficRecord>* out) {
    if (m_ready.empty()) return false;
    *out = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

}  // namespace bus
}  // namespace zumi
