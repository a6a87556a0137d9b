// zumi get / zumi set: one property of one service, through the handler's
// public operations; hash arrays go through the raw bus calls (BusExtras.h)
// because the command must print arrays whose keys it does not know.

#include <zumi/zumi.h>

#include "BusExtras.h"
#include "Commands.h"
#include "platform/ZumiBus.h"

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

// The type the service lists for the property. A property it does not list
// is refused with the status the bus gives for it, under the headline of the
// operation that was asked for.
PropertyType listedType(ZumiHandle handle, const std::string& service, const std::string& property,
                        const char* headline) {
    for (const PropertyInfo& info : listProperties(handle, service)) {
        if (info.name == property) return info.type;
    }
    throwBusFailure(headline, {{"source", service}, {"property", property}},
                    ZUMI_ERR_NO_SUCH_PROPERTY);
}

int runGet(const Args& args, std::ostream& out, std::ostream&) {
    args.expectPositionals({"SERVICE", "PROPERTY"}, 2);
    const std::string& service = args.positionals()[0];
    const std::string& property = args.positionals()[1];
    PropertyType type = PropertyType::Int;
    bool typeGiven = explicitType(args, &type);
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(CLIENT_ID);
    if (!typeGiven) {
        type = listedType(handler->getUnderlyingZumiHandle(), service, property, RETRIEVE_HEADLINE);
    }
    switch (type) {
        case PropertyType::Int:
            out << handler->getIntProperty(service.c_str(), property.c_str()) << "\n";
            break;
        case PropertyType::String:
            out << handler->getStringProperty(service.c_str(), property.c_str()) << "\n";
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
    if (!typeGiven) {
        type = listedType(handler->getUnderlyingZumiHandle(), service, property, SET_HEADLINE);
    }
    switch (type) {
        case PropertyType::Int:
            handler->setIntProperty(service.c_str(), property.c_str(), parseInt(value, "VALUE"));
            break;
        case PropertyType::String:
            handler->setStringProperty(service.c_str(), property.c_str(), value.c_str());
            break;
        case PropertyType::Hash:
            out << writeHashList(accessHashProperty(handler->getUnderlyingZumiHandle(), service,
                                                    property, parseHashList(value)))
                << "\n";
            break;
    }
    return 0;
}

}  // namespace

const Command& getCommand() {
    static const Command command{
        "get", "print the value of a property",
        "Usage: zumi get [--int|--string|--hash] SERVICE PROPERTY\n"
        "\n"
        "Prints the value of PROPERTY published by SERVICE: an integer in decimal,\n"
        "a string as it is, a hash array as JSON, a list of objects of integers and\n"
        "strings such as [{\"id\": 1, \"name\": \"disk\"}].\n" +
            std::string(TYPE_OPTIONS_HELP),
        TYPE_OPTIONS, runGet};
    return command;
}

const Command& setCommand() {
    static const Command command{
        "set", "write a property",
        "Usage: zumi set [--int|--string|--hash] SERVICE PROPERTY VALUE\n"
        "\n"
        "Writes VALUE to PROPERTY published by SERVICE. For a hash array VALUE is\n"
        "JSON, a list of objects of integers and strings such as '[{\"id\": 1}]';\n"
        "the array that the service sends back is printed as JSON.\n" +
            std::string(TYPE_OPTIONS_HELP),
        TYPE_OPTIONS, runSet};
    return command;
}

}  // namespace tool
}  // namespace zumi
