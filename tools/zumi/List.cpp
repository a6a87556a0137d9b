// zumi list: the services on the bus, or one service's properties.

#include <algorithm>

#include <nlohmann/json.hpp>
#include <zumi/zumi.h>

#include "BusExtras.h"
#include "Commands.h"

namespace zumi {
namespace tool {

using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;

namespace {

const char* accessName(const PropertyInfo& info) {
    if (info.readable && info.writable) return "read-write";
    if (info.readable) return "read-only";
    if (info.writable) return "write-only";
    return "none";
}

int runList(const Args& args, std::ostream& out, std::ostream&) {
    args.expectPositionals({"SERVICE"}, 0);
    const bool json = args.has("json");
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(CLIENT_ID);
    ZumiHandle handle = handler->getUnderlyingZumiHandle();
    if (args.positionals().empty()) {
        // A service that the daemon would start is listed too, unless it runs.
        std::vector<std::string> running = listServices(handle);
        std::vector<std::string> startable;
        for (const std::string& name : listServices(handle, true)) {
            if (std::find(running.begin(), running.end(), name) == running.end()) startable.push_back(name);
        }
        if (json) {
            nlohmann::json list = nlohmann::json::array();
            for (const std::string& name : running) list.push_back({{"name", name}, {"state", "running"}});
            for (const std::string& name : startable) list.push_back({{"name", name}, {"state", "activatable"}});
            out << list.dump() << "\n";
            return 0;
        }
        for (const std::string& name : running) out << name << "\n";
        for (const std::string& name : startable) out << name << " (activatable)\n";
        return 0;
    }
    std::vector<PropertyInfo> properties = listProperties(handle, args.positionals()[0]);
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const PropertyInfo& info : properties) {
            list.push_back({{"name", info.name}, {"type", typeName(info.type)}, {"access", accessName(info)}});
        }
        out << list.dump() << "\n";
        return 0;
    }
    size_t width = 0;
    for (const PropertyInfo& info : properties) width = std::max(width, info.name.size());
    for (const PropertyInfo& info : properties) {
        std::string type = typeName(info.type);
        out << info.name << std::string(width - info.name.size() + 2, ' ') << type
            << std::string(8 - type.size(), ' ') << accessName(info) << "\n";
    }
    return 0;
}

}  // namespace

const Command& listCommand() {
    static const Command command{
        "list", "list the services, or the properties of one",
        "Usage: zumi list [--json] [SERVICE]\n"
        "\n"
        "Without SERVICE, prints the services on the bus, one a line, then those\n"
        "that the bus daemon starts on the first call to them (from their D-Bus\n"
        "service files), marked \"(activatable)\": the daemon lists them all, ours\n"
        "or not, as it cannot tell without starting them.\n"
        "With SERVICE, prints its properties, one a line: the name, the type\n"
        "(int, string or hash) and the access (read-write, read-only, write-only\n"
        "or none).\n"
        "\n"
        "Options:\n"
        "  --json      print one JSON array instead: of objects {\"name\", \"state\"}\n"
        "              (\"running\" or \"activatable\"), or {\"name\", \"type\",\n"
        "              \"access\"} with the words above\n"
        "  -h, --help  show this help\n",
        {{"json", false}}, runList};
    return command;
}

}  // namespace tool
}  // namespace zumi
