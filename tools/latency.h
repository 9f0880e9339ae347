// tools/latency.h - residence times of events in each level's queues, read
// from a timeline that the library wrote (ZERA_boHostTraceStart).
#ifndef ZERA_TOOLS_LATENCY_H
#define ZERA_TOOLS_LATENCY_H

#include <cstdio>
#include <string>
#include <vector>

namespace tool {

// The stays of one queue of one level, in microseconds.
struct QueueLatency {
    unsigned level = 0;
    std::string track;   // "level 3 (Ticker)"
    std::string queue;   // "send queue" or "receive queue"
    size_t count = 0;
    double p50 = 0, p90 = 0, p99 = 0, p999 = 0, max = 0;
};

// Reads the slices of a timeline file, one record a line as the library
// writes them; sorted by level, send queue first. False when the file cannot
// be read (error says why).
bool ReadLatencies(const std::string &path, std::vector<QueueLatency> *out, std::string *error);
void PrintLatencies(const std::vector<QueueLatency> &latencies, FILE *out);

}  // namespace tool

#endif  // ZERA_TOOLS_LATENCY_H
