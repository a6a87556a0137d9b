// The zumi command: see Commands.h and `zumi --help`.

#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int status = zumi::tool::runTool(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
