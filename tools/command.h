// tools/command.h - what a command of the host tool is made of: its row in
// the command table (tools/command_table.cpp), the command line as the
// table splits it for the command, the exit statuses, and the usage texts
// and manual page made from the table. Included by the tool's sources only.
#ifndef ZERA_TOOLS_COMMAND_H
#define ZERA_TOOLS_COMMAND_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tool {

// The process's exit status: 1 a stack or module failure, 2 a bad command
// line (`zera help` says so too).
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// What every command takes (each row says which of them apply to it).
struct CommonOptions {
    bool json = false;     // the report as one JSON object
    bool verbose = false;  // log on stderr which module was loaded from where
    bool quiet = false;    // nothing on stdout: the exit status and stderr say it
};

// An option of the command's own, as given, with its value when it takes one.
struct GivenOption {
    std::string name;
    std::string value;
};

// A command line split by the row's option lists: "--name value" or
// "--name=value"; "--" ends the options.
struct CommandLine {
    const char *command = "";  // the row's name, for messages
    CommonOptions common;
    std::vector<GivenOption> options;  // in the order given
    std::vector<std::string> words;    // everything that is no option

    // Prints "zera COMMAND: what (see zera help COMMAND)" to stderr and
    // returns false, for a parse to return.
    bool Bad(const std::string &what) const;
};

// Which common options a command takes: --json where it prints a report it
// can write as JSON, -v where it loads components. A command that takes
// its words as given gets every word after its name unsplit, without the
// common options (help, whose words are command names).
enum CommandTakes : unsigned {
    kTakesJson = 1u,
    kTakesVerbose = 2u,
    kTakesWordsAsGiven = 4u,
};

struct Command {
    const char *name;      // one word, or words a space apart ("trace merge")
    const char *synopsis;  // what follows the name in the command list
    const char *summary;   // the command list's line; a '\n' continues it below
    const char *usage;     // zera help NAME: usage lines, what it does, its options
    std::vector<const char *> valueOptions;  // its options that take a value
    std::vector<const char *> flagOptions;   // its options that take none
    unsigned takes;                          // CommandTakes bits
    // Runs the command on its split command line; the exit status. The
    // common options are in effect already (-v logging, -q silencing).
    int (*run)(const CommandLine &line);
};

// Every command, in the order `zera help` lists them.
const std::vector<Command> &Commands();

// The command named by the words at the front of `words` (a row of two
// words needs both), with *used the number of words its name took; null
// when none is.
const Command *FindCommand(const std::vector<std::string> &words, size_t *used);

// Parses a command's line into its options record with
// parse(line, &options) (which says what is wrong on stderr), then runs
// run(options): the exit status, 2 when the parse refused.
template <typename Options, typename Parse, typename Run>
int RunParsed(const CommandLine &line, Parse parse, Run run) {
    Options options;
    static_cast<CommonOptions &>(options) = line.common;
    if (!parse(line, &options)) return kExitUsage;
    return run(options);
}

// A number as the command line gives it: decimal, or hexadecimal after 0x;
// no sign, no junk, no greater than max.
bool ParseNumber(const std::string &text, uint32_t max, uint32_t *out);
// A level number of a stack above level 0: 1 to 31.
bool ParseLevel(const std::string &text, uint32_t *out);

// The options that may stand before the command name ("zera -v list") and
// apply to it as if they followed it.
bool IsLeadingOption(const std::string &arg);

// Splits args by the row's option lists into *line; false with a message
// for an unknown option, a value missing, or one given to an option that
// takes none. --help prints the command's usage and sets *help.
bool SplitCommandLine(const Command &command, const std::vector<std::string> &args, CommandLine *line, bool *help);

// Sends the standard output to the null device (-q).
void SilenceStdout();

// The list of commands with the search path and the exit statuses.
void PrintMainUsage(std::FILE *to);
// The usage of the command so named, or for the first word of commands of
// several words ("trace") the list of them; false when there is no such
// command.
bool PrintCommandUsage(const std::string &name, std::FILE *to);
// Whether word begins commands of several words ("trace" of "trace merge").
bool IsCommandGroup(const std::string &word);
// The tool's manual page (man(7) format): the main usage, then a section
// per command made of the same texts as `zera help COMMAND`.
void PrintManual(std::FILE *to);

}  // namespace tool

#endif  // ZERA_TOOLS_COMMAND_H
