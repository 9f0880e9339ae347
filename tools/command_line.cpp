// tools/command_line.cpp - splitting a command line by its row of the
// command table, finding the row, and the numbers every command reads.
#include <cerrno>
#include <cstdlib>

#include "command.h"

namespace tool {

namespace {

bool Contains(const std::vector<const char *> &list, const std::string &item) {
    for (const char *s : list) {
        if (item == s) return true;
    }
    return false;
}

// Whether the words of `name` stand at the front of `words`; *count says
// how many there are.
bool NameMatches(const char *name, const std::vector<std::string> &words, size_t *count) {
    size_t n = 0;
    for (const char *at = name; *at != '\0'; ++n) {
        const char *end = at;
        while (*end != '\0' && *end != ' ') ++end;
        if (n >= words.size() || words[n].compare(0, std::string::npos, at, static_cast<size_t>(end - at)) != 0) {
            return false;
        }
        at = *end == ' ' ? end + 1 : end;
    }
    *count = n;
    return n != 0;
}

}  // namespace

bool CommandLine::Bad(const std::string &what) const {
    std::fprintf(stderr, "zera %s: %s (see zera help %s)\n", command, what.c_str(), command);
    return false;
}

const Command *FindCommand(const std::vector<std::string> &words, size_t *used) {
    for (const Command &c : Commands()) {
        if (NameMatches(c.name, words, used)) return &c;
    }
    return nullptr;
}

bool SplitCommandLine(const Command &cmd, const std::vector<std::string> &args, CommandLine *line, bool *help) {
    line->command = cmd.name;
    *help = false;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            line->words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const bool inlineValue = equals != std::string::npos;
        const bool asksHelp = name == "--help" || name == "-h";
        const bool json = name == "--json" && (cmd.takes & kTakesJson) != 0;
        const bool verbose = (name == "--verbose" || name == "-v") && (cmd.takes & kTakesVerbose) != 0;
        const bool quiet = name == "--quiet" || name == "-q";
        if (asksHelp || json || verbose || quiet || Contains(cmd.flagOptions, name)) {
            if (inlineValue) return line->Bad(name + " takes no value");
            if (asksHelp) {
                PrintCommandUsage(cmd.name, stdout);
                *help = true;
                return true;
            }
            if (json) line->common.json = true;
            else if (verbose) line->common.verbose = true;
            else if (quiet) line->common.quiet = true;
            else line->options.push_back({name, ""});
        } else if (Contains(cmd.valueOptions, name)) {
            if (!inlineValue && i + 1 >= args.size()) return line->Bad(name + " needs a value");
            line->options.push_back({name, inlineValue ? arg.substr(equals + 1) : args[++i]});
        } else {
            return line->Bad("unknown option '" + name + "'");
        }
    }
    return true;
}

bool ParseNumber(const std::string &text, uint32_t max, uint32_t *out) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
        return false;
    }
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno != 0 || value > max) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseLevel(const std::string &text, uint32_t *out) { return ParseNumber(text, 31, out) && *out >= 1; }

bool IsLeadingOption(const std::string &arg) {
    return arg == "-v" || arg == "--verbose" || arg == "-q" || arg == "--quiet" || arg == "--json";
}

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
