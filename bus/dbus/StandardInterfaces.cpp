// The interfaces every D-Bus client expects of an object, on kObjectPath:
// Introspectable (what the object offers, with the properties published at
// that moment), Properties (Get, Set and GetAll of the integer and string
// properties, through the very callbacks that GetInt ... SetString reach)
// and Peer (answered by sd-bus itself).
//
// A name that carries both an integer and a string property shows as the
// integer to Get, GetAll and introspection; Set picks the property of the
// variant's type. A property that can be neither read nor written is left
// out: D-Bus has no access for it. Hash arrays are reached by sending one
// (AccessHash), so introspection names them in annotations.

#include <string.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/StatusText.h"
#include "dbus/BusNames.h"
#include "dbus/Connection.h"
#include "dbus/ConnectionJob.h"
#include "dbus/PropertyCalls.h"
#include "dbus/Registry.h"
#include "dbus/StandardProperties.h"

namespace zumi {
namespace bus {

namespace {

const char* const kIntrospectable = "org.freedesktop.DBus.Introspectable";

const char* const kHeader =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
    "<node>\n";

const char* const kFixedInterfaces =
    " <interface name=\"org.freedesktop.DBus.Peer\">\n"
    "  <method name=\"Ping\"/>\n"
    "  <method name=\"GetMachineId\"><arg name=\"machine_uuid\" type=\"s\" direction=\"out\"/></method>\n"
    " </interface>\n"
    " <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
    "  <method name=\"Introspect\"><arg name=\"xml_data\" type=\"s\" direction=\"out\"/></method>\n"
    " </interface>\n"
    " <interface name=\"org.freedesktop.DBus.Properties\">\n"
    "  <method name=\"Get\"><arg name=\"interface_name\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"property_name\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"value\" type=\"v\" direction=\"out\"/></method>\n"
    "  <method name=\"GetAll\"><arg name=\"interface_name\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"props\" type=\"a{sv}\" direction=\"out\"/></method>\n"
    "  <method name=\"Set\"><arg name=\"interface_name\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"property_name\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"value\" type=\"v\" direction=\"in\"/></method>\n"
    "  <signal name=\"PropertiesChanged\"><arg name=\"interface_name\" type=\"s\"/>"
    "<arg name=\"changed_properties\" type=\"a{sv}\"/>"
    "<arg name=\"invalidated_properties\" type=\"as\"/></signal>\n"
    " </interface>\n"
    " <interface name=\"com.tessal.Zumi\">\n"
    "  <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" value=\"false\"/>\n"
    "  <method name=\"GetInt\"><arg name=\"property\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"status\" type=\"u\" direction=\"out\"/><arg name=\"value\" type=\"i\" direction=\"out\"/></method>\n"
    "  <method name=\"SetInt\"><arg name=\"property\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"value\" type=\"i\" direction=\"in\"/><arg name=\"status\" type=\"u\" direction=\"out\"/></method>\n"
    "  <method name=\"GetString\"><arg name=\"property\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"status\" type=\"u\" direction=\"out\"/><arg name=\"text\" type=\"ay\" direction=\"out\"/></method>\n"
    "  <method name=\"SetString\"><arg name=\"property\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"text\" type=\"ay\" direction=\"in\"/><arg name=\"status\" type=\"u\" direction=\"out\"/></method>\n"
    "  <method name=\"AccessHash\"><arg name=\"property\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"send\" type=\"b\" direction=\"in\"/><arg name=\"array\" type=\"aa{sv}\" direction=\"in\"/>"
    "<arg name=\"status\" type=\"u\" direction=\"out\"/><arg name=\"has_reply\" type=\"b\" direction=\"out\"/>"
    "<arg name=\"reply\" type=\"aa{sv}\" direction=\"out\"/></method>\n"
    "  <method name=\"List\"><arg name=\"properties\" type=\"a(siu)\" direction=\"out\"/></method>\n"
    "  <signal name=\"Event\"><arg name=\"source\" type=\"s\"/><arg name=\"event\" type=\"s\"/>"
    "<arg name=\"ints\" type=\"ai\"/><arg name=\"strings\" type=\"as\"/></signal>\n";

// No PropertiesChanged is sent: a client must read again. Tools read this per
// property, others from the interface.
const char* const kNoChangeSignal =
    "<annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" value=\"false\"/>";

bool equal(const char* a, const char* b) { return a != nullptr && strcmp(a, b) == 0; }

std::string escapeXml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

const char* accessWord(unsigned access) {
    switch (access & (ZUMI_ACCESS_READ | ZUMI_ACCESS_WRITE)) {
        case ZUMI_ACCESS_READ: return "read";
        case ZUMI_ACCESS_WRITE: return "write";
        case ZUMI_ACCESS_READ | ZUMI_ACCESS_WRITE: return "readwrite";
        default: return nullptr;
    }
}

typedef std::vector<std::pair<std::string, PropertyEntry>> Listing;

// The integer and string properties as D-Bus shows them, one per name (the
// integer wins); hash arrays apart. `listing` is sorted by name, then type.
void standardView(Listing listing, Listing* plain, Listing* hashes) {
    for (auto& item : listing) {
        if (item.second.type == ZUMI_TYPE_HASHARRAY) {
            hashes->push_back(std::move(item));
        } else if (plain->empty() || plain->back().first != item.first) {
            plain->push_back(std::move(item));
        }
    }
}

std::string introspection(const std::string& service) {
    Listing listing, plain, hashes;
    Registry::instance().listLocal(service, &listing);
    standardView(std::move(listing), &plain, &hashes);
    std::string xml = std::string(kHeader) + kFixedInterfaces;
    for (const auto& item : plain) {
        const char* access = accessWord(item.second.access());
        if (access == nullptr) continue;
        xml += "  <property name=\"" + escapeXml(item.first) + "\" type=\"" +
               (item.second.type == ZUMI_TYPE_INT ? "i" : "s") + "\" access=\"" + access + "\">" +
               kNoChangeSignal + "</property>\n";
    }
    for (const auto& item : hashes) {
        const char* access = accessWord(item.second.access());
        if (access == nullptr) continue;
        // "ACCESS NAME": the name may hold blanks, the access never does.
        xml += "  <annotation name=\"com.tessal.Zumi.HashArrayProperty\" value=\"" +
               std::string(access) + " " + escapeXml(item.first) + "\"/>\n";
    }
    return xml + " </interface>\n</node>\n";
}

// Whether this process publishes `name` as `type` for `service`.
bool publishes(const std::string& service, const std::string& name, int type) {
    Listing listing;
    Registry::instance().listLocal(service, &listing);
    return std::any_of(listing.begin(), listing.end(), [&](const Listing::value_type& item) {
        return item.first == name && item.second.type == type;
    });
}

// Reads one property as Get shows it; *type tells which was read.
ZumiStatus readProperty(const std::string& service, const std::string& name, int* type,
                        int* number, std::string* text) {
    ZumiStatus status = ZUMI_ERR_NO_SUCH_PROPERTY;
    *type = ZUMI_TYPE_INT;
    serveGetInt(service, name, number, &status);
    if (status == ZUMI_ERR_NO_SUCH_PROPERTY) {
        *type = ZUMI_TYPE_STRING;
        serveGetString(service, name, text, &status);
    }
    return status;
}

int appendValue(sd_bus_message* reply, int type, int number, const std::string& text) {
    return type == ZUMI_TYPE_INT ? sd_bus_message_append(reply, "v", "i", number)
                                 : sd_bus_message_append(reply, "v", "s", text.c_str());
}

}  // namespace

int Connection::parseStandardRequest(sd_bus_message* message, const char* interface,
                                     const char* member) {
    const char* path = sd_bus_message_get_path(message);
    const bool ours = equal(path, kObjectPath);
    if (equal(interface, kIntrospectable) && equal(member, "Introspect")) {
        if (!ours) {
            // The nodes above our object lead tools that walk the tree to it.
            const std::string object(kObjectPath);
            const std::string above(path == nullptr ? "" : path);
            const std::string prefix = above == "/" ? "/" : above + "/";
            if (object.compare(0, prefix.size(), prefix) != 0) return 0;
            const std::string child = object.substr(prefix.size(), object.find('/', prefix.size()) - prefix.size());
            const std::string xml = std::string(kHeader) + " <node name=\"" + child + "\"/>\n</node>\n";
            sd_bus_reply_method_return(message, "s", xml.c_str());
            return 1;
        }
        Job job;
        job.kind = Job::kIntrospect;
        return queueRequest(message, std::move(job));
    }
    if (!ours || !equal(interface, kPropertiesInterface)) return 0;  // Peer, or "unknown object", by sd-bus
    static const Method kMethods[] = {{"Get", "ss", Job::kPropertyGet},
                                      {"Set", "ssv", Job::kPropertySet},
                                      {"GetAll", "s", Job::kPropertyGetAll}};
    const Method* method = acceptMethod(message, member, std::begin(kMethods), std::end(kMethods));
    if (method == nullptr) return 1;
    const char* asked = nullptr;
    if (sd_bus_message_read(message, "s", &asked) < 0) return refuse(message, SD_BUS_ERROR_INVALID_ARGS, "Wrong arguments");
    // An empty interface name means "whichever has it"; we have one.
    if (asked[0] != '\0' && strcmp(asked, kInterface) != 0) {
        return refuse(message, SD_BUS_ERROR_UNKNOWN_INTERFACE, "The object has no properties of that interface");
    }
    Job job;
    job.kind = method->kind;
    if (job.kind != Job::kPropertyGetAll && !readPropertyName(message, &job)) return 1;
    if (job.kind == Job::kPropertySet) {
        const char* contents = nullptr;
        const char* text = nullptr;
        if (sd_bus_message_peek_type(message, nullptr, &contents) < 0 || contents == nullptr) {
            return refuse(message, SD_BUS_ERROR_INVALID_ARGS, "Wrong arguments");
        }
        if (strcmp(contents, "i") == 0 && sd_bus_message_read(message, "v", "i", &job.number) >= 0) {
            job.valueType = ZUMI_TYPE_INT;
        } else if (strcmp(contents, "s") == 0 && sd_bus_message_read(message, "v", "s", &text) >= 0) {
            if (strlen(text) > kMaxTextBytes) return refuse(message, kErrorTooLarge, statusText(ZUMI_ERR_TOO_LARGE));
            job.valueType = ZUMI_TYPE_STRING;
            job.text = text;
        } else {
            return refuse(message, SD_BUS_ERROR_INVALID_ARGS, "Properties hold an integer (i) or a string (s)");
        }
    }
    return queueRequest(message, std::move(job));
}

void Connection::serveStandardRequest(Job& job) {
    ZumiStatus status = ZUMI_OK;
    int type = ZUMI_TYPE_INT;
    int number = 0;
    std::string text;
    std::string xml;
    // GetAll: (name, type, number, text) of every readable property.
    struct Value {
        std::string name;
        int type;
        int number;
        std::string text;
    };
    std::vector<Value> all;
    const char* refusal = nullptr;  // the error name of a refused request
    switch (job.kind) {
        case Job::kIntrospect:
            xml = introspection(m_serviceId);
            break;
        case Job::kPropertyGet:
            status = readProperty(m_serviceId, job.name, &type, &number, &text);
            if (status != ZUMI_OK) refusal = standardErrorName(status, false);
            break;
        case Job::kPropertySet:
            status = ZUMI_ERR_NO_SUCH_PROPERTY;
            if (job.valueType == ZUMI_TYPE_INT) {
                serveSetInt(m_serviceId, job.name, job.number, &status);
            } else {
                serveSetString(m_serviceId, job.name, job.text.c_str(), &status);
            }
            if (status == ZUMI_ERR_NO_SUCH_PROPERTY &&
                publishes(m_serviceId, job.name, job.valueType == ZUMI_TYPE_INT ? ZUMI_TYPE_STRING : ZUMI_TYPE_INT)) {
                status = ZUMI_ERR_INVALID_ARGUMENT;  // published, as the other type
            }
            if (status != ZUMI_OK) refusal = standardErrorName(status, true);
            break;
        case Job::kPropertyGetAll: {
            Listing listing, plain, hashes;
            Registry::instance().listLocal(m_serviceId, &listing);
            standardView(std::move(listing), &plain, &hashes);
            for (const auto& item : plain) {
                if ((item.second.access() & ZUMI_ACCESS_READ) == 0) continue;
                Value value{item.first, item.second.type, 0, std::string()};
                ZumiStatus read = ZUMI_ERR_NO_SUCH_PROPERTY;
                if (value.type == ZUMI_TYPE_INT) {
                    serveGetInt(m_serviceId, value.name, &value.number, &read);
                } else {
                    serveGetString(m_serviceId, value.name, &value.text, &read);
                }
                // What could not be read now (refused, gone meanwhile, or a
                // text that D-Bus cannot carry) is left out.
                if (read == ZUMI_OK && isValidUtf8(value.text.data(), value.text.size())) {
                    all.push_back(std::move(value));
                }
            }
            break;
        }
        default:
            break;
    }

    answer(job, [&](sd_bus_message** built) {
        if (refusal != nullptr) {
            return sd_bus_message_new_method_errorf(job.call, built, refusal, "%s", statusText(status));
        }
        int r = sd_bus_message_new_method_return(job.call, built);
        sd_bus_message* reply = *built;
        if (r >= 0 && job.kind == Job::kIntrospect) r = sd_bus_message_append(reply, "s", xml.c_str());
        if (r >= 0 && job.kind == Job::kPropertyGet) r = appendValue(reply, type, number, text);
        if (r >= 0 && job.kind == Job::kPropertyGetAll) {
            r = sd_bus_message_open_container(reply, 'a', "{sv}");
            for (size_t i = 0; r >= 0 && i < all.size(); ++i) {
                r = sd_bus_message_open_container(reply, 'e', "sv");
                if (r >= 0) r = sd_bus_message_append_basic(reply, 's', all[i].name.c_str());
                if (r >= 0) r = appendValue(reply, all[i].type, all[i].number, all[i].text);
                if (r >= 0) r = sd_bus_message_close_container(reply);
            }
            if (r >= 0) r = sd_bus_message_close_container(reply);
        }
        return r;
    });
}

}  // namespace bus
}  // namespace zumi
