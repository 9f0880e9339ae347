// osal/mutex.cpp - recursive in-process locks: a lock word taken and given
// by one atomic operation each, the holder and the re-entries kept beside
// it, and the platform's word wait only for the threads that must sleep.
//
// These guard identifier draws and statistics, taken per event by several
// threads: the free path is the system mutex's one atomic operation each
// way without its calls, type dispatch and bookkeeping, which lengthened
// the time the lock is held.
#include <atomic>
#include <new>

#include "common/contract.h"
#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace {

// The values of OSAL_Mutex::state.
constexpr uint32_t kFree = 0;
constexpr uint32_t kHeld = 1;
constexpr uint32_t kHeldWithSleepers = 2;  // the unlock must wake a sleeper

}  // namespace

struct OSAL_Mutex {
    // The lock word (kFree, kHeld, kHeldWithSleepers): whoever changes it from
    // kFree holds the mutex, and so whatever the mutex's user says, and
    // reentries.
    std::atomic<uint32_t> state{kFree};
    uint32_t reentries = 0;  // locks beyond the first; guarded by state (the holder's)
    // The holder, so that an unlock by another thread is refused before it
    // reaches the lock word, and so that the holder may lock again. Written
    // only by the holder, so a thread that reads its own id here needs no
    // ordering to trust it (relaxed: the lock word orders the rest).
    std::atomic<osal::ThreadId> owner{0};
};

namespace {

// A contender sleeps at once, with no spinning: a sleeping contender lets
// the holder take the lock again and again on its own processor without
// the word's line moving. The word is marked before each sleep, so the
// unlock that frees it wakes one sleeper; a thread that takes the word here
// keeps the mark, which may wake a sleeper for nothing but never leaves one
// behind.
[[gnu::noinline]] void AcquireContended(OSAL_Mutex *m) {
    while (m->state.exchange(kHeldWithSleepers, std::memory_order_acquire) != kFree)
        osal::WordWait(&m->state, kHeldWithSleepers);
}

}  // namespace

extern "C" {

OSAL_API OSAL_HMUTEX OSAL_CALL OSAL_hMutexCreate(void) {
    void *block = osal::AllocZeroLines(sizeof(OSAL_Mutex));
    if (!block) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    return new (block) OSAL_Mutex();
}

OSAL_API void OSAL_CALL OSAL_vMutexDelete(OSAL_HMUTEX hMutex) {
    if (!hMutex) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    hMutex->~OSAL_Mutex();
    osal::FreeLines(hMutex);
}

OSAL_API BOOL8 OSAL_CALL OSAL_boMutexLock(OSAL_HMUTEX hMutex) {
    if (!hMutex) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    const osal::ThreadId self = osal::CurrentThread();
    // The word first: a free one is the common case, and the holder never
    // finds its own word free.
    uint32_t expected = kFree;
    if (!hMutex->state.compare_exchange_strong(expected, kHeld, std::memory_order_acquire,
                                               std::memory_order_relaxed)) {
        if (hMutex->owner.load(std::memory_order_relaxed) == self) {
            ++hMutex->reentries;
            return 1;
        }
        AcquireContended(hMutex);
    }
    hMutex->owner.store(self, std::memory_order_relaxed);
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
    ZERA_ASSERT(hMutex->state.load(std::memory_order_relaxed) != kFree);  // its holder found it taken
    if (hMutex->reentries > 0) {
        --hMutex->reentries;
        return;
    }
    hMutex->owner.store(0, std::memory_order_relaxed);
    if (hMutex->state.exchange(kFree, std::memory_order_release) == kHeldWithSleepers)
        osal::WordWakeOne(&hMutex->state);
}

}  // extern "C"
