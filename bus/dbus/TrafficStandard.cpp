// The TrafficDecoder's reading of org.freedesktop.DBus.Properties on our
// object: what a generic client (busctl, gdbus, a binding's proxy) reads and
// writes, in the library's terms.

#include <string.h>

#include <vector>

#include "dbus/BusNames.h"
#include "dbus/CallerPool.h"
#include "dbus/StandardProperties.h"
#include "dbus/TrafficDecoder.h"

namespace zumi {
namespace bus {

namespace {

// A variant holding "i" or "s" as the record's type and value; false, with
// nothing read, for any other.
bool readValue(sd_bus_message* message, TrafficRecord* record) {
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(message, &type, &contents) <= 0 || type != 'v' || contents == nullptr) {
        return false;
    }
    if (strcmp(contents, "i") == 0) {
        if (sd_bus_message_read(message, "v", "i", &record->view.intValue) < 0) return false;
        record->view.type = ZUMI_TYPE_INT;
    } else if (strcmp(contents, "s") == 0) {
        const char* text = nullptr;
        if (sd_bus_message_read(message, "v", "s", &text) < 0) return false;
        record->text = text;
        record->view.type = ZUMI_TYPE_STRING;
    } else {
        return false;
    }
    record->view.hasValue = 1;
    return true;
}

// GetAll's answer as one read per property, each timed like the listing.
bool readAll(sd_bus_message* message, const TrafficRecord& listing,
             std::vector<std::unique_ptr<TrafficRecord>>* reads) {
    if (!sd_bus_message_has_signature(message, "a{sv}") ||
        sd_bus_message_enter_container(message, 'a', "{sv}") < 0) {
        return false;
    }
    int r = 0;
    while ((r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        std::unique_ptr<TrafficRecord> read(new TrafficRecord());
        read->view = listing.view;
        read->view.kind = ZUMI_TRAFFIC_GET;
        read->caller = listing.caller;
        read->service = listing.service;
        const char* name = nullptr;
        if (sd_bus_message_read(message, "s", &name) < 0 || !readValue(message, read.get()) ||
            sd_bus_message_exit_container(message) < 0) {
            return false;
        }
        read->name = name;
        reads->push_back(std::move(read));
    }
    return r == 0 && sd_bus_message_exit_container(message) >= 0;
}

}  // namespace

std::unique_ptr<TrafficRecord> TrafficDecoder::standardRequest(sd_bus_message* message, const char* member,
                                                               const char* sender, int64_t realtimeUsec) {
    int kind = 0;
    if (strcmp(member, "Get") == 0) {
        kind = ZUMI_TRAFFIC_GET;
    } else if (strcmp(member, "Set") == 0) {
        kind = ZUMI_TRAFFIC_SET;
    } else if (strcmp(member, "GetAll") == 0) {
        kind = ZUMI_TRAFFIC_LIST;
    } else {
        return nullptr;
    }
    // An empty interface name asks whichever interface has the property: ours.
    const char* asked = nullptr;
    if (sd_bus_message_read(message, "s", &asked) < 0 || (asked[0] != '\0' && strcmp(asked, kInterface) != 0)) {
        return nullptr;
    }
    std::unique_ptr<TrafficRecord> record = start(kind, sender, realtimeUsec);
    if (kind == ZUMI_TRAFFIC_LIST) return record;
    const char* name = nullptr;
    if (sd_bus_message_read(message, "s", &name) < 0) return nullptr;
    record->name = name;
    // A value of another type is refused by the service: the write is shown
    // without a value.
    if (kind == ZUMI_TRAFFIC_SET) readValue(message, record.get());
    return record;
}

void TrafficDecoder::standardAnswer(sd_bus_message* message, Pending pending) {
    TrafficRecord& record = *pending.record;
    const bool all = pending.member == std::string(kStandardPrefix) + "GetAll";
    std::vector<std::unique_ptr<TrafficRecord>> reads;
    if (sd_bus_message_is_method_error(message, nullptr) > 0) {
        const sd_bus_error* error = sd_bus_message_get_error(message);
        const char* sender = sd_bus_message_get_sender(message);
        record.view.status = sender != nullptr && strcmp(sender, kDaemon) == 0
                                 ? statusFromCallError(-sd_bus_message_get_errno(message), error, false)
                                 : statusOfStandardError(error->name, error->message);
    } else if (all) {
        if (!readAll(message, record, &reads)) {
            record.view.status = ZUMI_ERR_PROTOCOL;
            reads.clear();
        }
    } else if (record.view.kind == ZUMI_TRAFFIC_GET &&
               (!sd_bus_message_has_signature(message, "v") || !readValue(message, &record))) {
        record.view.status = ZUMI_ERR_PROTOCOL;
    }
    if (!all && record.view.type < 0) record.view.type = typeOf(record);
    learnType(record);
    emit(std::move(pending.record));
    for (std::unique_ptr<TrafficRecord>& read : reads) {
        learnType(*read);
        emit(std::move(read));
    }
}

int TrafficDecoder::typeOf(const TrafficRecord& record) const {
    auto found = m_types.find(PropertyKey(record.service, record.name));
    return found == m_types.end() ? ZUMI_TYPE_INT : found->second;
}

void TrafficDecoder::learnType(const TrafficRecord& record) {
    const int type = record.view.type;
    const bool property = record.view.kind == ZUMI_TRAFFIC_GET || record.view.kind == ZUMI_TRAFFIC_SET;
    if (property && record.view.status == ZUMI_OK && (type == ZUMI_TYPE_INT || type == ZUMI_TYPE_STRING)) {
        m_types[PropertyKey(record.service, record.name)] = type;
    }
}

}  // namespace bus
}  // namespace zumi
