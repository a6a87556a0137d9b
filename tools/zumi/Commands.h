#ifndef ZUMI_TOOLS_COMMANDS_H
#define ZUMI_TOOLS_COMMANDS_H

// The subcommands of the zumi command and the one place that turns their
// outcome into an exit status: 0 on success, 1 when the bus or the service
// refuses (the exception's text on stderr, unchanged), 2 on a usage error
// (one line naming the mistake).
//
// Threads: everything runs on the calling (main) thread; `wait` runs the
// GLib default main loop there, where the library delivers events.

#include <ostream>
#include <string>
#include <vector>

#include "Args.h"

namespace zumi {
namespace tool {

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

// Runs `zumi argv...` (argv without the program name) and returns the exit
// status.
int runTool(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err);

// The identifier of the connection that reads, writes, lists and waits: a
// client-only connection, which owns no name on the bus.
extern const char* const CLIENT_ID;

}  // namespace tool
}  // namespace zumi

#endif
