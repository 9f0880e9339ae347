// osal/posix/queue.cpp - time-ordered queues: the portable QueueCore behind a
// pthread mutex, a condition variable on the wall clock and a re-entrant
// cursor lock.
//
// Lock order: the clock registry's mutex (test builds) before a queue's mutex.
// No user callback (delete, mark) runs while a queue's mutex is held.
#include <pthread.h>

#include <atomic>
#include <ctime>
#include <new>
#include <thread>

#include "common/cache_line.h"
#include "common/spin.h"
#include "osal/osal_internal.h"
#include "osal/osal_test_hooks.h"
#include "osal/queue_core.h"

struct OSAL_Queue {
    pthread_mutex_t mutex;  // guards everything below but `pulse` and `items`
    pthread_cond_t changed;  // broadcast on every change, wake, unlock and clock step
    osal::QueueCore core;
    bool locked = false;     // a thread holds the cursor lock
    pthread_t owner{};       // that thread (valid while locked)
    uint32_t depth = 0;      // how often the owner has taken the cursor lock
    uint32_t sleepers = 0;   // threads blocked on `changed`
    uint32_t pulses = 0;     // the value `pulse` is to take next
    // `pulse` moves whenever `changed` would be broadcast to a sleeper, and
    // `items` follows the number of items: a thread about to wait watches
    // them for a moment without the mutex, so that it neither sleeps nor
    // holds up the putting thread when the next item is about to come. On a
    // cache line of their own, so that the watching does not pull the
    // mutex's line away from the thread that puts.
    alignas(lines::kCacheLine) std::atomic<uint32_t> pulse{0};
    std::atomic<uint32_t> items{0};
#if defined(ZERA_TEST_HOOKS)
    OSAL_Queue *regPrev = nullptr;  // clock registry links; guarded by g_registryMutex
    OSAL_Queue *regNext = nullptr;
#endif
    OSAL_Queue(uint32_t capacity, OSAL_PFN_QDELETE pfnDelete, uint32_t chunkSlots)
        : core(capacity, pfnDelete, chunkSlots) {}
};

struct OSAL_QueueCursor {
    OSAL_Queue *queue;
    osal::QueueCore::Cursor pos;  // guarded by queue->mutex
};

namespace {

using osal::kNever;
using osal::QueueCore;

#if defined(ZERA_TEST_HOOKS)
std::atomic<uint32_t> g_testChunkSlots{0};  // 0: the normal size

uint32_t ChunkSlots() {
    uint32_t slots = g_testChunkSlots.load();
    return slots ? slots : QueueCore::kChunkSlots;
}

// Every live queue, so that a step of the test clock can wake their waits.
pthread_mutex_t g_registryMutex = PTHREAD_MUTEX_INITIALIZER;  // guards g_registry and the links
OSAL_Queue *g_registry = nullptr;

void Register(OSAL_Queue *q) {
    pthread_mutex_lock(&g_registryMutex);
    q->regNext = g_registry;
    if (g_registry) g_registry->regPrev = q;
    g_registry = q;
    pthread_mutex_unlock(&g_registryMutex);
}

void Unregister(OSAL_Queue *q) {
    pthread_mutex_lock(&g_registryMutex);
    if (q->regPrev)
        q->regPrev->regNext = q->regNext;
    else
        g_registry = q->regNext;
    if (q->regNext) q->regNext->regPrev = q->regPrev;
    pthread_mutex_unlock(&g_registryMutex);
}
#else
uint32_t ChunkSlots() { return QueueCore::kChunkSlots; }
void Register(OSAL_Queue *) {}
void Unregister(OSAL_Queue *) {}
#endif

// Longest single sleep: far deadlines are approached in steps, so no timespec
// ever overflows (32-bit time_t) and a deadline is re-read after each step.
constexpr int64_t kMaxSleepMicros = 24LL * 3600 * osal::kMicrosPerSecond;

// The caller may look at or change the items: nobody holds the cursor lock,
// or the caller does. Caller holds q->mutex.
bool Accessible(const OSAL_Queue *q) { return !q->locked || pthread_equal(q->owner, pthread_self()); }

// Sleeps until a broadcast or the deadline (wall clock of the layer, so a
// forward step of the clock ends it early). Caller holds q->mutex.
void Sleep(OSAL_Queue *q, int64_t deadline) {
    ++q->sleepers;
    if (deadline == kNever) {
        pthread_cond_wait(&q->changed, &q->mutex);
    } else {
        int64_t now = osal::NowMicros();
        if (deadline - now > kMaxSleepMicros) deadline = now + kMaxSleepMicros;
        // The condition variable runs on the real clock; the test offset is
        // read under q->mutex, and a change of it broadcasts under that mutex.
        int64_t real = deadline - osal::ClockOffsetMicros();
        if (real < 0) real = 0;
        timespec ts;
        ts.tv_sec = static_cast<time_t>(real / osal::kMicrosPerSecond);
        ts.tv_nsec = static_cast<long>(real % osal::kMicrosPerSecond) * 1000;
        pthread_cond_timedwait(&q->changed, &q->mutex, &ts);
    }
    --q->sleepers;
}

// How long a thread that is about to sleep first watches the queue: long
// enough to catch the next item of a steady stream without two system calls,
// short against anything a sleeping thread would notice.
constexpr int kSpinRounds = 200;

// Watches the pulse, without q->mutex, until it moves or the rounds are
// over. Only a hint: the caller looks at the queue under the mutex after it.
void WatchPulse(const OSAL_Queue *q, uint32_t seen) {
    for (int i = 0; i < kSpinRounds && q->pulse.load(std::memory_order_acquire) == seen; ++i) spin::CpuRelax();
}

// After a change of the items, made under q->mutex: records the number of
// items and returns the pulse to publish (plain stores, no read-modify-write
// on the watched line). A late store of an older value still differs from
// what a watcher saw, or costs it no more than its rounds.
uint32_t NoteChange(OSAL_Queue *q) {
    q->items.store(static_cast<uint32_t>(q->core.Size()), std::memory_order_relaxed);
    return ++q->pulses;
}
void Pulse(OSAL_Queue *q, uint32_t value) { q->pulse.store(value, std::memory_order_release); }

// Blocks until the caller may use the items. Caller holds q->mutex.
void WaitForAccess(OSAL_Queue *q) {
    while (!Accessible(q)) Sleep(q, kNever);
}

void WakeSleepers(OSAL_Queue *q) {
    Pulse(q, NoteChange(q));
    if (q->sleepers) pthread_cond_broadcast(&q->changed);
}

// Releases q->mutex and then wakes the sleepers if there were any, so that a
// woken thread does not run into the mutex its waker still holds. The
// change it reacts to was made under the mutex, so no wake-up is lost.
void UnlockAndWake(OSAL_Queue *q, bool changed) {
    const uint32_t pulse = changed ? NoteChange(q) : 0;
    const bool wake = changed && q->sleepers != 0;
    pthread_mutex_unlock(&q->mutex);
    if (changed) Pulse(q, pulse);
    if (wake) pthread_cond_broadcast(&q->changed);
}

// Get and Peek: the first item, waiting for one as the deadline allows.
void *TakeOrPeek(OSAL_HQUEUE q, BOOL8 boWait, TimeVal stDeadline, bool take) {
    if (!q) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return nullptr;
    }
    const bool mayWait = boWait && !osal::IsNoWait(stDeadline);
    // Only a call that may wait until a relative deadline reads the clock:
    // takes stay cheap.
    const int64_t deadline = mayWait ? osal::DeadlineMicros(stDeadline) : 0;
    if (mayWait && q->items.load(std::memory_order_relaxed) == 0) {
        // Nothing to take: wait for the next change a moment before taking
        // the mutex (a null put in that moment is kept for this thread, as
        // for any thread that is not waiting yet).
        WatchPulse(q, q->pulse.load(std::memory_order_acquire));
    }
    pthread_mutex_lock(&q->mutex);
    WaitForAccess(q);
    // A thread that may wait becomes known to the queue now, so that a null
    // put between this call and its next one is kept for it.
    QueueCore::Waiter *w = mayWait ? q->core.FindWaiter(std::this_thread::get_id(), true) : nullptr;
    if (!q->core.Empty() || !mayWait) {
        void *item = take ? q->core.PopFront() : q->core.Front();
        UnlockAndWake(q, item && take);
        return item;
    }
    if (!w) {
        pthread_mutex_unlock(&q->mutex);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    if (w->pending) {
        // A null put came since this thread last waited: this wait ends now.
        w->pending = false;
        pthread_mutex_unlock(&q->mutex);
        return nullptr;
    }
    w->waiting = true;
    w->woken = false;
    void *item = nullptr;
    for (;;) {
        bool access = Accessible(q);
        if (access && !q->core.Empty()) {
            item = take ? q->core.PopFront() : q->core.Front();
            break;
        }
        if (w->woken) break;
        if (access && deadline != kNever && osal::NowMicros() >= deadline) break;
        Sleep(q, access ? deadline : kNever);
    }
    w->waiting = false;
    w->woken = false;
    UnlockAndWake(q, item && take);
    return item;
}

// A put and a take hold the mutex only for a few instructions, so a thread
// that finds it taken spins a little before it sleeps (where the system
// offers that): a stream between two threads then costs no system calls for
// the mutex.
int InitQueueMutex(pthread_mutex_t *mutex) {
#if defined(PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP)
    pthread_mutexattr_t attr;
    int rc = pthread_mutexattr_init(&attr);
    if (rc != 0) return rc;
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
    rc = pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    return rc;
#else
    return pthread_mutex_init(mutex, nullptr);
#endif
}

}  // namespace

namespace osal {

void NotifyClockChanged() {
#if defined(ZERA_TEST_HOOKS)
    pthread_mutex_lock(&g_registryMutex);
    for (OSAL_Queue *q = g_registry; q; q = q->regNext) {
        pthread_mutex_lock(&q->mutex);
        pthread_cond_broadcast(&q->changed);
        pthread_mutex_unlock(&q->mutex);
    }
    pthread_mutex_unlock(&g_registryMutex);
#endif
}

}  // namespace osal

extern "C" {

#if defined(ZERA_TEST_HOOKS)
OSAL_API void OSAL_CALL OSAL_vTestSetQueueChunkSlots(uint32_t dwSlots) { g_testChunkSlots.store(dwSlots); }
#endif

OSAL_API OSAL_HQUEUE OSAL_CALL OSAL_hQueueCreate(uint32_t dwCapacity, OSAL_PFN_QDELETE pfnDelete) {
    void *block = osal::AllocZeroLines(sizeof(OSAL_Queue));
    if (!block) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    OSAL_Queue *q = new (block) OSAL_Queue(dwCapacity, pfnDelete, ChunkSlots());
    int rc = InitQueueMutex(&q->mutex);
    if (rc == 0) {
        rc = pthread_cond_init(&q->changed, nullptr);  // default clock: CLOCK_REALTIME
        if (rc != 0) pthread_mutex_destroy(&q->mutex);
    }
    if (rc != 0) {
        q->~OSAL_Queue();
        osal::FreeLines(block);
        osal::SetErrorFromErrno(OSAL_ERR_NO_MEMORY, "pthread_cond_init", rc);
        return nullptr;
    }
    Register(q);
    return q;
}

OSAL_API void OSAL_CALL OSAL_vQueueDelete(OSAL_HQUEUE hQueue) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    Unregister(hQueue);
    hQueue->core.DeleteAll();
    pthread_cond_destroy(&hQueue->changed);
    pthread_mutex_destroy(&hQueue->mutex);
    hQueue->~OSAL_Queue();
    osal::FreeLines(hQueue);
}

OSAL_API void OSAL_CALL OSAL_vQueueSetMarkFunction(OSAL_HQUEUE hQueue, OSAL_PFN_QMARK pfnMark) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    pthread_mutex_lock(&hQueue->mutex);
    hQueue->core.pfnMark = pfnMark;
    pthread_mutex_unlock(&hQueue->mutex);
}

OSAL_API BOOL8 OSAL_CALL OSAL_boQueuePut(OSAL_HQUEUE hQueue, void *pvItem, OSAL_PFN_QORDER pfnOrder) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    if (!pvItem) {
        // Touches no item, so it needs no access and never waits for a cursor.
        pthread_mutex_lock(&hQueue->mutex);
        hQueue->core.Wake(QueueCore::WakeKind::kNullPut, std::this_thread::get_id());
        WakeSleepers(hQueue);
        pthread_mutex_unlock(&hQueue->mutex);
        return 1;
    }
    if (!pfnOrder) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    pthread_mutex_lock(&hQueue->mutex);
    WaitForAccess(hQueue);
    QueueCore::InsertResult result = hQueue->core.Insert(pvItem, pfnOrder);
    OSAL_PFN_QMARK mark = hQueue->core.pfnMark;
    UnlockAndWake(hQueue, result == QueueCore::InsertResult::kOk);
    switch (result) {
        case QueueCore::InsertResult::kOk:
            return 1;
        case QueueCore::InsertResult::kFull:
            if (mark) mark(pvItem, OSAL_ERR_QUEUE_FULL);
            OSAL_vSetLastError(OSAL_ERR_QUEUE_FULL);
            return 0;
        case QueueCore::InsertResult::kNoMemory:
            break;
    }
    OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
    return 0;
}

OSAL_API BOOL8 OSAL_CALL OSAL_boQueueWaitChange(OSAL_HQUEUE hQueue, TimeVal stDeadline) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    const int64_t deadline = osal::DeadlineMicros(stDeadline);
    pthread_mutex_lock(&hQueue->mutex);
    QueueCore &core = hQueue->core;
    QueueCore::Waiter *w = core.FindWaiter(std::this_thread::get_id(), true);
    if (!w) {
        pthread_mutex_unlock(&hQueue->mutex);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return 0;
    }
    bool changed = core.ChangeCount() != w->seenChange;
    if (!changed && !osal::IsNoWait(stDeadline)) {
        if (w->pending) {
            w->pending = false;
            changed = true;
        } else {
            w->waiting = true;
            w->woken = false;
            bool watched = false;
            for (;;) {
                if (core.ChangeCount() != w->seenChange || w->woken) {
                    changed = true;
                    break;
                }
                if (deadline != kNever && osal::NowMicros() >= deadline) break;
                if (!watched) {
                    // The next change may be a moment away: watch for it
                    // without the mutex before sleeping.
                    watched = true;
                    const uint32_t seen = hQueue->pulse.load(std::memory_order_acquire);
                    pthread_mutex_unlock(&hQueue->mutex);
                    WatchPulse(hQueue, seen);
                    pthread_mutex_lock(&hQueue->mutex);
                    continue;
                }
                Sleep(hQueue, deadline);
            }
            w->waiting = false;
            w->woken = false;
        }
    }
    w->seenChange = core.ChangeCount();
    pthread_mutex_unlock(&hQueue->mutex);
    return changed ? 1 : 0;
}

OSAL_API void *OSAL_CALL OSAL_pvQueueGet(OSAL_HQUEUE hQueue, BOOL8 boWait, TimeVal stDeadline) {
    return TakeOrPeek(hQueue, boWait, stDeadline, true);
}

OSAL_API void *OSAL_CALL OSAL_pvQueuePeek(OSAL_HQUEUE hQueue, BOOL8 boWait, TimeVal stDeadline) {
    return TakeOrPeek(hQueue, boWait, stDeadline, false);
}

OSAL_API void OSAL_CALL OSAL_vQueueInterrupt(OSAL_HQUEUE hQueue) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    pthread_mutex_lock(&hQueue->mutex);
    hQueue->core.Wake(QueueCore::WakeKind::kInterrupt, std::this_thread::get_id());
    WakeSleepers(hQueue);
    pthread_mutex_unlock(&hQueue->mutex);
}

OSAL_API uint32_t OSAL_CALL OSAL_dwQueueGetChangeCount(OSAL_HQUEUE hQueue) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    pthread_mutex_lock(&hQueue->mutex);
    uint32_t count = hQueue->core.ChangeCount();
    pthread_mutex_unlock(&hQueue->mutex);
    return count;
}

OSAL_API OSAL_HQCURSOR OSAL_CALL OSAL_hQueueLock(OSAL_HQUEUE hQueue) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return nullptr;
    }
    void *block = osal::Alloc(sizeof(OSAL_QueueCursor));
    if (!block) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    auto *c = new (block) OSAL_QueueCursor();
    c->queue = hQueue;
    pthread_mutex_lock(&hQueue->mutex);
    WaitForAccess(hQueue);
    hQueue->locked = true;
    hQueue->owner = pthread_self();
    ++hQueue->depth;
    hQueue->core.Attach(&c->pos);
    pthread_mutex_unlock(&hQueue->mutex);
    return c;
}

OSAL_API void *OSAL_CALL OSAL_pvQueueNext(OSAL_HQCURSOR hCursor) {
    if (!hCursor) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return nullptr;
    }
    OSAL_Queue *q = hCursor->queue;
    pthread_mutex_lock(&q->mutex);
    void *item = q->core.Next(&hCursor->pos);
    pthread_mutex_unlock(&q->mutex);
    return item;
}

OSAL_API BOOL8 OSAL_CALL OSAL_boQueueInsert(OSAL_HQCURSOR hCursor, void *pvItem, OSAL_PFN_QORDER pfnOrder) {
    if (!hCursor) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    if (!pvItem || !pfnOrder) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    OSAL_Queue *q = hCursor->queue;
    pthread_mutex_lock(&q->mutex);
    QueueCore::InsertResult result = q->core.Insert(pvItem, pfnOrder);
    if (result == QueueCore::InsertResult::kOk) WakeSleepers(q);
    pthread_mutex_unlock(&q->mutex);
    if (result == QueueCore::InsertResult::kOk) return 1;
    OSAL_vSetLastError(result == QueueCore::InsertResult::kFull ? OSAL_ERR_QUEUE_FULL : OSAL_ERR_NO_MEMORY);
    return 0;
}

OSAL_API BOOL8 OSAL_CALL OSAL_boQueueRemove(OSAL_HQCURSOR hCursor, BOOL8 boDelete) {
    if (!hCursor) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    OSAL_Queue *q = hCursor->queue;
    void *item = nullptr;
    pthread_mutex_lock(&q->mutex);
    bool removed = q->core.RemoveCurrent(&hCursor->pos, &item);
    OSAL_PFN_QDELETE pfnDelete = q->core.pfnDelete;
    if (removed) WakeSleepers(q);
    pthread_mutex_unlock(&q->mutex);
    if (!removed) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    if (boDelete && pfnDelete) pfnDelete(item);
    return 1;
}

OSAL_API void OSAL_CALL OSAL_vQueueUnlock(OSAL_HQCURSOR hCursor) {
    if (!hCursor) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    OSAL_Queue *q = hCursor->queue;
    pthread_mutex_lock(&q->mutex);
    q->core.Detach(&hCursor->pos);
    if (q->depth > 0 && --q->depth == 0) {
        q->locked = false;
        WakeSleepers(q);
    }
    pthread_mutex_unlock(&q->mutex);
    hCursor->~OSAL_QueueCursor();
    osal::Free(hCursor);
}

}  // extern "C"
