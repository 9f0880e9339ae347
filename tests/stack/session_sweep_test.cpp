// stack/session_sweep_test.cpp - a host session on the sample stack, one
// forked child per allocation failure point (of both libraries, in turn):
// each must end in time, without a crash or leak, with a code for every
// failed step. Skipped where the samples are not built.
#include "stack/stack_test_util.h"

#if !defined(_WIN32)  // each failure point runs in a forked copy of this program

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define SWEEP_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SWEEP_LEAK_CHECK 1
#endif
#endif
#if defined(SWEEP_LEAK_CHECK)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

constexpr uint32_t kAll = 0xFFFFFFFFu;

// The steps of a session; a child exits with kNoCode + step when that step
// failed without storing a code.
enum Step { kCreate, kAdd, kSet, kStart, kSend, kMarshal, kStop, kRemove, kDestroy, kSteps };
const char *const kStepNames[kSteps] = {"create", "add", "set", "start", "send", "marshal", "stop", "remove", "destroy"};
constexpr int kNoCode = 10;
constexpr int kLeaked = 3;

// What a session did: the steps that failed (bit per step), whether a tick
// came down to the host, the first step that failed without a code, and
// the allocations it made (both libraries).
struct Outcome {
    uint32_t failedSteps = 0;
    uint32_t gotTick = 0;
    int32_t failure = 0;  // 0, or kNoCode + the step
    int32_t spare = 0;    // no padding: the record crosses the pipe whole
    long allocations = -1;
};

// Runs `step` with the code cleared; a failure must store one.
template <typename Call>
bool Try(Step step, Outcome *o, Call call) {
    OSAL_vSetLastError(OSAL_ERR_NONE);
    if (call()) return true;
    o->failedSteps |= 1u << step;
    if (OSAL_dwGetLastError() == OSAL_ERR_NONE && o->failure == 0) o->failure = kNoCode + step;
    return false;
}

// An event of level 0's making for level 3, owned by level 0.
bool SendToTicker(StackHandle *h0) {
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_DATA0, 3, 8);
    if (ev == nullptr) return false;
    const TimeVal now = {OSAL_TIME_RELATIVE, 0};
    if (ZERA_boSetEventID(ev, h0, ev->dwEventId) && ZERA_boSendEvent(h0, ev, 0, &now)) return true;
    const uint32_t code = OSAL_dwGetLastError();
    ZERA_boDeleteEvent(ev);
    OSAL_vSetLastError(code);
    return false;
}

// Writes the event into a packet and reads it back.
bool MarshalRoundTrip(Event *ev) {
    ZERA_HPACKET packet = ZERA_hMarshalPacketCreate(nullptr, 0);
    if (packet == nullptr) return false;
    Event *copy = nullptr;
    const bool ok = ZERA_boMarshalZERAEvent(packet, ev) && ZERA_boMarshalResetReadPos(packet) &&
                    ZERA_boUnmarshalZERAEvent(packet, &copy, ev->boWideAttach);
    const uint32_t code = OSAL_dwGetLastError();
    if (copy != nullptr) ZERA_boDeleteEvent(copy);
    ZERA_boMarshalPacketDelete(packet);
    OSAL_vSetLastError(code);
    return ok;
}

// One host session on the sample stack. Steps that need an earlier one are
// left out when it failed; the stack is always taken down.
Outcome Session() {
    Outcome o;
    StackHandle *h0 = nullptr;
    if (!Try(kCreate, &o, [&] { return (h0 = ZERA_hHostStackCreate(nullptr)) != nullptr; })) return o;
    bool built = true;
    for (const char *name : {"Counter", "Loopback", "Ticker"}) {
        built = built && Try(kAdd, &o, [&] { return ZERA_bAddToStackA(h0, name) != 0; });
    }
    Try(kSet, &o, [&] { return ZERA_boSetStackParamA(h0, 3, "Period", 10u); });
    const bool started = built && Try(kStart, &o, [&] { return ZERA_boHostStartStack(h0); });
    if (started) {
        Try(kSend, &o, [&] { return SendToTicker(h0); });
        // A tick that Counter handed on; a receive that times out stores no code.
        const TimeVal wait = {200000 | OSAL_TIME_RELATIVE, 0};
        Event *tick = ZERA_pstReceiveEvent(h0, 1u << 1, kAll, &wait);
        o.gotTick = tick != nullptr ? 1 : 0;
        if (tick == nullptr) tick = ZERA_pstCreateEvent(ZERA_EVENT_DATA2, 1, 4);
        if (tick != nullptr) {
            Try(kMarshal, &o, [&] { return MarshalRoundTrip(tick); });
            ZERA_boDeleteEvent(tick);
        }
        Try(kStop, &o, [&] { return ZERA_boHostStopStack(h0); });
    }
    if (ZERA_hHandleGetNextLevel(h0) != nullptr) Try(kRemove, &o, [&] { return ZERA_boRemoveFromStackA(h0, 1); });
    Try(kDestroy, &o, [&] { return ZERA_boHostStackDestroy(h0); });
    return o;
}

// The child's work: the session with allocations failing from point n on
// (n < 0: none fails), then, with allocations working again, the leak check.
// A child that outlives `seconds` is ended by the alarm (a hang).
int RunChild(long n, int fd, unsigned seconds) {
    alarm(seconds);
    // A segment handle of its own; the inherited one is the parent's.
#if defined(SWEEP_LEAK_CHECK)
    __lsan_ignore_object(zera::IdSegment());
#endif
    if (!zera::ReopenIdSegmentAfterFork()) return 2;
    OSAL_vTestFailAllocAfter(n);
    Outcome outcome = Session();
    outcome.allocations = OSAL_lTestAllocCount();
    OSAL_vTestFailAllocAfter(-1);
    if (write(fd, &outcome, sizeof outcome) != static_cast<ssize_t>(sizeof outcome)) return 4;
#if defined(SWEEP_LEAK_CHECK)
    if (__lsan_do_recoverable_leak_check() != 0) return kLeaked;
#endif
    return outcome.failure;
}

struct ChildResult {
    std::string failure;  // empty: passed
    Outcome outcome;
    // The whole session went as without a failure point.
    bool Clean() const { return failure.empty() && outcome.failedSteps == 0 && outcome.gotTick; }
};

// Forks a child for failure point n and waits for it.
ChildResult Sweep(long n, unsigned seconds) {
    int fds[2];
    if (pipe(fds) != 0) return {"no pipe", {}};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        _exit(RunChild(n, fds[1], seconds));
    }
    close(fds[1]);
    ChildResult r;
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
        r.failure = WTERMSIG(status) == SIGALRM ? "hung" : "crashed with signal " + std::to_string(WTERMSIG(status));
    } else if (const int code = WEXITSTATUS(status); code >= kNoCode && code < kNoCode + kSteps) {
        r.failure = std::string("no code stored for a failed ") + kStepNames[code - kNoCode];
    } else if (code == kLeaked) {
        r.failure = "leaked";
    } else if (code != 0) {
        r.failure = "exit " + std::to_string(code);
    }
    if (read(fds[0], &r.outcome, sizeof r.outcome) != sizeof r.outcome) r.outcome = Outcome{};
    close(fds[0]);
    return r;
}

// Every allocation point of the session, and on until a run of sessions goes
// clean (the threads make the number of allocations vary).
TEST(SessionSweep, EveryAllocationOfAHostSessionFailsInTurn) {
    OSAL_HMODULE ticker = OSAL_hLoadLibraryA("Ticker.COMPONENT");
    if (ticker == nullptr) GTEST_SKIP() << "the sample components are not built";
    // Held loaded, so that each child's load finds them in memory.
    OSAL_HMODULE samples[] = {ticker, OSAL_hLoadLibraryA("Counter.COMPONENT"), OSAL_hLoadLibraryA("Loopback.COMPONENT")};
    const ChildResult clean = Sweep(-1, 30);
    ASSERT_TRUE(clean.Clean()) << "the session itself: " << clean.failure;
    constexpr long kCleanRun = 30, kMostPoints = 4000;
    std::vector<std::string> failures;
    long n = 0;
    for (long cleanRun = 0; n < kMostPoints && cleanRun < kCleanRun; ++n) {
        const ChildResult r = Sweep(n, 10);
        if (!r.failure.empty()) failures.push_back(std::to_string(n) + ": " + r.failure);
        cleanRun = n >= clean.outcome.allocations && r.Clean() ? cleanRun + 1 : 0;
    }
    EXPECT_LT(n, kMostPoints) << "the sessions never ran clean";
    EXPECT_TRUE(failures.empty()) << "allocations failing from point " << ::testing::PrintToString(failures);
    std::printf("%ld failure points\n", n - kCleanRun);
    for (OSAL_HMODULE m : samples) OSAL_boFreeLibrary(m);
}

}  // namespace

#endif
