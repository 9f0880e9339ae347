// osal/posix/user_signal.cpp - SIGUSR1 as the user's snapshot request: a
// handler that counts, installed only over the default disposition.
#include <signal.h>

#include <atomic>

#include "osal/platform.h"

namespace osal {

namespace {

std::atomic<uint32_t> g_userSignals{0};  // lock-free, so the handler may touch it

void CountUserSignal(int) { g_userSignals.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

bool UserSignalCatch(bool *taken) {
    struct sigaction current {};
    if (sigaction(SIGUSR1, nullptr, &current) != 0) {
        *taken = false;
        return false;
    }
    const bool ours = (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == CountUserSignal;
    if (ours) return true;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) {
        *taken = true;
        return false;
    }
    struct sigaction mine {};
    mine.sa_handler = CountUserSignal;
    sigemptyset(&mine.sa_mask);
    mine.sa_flags = SA_RESTART;
    *taken = false;
    return sigaction(SIGUSR1, &mine, nullptr) == 0;
}

void UserSignalRelease() {
    struct sigaction current {};
    if (sigaction(SIGUSR1, nullptr, &current) != 0) return;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != CountUserSignal) return;
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    sigaction(SIGUSR1, &standard, nullptr);
}

uint32_t UserSignalCount() { return g_userSignals.load(std::memory_order_relaxed); }

}  // namespace osal
