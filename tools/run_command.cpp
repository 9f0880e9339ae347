// tools/run_command.cpp - `zera run`: runs a stack and prints its report.
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "report.h"
#include "run_session.h"

namespace tool {

namespace {

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

}  // namespace

int CommandRun(const std::vector<std::string> &args) {
    return RunParsed<RunOptions>(args, ParseRun, [](const RunOptions &options) {
        RunReport report;
        const int status = RunStack(options, &report);
        if (status != 0) return status;
        if (options.json) PrintRunReportJson(report, stdout);
        else PrintRunReport(report, stdout);
        std::fflush(stdout);
        return LinkOutcome(report);
    });
}

}  // namespace tool
