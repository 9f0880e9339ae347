// tools/run_session.h - one run of a stack: build, set, start, send on the
// host's schedules, receive at level 0, stop, and collect the figures of
// the final report. Included by the tool's sources only.
#ifndef ZERA_TOOLS_RUN_SESSION_H
#define ZERA_TOOLS_RUN_SESSION_H

#include <cstdint>
#include <string>
#include <vector>

#include "cli.h"
#include "params.h"
#include "trace.h"

namespace tool {

// What the report shows of one level.
struct LevelReport {
    uint32_t level = 0;
    std::string component;
    uint32_t status = 0;
    uint32_t statistics[ZERA_STATS_WORDS] = {};
    std::vector<ParamView> params;
    uint64_t hostSent = 0;      // host events addressed to this level that the send accepted
    uint64_t hostQueued = 0;    // of those, still in the level's send queue at the end
    uint64_t dropped = 0;       // events the level's input filter dropped: its receive queue was full
    uint64_t hostTaken = 0;     // taken by the level's component and not dropped: sent - queued - dropped
    uint64_t received = 0;      // data events (types 0-2) of this level received at level 0
    uint64_t receivedOther = 0; // other events of this level received at level 0 (status events)
};

struct RunReport {
    std::vector<std::string> components;
    double seconds = 0;          // how long the stack ran
    bool interrupted = false;    // ended by a signal before the duration
    uint64_t sendFailures = 0;   // sends the library refused
    std::string lastSendError;   // the text of the last refusal
    std::vector<LevelReport> levels;  // levels 1 to the top
    bool traced = false;              // --trace with --json: the events below
    std::vector<TraceEntry> trace;
    uint64_t TotalSent() const;
    uint64_t TotalTaken() const;
    uint64_t TotalQueued() const;
    uint64_t TotalDropped() const;
    uint64_t TotalReceived() const;
};

// SIGINT (Ctrl-C) and SIGTERM end a command that runs until stopped: once
// installed, StopSignalled() turns true at the first of them.
void InstallStopSignals();
bool StopSignalled();

// Runs the stack as the options say. Returns 0 and fills *report, or prints
// why it failed to stderr and returns the tool's exit status (1 for a
// stack that cannot be built, set or started, 2 for an option that does
// not fit the stack).
int RunStack(const RunOptions &options, RunReport *report);

}  // namespace tool

#endif  // ZERA_TOOLS_RUN_SESSION_H
