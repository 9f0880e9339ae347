// tools/cli.cpp - parsing the host tool's command line and its usage texts.
#include "cli.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tool {

namespace {

constexpr const char *kRunUsage =
    "usage: zera run [<component>...] [--duration SECONDS] [--set LEVEL:NAME=VALUE]...\n"
    "                [--send LEVEL:PERIOD_MS[:COUNT]]... [--json]\n"
    "\n"
    "Builds a stack on a host level 0 from the components given (bottom to top;\n"
    "none: the sample stack Counter Loopback Ticker), sets the parameters, starts\n"
    "it, sends host events on the schedules given, receives what comes down to\n"
    "level 0, and after the duration (default 5 s) or Ctrl-C prints a report per\n"
    "level: component, status, statistics, load figures and stack parameters.\n"
    "\n"
    "  --duration SECONDS       how long to run (0 < SECONDS <= 86400)\n"
    "  --set LEVEL:NAME=VALUE   set a stack parameter of LEVEL before the start\n"
    "  --send LEVEL:PERIOD_MS[:COUNT]\n"
    "                           send a host event to LEVEL every PERIOD_MS ms,\n"
    "                           COUNT times (default 0: until the run ends)\n"
    "  --json                   print the report as JSON\n";

constexpr const char *kInspectUsage =
    "usage: zera inspect <component>\n"
    "\n"
    "Loads one component module and prints its name, its info blocks and its\n"
    "stack parameters with their access classes, attributes, values and\n"
    "permitted values. A module that the library refuses is reported with the\n"
    "error code and text, and the tool exits with status 1.\n";

constexpr const char *kDescribeUsage =
    "usage: zera describe <component>... [--json]\n"
    "\n"
    "Builds the stack from the components given (bottom to top) and prints the\n"
    "stack description packet of level 0, decoded level by level: number,\n"
    "component name, status and stack parameters.\n";

void Bad(const char *command, const std::string &what) {
    std::fprintf(stderr, "zera %s: %s (see zera %s --help)\n", command, what.c_str(), command);
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

bool WantsHelp(const std::vector<std::string> &args, const char *usage, bool *help) {
    for (const std::string &arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            *help = true;
            return true;
        }
    }
    *help = false;
    return false;
}

}  // namespace

const std::vector<std::string> &SampleStack() {
    static const std::vector<std::string> stack = {"Counter", "Loopback", "Ticker"};
    return stack;
}

bool ParseRun(const std::vector<std::string> &args, RunOptions *out, bool *help) {
    if (WantsHelp(args, kRunUsage, help)) return true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--json") {
            out->json = true;
        } else if (arg == "--duration" || arg == "--set" || arg == "--send") {
            if (!hasValue) {
                Bad("run", arg + " needs a value");
                return false;
            }
            const std::string &value = args[++i];
            if (arg == "--duration") {
                char *end = nullptr;
                out->durationSeconds = std::strtod(value.c_str(), &end);
                if (value.empty() || *end != '\0' || !std::isfinite(out->durationSeconds) ||
                    out->durationSeconds <= 0 || out->durationSeconds > 86400) {
                    Bad("run", "bad duration '" + value + "' (seconds, above 0, at most 86400)");
                    return false;
                }
            } else if (arg == "--set") {
                ParamSetting setting;
                if (!ParseSetting(value, &setting)) {
                    Bad("run", "bad --set '" + value + "' (LEVEL:NAME=VALUE, LEVEL 1 to 31)");
                    return false;
                }
                out->settings.push_back(setting);
            } else {
                SendSchedule schedule;
                if (!ParseSchedule(value, &schedule)) {
                    Bad("run", "bad --send '" + value + "' (LEVEL:PERIOD_MS[:COUNT], LEVEL 1 to 31, PERIOD_MS 1 to 3600000)");
                    return false;
                }
                out->sends.push_back(schedule);
            }
        } else if (!arg.empty() && arg[0] == '-') {
            Bad("run", "unknown option '" + arg + "'");
            return false;
        } else {
            out->components.push_back(arg);
        }
    }
    if (out->components.empty()) out->components = SampleStack();
    return true;
}

bool ParseInspect(const std::vector<std::string> &args, std::string *component, bool *help) {
    if (WantsHelp(args, kInspectUsage, help)) return true;
    for (const std::string &arg : args) {
        if (!arg.empty() && arg[0] == '-') {
            Bad("inspect", "unknown option '" + arg + "'");
            return false;
        }
    }
    if (args.size() != 1) {
        Bad("inspect", "name exactly one component");
        return false;
    }
    *component = args[0];
    return true;
}

bool ParseDescribe(const std::vector<std::string> &args, DescribeOptions *out, bool *help) {
    if (WantsHelp(args, kDescribeUsage, help)) return true;
    for (const std::string &arg : args) {
        if (arg == "--json") {
            out->json = true;
        } else if (!arg.empty() && arg[0] == '-') {
            Bad("describe", "unknown option '" + arg + "'");
            return false;
        } else {
            out->components.push_back(arg);
        }
    }
    if (out->components.empty()) {
        Bad("describe", "name the components of the stack, bottom to top");
        return false;
    }
    return true;
}

void PrintMainUsage(std::FILE *to) {
    std::fputs("usage: zera <command> [options]\n"
               "\n"
               "commands:\n"
               "  run [<component>...]     build a stack, run it and report (default: the sample stack)\n"
               "  inspect <component>      show a component's info blocks and stack parameters\n"
               "  describe <component>...  build a stack and decode its stack description\n"
               "  version                  show the library version\n"
               "\n"
               "zera <command> --help shows the options of a command.\n",
               to);
}

}  // namespace tool
