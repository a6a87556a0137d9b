#ifndef ZUMI_TOOLS_COMMANDS_H
#define ZUMI_TOOLS_COMMANDS_H

// The subcommands of the zumi command and the one place that turns their
// outcome into an exit status (the ExitStatus values below). Every message
// on stderr is one line that starts with the program's name: "zumi: " and
// the exception's text for a refusal, "zumi COMMAND: " for a usage error.
//
// A new command is a Command returned by a function declared here and listed
// in allCommands() (Tool.cpp); help, `zumi help COMMAND`, the option parser
// and shell completion (which reads the help) then know it.
//
// Threads: everything runs on the calling (main) thread; `wait` runs the
// GLib default main loop there, where the library delivers events.

#include <ostream>
#include <string>
#include <vector>

#include "Args.h"

namespace zumi {
namespace tool {

enum ExitStatus {
    EXIT_DONE = 0,
    EXIT_REFUSED = 1,  // the bus or the service refused
    EXIT_USAGE = 2,    // a mistake on the command line
    EXIT_TIMEOUT = 3,  // a --timeout ran out before the command was done
};

struct Command {
    const char* name;
    const char* summary;  // one line for `zumi --help`
    std::string help;     // the whole text of `zumi NAME --help`
    std::vector<OptionSpec> options;
    int (*run)(const Args& args, std::ostream& out, std::ostream& err);
};

const Command& getCommand();
const Command& setCommand();
const Command& sendCommand();
const Command& waitCommand();
const Command& listCommand();
const Command& monitorCommand();
const Command& recordCommand();
const Command& replayCommand();
const Command& chartCommand();
const Command& policyCommand();

// Every command, in the order `zumi --help` lists them.
std::vector<const Command*> allCommands();

// Runs `zumi argv...` (argv without the program name) and returns the exit
// status.
int runTool(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err);

// The identifier of the connection that reads, writes, lists and waits: a
// client-only connection, which owns no name on the bus.
extern const char* const CLIENT_ID;

}  // namespace tool
}  // namespace zumi

#endif
