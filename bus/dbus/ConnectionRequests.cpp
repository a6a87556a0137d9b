// The serving half of a connection: requests from the bus are checked and
// parsed under m_busLock on the dispatch thread, queued, and answered after
// the callbacks ran with no lock held.

#include <string.h>

#include <algorithm>
#include <memory>

#include "dbus/BusNames.h"
#include "dbus/Connection.h"
#include "dbus/ConnectionJob.h"
#include "dbus/PropertyCalls.h"
#include "dbus/Registry.h"

namespace zumi {
namespace bus {

namespace {

// Reads a byte array that stands for a text: no NUL inside, within the limit.
const char* readText(sd_bus_message* message, std::string* text) {
    const void* data = nullptr;
    size_t size = 0;
    if (sd_bus_message_read_array(message, 'y', &data, &size) < 0) return SD_BUS_ERROR_INVALID_ARGS;
    if (size > kMaxTextBytes) return kErrorTooLarge;
    if (size > 0 && memchr(data, '\0', size) != nullptr) return SD_BUS_ERROR_INVALID_ARGS;
    text->assign(static_cast<const char*>(data), size);
    return nullptr;
}

const char* errorFor(ZumiStatus status) {
    return status == ZUMI_ERR_TOO_LARGE ? kErrorTooLarge
           : status == ZUMI_ERR_NO_MEMORY ? SD_BUS_ERROR_NO_MEMORY
                                          : SD_BUS_ERROR_INVALID_ARGS;
}

}  // namespace

int Connection::refuse(sd_bus_message* message, const char* error, const char* text) {
    sd_bus_reply_method_errorf(message, error, "%s", text);
    return 1;
}

int Connection::parseRequest(sd_bus_message* message, const char* member) {
    static const struct {
        const char* member;
        const char* signature;
        Job::Kind kind;
    } kMethods[] = {
        {"GetInt", "s", Job::kGetInt},         {"SetInt", "si", Job::kSetInt},
        {"GetString", "s", Job::kGetString},   {"SetString", "say", Job::kSetString},
        {"AccessHash", "sbay", Job::kAccessHash}, {"List", "", Job::kList},
    };
    const auto* method = std::find_if(std::begin(kMethods), std::end(kMethods),
                                      [member](const decltype(kMethods[0])& m) {
                                          return member != nullptr && strcmp(m.member, member) == 0;
                                      });
    if (method == std::end(kMethods)) {
        return refuse(message, SD_BUS_ERROR_UNKNOWN_METHOD, "No such method");
    }
    if (!sd_bus_message_has_signature(message, method->signature)) {
        return refuse(message, SD_BUS_ERROR_INVALID_ARGS, "Wrong arguments");
    }
    Job job;
    job.kind = method->kind;
    if (job.kind != Job::kList) {
        const char* name = nullptr;
        if (sd_bus_message_read(message, "s", &name) < 0 || !isValidMemberName(name)) {
            return refuse(message, SD_BUS_ERROR_INVALID_ARGS, "Invalid property name");
        }
        job.name = name;
    }
    const char* error = nullptr;
    if (job.kind == Job::kSetInt) {
        if (sd_bus_message_read(message, "i", &job.number) < 0) error = SD_BUS_ERROR_INVALID_ARGS;
    } else if (job.kind == Job::kSetString) {
        error = readText(message, &job.text);
    } else if (job.kind == Job::kAccessHash) {
        int send = 0;
        const void* data = nullptr;
        size_t size = 0;
        if (sd_bus_message_read(message, "b", &send) < 0 ||
            sd_bus_message_read_array(message, 'y', &data, &size) < 0 || (!send && size > 0)) {
            error = SD_BUS_ERROR_INVALID_ARGS;
        } else if (send) {
            job.hasArray = true;
            ZumiStatus status =
                decodeHashArray(static_cast<const uint8_t*>(data), size, &job.array);
            if (status != ZUMI_OK) error = errorFor(status);
        }
    }
    if (error != nullptr) return refuse(message, error, "Invalid or oversized value");
    job.call = sd_bus_message_ref(message);
    try {
        m_jobs.push_back(std::move(job));
    } catch (...) {
        sd_bus_message_unref(message);
        throw;
    }
    return 1;
}

void Connection::runJob(Job& job) {
    if (job.kind == Job::kLocal) {
        job.local->run();
    } else if (job.kind == Job::kEvent) {
        deliverEvent(job);
    } else {
        serveRequest(job);
    }
}

void Connection::awaitStartup(const Job& job) {
    if (job.kind == Job::kLocal || job.kind == Job::kEvent) return;
    std::unique_lock<std::mutex> lock(m_stateLock);
    const uint64_t now = monotonicNowUsec();
    if (now >= m_startingUntilUsec || !m_properties.empty()) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(m_startingUntilUsec - now);
    m_stateChanged.wait_until(lock, until, [&] { return m_closing || !m_properties.empty(); });
}

void Connection::serveRequest(Job& job) {
    awaitStartup(job);
    ZumiStatus status = ZUMI_ERR_NO_SERVICE;
    int number = 0;
    std::string text;
    std::unique_ptr<HashArray> array;
    std::vector<uint8_t> encoded;
    std::vector<std::pair<std::string, PropertyEntry>> listing;
    switch (job.kind) {
        case Job::kGetInt:
            serveGetInt(m_serviceId, job.name, &number, &status);
            break;
        case Job::kSetInt:
            serveSetInt(m_serviceId, job.name, job.number, &status);
            break;
        case Job::kGetString:
            serveGetString(m_serviceId, job.name, &text, &status);
            break;
        case Job::kSetString:
            serveSetString(m_serviceId, job.name, job.text.c_str(), &status);
            break;
        case Job::kAccessHash: {
            HashArray* reply = nullptr;
            serveAccess(m_serviceId, job.name, job.hasArray ? &job.array : nullptr, &reply, &status);
            array.reset(reply);
            if (array && encodeHashArray(*array, &encoded) != ZUMI_OK) {
                array.reset();
                if (status == ZUMI_OK) status = ZUMI_ERR_TOO_LARGE;
            }
            break;
        }
        case Job::kList:
            Registry::instance().listLocal(m_serviceId, &listing);
            std::sort(listing.begin(), listing.end(),
                      [](const std::pair<std::string, PropertyEntry>& a,
                         const std::pair<std::string, PropertyEntry>& b) {
                          return a.first != b.first ? a.first < b.first
                                                    : a.second.type < b.second.type;
                      });
            break;
        case Job::kEvent:
        case Job::kLocal:
            break;
    }

    std::lock_guard<std::mutex> lock(m_busLock);
    if (m_bus != nullptr) {
        sd_bus_message* reply = nullptr;
        int r = sd_bus_message_new_method_return(job.call, &reply);
        if (r >= 0) {
            switch (job.kind) {
                case Job::kGetInt:
                    r = sd_bus_message_append(reply, "ui", status, number);
                    break;
                case Job::kGetString:
                    r = sd_bus_message_append(reply, "u", status);
                    if (r >= 0) r = sd_bus_message_append_array(reply, 'y', text.data(), text.size());
                    break;
                case Job::kAccessHash:
                    r = sd_bus_message_append(reply, "ub", status, array ? 1 : 0);
                    if (r >= 0) {
                        r = sd_bus_message_append_array(reply, 'y', encoded.data(), encoded.size());
                    }
                    break;
                case Job::kList:
                    r = sd_bus_message_open_container(reply, 'a', "(siu)");
                    for (size_t i = 0; r >= 0 && i < listing.size(); ++i) {
                        r = sd_bus_message_append(reply, "(siu)", listing[i].first.c_str(),
                                                  listing[i].second.type,
                                                  listing[i].second.access());
                    }
                    if (r >= 0) r = sd_bus_message_close_container(reply);
                    break;
                default:
                    r = sd_bus_message_append(reply, "u", status);
                    break;
            }
        }
        if (r >= 0) {
            sd_bus_send(m_bus, reply, nullptr);
        } else {
            sd_bus_reply_method_errorf(job.call, SD_BUS_ERROR_FAILED, "Could not build the reply");
        }
        sd_bus_message_unref(reply);
    }
    job.call = sd_bus_message_unref(job.call);
}

}  // namespace bus
}  // namespace zumi
