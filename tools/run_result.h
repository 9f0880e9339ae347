// tools/run_result.h - what a run of a stack found, as plain records: the
// figures per level, the totals, and the events traced at level 0. The run
// session fills them, the tracer makes the trace entries, the report prints
// them. Included by the tool's sources only.
#ifndef ZERA_TOOLS_RUN_RESULT_H
#define ZERA_TOOLS_RUN_RESULT_H

#include <cstdint>
#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "params.h"

namespace tool {

// An event that reached level 0, as `zera run --trace` shows it.
struct TraceEntry {
    double seconds = 0;  // the event's time stamp, from the start of the run
    uint32_t level = 0;
    int32_t type = 0;
    uint32_t id = 0;
    uint32_t size = 0;    // bytes of data (types 0-2) or items (type 3)
    std::string hex;      // the first kTraceBytes of them
    std::string detail;   // a status word or an interval, in words
    struct Attached {
        uint32_t level = 0, selector = 0;
        std::vector<ParamView> params;
    };
    std::vector<Attached> attachments;
};

// Shows at most this many bytes of an event.
constexpr uint32_t kTraceBytes = 256;

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

    // The host figures of every level added up (hostSent to receivedOther).
    LevelReport Totals() const {
        LevelReport sum;
        for (const LevelReport &l : levels) {
            sum.hostSent += l.hostSent;
            sum.hostQueued += l.hostQueued;
            sum.dropped += l.dropped;
            sum.hostTaken += l.hostTaken;
            sum.received += l.received;
            sum.receivedOther += l.receivedOther;
        }
        return sum;
    }
};

}  // namespace tool

#endif  // ZERA_TOOLS_RUN_RESULT_H
