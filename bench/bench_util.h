// bench/bench_util.h - what the latency benchmarks share: a steady clock in
// nanoseconds and the median of a run's samples as a counter.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

inline uint64_t SteadyNanos() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// Sets the counter median_us from the samples (reorders them).
inline void ReportMedian(benchmark::State &state, std::vector<uint64_t> &nanos) {
    if (nanos.empty()) return;
    std::nth_element(nanos.begin(), nanos.begin() + nanos.size() / 2, nanos.end());
    state.counters["median_us"] = static_cast<double>(nanos[nanos.size() / 2]) / 1000.0;
}
