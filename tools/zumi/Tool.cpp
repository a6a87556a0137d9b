#include <stdlib.h>

#include <cstddef>
#include <exception>

#include <zumi/ZumiException.h>

#include "Commands.h"
#include "Json.h"

#ifndef ZUMI_VERSION
#error "the build defines ZUMI_VERSION, the project's version"
#endif

namespace zumi {
namespace tool {

const char* const CLIENT_ID = "";

namespace {

const char* const TOOL_HELP =
    "Usage: zumi [--system | --session | --address ADDRESS] COMMAND [OPTIONS] [ARGUMENTS]\n"
    "       zumi help [COMMAND]\n"
    "       zumi --version\n"
    "\n"
    "Reads and writes the properties that services publish on the message bus,\n"
    "sends events and watches them.\n"
    "\n"
    "Commands:\n";

const char* const TOOL_FOOTER =
    "\n"
    "Run 'zumi help COMMAND' (or 'zumi COMMAND --help') for the details of a command.\n"
    "An option starts with --; '--' ends the options, so that an argument after\n"
    "it may start with -- too.\n"
    "\n"
    "Values are printed as JSON: integers in decimal, strings in double quotes\n"
    "with JSON escapes, hash arrays as lists of objects of integers and strings.\n"
    "\n"
    "The bus: --address ADDRESS (a D-Bus address), --system or --session before\n"
    "the command; else the one at ZUMI_BUS_ADDRESS; else ZUMI_BUS=system or\n"
    "ZUMI_BUS=session; else the session bus when DBUS_SESSION_BUS_ADDRESS is set,\n"
    "else the system bus (at DBUS_SYSTEM_BUS_ADDRESS, or its usual socket).\n"
    "\n"
    "Exit status: 0 on success, 1 when the bus or the service refuses, 2 on a\n"
    "usage error, 3 when a --timeout runs out. Messages go to stderr, one line\n"
    "each, starting with 'zumi'.\n";

void printToolHelp(std::ostream& out) {
    out << TOOL_HELP;
    for (const Command* command : allCommands()) {
        std::string name = command->name;
        out << "  " << name << std::string(name.size() < 8 ? 8 - name.size() : 1, ' ')
            << command->summary << "\n";
    }
    out << TOOL_FOOTER;
}

const Command* findCommand(const std::string& name) {
    for (const Command* candidate : allCommands()) {
        if (name == candidate->name) return candidate;
    }
    return nullptr;
}

int unknownCommand(const std::string& name, std::ostream& err) {
    err << "zumi: unknown command '" << name << "' (see zumi --help)\n";
    return EXIT_USAGE;
}

// The bus options before the command (`zumi --system get ...`), as busctl's
// and gdbus's users write them. They choose through the environment that
// libzumi reads, so that every connection the command opens goes there.
bool takeBusOptions(std::vector<std::string>* argv, std::ostream& err) {
    size_t taken = 0;
    for (; taken < argv->size(); ++taken) {
        const std::string& option = (*argv)[taken];
        if (option == "--system" || option == "--session") {
            unsetenv("ZUMI_BUS_ADDRESS");
            setenv("ZUMI_BUS", option.c_str() + 2, 1);
        } else if (option == "--address") {
            if (taken + 1 == argv->size() || (*argv)[taken + 1].empty()) {
                err << "zumi: --address needs a D-Bus address (see zumi --help)\n";
                return false;
            }
            setenv("ZUMI_BUS_ADDRESS", (*argv)[++taken].c_str(), 1);
        } else {
            break;
        }
    }
    argv->erase(argv->begin(), argv->begin() + static_cast<std::ptrdiff_t>(taken));
    return true;
}

}  // namespace

std::vector<const Command*> allCommands() {
    return {&listCommand(),    &getCommand(),     &setCommand(),    &sendCommand(),  &waitCommand(),
            &monitorCommand(), &recordCommand(), &replayCommand(), &chartCommand(), &policyCommand()};
}

int runTool(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    std::vector<std::string> argv = arguments;
    if (!takeBusOptions(&argv, err)) return EXIT_USAGE;
    if (argv.empty()) {
        err << "zumi: missing COMMAND (see zumi --help)\n";
        return EXIT_USAGE;
    }
    if (argv[0] == "--version") {
        out << "zumi " ZUMI_VERSION "\n";
        return EXIT_DONE;
    }
    if (argv[0] == "--help" || argv[0] == "-h" || argv[0] == "help") {
        if (argv.size() > 2 && argv[0] == "help") {
            err << "zumi help: unexpected argument '" << argv[2] << "' (see zumi --help)\n";
            return EXIT_USAGE;
        }
        if (argv.size() == 2 && argv[0] == "help") {
            const Command* command = findCommand(argv[1]);
            if (command == nullptr) return unknownCommand(argv[1], err);
            out << command->help;
            return EXIT_DONE;
        }
        printToolHelp(out);
        return EXIT_DONE;
    }
    const Command* command = findCommand(argv[0]);
    if (command == nullptr) return unknownCommand(argv[0], err);
    const std::string prefix = std::string("zumi ") + command->name;
    try {
        Args args(std::vector<std::string>(argv.begin() + 1, argv.end()), command->options);
        if (args.helpWanted()) {
            out << command->help;
            return EXIT_DONE;
        }
        return command->run(args, out, err);
    } catch (const UsageError& e) {
        err << prefix << ": " << e.what() << " (see " << prefix << " --help)\n";
        return EXIT_USAGE;
    } catch (const JsonError& e) {
        err << prefix << ": invalid hash array JSON: " << e.what() << "\n";
        return EXIT_USAGE;
    } catch (const veltra::kesh::zumi::ZumiException& e) {
        err << "zumi: " << e.what() << "\n";
        return EXIT_REFUSED;
    } catch (const std::exception& e) {
        err << prefix << ": " << e.what() << "\n";
        return EXIT_REFUSED;
    }
}

}  // namespace tool
}  // namespace zumi
