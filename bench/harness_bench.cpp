// harness_bench.cpp - the harness's test clock: the wall time of one period
// of the sample Ticker, cranked (the wait of Ticker's thread found, the
// clock moved to its deadline, the tick taken at level 0). A period of 1 s
// costs this much of the wall clock instead of a second.
#include <benchmark/benchmark.h>

#include "ZERA_Harness.h"

namespace {

void BM_HarnessTickerCrankedPeriod(benchmark::State &state) {
    zera::Harness h("Ticker");
    h.set("Period", 1000u);
    if (!h.start()) {
        state.SkipWithError("Ticker does not start (is Ticker.COMPONENT beside the program?)");
        return;
    }
    for (auto _ : state) {
        if (!h.crank() || !h.pull_down()) {
            state.SkipWithError("no tick");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HarnessTickerCrankedPeriod)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
