// tools/help_command.cpp - `zera help`: the list of commands, the usage of
// one, or the manual page, all made from the command table.
#include <cstdio>
#include <string>

#include "command.h"

namespace tool {

int CommandHelp(const CommandLine &line) {
    const std::vector<std::string> &words = line.words;
    if (words.empty()) {
        PrintMainUsage(stdout);
        return kExitOk;
    }
    if (words.size() == 1 && words[0] == "--man") {
        PrintManual(stdout);
        return kExitOk;
    }
    std::string name;
    for (const std::string &w : words) name += (name.empty() ? "" : " ") + w;
    if (PrintCommandUsage(name, stdout)) return kExitOk;
    std::fprintf(stderr, "zera help: no command '%s'\n\n", name.c_str());
    PrintMainUsage(stderr);
    return kExitUsage;
}

}  // namespace tool
