// tools/main.cpp - the host tool `zera`: picks the command and hands it the
// rest of the command line, with the common options given before the
// command name ("zera -v list") put in front of it.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "json.h"
#include "trace_merge.h"

namespace tool {

void SilenceStdout() {
    std::fflush(stdout);
#if defined(_WIN32)
    const char *null = "NUL";
#else
    const char *null = "/dev/null";
#endif
    if (std::freopen(null, "w", stdout) == nullptr) std::fprintf(stderr, "zera: cannot silence the standard output\n");
}

}  // namespace tool

namespace {

int CommandVersion(const std::vector<std::string> &args) {
    return tool::RunParsed<tool::VersionOptions>(args, tool::ParseVersion, [](const tool::VersionOptions &options) {
        if (options.json) {
            tool::JsonWriter json(stdout);
            json.BeginObject();
            json.Field("tool", "zera");
            json.Field("version", ZERA_TOOL_VERSION);
            json.EndObject();
            json.End();
        } else {
            std::printf("zera %s\n", ZERA_TOOL_VERSION);
        }
        return tool::kExitOk;
    });
}

int CommandHelp(const std::vector<std::string> &args) {
    if (args.empty()) {
        tool::PrintMainUsage(stdout);
        return tool::kExitOk;
    }
    if (args.size() == 1 && args[0] == "--man") {
        tool::PrintManual(stdout);
        return tool::kExitOk;
    }
    if (args.size() == 1 && tool::PrintCommandUsage(args[0], stdout)) return tool::kExitOk;
    std::fprintf(stderr, "zera help: no command '%s'\n\n", args[0].c_str());
    tool::PrintMainUsage(stderr);
    return tool::kExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> leading;
    int at = 1;
    while (at < argc && tool::IsLeadingOption(argv[at])) leading.push_back(argv[at++]);
    if (at >= argc) {
        tool::PrintMainUsage(stderr);
        return tool::kExitUsage;
    }
    const std::string command = argv[at];
    std::vector<std::string> args = leading;
    args.insert(args.end(), argv + at + 1, argv + argc);
    if (command == "run") return tool::CommandRun(args);
    if (command == "inspect") return tool::CommandInspect(args);
    if (command == "describe") return tool::CommandDescribe(args);
    if (command == "list") return tool::CommandList(args);
    if (command == "trace") return tool::RunTraceMerge(std::vector<std::string>(argv + at + 1, argv + argc));
#if ZERA_TOOL_LINK
    if (command == "serve") return tool::CommandServe(args);
    if (command == "top") return tool::CommandTop(args);
    if (command == "keygen") return tool::CommandKeygen(args);
#endif
    if (command == "version" || command == "--version") return CommandVersion(args);
    if (command == "help" || command == "--help" || command == "-h") {
        return CommandHelp(std::vector<std::string>(argv + at + 1, argv + argc));
    }
    std::fprintf(stderr, "zera: unknown command '%s'\n\n", command.c_str());
    tool::PrintMainUsage(stderr);
    return tool::kExitUsage;
}
