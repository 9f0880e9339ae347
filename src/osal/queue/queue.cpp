// osal/queue/queue.cpp - time-ordered queues: the QueueCore behind the platform's
// lock, a condition variable waited on until wall-clock deadlines and a
// re-entrant cursor lock, with the PutBox in front of it for puts.
//
// Lock order: the registry's lock before a queue's mutex before the manual
// clock's lock and the box's spin lock. No user callback (delete, mark) runs
// while a queue's mutex is held, but for the delete function when the queue
// itself goes away; the order and due functions, which must not call the
// queue, do.
#include <atomic>
#include <new>

#include "common/cache_line.h"
#include "common/spin.h"
#include "osal/held_locks.h"
#include "osal/osal_internal.h"
#include "osal/osal_test_hooks.h"
#include "osal/platform.h"
#include "osal/queue/queue_core.h"

struct OSAL_QueueCursor {
    OSAL_Queue *queue;
    osal::QueueCore::Cursor pos;  // guarded by queue->mutex; read without it by the lock's holder
};

struct OSAL_Queue {
    osal::Lock mutex;     // guards everything below but `capacity`, `mark`, `pulse` and `box`
    osal::Cond changed;   // broadcast on every change, wake, unlock and clock step
    osal::QueueCore core;
    uint32_t depth = 0;      // how often box.holder has taken the cursor lock
    uint32_t sleepers = 0;   // threads blocked on `changed`
    uint32_t pulses = 0;     // the value `pulse` is to take next
    // The cursor of the outermost cursor lock: the lock is exclusive, so one
    // is in use at a time, and a take under the lock allocates nothing.
    OSAL_QueueCursor outermost{};
    const uint32_t capacity;                    // 0: no limit
    std::atomic<OSAL_PFN_QMARK> mark{nullptr};  // read by puts, which do not take the mutex
    // `pulse` moves whenever `changed` would be broadcast to a sleeper, as
    // the box's Puts() does with every put: a thread about to wait watches
    // both for a moment without the mutex, so that it neither sleeps nor
    // holds up the putting thread when the next item is about to come. On a
    // cache line of its own, so that the watching does not pull the mutex's
    // line away from the thread that holds it.
    alignas(lines::kCacheLine) std::atomic<uint32_t> pulse{0};
    osal::PutBox box;  // locks itself; starts a cache line of its own
    OSAL_Queue *regPrev = nullptr;  // registry links; guarded by g_registryLock
    OSAL_Queue *regNext = nullptr;
    OSAL_Queue(uint32_t capacityItems, OSAL_PFN_QDELETE pfnDelete, uint32_t chunkSlots)
        : core(&box, pfnDelete, chunkSlots), capacity(capacityItems) {}
};

namespace {

using osal::CurrentThread;
using osal::kNever;
constexpr auto LockAcquire = osal::AcquireTracked;  // debug builds check "caller holds q->mutex"
constexpr auto LockRelease = osal::ReleaseTracked;
using osal::QueueCore;

#if defined(ZERA_TEST_HOOKS)
std::atomic<uint32_t> g_testChunkSlots{0};  // 0: the normal size

uint32_t ChunkSlots() {
    uint32_t slots = g_testChunkSlots.load();
    return slots ? slots : QueueCore::kChunkSlots;
}
#else
uint32_t ChunkSlots() { return QueueCore::kChunkSlots; }
#endif

// Every live queue, so that a move of the clock can wake their waits. Only
// creating and deleting a queue take the lock; a put or a take does not.
osal::Lock g_registryLock = OSAL_LOCK_INITIALIZER;  // guards g_registry and the links
OSAL_Queue *g_registry = nullptr;

void Register(OSAL_Queue *q) {
    LockAcquire(&g_registryLock);
    q->regNext = g_registry;
    if (g_registry) g_registry->regPrev = q;
    g_registry = q;
    LockRelease(&g_registryLock);
}

void Unregister(OSAL_Queue *q) {
    LockAcquire(&g_registryLock);
    if (q->regPrev)
        q->regPrev->regNext = q->regNext;
    else
        g_registry = q->regNext;
    if (q->regNext) q->regNext->regPrev = q->regPrev;
    LockRelease(&g_registryLock);
}

// Longest single sleep: far deadlines are approached in steps, so no system
// time value ever overflows (32-bit time_t, milliseconds in 32 bits) and a
// deadline is re-read after each step.
constexpr int64_t kMaxSleepMicros = 24LL * 3600 * osal::kMicrosPerSecond;

// The caller may look at or change the items: nobody holds the cursor lock,
// or the caller does. Caller holds q->mutex.
bool Accessible(const OSAL_Queue *q) {
    ZERA_ASSERT(osal::HoldsLock(&q->mutex));
    const osal::ThreadId holder = q->box.holder.load(std::memory_order_relaxed);
    return holder == 0 || holder == CurrentThread();
}

// Moves the puts waiting in the box behind the items, unless a thread holds
// the cursor lock: its walk sees no puts of other threads (the unlock
// drains). False when memory ran out and some still wait. Caller holds
// q->mutex.
bool Drain(OSAL_Queue *q) {
    ZERA_ASSERT(osal::HoldsLock(&q->mutex));
    return q->box.holder.load(std::memory_order_relaxed) != 0 || q->core.Drain();
}

// Sleeps until a broadcast or the deadline (wall clock of the layer, so a
// forward step of the clock ends it early); returns at once when a put came
// into the box since the caller read seenPuts, before it looked at the
// queue. Caller holds q->mutex.
void Sleep(OSAL_Queue *q, int64_t deadline, uint32_t seenPuts) {
    ZERA_ASSERT(osal::HoldsLock(&q->mutex));
    if (!q->box.AddSleeper(seenPuts)) return;
    ++q->sleepers;
    osal::ClockWait manual;
    if (deadline != kNever && osal::ClockWaitBegin(&manual, deadline)) {
        // On the manual clock: no real deadline; its moves wake every queue.
        osal::CondWaitUntil(&q->changed, &q->mutex, kNever);
        osal::ClockWaitEnd(&manual);
        --q->sleepers;
        q->box.RemoveSleeper();
        return;
    }
    if (deadline != kNever) {
        const int64_t now = osal::NowMicros();
        if (deadline - now > kMaxSleepMicros) deadline = now + kMaxSleepMicros;
        // The condition variable waits on the real clock; the test offset is
        // read under q->mutex, and a change of it broadcasts under that mutex.
        deadline -= osal::ClockOffsetMicros();
    }
    osal::CondWaitUntil(&q->changed, &q->mutex, deadline);
    --q->sleepers;
    q->box.RemoveSleeper();
}

// How long a thread that is about to sleep first watches the queue: long
// enough to catch the next item of a steady stream without two system calls,
// short against anything a sleeping thread would notice.
constexpr int kSpinRounds = 200;

// Watches the pulse and the box's puts, without q->mutex, until one moves or
// the rounds are over. Only a hint: the caller looks at the queue under the
// mutex after it.
void WatchPulse(const OSAL_Queue *q, uint32_t seenPulse, uint32_t seenPuts) {
    for (int i = 0; i < kSpinRounds && q->pulse.load(std::memory_order_acquire) == seenPulse &&
                    q->box.Puts() == seenPuts;
         ++i)
        spin::CpuRelax();
}

// After a change made under q->mutex: the pulse to publish (a plain store,
// no read-modify-write on the watched line). A late store of an older value
// still differs from what a watcher saw, or costs it no more than its rounds.
uint32_t NoteChange(OSAL_Queue *q) { return ++q->pulses; }
void Pulse(OSAL_Queue *q, uint32_t value) { q->pulse.store(value, std::memory_order_release); }

// Blocks until the caller may use the items. Caller holds q->mutex.
void WaitForAccess(OSAL_Queue *q) {
    while (!Accessible(q)) Sleep(q, kNever, q->box.Puts());
}

// Unlinks the first item (null when there is none). Caller holds q->mutex.
void *TakeFront(OSAL_Queue *q) {
    ZERA_ASSERT(osal::HoldsLock(&q->mutex));
    void *item = q->core.PopFront();
    if (item) q->box.Leave(1);
    return item;
}

// Puts an item straight into the ordered items, for the thread that holds the
// cursor lock (or inserts with it). Caller holds q->mutex.
osal::PutBox::Result PutNow(OSAL_Queue *q, void *item, OSAL_PFN_QORDER order) {
    ZERA_ASSERT(osal::HoldsLock(&q->mutex));
    if (!q->box.Enter(q->capacity)) return osal::PutBox::Result::kFull;
    if (q->core.Insert(item, order)) return osal::PutBox::Result::kOk;
    q->box.Leave(1);
    return osal::PutBox::Result::kNoMemory;
}

// Stores the code of a refused put; a full queue marks the item.
BOOL8 RefusePut(OSAL_Queue *q, void *item, osal::PutBox::Result result, bool markItem) {
    if (result == osal::PutBox::Result::kFull) {
        OSAL_PFN_QMARK mark = q->mark.load(std::memory_order_acquire);
        if (markItem && mark) mark(item, OSAL_ERR_QUEUE_FULL);
        OSAL_vSetLastError(OSAL_ERR_QUEUE_FULL);
    } else {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
    }
    return 0;
}

void WakeSleepers(OSAL_Queue *q) {
    Pulse(q, NoteChange(q));
    if (q->sleepers) osal::CondBroadcast(&q->changed);
}

// Releases q->mutex and then wakes the sleepers if there were any, so that a
// woken thread does not run into the mutex its waker still holds. The
// change it reacts to was made under the mutex, so no wake-up is lost.
void UnlockAndWake(OSAL_Queue *q, bool changed) {
    const uint32_t pulse = changed ? NoteChange(q) : 0;
    const bool wake = changed && q->sleepers != 0;
    LockRelease(&q->mutex);
    if (changed) Pulse(q, pulse);
    if (wake) osal::CondBroadcast(&q->changed);
}

// Get and Peek: the first item, waiting for one as the deadline allows.
void *TakeOrPeek(OSAL_HQUEUE q, BOOL8 boWait, TimeVal stDeadline, bool take) {
    if (!q) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return nullptr;
    }
    const bool mayWait = boWait && !zera::TimeIsNoWait(stDeadline);
    // Only a call that may wait until a relative deadline reads the clock:
    // takes stay cheap.
    const int64_t deadline = mayWait ? osal::DeadlineMicros(stDeadline) : 0;
    if (mayWait && q->box.Total() == 0) {
        // Nothing to take: wait for the next change a moment before taking
        // the mutex (a null put in that moment is kept for this thread, as
        // for any thread that is not waiting yet).
        WatchPulse(q, q->pulse.load(std::memory_order_acquire), q->box.Puts());
    }
    LockAcquire(&q->mutex);
    WaitForAccess(q);
    const bool placed = Drain(q);
    // A thread that may wait becomes known to the queue now, so that a null
    // put between this call and its next one is kept for it.
    QueueCore::Waiter *w = mayWait ? q->core.FindWaiter(CurrentThread(), true) : nullptr;
    if (!q->core.Empty() || !mayWait) {
        void *item = take ? TakeFront(q) : q->core.Front();
        UnlockAndWake(q, item && take);
        // Empty for now, but puts wait that could not be ordered (a wait
        // looks again at the next change or its deadline).
        if (!item && !placed) OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return item;
    }
    if (!w) {
        LockRelease(&q->mutex);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    if (w->pending) {
        // A null put came since this thread last waited: this wait ends now.
        w->pending = false;
        LockRelease(&q->mutex);
        return nullptr;
    }
    w->waiting = true;
    w->woken = false;
    void *item = nullptr;
    for (;;) {
        const uint32_t seenPuts = q->box.Puts();
        const bool access = Accessible(q);
        Drain(q);
        if (access && !q->core.Empty()) {
            item = take ? TakeFront(q) : q->core.Front();
            break;
        }
        if (w->woken) break;
        if (access && deadline != kNever && osal::NowMicros() >= deadline) break;
        Sleep(q, access ? deadline : kNever, seenPuts);
    }
    w->waiting = false;
    w->woken = false;
    UnlockAndWake(q, item && take);
    return item;
}

}  // namespace

namespace osal {

void NotifyClockChanged() {
    LockAcquire(&g_registryLock);
    for (OSAL_Queue *q = g_registry; q; q = q->regNext) {
        LockAcquire(&q->mutex);
        osal::CondBroadcast(&q->changed);
        LockRelease(&q->mutex);
    }
    LockRelease(&g_registryLock);
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
    bool made = osal::LockInit(&q->mutex);
    if (made && !osal::CondInit(&q->changed)) {
        osal::LockDestroy(&q->mutex);
        made = false;
    }
    if (!made) {
        q->~OSAL_Queue();
        osal::FreeLines(block);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
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
    hQueue->box.DeleteAll(hQueue->core.pfnDelete);
    osal::CondDestroy(&hQueue->changed);
    osal::LockDestroy(&hQueue->mutex);
    hQueue->~OSAL_Queue();
    osal::FreeLines(hQueue);
}

OSAL_API void OSAL_CALL OSAL_vQueueSetMarkFunction(OSAL_HQUEUE hQueue, OSAL_PFN_QMARK pfnMark) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    hQueue->mark.store(pfnMark, std::memory_order_release);
}

OSAL_API BOOL8 OSAL_CALL OSAL_boQueuePut(OSAL_HQUEUE hQueue, void *pvItem, OSAL_PFN_QORDER pfnOrder) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    if (!pvItem) {
        // Touches no item, so it needs no access and never waits for a cursor.
        LockAcquire(&hQueue->mutex);
        hQueue->core.Wake(QueueCore::WakeKind::kNullPut, CurrentThread());
        WakeSleepers(hQueue);
        LockRelease(&hQueue->mutex);
        return 1;
    }
    if (!pfnOrder) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    osal::PutBox::Result result;
    if (hQueue->box.holder.load(std::memory_order_relaxed) == CurrentThread()) {
        // The holder of the cursor lock puts straight among the items it walks.
        LockAcquire(&hQueue->mutex);
        result = PutNow(hQueue, pvItem, pfnOrder);
        UnlockAndWake(hQueue, result == osal::PutBox::Result::kOk);
    } else {
        bool wake = false;
        result = hQueue->box.Put(osal::QueueEntry{pvItem, pfnOrder}, hQueue->capacity, &wake);
        if (wake) {
            // The sleeper registered under the mutex, which it gives up only
            // inside its wait: once the mutex is had, the broadcast reaches it.
            LockAcquire(&hQueue->mutex);
            LockRelease(&hQueue->mutex);
            osal::CondBroadcast(&hQueue->changed);
        }
    }
    return result == osal::PutBox::Result::kOk ? 1 : RefusePut(hQueue, pvItem, result, true);
}

OSAL_API BOOL8 OSAL_CALL OSAL_boQueueWaitChange(OSAL_HQUEUE hQueue, TimeVal stDeadline) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    // A look without waiting, the common case of a taker, reads no clock.
    const bool mayWait = !zera::TimeIsNoWait(stDeadline);
    const int64_t deadline = mayWait ? osal::DeadlineMicros(stDeadline) : 0;
    LockAcquire(&hQueue->mutex);
    QueueCore &core = hQueue->core;
    QueueCore::Waiter *w = core.FindWaiter(CurrentThread(), true);
    if (!w) {
        LockRelease(&hQueue->mutex);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return 0;
    }
    bool changed = core.ChangeCount() != w->seenChange;  // puts in the box count as changes
    if (!changed && mayWait) {
        if (w->pending) {
            w->pending = false;
            changed = true;
        } else {
            w->waiting = true;
            w->woken = false;
            bool watched = false;
            for (;;) {
                const uint32_t seenPuts = hQueue->box.Puts();
                if (core.ChangeCount() != w->seenChange || w->woken) {
                    changed = true;
                    break;
                }
                if (deadline != kNever && osal::NowMicros() >= deadline) break;
                if (!watched) {
                    // The next change may be a moment away: watch for it
                    // without the mutex before sleeping.
                    watched = true;
                    const uint32_t seenPulse = hQueue->pulse.load(std::memory_order_acquire);
                    LockRelease(&hQueue->mutex);
                    WatchPulse(hQueue, seenPulse, seenPuts);
                    LockAcquire(&hQueue->mutex);
                    continue;
                }
                Sleep(hQueue, deadline, seenPuts);
            }
            w->waiting = false;
            w->woken = false;
        }
    }
    w->seenChange = core.ChangeCount();
    LockRelease(&hQueue->mutex);
    return changed ? 1 : 0;
}

OSAL_API void *OSAL_CALL OSAL_pvQueueGet(OSAL_HQUEUE hQueue, BOOL8 boWait, TimeVal stDeadline) {
    return TakeOrPeek(hQueue, boWait, stDeadline, true);
}

OSAL_API void *OSAL_CALL OSAL_pvQueuePeek(OSAL_HQUEUE hQueue, BOOL8 boWait, TimeVal stDeadline) {
    return TakeOrPeek(hQueue, boWait, stDeadline, false);
}

OSAL_API void *OSAL_CALL OSAL_pvQueueTakeIfDue(OSAL_HQUEUE hQueue, OSAL_PFN_QDUE pfnDue, void *pvContext) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return nullptr;
    }
    if (!pfnDue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    // One hold of the mutex for what a taker's wait registration, cursor
    // lock, look, remove and unlock did in five.
    LockAcquire(&hQueue->mutex);
    WaitForAccess(hQueue);
    // Registered before the look: a put that lands in the box while the due
    // function runs is a change for the next wait. Without a record (no
    // memory) that wait makes one, which counts any earlier null put as
    // missed: no break is lost.
    if (QueueCore::Waiter *w = hQueue->core.FindWaiter(CurrentThread(), true))
        w->seenChange = hQueue->core.ChangeCount();
    Drain(hQueue);
    void *item = hQueue->core.Front();
    if (item && pfnDue(item, pvContext))
        TakeFront(hQueue);
    else
        item = nullptr;
    UnlockAndWake(hQueue, item != nullptr);
    return item;
}

OSAL_API void OSAL_CALL OSAL_vQueueInterrupt(OSAL_HQUEUE hQueue) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    LockAcquire(&hQueue->mutex);
    hQueue->core.Wake(QueueCore::WakeKind::kInterrupt, CurrentThread());
    WakeSleepers(hQueue);
    LockRelease(&hQueue->mutex);
}

OSAL_API uint32_t OSAL_CALL OSAL_dwQueueGetChangeCount(OSAL_HQUEUE hQueue) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    LockAcquire(&hQueue->mutex);
    uint32_t count = hQueue->core.ChangeCount();
    LockRelease(&hQueue->mutex);
    return count;
}

OSAL_API OSAL_HQCURSOR OSAL_CALL OSAL_hQueueLock(OSAL_HQUEUE hQueue) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return nullptr;
    }
    // Only the holder reads its own id here, so the test needs no mutex; a
    // nested lock gets a cursor of its own.
    OSAL_QueueCursor *c = nullptr;
    if (hQueue->box.holder.load(std::memory_order_relaxed) == CurrentThread()) {
        void *block = osal::Alloc(sizeof(OSAL_QueueCursor));
        if (!block) {
            OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
            return nullptr;
        }
        c = new (block) OSAL_QueueCursor();
    }
    LockAcquire(&hQueue->mutex);
    WaitForAccess(hQueue);
    if (!c) {
        ZERA_ASSERT(hQueue->depth == 0);
        c = &hQueue->outermost;
    }
    c->queue = hQueue;
    Drain(hQueue);  // the walk sees every put made before the lock
    hQueue->box.holder.store(CurrentThread(), std::memory_order_relaxed);
    ++hQueue->depth;
    hQueue->core.Attach(&c->pos);
    LockRelease(&hQueue->mutex);
    return c;
}

OSAL_API void *OSAL_CALL OSAL_pvQueueNext(OSAL_HQCURSOR hCursor) {
    if (!hCursor) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return nullptr;
    }
    OSAL_Queue *q = hCursor->queue;
    // While the caller holds the cursor lock, only it changes the items and
    // its cursors, so it walks them without the mutex.
    if (q->box.holder.load(std::memory_order_relaxed) == CurrentThread()) return q->core.Next(&hCursor->pos);
    LockAcquire(&q->mutex);
    void *item = q->core.Next(&hCursor->pos);
    LockRelease(&q->mutex);
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
    LockAcquire(&q->mutex);
    const osal::PutBox::Result result = PutNow(q, pvItem, pfnOrder);
    if (result == osal::PutBox::Result::kOk) WakeSleepers(q);
    LockRelease(&q->mutex);
    return result == osal::PutBox::Result::kOk ? 1 : RefusePut(q, pvItem, result, false);
}

OSAL_API BOOL8 OSAL_CALL OSAL_boQueueRemove(OSAL_HQCURSOR hCursor, BOOL8 boDelete) {
    if (!hCursor) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    OSAL_Queue *q = hCursor->queue;
    void *item = nullptr;
    LockAcquire(&q->mutex);
    bool removed = q->core.RemoveCurrent(&hCursor->pos, &item);
    OSAL_PFN_QDELETE pfnDelete = q->core.pfnDelete;
    if (removed) {
        q->box.Leave(1);
        WakeSleepers(q);
    }
    LockRelease(&q->mutex);
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
    LockAcquire(&q->mutex);
    q->core.Detach(&hCursor->pos);
    if (q->depth > 0 && --q->depth == 0) {
        q->box.holder.store(0, std::memory_order_relaxed);
        Drain(q);  // what others put meanwhile
        WakeSleepers(q);
    }
    LockRelease(&q->mutex);
    if (hCursor == &q->outermost) return;
    hCursor->~OSAL_QueueCursor();
    osal::Free(hCursor);
}

}  // extern "C"
