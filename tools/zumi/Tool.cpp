#include <exception>

#include <zumi/ZumiException.h>

#include "Commands.h"
#include "Json.h"

namespace zumi {
namespace tool {

const char* const CLIENT_ID = "";

namespace {

const char* const TOOL_HELP =
    "Usage: zumi COMMAND [OPTIONS] [ARGUMENTS]\n"
    "\n"
    "Reads and writes the properties that services publish on the message bus,\n"
    "sends events and watches them.\n"
    "\n"
    "Commands:\n";

const char* const TOOL_FOOTER =
    "\n"
    "Run 'zumi COMMAND --help' for the details of a command.\n"
    "The bus is the one at ZUMI_BUS_ADDRESS (a D-Bus address), else the session bus.\n"
    "Exit status: 0 on success, 1 when the bus or the service refuses, 2 on a usage error.\n";

std::vector<const Command*> allCommands() {
    return {&listCommand(),    &getCommand(),    &setCommand(),   &sendCommand(),
            &waitCommand(),    &monitorCommand(), &recordCommand(), &replayCommand()};
}

void printToolHelp(std::ostream& out) {
    out << TOOL_HELP;
    for (const Command* command : allCommands()) {
        std::string name = command->name;
        out << "  " << name << std::string(8 - name.size(), ' ') << command->summary << "\n";
    }
    out << TOOL_FOOTER;
}

}  // namespace

int runTool(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err) {
    if (argv.empty()) {
        err << "zumi: missing COMMAND (see zumi --help)\n";
        return 2;
    }
    if (argv[0] == "--help" || argv[0] == "-h" || argv[0] == "help") {
        printToolHelp(out);
        return 0;
    }
    const Command* command = nullptr;
    for (const Command* candidate : allCommands()) {
        if (argv[0] == candidate->name) command = candidate;
    }
    if (command == nullptr) {
        err << "zumi: unknown command '" << argv[0] << "' (see zumi --help)\n";
        return 2;
    }
    const std::string prefix = std::string("zumi ") + command->name;
    try {
        Args args(std::vector<std::string>(argv.begin() + 1, argv.end()), command->options);
        if (args.helpWanted()) {
            out << command->help;
            return 0;
        }
        return command->run(args, out, err);
    } catch (const UsageError& e) {
        err << prefix << ": " << e.what() << " (see " << prefix << " --help)\n";
        return 2;
    } catch (const JsonError& e) {
        err << prefix << ": invalid hash array JSON: " << e.what() << "\n";
        return 2;
    } catch (const veltra::kesh::zumi::ZumiException& e) {
        err << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        err << prefix << ": " << e.what() << "\n";
        return 1;
    }
}

}  // namespace tool
}  // namespace zumi
