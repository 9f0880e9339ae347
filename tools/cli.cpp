// tools/cli.cpp - parsing the host tool's command line and its usage texts.
#include "cli.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tool {

namespace {

constexpr const char *kSearchText =
    "Components (<Name>.COMPONENT) are looked for in the folders of\n"
    "ZERA_COMPONENT_PATH (separated as in PATH: ';' on Windows, ':' elsewhere),\n"
    "then the current folder, the tool's folder and the installed components\n"
    "folder; the first one found is used. A name with a folder in it is used\n"
    "as given.\n";

constexpr const char *kJsonOption = "  --json                   print the result as one JSON object\n";
constexpr const char *kVerboseOption = "  -v, --verbose            say on stderr which module was loaded from where\n";
constexpr const char *kOtherCommonOptions =
    "  -q, --quiet              print nothing on stdout (errors still go to stderr)\n"
    "  -h, --help               show this text\n"
    "Options take their value as --name VALUE or --name=VALUE; -- ends the options.\n"
    "Numbers may be decimal or hexadecimal (0x10).\n";

constexpr const char *kExitText =
    "Exit status: 0 success; 1 a stack or module failure (a component not found,\n"
    "refused or not started; for inspect --exists: no such component); 2 a bad\n"
    "command line.\n";

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
    "usage: zera inspect <component> [--exists] [--json] [-v]\n"
    "\n"
    "Loads one component module and prints its file, name, info blocks and stack\n"
    "parameters with their access classes, attributes, values and permitted\n"
    "values, and warns of exports that the library cannot use (one name of the\n"
    "start or stop pair without the other). A module that the library refuses\n"
    "is reported with the error code and text, and the tool exits with status 1.\n"
    "\n"
    "  --exists                 print nothing; exit 0 when the component is found\n"
    "                           and the library takes it, 1 when not\n";

constexpr const char *kVersionUsage =
    "usage: zera version [--json]\n"
    "\n"
    "Prints the tool's version (with --json: {\"tool\": \"zera\", \"version\": ...}).\n";

constexpr const char *kHelpUsage =
    "usage: zera help [<command> | --man]\n"
    "\n"
    "Prints the list of commands, the usage of one command, or with --man the\n"
    "tool's manual page (man(7) format) made of the same texts.\n";

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
    "                  [--curve-secret FILE --allow FILE|DIR] [--insecure]\n"
    "\n"
    "Builds a stack from the components given (bottom to top) and serves it at a\n"
    "link endpoint until Ctrl-C or SIGTERM: a Link component at the top of a stack\n"
    "in another process is its peer. Events from the peer are sent to level 1;\n"
    "what comes down to level 0 goes to the peer (item-list events, which carry\n"
    "the stack's status, stay here). Monitors (zera top) get the status of every\n"
    "level and the stack description on request, once they said hello. One\n"
    "stack peer holds the session: another's hello is refused while it is there.\n"
    "The first line printed names the endpoint served.\n"
    "\n"
    "  --bind ENDPOINT          bind tcp://ADDRESS:PORT (PORT * picks a free one) or\n"
    "                           ipc://PATH (default tcp://127.0.0.1:5570); an address\n"
    "                           beyond loopback needs CURVE or --insecure\n"
    "  --connect ENDPOINT       connect to a Link that binds instead\n"
    "  --name NAME              the name this end gives in its welcome (serve)\n"
    "  --peer-name NAME         refuse a stack peer of another name\n"
    "  --hwm N                  messages queued per direction and peer (default 16)\n"
    "  --interval MS            print the status every MS milliseconds\n"
    "  --set LEVEL:NAME=VALUE   set a stack parameter of LEVEL before the start\n"
    "  --curve-secret FILE      CURVE on: this server's key pair file (zera keygen)\n"
    "  --allow FILE|DIR         CURVE: the client keys let in (a file of public-key\n"
    "                           lines, or a folder of *.pub files); all others are\n"
    "                           refused\n"
    "  --insecure               bind beyond loopback without CURVE (warns each time)\n";

constexpr const char *kTopUsage =
    "usage: zera top <endpoint> [--count N | --describe] [--server-key KEY --key FILE] [--json]\n"
    "\n"
    "Shows a served stack (zera serve) each second: per level its component,\n"
    "status, events per second and load figures, and the link's own figures.\n"
    "On a terminal the view is redrawn in place; otherwise one block of plain\n"
    "text per second, or one JSON object per line with --json.\n"
    "\n"
    "  --count N                stop after N views (default: until Ctrl-C)\n"
    "  --describe               print the served stack's description once, as\n"
    "                           zera describe prints a local one, and end\n"
    "  --server-key KEY         CURVE: the server's public key, or its .pub file\n"
    "  --key FILE               CURVE: this end's key pair file (zera keygen)\n";

constexpr const char *kKeygenUsage =
    "usage: zera keygen <name>\n"
    "\n"
    "Makes a CURVE key pair for an end of a link and writes it to <name>.key\n"
    "(public-key and secret-key lines, readable by its owner only) and its\n"
    "public key to <name>.pub; never overwrites a file. Give the server's .key\n"
    "to zera serve --curve-secret and its public key to each client (Link\n"
    "parameter ServerKey, zera top --server-key); put each client's .pub in the\n"
    "server's --allow folder, and its .key in the Link's KeyFile.\n";

struct Command {
    const char *name;
    const char *usage;
    std::vector<std::string> valueOptions;  // take a value
    std::vector<std::string> flagOptions;   // take none
};

const std::vector<Command> &Commands() {
    static const std::vector<Command> commands = {
        {"run", kRunUsage, {"--duration", "--set", "--send", "--trace-out"}, {"--trace", "--latency"}},
        {"inspect", kInspectUsage, {}, {"--exists"}},
        {"describe", kDescribeUsage, {}, {}},
        {"list", kListUsage, {}, {}},
        {"version", kVersionUsage, {}, {}},
        {"help", kHelpUsage, {}, {"--man"}},
#if ZERA_TOOL_LINK
        {"serve", kServeUsage,
         {"--bind", "--connect", "--name", "--peer-name", "--hwm", "--interval", "--set", "--curve-secret", "--allow"},
         {"--insecure"}},
        {"top", kTopUsage, {"--count", "--server-key", "--key"}, {"--describe"}},
        {"keygen", kKeygenUsage, {}, {}},
#endif
    };
    return commands;
}

// The common options apply where they mean something: --json where a
// command prints a report it can write as JSON (serve only logs), -v where
// it loads components (top only talks to a served stack).
bool TakesJson(const std::string &command) {
    return command != "serve" && command != "help" && command != "keygen";
}
bool TakesVerbose(const std::string &command) {
    return command != "top" && command != "version" && command != "help" && command != "keygen";
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
        const bool json = name == "--json" && TakesJson(command);
        const bool verbose = (name == "--verbose" || name == "-v") && TakesVerbose(command);
        const bool quiet = name == "--quiet" || name == "-q";
        if (name == "--help" || name == "-h" || json || verbose || quiet || Contains(cmd.flagOptions, name)) {
            if (inlineValue) {
                Bad(command, name + " takes no value");
                return false;
            }
            if (name == "--help" || name == "-h") {
                PrintCommandUsage(command, stdout);
                *help = true;
                return true;
            }
            if (json) common->json = true;
            else if (verbose) common->verbose = true;
            else if (quiet) common->quiet = true;
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

bool ParseUnsigned(const std::string &text, uint32_t max, uint32_t *out) { return ParseNumber(text, max, out); }

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

bool IsLeadingOption(const std::string &arg) {
    return arg == "-v" || arg == "--verbose" || arg == "-q" || arg == "--quiet" || arg == "--json";
}

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
    out->exists = !options.empty();  // --exists, its only option
    return true;
}

bool ParseVersion(const std::vector<std::string> &args, VersionOptions *out, bool *help) {
    std::vector<Given> options;
    std::vector<std::string> positional;
    if (!Split("version", args, out, &options, &positional, help)) return false;
    if (*help || positional.empty()) return true;
    Bad("version", "takes no arguments");
    return false;
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
        } else if (o.name == "--curve-secret") {
            out->curveSecret = o.value;
            ok = !o.value.empty();
        } else if (o.name == "--allow") {
            out->allow = o.value;
            ok = !o.value.empty();
        } else if (o.name == "--insecure") {
            out->insecure = true;
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
    if (out->curveSecret.empty() != out->allow.empty()) {
        Bad("serve", "CURVE needs both --curve-secret and --allow (it lets in nobody else)");
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
        } else if (o.name == "--server-key") {
            out->serverKey = o.value;
        } else if (o.name == "--key") {
            out->keyFile = o.value;
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
    if (out->serverKey.empty() != out->keyFile.empty()) {
        Bad("top", "CURVE needs both --server-key and --key");
        return false;
    }
    out->endpoint = positional[0];
    return true;
}

bool ParseKeygen(const std::vector<std::string> &args, KeygenOptions *out, bool *help) {
    std::vector<Given> options;
    std::vector<std::string> positional;
    if (!Split("keygen", args, out, &options, &positional, help)) return false;
    if (*help) return true;
    if (positional.size() != 1 || positional[0].empty()) {
        Bad("keygen", "name exactly one key pair");
        return false;
    }
    out->name = positional[0];
    return true;
}

namespace {

std::string MainUsage() {
    std::string text = "usage: zera <command> [options]\n"
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
               "  keygen <name>            make a CURVE key pair for a link end\n"
#endif
               "  version                  show the tool's version\n"
               "  help [<command>]         show this text, or the options of a command\n"
               "                           (--man: the manual page)\n"
               "\n"
               "-v, -q and --json may also stand before the command (zera -v list).\n"
               "\n";
    return text + kSearchText + "\n" + kExitText;
}

std::string CommandUsage(const Command &cmd) {
    std::string text = std::string(cmd.usage) + "\n";
    if (TakesJson(cmd.name)) text += kJsonOption;
    if (TakesVerbose(cmd.name)) text += kVerboseOption;
    text += std::string(kOtherCommonOptions) + "\n";
    if (TakesVerbose(cmd.name)) text += std::string(kSearchText) + "\n";
    return text + kExitText;
}

}  // namespace

void PrintMainUsage(std::FILE *to) { std::fputs(MainUsage().c_str(), to); }

bool PrintCommandUsage(const std::string &command, std::FILE *to) {
    const Command *cmd = FindCommand(command);
    if (cmd == nullptr) return false;
    std::fputs(CommandUsage(*cmd).c_str(), to);
    return true;
}

namespace {

// Text as man(7) wants it: a backslash doubled, a line that starts with a
// dot or an apostrophe protected, a leading minus of an option escaped.
void PutManText(const std::string &text, std::FILE *to) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        std::string out;
        if (!line.empty() && (line[0] == '.' || line[0] == '\'')) out = "\\&";
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\') out += "\\e";
            else if (line[i] == '-' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '[' || line[i - 1] == '-' ||
                                        line[i - 1] == '|' || line[i - 1] == ',')) out += "\\-";
            else out += line[i];
        }
        std::fprintf(to, "%s\n", out.empty() ? ".sp" : out.c_str());
    }
}

}  // namespace

void PrintManual(std::FILE *to) {
    std::fprintf(to, ".TH ZERA 1 \"\" \"zera %s\" \"User Commands\"\n", ZERA_TOOL_VERSION);
    std::fputs(".SH NAME\nzera \\- build, run, inspect and serve stacks of components\n", to);
    std::fputs(".SH SYNOPSIS\n.nf\n", to);
    PutManText(MainUsage(), to);
    std::fputs(".fi\n", to);
    for (const Command &c : Commands()) {
        std::string title = c.name;
        for (char &ch : title) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
        std::fprintf(to, ".SH %s\n.nf\n", title.c_str());
        PutManText(CommandUsage(c), to);
        std::fputs(".fi\n", to);
    }
    std::fputs(".SH SEE ALSO\nZERA_Host(3), ZERA_Component(3), VOQ_ZERA_Comp(3)\n", to);
}

}  // namespace tool
