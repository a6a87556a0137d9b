// zumi send: an event from this command's connection, or from a named one.

#include <unistd.h>

#include <zumi/zumi.h>

#include "BusExtras.h"
#include "Commands.h"

namespace zumi {
namespace tool {

using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;

namespace {

// Events carry their sender's service name, and the bus refuses to send from
// a connection that owns none. Without --as the command takes a name of its
// own, unique while it runs, so that two sends at once do not collide.
std::string uniqueSender() { return "com.example.zumi.p" + std::to_string(getpid()); }

int runSend(const Args& args, std::ostream&, std::ostream&) {
    args.expectPositionals({"EVENT"}, 1);
    const std::string& event = args.positionals()[0];
    std::vector<int> ints;
    for (const std::string& text : args.values("int")) ints.push_back(parseInt(text, "--int"));
    std::vector<std::string> strings = args.values("string");
    if (args.has("as") && args.value("as").empty()) throw UsageError("--as needs a service name");

    ZumiHandlerSharedPtr handler =
        ZumiHandlerFactory::getZumiHandler((args.has("as") ? args.value("as") : uniqueSender()).c_str());
    if (ints.empty() && strings.empty()) {
        handler->sendEvent(event.c_str());
    } else {
        sendEventWithParams(handler->getUnderlyingZumiHandle(), event, ints, strings);
    }
    return 0;
}

}  // namespace

const Command& sendCommand() {
    static const Command command{
        "send", "send an event",
        "Usage: zumi send [--as SERVICE] EVENT [--int N]... [--string TEXT]...\n"
        "\n"
        "Sends EVENT with the given parameters: the integers, then the strings,\n"
        "each in the order given. Receivers built on libbramwickzumi read as many\n"
        "strings as the last integer announces, so an event with strings normally\n"
        "ends its integers with their count: --int 2 --string a --string b.\n"
        "\n"
        "Options:\n"
        "  --as SERVICE  send as SERVICE: the connection takes that name for the\n"
        "                moment, so it must be free (default: a name of this run\n"
        "                alone, com.example.zumi.pPID, PID being the process id)\n"
        "  --int N       an integer parameter (repeatable)\n"
        "  --string TEXT a string parameter (repeatable)\n"
        "  -h, --help    show this help\n",
        {{"as", true}, {"int", true}, {"string", true}}, runSend};
    return command;
}

}  // namespace tool
}  // namespace zumi
