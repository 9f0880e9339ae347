// tools/main.cpp - the host tool `zera`: picks the command and hands it the
// rest of the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"

int main(int argc, char **argv) {
    if (argc < 2) {
        tool::PrintMainUsage(stderr);
        return tool::kExitUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "run") return tool::CommandRun(args);
    if (command == "inspect") return tool::CommandInspect(args);
    if (command == "describe") return tool::CommandDescribe(args);
    if (command == "list") return tool::CommandList(args);
#if ZERA_TOOL_LINK
    if (command == "serve") return tool::CommandServe(args);
    if (command == "top") return tool::CommandTop(args);
    if (command == "keygen") return tool::CommandKeygen(args);
#endif
    if (command == "version" || command == "--version") {
        std::printf("zera %s\n", ZERA_TOOL_VERSION);
        return tool::kExitOk;
    }
    if (command == "help" || command == "--help" || command == "-h") {
        if (args.empty()) {
            tool::PrintMainUsage(stdout);
            return tool::kExitOk;
        }
        if (args.size() == 1 && tool::PrintCommandUsage(args[0], stdout)) return tool::kExitOk;
        std::fprintf(stderr, "zera help: no command '%s'\n\n", args[0].c_str());
        tool::PrintMainUsage(stderr);
        return tool::kExitUsage;
    }
    std::fprintf(stderr, "zera: unknown command '%s'\n\n", command.c_str());
    tool::PrintMainUsage(stderr);
    return tool::kExitUsage;
}
