// osal/queue/operations.cpp - the queue operations of the interface
// (OSAL_*Queue*): create and delete, puts into the box or straight among
// the items, takes and peeks that wait until a deadline, waits for a
// change, interrupts, and the re-entrant cursor lock with its walk.
#include <atomic>
#include <new>

#include "common/contract.h"
#include "osal/osal_test_hooks.h"
#include "osal/queue/queue.h"

namespace {

using osal::CurrentThread;
using osal::kNever;
using osal::OrderedItems;
using namespace osal::queue;
namespace queue = osal::queue;

#if defined(ZERA_TEST_HOOKS)
std::atomic<uint32_t> g_testChunkSlots{0};  // 0: the normal size

uint32_t ChunkSlots() {
    uint32_t slots = g_testChunkSlots.load();
    return slots ? slots : OrderedItems::kChunkSlots;
}
#else
uint32_t ChunkSlots() { return OrderedItems::kChunkSlots; }
#endif

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
    queue::Lock(q);
    WaitForAccess(q);
    const bool placed = Drain(q);
    // A thread that may wait becomes known to the queue now, so that a null
    // put between this call and its next one is kept for it.
    osal::Waiter *w = mayWait ? q->waiters.Find(CurrentThread(), true, q->items) : nullptr;
    if (!q->items.Empty() || !mayWait) {
        void *item = take ? TakeFront(q) : q->items.Front();
        UnlockAndWake(q, item && take);
        // Empty for now, but puts wait that could not be ordered (a wait
        // looks again at the next change or its deadline).
        if (!item && !placed) OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return item;
    }
    if (!w) {
        queue::Unlock(q);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    if (w->pending) {
        // A null put came since this thread last waited: this wait ends now.
        w->pending = false;
        queue::Unlock(q);
        return nullptr;
    }
    w->waiting = true;
    w->woken = false;
    void *item = nullptr;
    for (;;) {
        const uint32_t seenPuts = q->box.Puts();
        const bool access = Accessible(q);
        Drain(q);
        if (access && !q->items.Empty()) {
            item = take ? TakeFront(q) : q->items.Front();
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
    hQueue->items.DeleteAll();
    hQueue->box.DeleteAll(hQueue->items.pfnDelete);
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
        queue::Lock(hQueue);
        hQueue->waiters.Wake(osal::WakeKind::kNullPut, CurrentThread());
        WakeSleepers(hQueue);
        queue::Unlock(hQueue);
        return 1;
    }
    if (!pfnOrder) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    osal::PutBox::Result result;
    if (hQueue->box.holder.load(std::memory_order_relaxed) == CurrentThread()) {
        // The holder of the cursor lock puts straight among the items it walks.
        queue::Lock(hQueue);
        result = PutNow(hQueue, pvItem, pfnOrder);
        UnlockAndWake(hQueue, result == osal::PutBox::Result::kOk);
    } else {
        bool wake = false;
        result = hQueue->box.Put(osal::QueueEntry{pvItem, pfnOrder}, hQueue->capacity, &wake);
        if (wake) {
            // The sleeper registered under the mutex, which it gives up only
            // inside its wait: once the mutex is had, the broadcast reaches it.
            queue::Lock(hQueue);
            queue::Unlock(hQueue);
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
    queue::Lock(hQueue);
    osal::OrderedItems &items = hQueue->items;
    osal::Waiter *w = hQueue->waiters.Find(CurrentThread(), true, items);
    if (!w) {
        queue::Unlock(hQueue);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return 0;
    }
    bool changed = items.ChangeCount() != w->seenChange;  // puts in the box count as changes
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
                if (items.ChangeCount() != w->seenChange || w->woken) {
                    changed = true;
                    break;
                }
                if (deadline != kNever && osal::NowMicros() >= deadline) break;
                if (!watched) {
                    // The next change may be a moment away: watch for it
                    // without the mutex before sleeping.
                    watched = true;
                    const uint32_t seenPulse = hQueue->pulse.load(std::memory_order_acquire);
                    queue::Unlock(hQueue);
                    WatchPulse(hQueue, seenPulse, seenPuts);
                    queue::Lock(hQueue);
                    continue;
                }
                Sleep(hQueue, deadline, seenPuts);
            }
            w->waiting = false;
            w->woken = false;
        }
    }
    w->seenChange = items.ChangeCount();
    queue::Unlock(hQueue);
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
    queue::Lock(hQueue);
    WaitForAccess(hQueue);
    // Registered before the look: a put that lands in the box while the due
    // function runs is a change for the next wait. Without a record (no
    // memory) that wait makes one, which counts any earlier null put as
    // missed: no break is lost.
    if (osal::Waiter *w = hQueue->waiters.Find(CurrentThread(), true, hQueue->items))
        w->seenChange = hQueue->items.ChangeCount();
    Drain(hQueue);
    void *item = hQueue->items.Front();
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
    queue::Lock(hQueue);
    hQueue->waiters.Wake(osal::WakeKind::kInterrupt, CurrentThread());
    WakeSleepers(hQueue);
    queue::Unlock(hQueue);
}

OSAL_API uint32_t OSAL_CALL OSAL_dwQueueGetChangeCount(OSAL_HQUEUE hQueue) {
    if (!hQueue) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    queue::Lock(hQueue);
    uint32_t count = hQueue->items.ChangeCount();
    queue::Unlock(hQueue);
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
    queue::Lock(hQueue);
    WaitForAccess(hQueue);
    if (!c) {
        ZERA_ASSERT(hQueue->depth == 0);
        c = &hQueue->outermost;
    }
    c->queue = hQueue;
    Drain(hQueue);  // the walk sees every put made before the lock
    hQueue->box.holder.store(CurrentThread(), std::memory_order_relaxed);
    ++hQueue->depth;
    hQueue->items.Attach(&c->pos);
    queue::Unlock(hQueue);
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
    if (q->box.holder.load(std::memory_order_relaxed) == CurrentThread()) return q->items.Next(&hCursor->pos);
    queue::Lock(q);
    void *item = q->items.Next(&hCursor->pos);
    queue::Unlock(q);
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
    queue::Lock(q);
    const osal::PutBox::Result result = PutNow(q, pvItem, pfnOrder);
    if (result == osal::PutBox::Result::kOk) WakeSleepers(q);
    queue::Unlock(q);
    return result == osal::PutBox::Result::kOk ? 1 : RefusePut(q, pvItem, result, false);
}

OSAL_API BOOL8 OSAL_CALL OSAL_boQueueRemove(OSAL_HQCURSOR hCursor, BOOL8 boDelete) {
    if (!hCursor) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    OSAL_Queue *q = hCursor->queue;
    void *item = nullptr;
    queue::Lock(q);
    bool removed = q->items.RemoveCurrent(&hCursor->pos, &item);
    OSAL_PFN_QDELETE pfnDelete = q->items.pfnDelete;
    if (removed) {
        q->box.Leave(1);
        WakeSleepers(q);
    }
    queue::Unlock(q);
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
    queue::Lock(q);
    q->items.Detach(&hCursor->pos);
    if (q->depth > 0 && --q->depth == 0) {
        q->box.holder.store(0, std::memory_order_relaxed);
        Drain(q);  // what others put meanwhile
        WakeSleepers(q);
    }
    queue::Unlock(q);
    if (hCursor == &q->outermost) return;
    hCursor->~OSAL_QueueCursor();
    osal::Free(hCursor);
}

}  // extern "C"
