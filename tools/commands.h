// tools/commands.h - the tool's commands; each takes the arguments after
// its name and returns the process's exit status (0 success, 1 a stack or
// module failure, 2 a bad command line; `zera help` says so too). Included by the tool's sources only.
#ifndef ZERA_TOOLS_COMMANDS_H
#define ZERA_TOOLS_COMMANDS_H

#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "search_path.h"

namespace tool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Sends the standard output to the null device (-q).
void SilenceStdout();

// Parses a command's arguments with parse(args, &options, &help) and runs
// body(options), switching the verbose log on and the standard output off
// as asked: the exit status (2 for a bad command line, 0 after --help).
template <typename Options, typename Parse, typename Body>
int RunParsed(const std::vector<std::string> &args, Parse parse, Body body) {
    Options options;
    bool help = false;
    if (!parse(args, &options, &help)) return kExitUsage;
    if (help) return kExitOk;
    SetVerbose(options.verbose);
    if (options.quiet) SilenceStdout();
    return body(options);
}

int CommandRun(const std::vector<std::string> &args);
int CommandInspect(const std::vector<std::string> &args);
int CommandDescribe(const std::vector<std::string> &args);
// Decodes a stack description packet from its count byte and prints it as
// describe does (text or JSON); false with a message, printing nothing, for
// a short or malformed packet. The packet stays the caller's.
bool PrintDescription(ZERA_HPACKET packet, bool json, std::string *error);
int CommandList(const std::vector<std::string> &args);
#if ZERA_TOOL_LINK
int CommandServe(const std::vector<std::string> &args);
int CommandTop(const std::vector<std::string> &args);
int CommandKeygen(const std::vector<std::string> &args);
#endif

}  // namespace tool

#endif  // ZERA_TOOLS_COMMANDS_H
