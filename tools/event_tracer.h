// tools/event_tracer.h - `zera run --trace`: a record of each event that
// reaches level 0 (its time since the run started, level, type, identifier,
// data in hex and attachments), printed as it comes or kept for the JSON
// report. Included by the tool's sources only.
#ifndef ZERA_TOOLS_EVENT_TRACER_H
#define ZERA_TOOLS_EVENT_TRACER_H

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "run_result.h"

namespace tool {

// Records events from any thread. Printing: each entry as a line on `out` at
// once; else they are kept for the report.
class Tracer {
public:
    Tracer(bool print, std::FILE *out);
    void Record(const Event *ev);
    std::vector<TraceEntry> Entries() const;

private:
    TimeVal start_;
    bool print_;
    std::FILE *out_;
    mutable std::mutex mutex_;  // guards entries_ and the printing
    std::vector<TraceEntry> entries_;
};

}  // namespace tool

#endif  // ZERA_TOOLS_EVENT_TRACER_H
