// tools/run_command.cpp - `zera run`: runs a stack and prints its report;
// with --trace-out or --latency the library writes the run's timeline, from
// which --latency reads the queues' residence times.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "ZERA_Host.h"
#include "command.h"
#include "latency.h"
#include "report.h"
#include "run_session.h"
#include "timeline_file.h"

namespace tool {

namespace {

bool ParseSchedule(const std::string &text, SendSchedule *out) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
        parts.push_back(text.substr(start, colon - start));
    }
    parts.push_back(text.substr(start));
    if (parts.size() < 2 || parts.size() > 3) return false;
    if (!ParseLevel(parts[0], &out->level)) return false;
    if (!ParseNumber(parts[1], 3600000, &out->periodMs) || out->periodMs == 0) return false;
    out->count = 0;
    return parts.size() == 2 || ParseNumber(parts[2], 0xFFFFFFFFu, &out->count);
}

bool ParseDuration(const std::string &value, double *out) {
    char *end = nullptr;
    *out = std::strtod(value.c_str(), &end);
    return !value.empty() && *end == '\0' && std::isfinite(*out) && *out > 0 && *out <= 86400;
}

bool ParseRun(const CommandLine &line, RunOptions *out) {
    out->components = line.words;
    for (const GivenOption &o : line.options) {
        if (o.name == "--trace") {
            out->trace = true;
        } else if (o.name == "--latency") {
            out->latency = true;
        } else if (o.name == "--trace-out") {
            if (o.value.empty()) return line.Bad("--trace-out needs a file");
            out->traceOut = o.value;
        } else if (o.name == "--duration") {
            if (!ParseDuration(o.value, &out->durationSeconds)) {
                return line.Bad("bad duration '" + o.value + "' (seconds, above 0, at most 86400)");
            }
        } else if (o.name == "--set") {
            ParamSetting setting;
            if (!ParseParamSetting(o.value, &setting)) {
                return line.Bad("bad --set '" + o.value + "' (LEVEL:NAME=VALUE, LEVEL 1 to 31)");
            }
            out->settings.push_back(setting);
        } else {
            SendSchedule schedule;
            if (!ParseSchedule(o.value, &schedule)) {
                return line.Bad("bad --send '" + o.value +
                                "' (LEVEL:PERIOD_MS[:COUNT], LEVEL 1 to 31, PERIOD_MS 1 to 3600000)");
            }
            out->sends.push_back(schedule);
        }
    }
    // The sample stack, bottom to top.
    if (out->components.empty()) out->components = {"Counter", "Loopback", "Ticker"};
    return true;
}

// A Link that never reached its peer, or delivered none of the events it
// was given, fails the run with a word on stderr: the report alone would
// leave that to the reader. The figures are the Link's statistics: kind 1
// eventsA forwarded, kind 2 eventsA undelivered and bytesB sessions.
int LinkOutcome(const RunReport &report) {
    int status = kExitOk;
    for (const LevelReport &l : report.levels) {
        if (l.component != "Link") continue;
        const uint32_t forwarded = l.statistics[4], undelivered = l.statistics[8], sessions = l.statistics[11];
        if (sessions == 0) {
            std::fprintf(stderr, "zera run: the Link at level %u never reached its peer (%u events undelivered)\n",
                         l.level, undelivered);
            status = kExitFailed;
        } else if (forwarded == 0 && undelivered != 0) {
            std::fprintf(stderr, "zera run: the Link at level %u lost every event sent across (%u undelivered)\n",
                         l.level, undelivered);
            status = kExitFailed;
        }
    }
    return status;
}

// The timeline's file: --trace-out's, else for --latency one of our own in
// the temporary folder (removed afterwards); empty when neither is asked.
std::string TimelinePath(const RunOptions &options) {
    if (!options.traceOut.empty() || !options.latency) return options.traceOut;
    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error) folder = ".";
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return (folder / ("zera-latency-" + std::to_string(stamp) + ".json")).string();
}

}  // namespace

int CommandRun(const CommandLine &line) {
    return RunParsed<RunOptions>(line, ParseRun, [](const RunOptions &options) {
        const std::string timeline = TimelinePath(options);
        TimelineFile file;
        if (!file.Begin("run", timeline)) return kExitFailed;
        RunReport report;
        const int status = RunStack(options, &report);
        file.End();
        std::vector<QueueLatency> latencies;
        std::string error;
        const bool latencyRead = options.latency && ReadLatencies(timeline, &latencies, &error);
        if (options.latency && options.traceOut.empty()) {
            std::error_code ignored;
            std::filesystem::remove(timeline, ignored);
        }
        if (status != 0) return status;
        if (options.json) PrintRunReportJson(report, stdout);
        else PrintRunReport(report, stdout);
        if (options.latency) {
            if (!latencyRead) {
                std::fprintf(stderr, "zera run: %s\n", error.c_str());
                return 1;
            }
            PrintLatencies(latencies, options.json ? stderr : stdout);
        }
        std::fflush(stdout);
        return LinkOutcome(report);
    });
}

}  // namespace tool
