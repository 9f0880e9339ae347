// osal/mutex.cpp - recursive in-process locks: a lock word taken and given
// by one atomic operation each while nobody waits, the holder and the depth
// kept beside it, and the platform's plain lock and condition variable only
// for the threads that have to sleep.
//
// A lock is taken per event identifier and per statistics update, mostly
// without contention, so its free path must cost no more than a system
// mutex's: no call into the platform half, no system call.
#include <atomic>
#include <new>

#include "common/spin.h"
#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace {

// The values of OSAL_Mutex::state.
constexpr uint32_t kFree = 0;
constexpr uint32_t kHeld = 1;
constexpr uint32_t kHeldWithSleepers = 2;  // the unlock must wake a sleeper

// Looks at a held lock this often before going to sleep: most holders keep
// it for a few dozen instructions.
constexpr int kSpinRounds = 100;

}  // namespace

struct OSAL_Mutex {
    // The lock word (kFree, kHeld, kHeldWithSleepers): whoever changes it from
    // kFree holds the mutex, and so whatever the mutex's user says, and depth.
    std::atomic<uint32_t> state{kFree};
    // The holder, so that an unlock by another thread is refused before it
    // reaches the lock word, and so that the holder may lock again. Written
    // only by the holder, so a thread that reads its own id here needs no
    // ordering to trust it (relaxed: the lock word orders the rest).
    std::atomic<osal::ThreadId> owner{0};
    uint32_t depth = 0;  // guarded by state (the holder's)
    // Guards nothing of the mutex: it only makes "find the word held, then
    // sleep" one step against an unlock's wake-up, which takes it too.
    osal::Lock sleepLock;
    osal::Cond unlocked;  // signalled, under sleepLock, by an unlock that finds sleepers
};

namespace {

bool TryAcquire(OSAL_Mutex *m) {
    uint32_t expected = kFree;
    return m->state.compare_exchange_strong(expected, kHeld, std::memory_order_acquire, std::memory_order_relaxed);
}

// Out of line, so that the free path stays a few instructions.
[[gnu::noinline]] void AcquireContended(OSAL_Mutex *m) {
    for (int i = 0; i < kSpinRounds; ++i) {
        spin::CpuRelax();
        if (m->state.load(std::memory_order_relaxed) == kFree && TryAcquire(m)) return;
    }
    // Marked before each sleep, under sleepLock: an unlock that clears the
    // mark then has to wait for sleepLock, which the wait gives up only
    // once it sleeps, so its wake-up cannot come too early. A thread that
    // takes the word here holds it as kHeldWithSleepers, which may wake a
    // sleeper for nothing but never leaves one behind.
    osal::LockAcquire(&m->sleepLock);
    while (m->state.exchange(kHeldWithSleepers, std::memory_order_acquire) != kFree)
        osal::CondWaitUntil(&m->unlocked, &m->sleepLock, osal::kNever);
    osal::LockRelease(&m->sleepLock);
}

// After an unlock that found sleepers and freed the word: wakes one of them.
[[gnu::noinline]] void WakeSleeper(OSAL_Mutex *m) {
    osal::LockAcquire(&m->sleepLock);
    osal::CondSignal(&m->unlocked);
    osal::LockRelease(&m->sleepLock);
}

}  // namespace

extern "C" {

OSAL_API OSAL_HMUTEX OSAL_CALL OSAL_hMutexCreate(void) {
    void *block = osal::AllocZeroLines(sizeof(OSAL_Mutex));
    if (!block) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    auto *m = new (block) OSAL_Mutex();
    const bool lockMade = osal::LockInit(&m->sleepLock);
    if (!lockMade || !osal::CondInit(&m->unlocked)) {
        if (lockMade) osal::LockDestroy(&m->sleepLock);
        m->~OSAL_Mutex();
        osal::FreeLines(m);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    return m;
}

OSAL_API void OSAL_CALL OSAL_vMutexDelete(OSAL_HMUTEX hMutex) {
    if (!hMutex) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    osal::CondDestroy(&hMutex->unlocked);
    osal::LockDestroy(&hMutex->sleepLock);
    hMutex->~OSAL_Mutex();
    osal::FreeLines(hMutex);
}

OSAL_API BOOL8 OSAL_CALL OSAL_boMutexLock(OSAL_HMUTEX hMutex) {
    if (!hMutex) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    const osal::ThreadId self = osal::CurrentThread();
    if (hMutex->owner.load(std::memory_order_relaxed) == self) {
        ++hMutex->depth;
        return 1;
    }
    if (!TryAcquire(hMutex)) AcquireContended(hMutex);
    hMutex->owner.store(self, std::memory_order_relaxed);
    hMutex->depth = 1;
    return 1;
}

OSAL_API void OSAL_CALL OSAL_vMutexUnlock(OSAL_HMUTEX hMutex) {
    if (!hMutex) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    if (hMutex->owner.load(std::memory_order_relaxed) != osal::CurrentThread()) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, "mutex unlock: not held by this thread");
        return;
    }
    if (--hMutex->depth > 0) return;
    hMutex->owner.store(0, std::memory_order_relaxed);
    if (hMutex->state.exchange(kFree, std::memory_order_release) == kHeldWithSleepers) WakeSleeper(hMutex);
}

}  // extern "C"
