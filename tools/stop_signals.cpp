// tools/stop_signals.cpp - the flag that SIGINT and SIGTERM set.
#include "stop_signals.h"

#include <csignal>

namespace tool {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnSignal(int) { g_interrupted = 1; }

}  // namespace

bool StopSignalled() { return g_interrupted != 0; }

void InstallStopSignals() {
#if defined(_WIN32)
    // The C runtime maps a console's Ctrl+C to SIGINT.
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
#else
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

}  // namespace tool
