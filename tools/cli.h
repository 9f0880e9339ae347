// tools/cli.h - the host tool's command line: the options of each command,
// parsed into plain records, and the usage texts. Options may be written
// "--name value" or "--name=value"; "--" ends the options. Included by the
// tool's sources only.
#ifndef ZERA_TOOLS_CLI_H
#define ZERA_TOOLS_CLI_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tool {

// A parameter to set before the stack starts: --set LEVEL:NAME=VALUE.
struct ParamSetting {
    uint32_t level = 0;
    std::string name;
    std::string value;  // parsed by the parameter's type once the stack is built
};

// A schedule of host events: --send LEVEL:PERIOD_MS[:COUNT]; count 0 repeats
// until the run ends.
struct SendSchedule {
    uint32_t level = 0;
    uint32_t periodMs = 0;
    uint32_t count = 0;
};

// What every command takes.
struct CommonOptions {
    bool json = false;     // the report as one JSON object
    bool verbose = false;  // log on stderr which module was loaded from where
};

struct RunOptions : CommonOptions {
    std::vector<std::string> components;  // empty: the sample stack
    double durationSeconds = 5.0;
    std::vector<ParamSetting> settings;
    std::vector<SendSchedule> sends;
    bool trace = false;  // show each event that reaches level 0
    std::string traceOut;  // the timeline's file, or empty
    bool latency = false;  // print the queues' residence times
};

struct InspectOptions : CommonOptions {
    std::string component;
};

struct DescribeOptions : CommonOptions {
    std::vector<std::string> components;
};

struct ListOptions : CommonOptions {};

// zera serve: a stack behind a link endpoint.
struct ServeOptions : CommonOptions {
    std::vector<std::string> components;
    std::string endpoint = "tcp://*:5570";
    bool connect = false;          // connect to the endpoint instead of binding it
    std::string name = "serve";    // this end's name in its welcome
    std::string peerName;          // the name a stack peer must have (empty: any)
    uint32_t highWater = 1000;
    uint32_t intervalMs = 0;       // print the status this often (0: never)
    std::vector<ParamSetting> settings;
};

// zera top: a live view of a served stack.
struct TopOptions : CommonOptions {
    std::string endpoint;
    uint32_t count = 0;  // refreshes before it ends (0: until Ctrl-C)
    bool describe = false;  // print the stack description once instead
};

// The sample stack, bottom to top.
const std::vector<std::string> &SampleStack();

// Each parser reads the arguments after the command name. On a bad argument
// it prints a message naming it to stderr and returns false; --help prints
// the command's usage to stdout and sets *help.
bool ParseRun(const std::vector<std::string> &args, RunOptions *out, bool *help);
bool ParseInspect(const std::vector<std::string> &args, InspectOptions *out, bool *help);
bool ParseDescribe(const std::vector<std::string> &args, DescribeOptions *out, bool *help);
bool ParseList(const std::vector<std::string> &args, ListOptions *out, bool *help);
bool ParseServe(const std::vector<std::string> &args, ServeOptions *out, bool *help);
bool ParseTop(const std::vector<std::string> &args, TopOptions *out, bool *help);

void PrintMainUsage(std::FILE *to);
// The usage of one command; false when there is no such command.
bool PrintCommandUsage(const std::string &command, std::FILE *to);

}  // namespace tool

#endif  // ZERA_TOOLS_CLI_H
