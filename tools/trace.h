// tools/trace.h - `zera run --trace`: a record of each event that reaches
// level 0 (its time since the run started, level, type, identifier, data in
// hex and attachments), printed as it comes or kept for the JSON report.
// Included by the tool's sources only.
#ifndef ZERA_TOOLS_TRACE_H
#define ZERA_TOOLS_TRACE_H

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "json.h"
#include "params.h"

namespace tool {

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

// Records events from any thread. Printing: each entry as a line on `out` at
// once; else they are kept for the report.
class Tracer {
public:
    Tracer(bool print, std::FILE *out);
    void Record(const Event *ev);
    std::vector<TraceEntry> Entries() const;
    static void WriteJson(const std::vector<TraceEntry> &entries, JsonWriter *json);

private:
    TimeVal start_;
    bool print_;
    std::FILE *out_;
    mutable std::mutex mutex_;  // guards entries_ and the printing
    std::vector<TraceEntry> entries_;
};

}  // namespace tool

#endif  // ZERA_TOOLS_TRACE_H
