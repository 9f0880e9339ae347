// install/harness_check.cpp - a C++ test against the installed harness: the
// sample Loopback answers what the test level sends down, and Ticker's
// ticks are cranked. Exit status 0 when all is so.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "ZERA_Harness.h"

int main() {
    using namespace std::chrono_literals;
    try {
        zera::Harness::Options withLevel;
        withLevel.testLevel = true;
        zera::Harness loop("Loopback", withLevel);
        zera::EventPtr ev = loop.above(ZERA_EVENT_DATA0, "ping", 4);
        if (!loop.start() || !loop.push_above(ev)) return 1;
        zera::EventPtr answer = loop.pull_down(10s);
        if (!answer || answer->dwDataSize != 4 || std::memcmp(answer->pbData, "ping", 4) != 0) return 1;
    } catch (const zera::HarnessError &e) {
        std::printf("harness: %s\n", e.what());
        return 1;
    }
    zera::Harness ticker("Ticker");
    if (!ticker.start()) return 1;
    for (int n = 1; n <= 5; ++n) {
        if (!ticker.crank() || !ticker.pull_down(10s)) return 1;
    }
    const auto took = ticker.now() - std::chrono::seconds(ZERA_HARNESS_CLOCK_START_SECONDS);
    std::printf("harness: answered from above, 5 ticks in %lld s of the test clock\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(took).count()));
    return took == 5s ? 0 : 1;
}
