// tools/main.cpp - the host tool `zera`: finds the command's row in the
// command table, splits the rest of the command line by it (with the common
// options given before the command name, "zera -v list", put in front),
// puts the common options in effect and runs the command. The first word
// of commands of several words alone says which there are.
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "search_path.h"

int main(int argc, char **argv) {
    using namespace tool;
    std::vector<std::string> leading;
    int at = 1;
    while (at < argc && IsLeadingOption(argv[at])) leading.push_back(argv[at++]);
    if (at >= argc) {
        PrintMainUsage(stderr);
        return kExitUsage;
    }
    std::vector<std::string> words(argv + at, argv + argc);
    if (words[0] == "--version") words[0] = "version";
    if (words[0] == "--help" || words[0] == "-h") words[0] = "help";
    size_t used = 0;
    const Command *command = FindCommand(words, &used);
    if (command == nullptr && IsCommandGroup(words[0])) {
        // "zera trace" without one of its subcommands: what it takes.
        if (words.size() == 2 && (words[1] == "--help" || words[1] == "-h")) {
            PrintCommandUsage(words[0], stdout);
            return kExitOk;
        }
        if (words.size() == 1) std::fprintf(stderr, "zera %s: a subcommand must follow\n\n", argv[at]);
        else std::fprintf(stderr, "zera %s: no subcommand '%s'\n\n", argv[at], words[1].c_str());
        PrintCommandUsage(words[0], stderr);
        return kExitUsage;
    }
    if (command == nullptr) {
        std::fprintf(stderr, "zera: unknown command '%s'\n\n", argv[at]);
        PrintMainUsage(stderr);
        return kExitUsage;
    }
    CommandLine line;
    line.command = command->name;
    if ((command->takes & kTakesWordsAsGiven) != 0) {
        line.words.assign(words.begin() + static_cast<std::ptrdiff_t>(used), words.end());
        return command->run(line);
    }
    std::vector<std::string> args = leading;
    args.insert(args.end(), words.begin() + static_cast<std::ptrdiff_t>(used), words.end());
    bool help = false;
    if (!SplitCommandLine(*command, args, &line, &help)) return kExitUsage;
    if (help) return kExitOk;
    SetVerbose(line.common.verbose);
    if (line.common.quiet) SilenceStdout();
    return command->run(line);
}
