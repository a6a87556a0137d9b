// The serving half of a connection: requests from the bus are checked and
// parsed under m_busLock on the dispatch thread, queued, and answered after
// the callbacks ran with no lock held.

#include <errno.h>
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

const Connection::Method* Connection::acceptMethod(sd_bus_message* message, const char* member,
                                                   const Method* begin, const Method* end) {
    const Method* method = std::find_if(begin, end, [member](const Method& m) {
        return member != nullptr && strcmp(m.member, member) == 0;
    });
    if (method == end) {
        refuse(message, SD_BUS_ERROR_UNKNOWN_METHOD, "No such method");
        return nullptr;
    }
    if (!sd_bus_message_has_signature(message, method->signature)) {
        refuse(message, SD_BUS_ERROR_INVALID_ARGS, "Wrong arguments");
        return nullptr;
    }
    return method;
}

bool Connection::readPropertyName(sd_bus_message* message, Job* job) {
    const char* name = nullptr;
    if (sd_bus_message_read(message, "s", &name) < 0 || !isValidMemberName(name)) {
        refuse(message, SD_BUS_ERROR_INVALID_ARGS, "Invalid property name");
        return false;
    }
    job->name = name;
    return true;
}

int Connection::parseRequest(sd_bus_message* message, const char* member) {
    static const Method kMethods[] = {
        {"GetInt", "s", Job::kGetInt},         {"SetInt", "si", Job::kSetInt},
        {"GetString", "s", Job::kGetString},   {"SetString", "say", Job::kSetString},
        {"AccessHash", "sbaa{sv}", Job::kAccessHash}, {"List", "", Job::kList},
    };
    const Method* method = acceptMethod(message, member, std::begin(kMethods), std::end(kMethods));
    if (method == nullptr) return 1;
    Job job;
    job.kind = method->kind;
    if (job.kind != Job::kList && !readPropertyName(message, &job)) return 1;
    const char* error = nullptr;
    if (job.kind == Job::kSetInt) {
        if (sd_bus_message_read(message, "i", &job.number) < 0) error = SD_BUS_ERROR_INVALID_ARGS;
    } else if (job.kind == Job::kSetString) {
        error = readText(message, &job.text);
    } else if (job.kind == Job::kAccessHash) {
        int send = 0;
        ZumiStatus status = ZUMI_ERR_PROTOCOL;
        if (sd_bus_message_read(message, "b", &send) >= 0) status = readHashArray(message, &job.array);
        if (status != ZUMI_OK || (!send && !job.array.hashes.empty())) {
            error = errorFor(status);
        } else {
            job.hasArray = send != 0;
        }
    }
    if (error != nullptr) return refuse(message, error, "Invalid or oversized value");
    return queueRequest(message, std::move(job));
}

int Connection::queueRequest(sd_bus_message* message, Job job) {
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
    } else if (job.kind >= Job::kIntrospect) {
        serveStandardRequest(job);
    } else {
        serveRequest(job);
    }
}

void Connection::serveRequest(Job& job) {
    ZumiStatus status = ZUMI_ERR_NO_SERVICE;
    int number = 0;
    std::string text;
    std::unique_ptr<HashArray> array;
    std::vector<std::pair<std::string, PropertyEntry>> listing;
    // A service that only just took its name may not have published it yet.
    awaitPublication(job.kind == Job::kList ? std::string() : job.name);
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
            serveAccessTaking(m_serviceId, job.name, job.hasArray ? &job.array : nullptr, &reply, &status);
            array.reset(reply);
            break;
        }
        case Job::kList:
            Registry::instance().listLocal(m_serviceId, &listing);
            break;
        default:
            break;
    }

    answer(job, [&](sd_bus_message** built) {
        int r = sd_bus_message_new_method_return(job.call, built);
        sd_bus_message* reply = *built;
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
                    if (r >= 0) r = appendHashArray(reply, array ? *array : HashArray());
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
        return r;
    });
}

void Connection::answer(Job& job, const std::function<int(sd_bus_message** reply)>& build) {
    std::lock_guard<std::mutex> lock(m_busLock);
    if (m_bus != nullptr) {
        sd_bus_message* reply = nullptr;
        const int r = build(&reply);
        if (r >= 0) {
            sd_bus_send(m_bus, reply, nullptr);
        } else {
            // -EINVAL: a text that D-Bus cannot carry, one not UTF-8.
            sd_bus_reply_method_errorf(job.call, SD_BUS_ERROR_FAILED, "%s",
                                       r == -EINVAL ? "The value is not UTF-8 text" : "Could not build the reply");
        }
        sd_bus_message_unref(reply);
    }
    job.call = sd_bus_message_unref(job.call);
}

}  // namespace bus
}  // namespace zumi
