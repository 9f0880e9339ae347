// tools/cli.cpp - parsing the host tool's command line and its usage texts.
#include "cli.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tool {

namespace {

constexpr const char *kSearchText =
    "Components (<Name>.COMPONENT) are looked for in the folders of\n"
    "ZERA_COMPONENT_PATH (separated by ':'), then the current folder, the\n"
    "tool's folder and the installed components folder; the first one found is\n"
    "used. A name with a folder in it is used as given.\n";

constexpr const char *kCommonOptions =
    "  --json                   print the result as one JSON object\n"
    "  -v, --verbose            say on stderr which module was loaded from where\n"
    "  -h, --help               show this text\n"
    "Options take their value as --name VALUE or --name=VALUE; -- ends the options.\n";

constexpr const char *kRunUsage =
    "usage: zera run [<component>...] [--duration SECONDS] [--set LEVEL:NAME=VALUE]...\n"
    "                [--send LEVEL:PERIOD_MS[:COUNT]]... [--trace] [--trace-out FILE]\n"
    "                [--latency] [--json] [-v]\n"
    "\n"
    "Builds a stack on a host level 0 from the components given (bottom to top;\n"
    "none: the sample stack Counter Loopback Ticker), sets the parameters, starts\n"
    "it, sends host events on the schedules given, receives what comes down to\n"
    "level 0, and after the duration (default 5 s) or Ctrl-C stops it and prints a\n"
    "report per level: component, status, statistics, load figures and stack\n"
    "parameters.\n"
    "\n"
    "  --duration SECONDS       how long to run (0 < SECONDS <= 86400)\n"
    "  --set LEVEL:NAME=VALUE   set a stack parameter of LEVEL before the start\n"
    "  --send LEVEL:PERIOD_MS[:COUNT]\n"
    "                           send a host event to LEVEL every PERIOD_MS ms,\n"
    "                           COUNT times (default 0: until the run ends)\n"
    "  --trace                  show each event that reaches level 0: time since\n"
    "                           the start, level, type, identifier, data in hex and\n"
    "                           attachments (with --json: in the report's \"trace\")\n"
    "  --trace-out FILE         write the run's timeline to FILE (trace-event JSON\n"
    "                           for chrome://tracing or ui.perfetto.dev)\n"
    "  --latency                print each level's residence times in its send and\n"
    "                           receive queues: p50, p90, p99, p99.9, max (on\n"
    "                           stderr with --json)\n";

constexpr const char *kInspectUsage =
    "usage: zera inspect <component> [--json] [-v]\n"
    "\n"
    "Loads one component module and prints its file, name, info blocks and stack\n"
    "parameters with their access classes, attributes, values and permitted\n"
    "values, and warns of exports that the library cannot use (one name of the\n"
    "start or stop pair without the other). A module that the library refuses\n"
    "is reported with the error code and text, and the tool exits with status 1.\n";

constexpr const char *kDescribeUsage =
    "usage: zera describe <component>... [--json] [-v]\n"
    "\n"
    "Builds the stack from the components given (bottom to top) and prints the\n"
    "stack description packet of level 0, decoded level by level: number,\n"
    "component name, status and stack parameters.\n";

constexpr const char *kListUsage =
    "usage: zera list [--json] [-v]\n"
    "\n"
    "Lists every component on the search path, once (the first found, which the\n"
    "other commands would load): its name, file, version and what it accepts on\n"
    "top of it. Modules that are no components are listed with the reason.\n";

constexpr const char *kServeUsage =
    "usage: zera serve <component>... [--bind ENDPOINT | --connect ENDPOINT] [--name NAME]\n"
    "                  [--peer-name NAME] [--hwm N] [--interval MS] [--set LEVEL:NAME=VALUE]...\n"
    "\n"
    "Builds a stack from the components given (bottom to top) and serves it at a\n"
    "link endpoint until Ctrl-C or SIGTERM: a Link component at the top of a stack\n"
    "in another process is its peer. Events from the peer are sent to level 1;\n"
    "what comes down to level 0 goes to the peer (item-list events, which carry\n"
    "the stack's status, stay here). Monitors (zera top) get the status of every\n"
    "level and the stack description on request. The first line printed names\n"
    "the endpoint served.\n"
    "\n"
    "  --bind ENDPOINT          bind tcp://ADDRESS:PORT (PORT * picks a free one) or\n"
    "                           ipc://PATH (default tcp://*:5570)\n"
    "  --connect ENDPOINT       connect to a Link that binds instead\n"
    "  --name NAME              the name this end gives in its welcome (serve)\n"
    "  --peer-name NAME         refuse a stack peer of another name\n"
    "  --hwm N                  messages queued per direction (default 1000)\n"
    "  --interval MS            print the status every MS milliseconds\n"
    "  --set LEVEL:NAME=VALUE   set a stack parameter of LEVEL before the start\n";

constexpr const char *kTopUsage =
    "usage: zera top <endpoint> [--count N | --describe] [--json]\n"
    "\n"
    "Shows a served stack (zera serve) each second: per level its component,\n"
    "status, events per second and load figures, and the link's own figures.\n"
    "On a terminal the view is redrawn in place; otherwise one block of plain\n"
    "text per second, or one JSON object per line with --json.\n"
    "\n"
    "  --count N                stop after N views (default: until Ctrl-C)\n"
    "  --describe               print the served stack's description once, as\n"
    "                           zera describe prints a local one, and end\n";

struct Command {
    const char *name;
    const char *usage;
    std::vector<std::string> valueOptions;  // take a value
    std::vector<std::string> flagOptions;   // take none
};

const std::vector<Command> &Commands() {
    static const std::vector<Command> commands = {
        {"run", kRunUsage, {"--duration", "--set", "--send", "--trace-out"}, {"--trace", "--latency"}},
        {"inspect", kInspectUsage, {}, {}},
        {"describe", kDescribeUsage, {}, {}},
        {"list", kListUsage, {}, {}},
#if ZERA_TOOL_LINK
        {"serve", kServeUsage, {"--bind", "--connect", "--name", "--peer-name", "--hwm", "--interval", "--set"}, {}},
        {"top", kTopUsage, {"--count"}, {"--describe"}},
#endif
    };
    return commands;
}

const Command *FindCommand(const std::string &name) {
    for (const Command &c : Commands()) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

void Bad(const char *command, const std::string &what) {
    std::fprintf(stderr, "zera %s: %s (see zera help %s)\n", command, what.c_str(), command);
}

bool Contains(const std::vector<std::string> &list, const std::string &item) {
    for (const std::string &s : list) {
        if (s == item) return true;
    }
    return false;
}

// An option given on the command line, with its value when it takes one.
struct Given {
    std::string name;
    std::string value;
};

// Splits the arguments into options and positional arguments. The common
// options are set directly. False with a message for an unknown option, a
// value missing or given to an option that takes none; --help prints the
// usage and sets *help.
bool Split(const char *command, const std::vector<std::string> &args, CommonOptions *common,
           std::vector<Given> *options, std::vector<std::string> *positional, bool *help) {
    const Command &cmd = *FindCommand(command);
    *help = false;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional->push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const bool inlineValue = equals != std::string::npos;
        if (name == "--help" || name == "-h" || name == "--json" || name == "--verbose" || name == "-v" ||
            Contains(cmd.flagOptions, name)) {
            if (inlineValue) {
                Bad(command, name + " takes no value");
                return false;
            }
            if (name == "--help" || name == "-h") {
                PrintCommandUsage(command, stdout);
                *help = true;
                return true;
            }
            if (name == "--json") common->json = true;
            else if (name == "--verbose" || name == "-v") common->verbose = true;
            else options->push_back({name, ""});
        } else if (Contains(cmd.valueOptions, name)) {
            if (!inlineValue && i + 1 >= args.size()) {
                Bad(command, name + " needs a value");
                return false;
            }
            options->push_back({name, inlineValue ? arg.substr(equals + 1) : args[++i]});
        } else {
            Bad(command, "unknown option '" + name + "'");
            return false;
        }
    }
    return true;
}

// A decimal number without sign or junk, no greater than max.
bool ParseUnsigned(const std::string &text, uint32_t max, uint32_t *out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || value > max) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseLevel(const std::string &text, uint32_t *out) {
    return ParseUnsigned(text, 31, out) && *out >= 1;
}

bool ParseSetting(const std::string &text, ParamSetting *out) {
    const size_t colon = text.find(':');
    const size_t equals = text.find('=');
    if (colon == std::string::npos || equals == std::string::npos || equals < colon) return false;
    out->name = text.substr(colon + 1, equals - colon - 1);
    out->value = text.substr(equals + 1);
    return ParseLevel(text.substr(0, colon), &out->level) && !out->name.empty();
}

bool ParseSchedule(const std::string &text, SendSchedule *out) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
        parts.push_back(text.substr(start, colon - start));
    }
    parts.push_back(text.substr(start));
    if (parts.size() < 2 || parts.size() > 3) return false;
    if (!ParseLevel(parts[0], &out->level)) return false;
    if (!ParseUnsigned(parts[1], 3600000, &out->periodMs) || out->periodMs == 0) return false;
    out->count = 0;
    return parts.size() == 2 || ParseUnsigned(parts[2], 0xFFFFFFFFu, &out->count);
}

bool ParseDuration(const std::string &value, double *out) {
    char *end = nullptr;
    *out = std::strtod(value.c_str(), &end);
    return !value.empty() && *end == '\0' && std::isfinite(*out) && *out > 0 && *out <= 86400;
}

}  // namespace

const std::vector<std::string> &SampleStack() {
    static const std::vector<std::string> stack = {"Counter", "Loopback", "Ticker"};
    return stack;
}

bool ParseRun(const std::vector<std::string> &args, RunOptions *out, bool *help) {
    std::vector<Given> options;
    if (!Split("run", args, out, &options, &out->components, help)) return false;
    if (*help) return true;
    for (const Given &o : options) {
        if (o.name == "--trace") {
            out->trace = true;
        } else if (o.name == "--latency") {
            out->latency = true;
        } else if (o.name == "--trace-out") {
            if (o.value.empty()) {
                Bad("run", "--trace-out needs a file");
                return false;
            }
            out->traceOut = o.value;
        } else if (o.name == "--duration") {
            if (!ParseDuration(o.value, &out->durationSeconds)) {
                Bad("run", "bad duration '" + o.value + "' (seconds, above 0, at most 86400)");
                return false;
            }
        } else if (o.name == "--set") {
            ParamSetting setting;
            if (!ParseSetting(o.value, &setting)) {
                Bad("run", "bad --set '" + o.value + "' (LEVEL:NAME=VALUE, LEVEL 1 to 31)");
                return false;
            }
            out->settings.push_back(setting);
        } else {
            SendSchedule schedule;
            if (!ParseSchedule(o.value, &schedule)) {
                Bad("run", "bad --send '" + o.value + "' (LEVEL:PERIOD_MS[:COUNT], LEVEL 1 to 31, PERIOD_MS 1 to 3600000)");
                return false;
            }
            out->sends.push_back(schedule);
        }
    }
    if (out->components.empty()) out->components = SampleStack();
    return true;
}

bool ParseInspect(const std::vector<std::string> &args, InspectOptions *out, bool *help) {
    std::vector<Given> options;
    std::vector<std::string> positional;
    if (!Split("inspect", args, out, &options, &positional, help)) return false;
    if (*help) return true;
    if (positional.size() != 1) {
        Bad("inspect", "name exactly one component");
        return false;
    }
    out->component = positional[0];
    return true;
}

bool ParseDescribe(const std::vector<std::string> &args, DescribeOptions *out, bool *help) {
    std::vector<Given> options;
    if (!Split("describe", args, out, &options, &out->components, help)) return false;
    if (*help) return true;
    if (out->components.empty()) {
        Bad("describe", "name the components of the stack, bottom to top");
        return false;
    }
    return true;
}

bool ParseList(const std::vector<std::string> &args, ListOptions *out, bool *help) {
    std::vector<Given> options;
    std::vector<std::string> positional;
    if (!Split("list", args, out, &options, &positional, help)) return false;
    if (*help) return true;
    if (!positional.empty()) {
        Bad("list", "takes no component names");
        return false;
    }
    return true;
}

bool ParseServe(const std::vector<std::string> &args, ServeOptions *out, bool *help) {
    std::vector<Given> options;
    if (!Split("serve", args, out, &options, &out->components, help)) return false;
    if (*help) return true;
    for (const Given &o : options) {
        bool ok = true;
        if (o.name == "--bind" || o.name == "--connect") {
            out->endpoint = o.value;
            out->connect = o.name == "--connect";
            ok = !o.value.empty();
        } else if (o.name == "--name") {
            out->name = o.value;
        } else if (o.name == "--peer-name") {
            out->peerName = o.value;
        } else if (o.name == "--hwm") {
            ok = ParseUnsigned(o.value, 1000000, &out->highWater) && out->highWater != 0;
        } else if (o.name == "--interval") {
            ok = ParseUnsigned(o.value, 86400000, &out->intervalMs);
        } else {
            ParamSetting setting;
            ok = ParseSetting(o.value, &setting);
            out->settings.push_back(setting);
        }
        if (!ok) {
            Bad("serve", "bad value '" + o.value + "' for " + o.name);
            return false;
        }
    }
    if (out->components.empty()) {
        Bad("serve", "name the components of the stack, bottom to top");
        return false;
    }
    return true;
}

bool ParseTop(const std::vector<std::string> &args, TopOptions *out, bool *help) {
    std::vector<Given> options;
    std::vector<std::string> positional;
    if (!Split("top", args, out, &options, &positional, help)) return false;
    if (*help) return true;
    for (const Given &o : options) {
        if (o.name == "--describe") {
            out->describe = true;
        } else if (!ParseUnsigned(o.value, 0xFFFFFFFFu, &out->count)) {
            Bad("top", "bad --count '" + o.value + "'");
            return false;
        }
    }
    if (positional.size() != 1) {
        Bad("top", "name exactly one endpoint");
        return false;
    }
    if (out->describe && out->count != 0) {
        Bad("top", "--describe prints once: no --count with it");
        return false;
    }
    out->endpoint = positional[0];
    return true;
}

void PrintMainUsage(std::FILE *to) {
    std::fputs("usage: zera <command> [options]\n"
               "\n"
               "commands:\n"
               "  run [<component>...]     build a stack, run it and report (default: the sample stack)\n"
               "  inspect <component>      show a component's info blocks and stack parameters\n"
               "  describe <component>...  build a stack and decode its stack description\n"
               "  list                     list the components on the search path\n"
#if ZERA_TOOL_LINK
               "  serve <component>...     serve a stack at a link endpoint\n"
               "  top <endpoint>           a live view of a served stack (--describe: its\n"
               "                           stack description)\n"
#endif
               "  version                  show the tool's version\n"
               "  help [<command>]         show this text, or the options of a command\n"
               "\n",
               to);
    std::fputs(kSearchText, to);
}

bool PrintCommandUsage(const std::string &command, std::FILE *to) {
    const Command *cmd = FindCommand(command);
    if (cmd == nullptr) return false;
    std::fputs(cmd->usage, to);
    std::fprintf(to, "\n%s\n%s", kCommonOptions, kSearchText);
    return true;
}

}  // namespace tool
