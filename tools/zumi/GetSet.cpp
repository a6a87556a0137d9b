// zumi get / zumi set: one property of one service, through the handler's
// public operations; hash arrays go through the raw bus calls (BusExtras.h)
// because the command must print arrays whose keys it does not know.

#include <zumi/zumi.h>
#include <zumi/ZumiException.h>

#include "BusExtras.h"
#include "Commands.h"
#include <libzumi/ZumiBus.h>

namespace zumi {
namespace tool {

using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;

namespace {

const char* const RETRIEVE_HEADLINE = "Could not retrieve the request property.";
const char* const SET_HEADLINE = "Could not set the request property.";

const std::vector<OptionSpec> TYPE_OPTIONS = {{"int", false}, {"string", false}, {"hash", false}};
const char* const TYPE_OPTIONS_HELP =
    "Without a type option the type is looked up in the service's properties.\n"
    "\n"
    "Options:\n"
    "  --int       the property holds an integer\n"
    "  --string    the property holds a string\n"
    "  --hash      the property holds a hash array\n"
    "  -h, --help  show this help\n";

// The type named by a flag, if any. Checked before the bus is touched.
bool explicitType(const Args& args, PropertyType* type) {
    int flags = args.has("int") + args.has("string") + args.has("hash");
    if (flags > 1) throw UsageError("give at most one of --int, --string, --hash");
    if (args.has("int")) *type = PropertyType::Int;
    if (args.has("string")) *type = PropertyType::String;
    if (args.has("hash")) *type = PropertyType::Hash;
    return flags == 1;
}

const char* typeWords(PropertyType type) {
    switch (type) {
        case PropertyType::Int: return "an integer";
        case PropertyType::String: return "a string";
        case PropertyType::Hash: return "a hash array";
    }
    return "?";
}

// The type the service lists for the property. A refused listing or a
// property it does not list is refused under the headline of the operation
// that was asked for, naming the service and the property.
PropertyType listedType(ZumiHandle handle, const std::string& service, const std::string& property,
                        const char* headline) {
    std::vector<PropertyInfo> properties;
    ZumiStatus status = tryListProperties(handle, service, &properties);
    for (const PropertyInfo& info : properties) {
        if (info.name == property) return info.type;
    }
    throwBusFailure(headline, {{"source", service}, {"property", property}},
                    status != ZUMI_OK ? status : ZumiStatus(ZUMI_ERR_NO_SUCH_PROPERTY));
}

// Runs a call made with an explicit type flag. The bus refuses a property of
// another type as if it did not exist; when the listing shows that it does,
// the mistake is the flag, and the message names the type it has.
template <typename Call>
void withTypeGiven(ZumiHandle handle, const std::string& service, const std::string& property,
                   PropertyType given, Call call) {
    try {
        call();
    } catch (const veltra::kesh::zumi::ZumiException&) {
        std::vector<PropertyInfo> properties;
        if (tryListProperties(handle, service, &properties) == ZUMI_OK) {
            for (const PropertyInfo& info : properties) {
                if (info.name == property && info.type != given) {
                    throw UsageError(property + " holds " + typeWords(info.type) + ", not " +
                                     typeWords(given) + ": use --" + typeName(info.type));
                }
            }
        }
        throw;
    }
}

void printValue(ZumiHandlerSharedPtr handler, const std::string& service, const std::string& property,
                PropertyType type, std::ostream& out) {
    switch (type) {
        case PropertyType::Int:
            out << handler->getIntProperty(service.c_str(), property.c_str()) << "\n";
            break;
        case PropertyType::String:
            out << quoteString(handler->getStringProperty(service.c_str(), property.c_str())) << "\n";
            break;
        case PropertyType::Hash: {
            // The handler reads straight into raw, so a reply that came with a
            // refusal is there too, and ours to release.
            ZumiHasharrayHandleStruct* raw = nullptr;
            try {
                handler->getHashProperty(service.c_str(), property.c_str(), raw);
            } catch (...) {
                ZumiHasharrayDestroy(raw);
                throw;
            }
            HashArrayPtr array(raw);
            out << writeHashList(array ? readHashArray(array.get()) : HashList()) << "\n";
            break;
        }
    }
}

void writeValue(ZumiHandlerSharedPtr handler, const std::string& service, const std::string& property,
                PropertyType type, const std::string& value, std::ostream& out) {
    switch (type) {
        case PropertyType::Int:
            handler->setIntProperty(service.c_str(), property.c_str(), parseInt(value, "VALUE"));
            break;
        case PropertyType::String:
            handler->setStringProperty(service.c_str(), property.c_str(), value.c_str());
            break;
        case PropertyType::Hash: {
            std::optional<HashList> reply = accessHashProperty(
                handler->getUnderlyingZumiHandle(), service, property, parseHashList(value));
            if (reply) out << writeHashList(*reply) << "\n";
            break;
        }
    }
}

int runGet(const Args& args, std::ostream& out, std::ostream&) {
    args.expectPositionals({"SERVICE", "PROPERTY"}, 2);
    const std::string& service = args.positionals()[0];
    const std::string& property = args.positionals()[1];
    PropertyType type = PropertyType::Int;
    bool typeGiven = explicitType(args, &type);
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(CLIENT_ID);
    ZumiHandle handle = handler->getUnderlyingZumiHandle();
    if (!typeGiven) {
        printValue(handler, service, property,
                   listedType(handle, service, property, RETRIEVE_HEADLINE), out);
    } else {
        withTypeGiven(handle, service, property, type,
                      [&] { printValue(handler, service, property, type, out); });
    }
    return 0;
}

int runSet(const Args& args, std::ostream& out, std::ostream&) {
    args.expectPositionals({"SERVICE", "PROPERTY", "VALUE"}, 3);
    const std::string& service = args.positionals()[0];
    const std::string& property = args.positionals()[1];
    const std::string& value = args.positionals()[2];
    // Check what can be checked before talking to the bus: a typo in VALUE
    // is a usage error, not a refusal.
    PropertyType type = PropertyType::Int;
    bool typeGiven = explicitType(args, &type);
    if (typeGiven && type == PropertyType::Int) parseInt(value, "VALUE");
    if (typeGiven && type == PropertyType::Hash) parseHashList(value);
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(CLIENT_ID);
    ZumiHandle handle = handler->getUnderlyingZumiHandle();
    if (!typeGiven) {
        writeValue(handler, service, property, listedType(handle, service, property, SET_HEADLINE),
                   value, out);
    } else {
        withTypeGiven(handle, service, property, type,
                      [&] { writeValue(handler, service, property, type, value, out); });
    }
    return 0;
}

}  // namespace

const Command& getCommand() {
    static const Command command{
        "get", "print the value of a property",
        "Usage: zumi get [--int|--string|--hash] SERVICE PROPERTY\n"
        "\n"
        "Prints the value of PROPERTY published by SERVICE as JSON: an integer in\n"
        "decimal, a string in double quotes with JSON escapes, a hash array as a\n"
        "list of objects of integers and strings such as [{\"id\":1,\"name\":\"disk\"}].\n"
        "A property that can only be written is refused without being touched.\n" +
            std::string(TYPE_OPTIONS_HELP),
        TYPE_OPTIONS, runGet};
    return command;
}

const Command& setCommand() {
    static const Command command{
        "set", "write a property",
        "Usage: zumi set [--int|--string|--hash] SERVICE PROPERTY VALUE\n"
        "\n"
        "Writes VALUE to PROPERTY published by SERVICE. A string VALUE is taken as\n"
        "it is. For a hash array VALUE is JSON, a list of objects of integers and\n"
        "strings such as '[{\"id\": 1}]'; the array that the service sends back is\n"
        "printed as JSON, and nothing when it sends none (a property that can only\n"
        "be written answers none). Put -- before a VALUE that starts with --.\n" +
            std::string(TYPE_OPTIONS_HELP),
        TYPE_OPTIONS, runSet};
    return command;
}

}  // namespace tool
}  // namespace zumi
