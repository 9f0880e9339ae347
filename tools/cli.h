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

// What every command takes (each command lists those that apply to it).
struct CommonOptions {
    bool json = false;     // the report as one JSON object
    bool verbose = false;  // log on stderr which module was loaded from where
    bool quiet = false;    // nothing on stdout: the exit status and stderr say it
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
    bool exists = false;  // only the exit status: 0 a component the library takes, 1 not
};

struct VersionOptions : CommonOptions {};

struct DescribeOptions : CommonOptions {
    std::vector<std::string> components;
};

struct ListOptions : CommonOptions {};

// zera serve: a stack behind a link endpoint.
struct ServeOptions : CommonOptions {
    std::vector<std::string> components;
    std::string endpoint = "tcp://127.0.0.1:5570";
    bool connect = false;          // connect to the endpoint instead of binding it
    std::string curveSecret;       // CURVE: the server's key pair file (empty: CURVE off)
    std::string allow;             // CURVE: the allow-list file or folder of client keys
    bool insecure = false;         // a bind beyond loopback without CURVE, knowingly
    std::string name = "serve";    // this end's name in its welcome
    std::string peerName;          // the name a stack peer must have (empty: any)
    uint32_t highWater = 16;       // messages per direction and connection (zlink::kDefaultHighWater)
    uint32_t intervalMs = 0;       // print the status this often (0: never)
    std::vector<ParamSetting> settings;
};

// zera top: a live view of a served stack.
struct TopOptions : CommonOptions {
    std::string endpoint;
    uint32_t count = 0;  // refreshes before it ends (0: until Ctrl-C)
    bool describe = false;  // print the stack description once instead
    std::string serverKey;  // CURVE: the server's public key (Z85) or a file that holds it
    std::string keyFile;    // CURVE: this end's key pair file
};

// zera keygen: a CURVE key pair for a link end.
struct KeygenOptions : CommonOptions {
    std::string name;  // writes NAME.key and NAME.pub
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
bool ParseKeygen(const std::vector<std::string> &args, KeygenOptions *out, bool *help);
bool ParseVersion(const std::vector<std::string> &args, VersionOptions *out, bool *help);

// A number as the command line gives it: decimal, or hexadecimal after 0x;
// no sign, no junk, no greater than max.
bool ParseNumber(const std::string &text, uint32_t max, uint32_t *out);

// The options that may stand before the command name ("zera -v list") and
// apply to it as if they followed it.
bool IsLeadingOption(const std::string &arg);

void PrintMainUsage(std::FILE *to);
// The usage of one command; false when there is no such command.
bool PrintCommandUsage(const std::string &command, std::FILE *to);
// The manual page of the tool (man(7) format): the main usage, then a
// section per command made of the same texts as `zera help COMMAND`.
void PrintManual(std::FILE *to);

}  // namespace tool

#endif  // ZERA_TOOLS_CLI_H
