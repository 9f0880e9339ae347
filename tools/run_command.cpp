// tools/run_command.cpp - `zera run`: runs a stack and prints its report.
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "report.h"
#include "run_session.h"

namespace tool {

int CommandRun(const std::vector<std::string> &args) {
    return RunParsed<RunOptions>(args, ParseRun, [](const RunOptions &options) {
        RunReport report;
        const int status = RunStack(options, &report);
        if (status != 0) return status;
        if (options.json) PrintRunReportJson(report, stdout);
        else PrintRunReport(report, stdout);
        return kExitOk;
    });
}

}  // namespace tool
