// osal/clock.cpp - the layer's clock: the wall clock of the platform half,
// or, while one runs, the manual clock that only its owner moves (with the
// waits that sleep on it); in test builds also an offset that shifts the
// wall clock.
//
// The manual clock is process-wide. Its state is one word that reads as
// "none runs" or as the time, so the wall clock's path costs one load more.
// A sleeper registers its wait under its queue's mutex and g_manualLock; a
// move takes g_manualLock alone, then wakes the queues (lock order:
// common/lock_order.h).
#include <atomic>

#include "osal/held_locks.h"
#include "osal/osal_internal.h"
#include "osal/osal_test_hooks.h"
#include "osal/platform.h"

namespace osal {

namespace {

// The manual clock's time in microseconds, or kNoManualClock. Written under
// g_manualLock; read without it.
constexpr int64_t kNoManualClock = INT64_MIN;
std::atomic<int64_t> g_manualNow{kNoManualClock};

Lock g_manualLock = OSAL_LOCK_INITIALIZER;  // guards g_waits, g_waitsChanged and the writes of g_manualNow
ClockWait *g_waits = nullptr;               // the waits sleeping on the manual clock
Cond g_waitsChanged;                        // broadcast when a wait registers or the clock stops
bool g_waitsChangedMade = false;            // g_waitsChanged is initialised (once, never destroyed)

void LockManual() { AcquireTracked(&g_manualLock, LockRank::kManualClock); }
void UnlockManual() { ReleaseTracked(&g_manualLock); }

// Waits whose deadline lies after the manual clock's time, and the earliest
// of those deadlines (kNever: none). Caller holds g_manualLock.
uint32_t PendingWaits(int64_t now, int64_t *earliest) {
    uint32_t count = 0;
    *earliest = kNever;
    for (const ClockWait *w = g_waits; w; w = w->next) {
        if (w->deadline <= now) continue;  // released already, not yet awake
        ++count;
        if (w->deadline < *earliest) *earliest = w->deadline;
    }
    return count;
}

// Sets the manual clock (or ends it with kNoManualClock) and wakes every
// queue wait, so that each measures its deadline again. Caller holds
// g_manualLock, which this releases.
void MoveAndRelease(int64_t now) {
    g_manualNow.store(now, std::memory_order_release);
    if (now == kNoManualClock && g_waitsChangedMade) CondBroadcast(&g_waitsChanged);
    UnlockManual();
    NotifyClockChanged();
}

bool RefuseWithoutClock() {
    OSAL_vSetLastErrorArgs(OSAL_ERR_NOT_AVAILABLE, OSAL_ARG_STRING, "no manual clock runs");
    return false;
}

// Moves a running manual clock (kNoManualClock: stops it); false with 1025
// when none runs.
bool MoveIfRunning(int64_t now) {
    LockManual();
    if (g_manualNow.load(std::memory_order_relaxed) == kNoManualClock) {
        UnlockManual();
        return RefuseWithoutClock();
    }
    MoveAndRelease(now);
    return true;
}

}  // namespace

#if defined(ZERA_TEST_HOOKS)
namespace {
std::atomic<int64_t> g_clockOffset{0};  // microseconds added to the real clock
}
int64_t ClockOffsetMicros() { return g_clockOffset.load(std::memory_order_relaxed); }
#else
int64_t ClockOffsetMicros() { return 0; }
#endif

int64_t NowMicros() {
    const int64_t manual = g_manualNow.load(std::memory_order_acquire);
    if (manual != kNoManualClock) return manual;
    return WallClockMicros() + ClockOffsetMicros();
}

bool ClockWaitBegin(ClockWait *w, int64_t deadline) {
    if (g_manualNow.load(std::memory_order_acquire) == kNoManualClock) return false;
    LockManual();
    const bool manual = g_manualNow.load(std::memory_order_relaxed) != kNoManualClock;
    if (manual) {
        w->deadline = deadline;
        w->prev = nullptr;
        w->next = g_waits;
        if (g_waits) g_waits->prev = w;
        g_waits = w;
        CondBroadcast(&g_waitsChanged);
    }
    UnlockManual();
    return manual;
}

void ClockWaitEnd(ClockWait *w) {
    LockManual();
    if (w->prev)
        w->prev->next = w->next;
    else
        g_waits = w->next;
    if (w->next) w->next->prev = w->prev;
    UnlockManual();
}

}  // namespace osal

extern "C" {

OSAL_API void OSAL_CALL OSAL_vGetSystemTime(TimeVal *pstTime) {
    if (!pstTime) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return;
    }
    *pstTime = zera::TimeFromMicros(osal::NowMicros());
}

OSAL_API BOOL8 OSAL_CALL OSAL_boManualClockStart(const TimeVal *pstStart) {
    using namespace osal;
    if (!pstStart || zera::TimeIsRelative(*pstStart)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    LockManual();
    if (g_manualNow.load(std::memory_order_relaxed) != kNoManualClock) {
        UnlockManual();
        OSAL_vSetLastErrorArgs(OSAL_ERR_NOT_AVAILABLE, OSAL_ARG_STRING, "a manual clock runs already");
        return 0;
    }
    if (!g_waitsChangedMade && !CondInit(&g_waitsChanged)) {
        UnlockManual();
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return 0;
    }
    g_waitsChangedMade = true;
    MoveAndRelease(zera::TimeToMicros(*pstStart));
    return 1;
}

OSAL_API BOOL8 OSAL_CALL OSAL_boManualClockStop(void) { return osal::MoveIfRunning(osal::kNoManualClock) ? 1 : 0; }

OSAL_API BOOL8 OSAL_CALL OSAL_boManualClockSet(const TimeVal *pstNow) {
    if (!pstNow || zera::TimeIsRelative(*pstNow)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    return osal::MoveIfRunning(zera::TimeToMicros(*pstNow)) ? 1 : 0;
}

OSAL_API uint32_t OSAL_CALL OSAL_dwManualClockPending(TimeVal *pstNext) {
    using namespace osal;
    LockManual();
    const int64_t now = g_manualNow.load(std::memory_order_relaxed);
    if (now == kNoManualClock) {
        UnlockManual();
        RefuseWithoutClock();
        return 0;
    }
    int64_t earliest;
    const uint32_t count = PendingWaits(now, &earliest);
    UnlockManual();
    if (pstNext) *pstNext = earliest == kNever ? zera::kTimeInfinite : zera::TimeFromMicros(earliest);
    OSAL_vSetLastError(OSAL_ERR_NONE);
    return count;
}

OSAL_API BOOL8 OSAL_CALL OSAL_boManualClockCrank(uint32_t dwWaits, uint32_t dwRealLimitMs, BOOL8 boMove,
                                                  TimeVal *pstNext) {
    using namespace osal;
    // Bounded in steps, so that no system wait overflows.
    const int64_t limit = WallClockMicros() + static_cast<int64_t>(dwRealLimitMs) * 1000;
    LockManual();
    int64_t now = g_manualNow.load(std::memory_order_relaxed);
    int64_t earliest = kNever;
    while (now != kNoManualClock && PendingWaits(now, &earliest) < (dwWaits ? dwWaits : 1)) {
        if (WallClockMicros() >= limit) break;
        CondWaitUntil(&g_waitsChanged, &g_manualLock, limit);
        now = g_manualNow.load(std::memory_order_relaxed);
    }
    if (now == kNoManualClock) {
        UnlockManual();
        return RefuseWithoutClock();
    }
    if (PendingWaits(now, &earliest) < (dwWaits ? dwWaits : 1)) {
        UnlockManual();
        OSAL_vSetLastError(OSAL_ERR_NONE);  // not enough waits came in time
        return 0;
    }
    if (pstNext) *pstNext = zera::TimeFromMicros(earliest);
    if (!boMove) {
        UnlockManual();
        return 1;
    }
    MoveAndRelease(earliest);
    return 1;
}

#if defined(ZERA_TEST_HOOKS)
OSAL_API void OSAL_CALL OSAL_vTestSetClockOffset(int64_t i64Microseconds) {
    osal::g_clockOffset.store(i64Microseconds);
    osal::NotifyClockChanged();
}

OSAL_API int64_t OSAL_CALL OSAL_i64TestGetClockOffset(void) { return osal::ClockOffsetMicros(); }
#endif

}  // extern "C"
