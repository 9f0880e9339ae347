// tools/run_session.h - one run of a stack: build, set, start, send on the
// host's schedules, receive at level 0, stop, and collect the figures of
// the final report. Included by the tool's sources only.
#ifndef ZERA_TOOLS_RUN_SESSION_H
#define ZERA_TOOLS_RUN_SESSION_H

#include <cstdint>
#include <string>
#include <vector>

#include "command.h"
#include "params.h"
#include "run_result.h"

namespace tool {

// A schedule of host events: --send LEVEL:PERIOD_MS[:COUNT]; count 0 repeats
// until the run ends.
struct SendSchedule {
    uint32_t level = 0;
    uint32_t periodMs = 0;
    uint32_t count = 0;
};

// What `zera run` is asked to do.
struct RunOptions : CommonOptions {
    std::vector<std::string> components;  // empty: the sample stack
    double durationSeconds = 5.0;
    std::vector<ParamSetting> settings;
    std::vector<SendSchedule> sends;
    bool trace = false;  // show each event that reaches level 0
    std::string traceOut;  // the timeline's file, or empty
    bool latency = false;  // print the queues' residence times
};

// Runs the stack as the options say. Returns 0 and fills *report, or prints
// why it failed to stderr and returns the tool's exit status (1 for a
// stack that cannot be built, set or started, 2 for an option that does
// not fit the stack).
int RunStack(const RunOptions &options, RunReport *report);

}  // namespace tool

#endif  // ZERA_TOOLS_RUN_SESSION_H
