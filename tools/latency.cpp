// tools/latency.cpp - residence-time percentiles from a timeline file. The
// library writes one trace record a line, so a line is read by its keys
// rather than by a whole JSON parser.
#include "latency.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <utility>

namespace tool {

namespace {

// The text of "key": in line, up to the next comma or brace; empty if absent.
std::string Field(const std::string &line, const std::string &key) {
    const std::string quoted = "\"" + key + "\":";
    const size_t at = line.find(quoted);
    if (at == std::string::npos) return {};
    size_t begin = at + quoted.size();
    if (begin < line.size() && line[begin] == '"') {
        const size_t end = line.find('"', begin + 1);
        return end == std::string::npos ? std::string() : line.substr(begin + 1, end - begin - 1);
    }
    const size_t end = line.find_first_of(",}", begin);
    return line.substr(begin, end - begin);
}

// Nearest-rank percentile of sorted values.
double Percentile(const std::vector<double> &sorted, double p) {
    size_t rank = static_cast<size_t>(p / 100.0 * static_cast<double>(sorted.size()) + 0.999999);
    if (rank == 0) rank = 1;
    if (rank > sorted.size()) rank = sorted.size();
    return sorted[rank - 1];
}

}  // namespace

bool ReadLatencies(const std::string &path, std::vector<QueueLatency> *out, std::string *error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read the timeline " + path;
        return false;
    }
    std::vector<std::string> trackNames;  // of the levels' own tracks
    std::map<std::pair<unsigned, std::string>, std::vector<double>> stays;
    std::string line;
    while (std::getline(in, line)) {
        const std::string ph = Field(line, "ph");
        if (ph == "M" && Field(line, "name") == "thread_name") {
            const std::string tid = Field(line, "tid");
            if (std::strtoul(tid.c_str(), nullptr, 10) % 1000 == 0) {
                const size_t args = line.find("\"args\":");
                if (args != std::string::npos) trackNames.push_back(Field(line.substr(args), "name"));
            }
        } else if (ph == "X") {
            const unsigned level = static_cast<unsigned>(std::strtoul(Field(line, "level").c_str(), nullptr, 10));
            stays[{level, Field(line, "cat")}].push_back(std::strtod(Field(line, "dur").c_str(), nullptr));
        }
    }
    out->clear();
    for (auto &entry : stays) {
        std::vector<double> &values = entry.second;
        std::sort(values.begin(), values.end());
        QueueLatency q;
        q.level = entry.first.first;
        q.queue = entry.first.second;
        q.track = "level " + std::to_string(q.level);
        for (const std::string &name : trackNames) {
            if (name.rfind(q.track + " ", 0) == 0 || name == q.track) q.track = name;
        }
        q.count = values.size();
        q.p50 = Percentile(values, 50);
        q.p90 = Percentile(values, 90);
        q.p99 = Percentile(values, 99);
        q.p999 = Percentile(values, 99.9);
        q.max = values.back();
        out->push_back(q);
    }
    std::stable_sort(out->begin(), out->end(), [](const QueueLatency &a, const QueueLatency &b) {
        return a.level != b.level ? a.level < b.level : a.queue > b.queue;  // "send" before "receive"
    });
    return true;
}

void PrintLatencies(const std::vector<QueueLatency> &latencies, FILE *out) {
    std::fprintf(out, "\nresidence times (microseconds)\n%-24s %-14s %8s %10s %10s %10s %10s %10s\n", "level", "queue",
                 "events", "p50", "p90", "p99", "p99.9", "max");
    for (const QueueLatency &q : latencies) {
        std::fprintf(out, "%-24s %-14s %8zu %10.1f %10.1f %10.1f %10.1f %10.1f\n", q.track.c_str(), q.queue.c_str(),
                     q.count, q.p50, q.p90, q.p99, q.p999, q.max);
    }
    if (latencies.empty()) std::fprintf(out, "(no event stayed in a queue)\n");
}

}  // namespace tool
