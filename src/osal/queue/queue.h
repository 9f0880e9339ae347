/*
 * osal/queue/queue.h - the record of a time-ordered queue: its ordered items
 * and waiters behind the platform's lock, a condition variable waited on
 * until wall-clock deadlines, a re-entrant cursor lock, and the put box in
 * front of it; and the sleeps and wakes that the queue's operations
 * (operations.cpp) share (sleep_and_wake.cpp).
 *
 * Lock order: see common/lock_order.h. No user callback (delete, mark) runs
 * while a queue's mutex is held, but for the delete function when the queue
 * itself goes away; the order and due functions, which must not call the
 * queue, do.
 *
 * Internal: included by src/osal/queue/ only.
 */
#ifndef OSAL_QUEUE_QUEUE_H
#define OSAL_QUEUE_QUEUE_H

#include <atomic>
#include <cstdint>

#include "common/cache_line.h"
#include "osal/held_locks.h"
#include "osal/osal_internal.h"
#include "osal/platform.h"
#include "osal/queue/ordered_items.h"
#include "osal/queue/put_box.h"
#include "osal/queue/waiters.h"

struct OSAL_QueueCursor {
    OSAL_Queue *queue;
    osal::OrderedItems::Cursor pos;  // guarded by queue->mutex; read without it by the lock's holder
};

struct OSAL_Queue {
    osal::Lock mutex;     // guards everything below but `capacity`, `mark`, `pulse` and `box`
    osal::Cond changed;   // broadcast on every change, wake, unlock and clock step
    osal::OrderedItems items;
    osal::Waiters waiters;
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
    OSAL_Queue *regPrev = nullptr;  // registry links; guarded by the registry's lock
    OSAL_Queue *regNext = nullptr;
    OSAL_Queue(uint32_t capacityItems, OSAL_PFN_QDELETE pfnDelete, uint32_t chunkSlots)
        : items(&box, pfnDelete, chunkSlots), capacity(capacityItems) {}
};

namespace osal {
namespace queue {

// A queue's mutex, taken and given with the lock order checked.
inline void Lock(OSAL_Queue *q) { AcquireTracked(&q->mutex, LockRank::kQueue); }
inline void Unlock(OSAL_Queue *q) { ReleaseTracked(&q->mutex); }

// Every live queue is registered, so that a move of the clock can wake
// their waits.
void Register(OSAL_Queue *q);
void Unregister(OSAL_Queue *q);

// The caller may look at or change the items: nobody holds the cursor lock,
// or the caller does. Caller holds q->mutex.
bool Accessible(const OSAL_Queue *q);
// Moves the puts waiting in the box behind the items, unless a thread holds
// the cursor lock: its walk sees no puts of other threads (the unlock
// drains). False when memory ran out and some still wait. Caller holds
// q->mutex.
bool Drain(OSAL_Queue *q);
// Sleeps until a broadcast or the deadline (wall clock of the layer, so a
// forward step of the clock ends it early); returns at once when a put came
// into the box since the caller read seenPuts, before it looked at the
// queue. Caller holds q->mutex.
void Sleep(OSAL_Queue *q, int64_t deadline, uint32_t seenPuts);
// Watches the pulse and the box's puts, without q->mutex, for a moment or
// until one moves. Only a hint: the caller looks at the queue under the
// mutex after it.
void WatchPulse(const OSAL_Queue *q, uint32_t seenPulse, uint32_t seenPuts);
// Blocks until the caller may use the items. Caller holds q->mutex.
void WaitForAccess(OSAL_Queue *q);
// Unlinks the first item (null when there is none). Caller holds q->mutex.
void *TakeFront(OSAL_Queue *q);
// Puts an item straight into the ordered items, for the thread that holds the
// cursor lock (or inserts with it). Caller holds q->mutex.
PutBox::Result PutNow(OSAL_Queue *q, void *item, OSAL_PFN_QORDER order);
// Stores the code of a refused put; a full queue marks the item.
BOOL8 RefusePut(OSAL_Queue *q, void *item, PutBox::Result result, bool markItem);
// Wakes every sleeper after a change. Caller holds q->mutex.
void WakeSleepers(OSAL_Queue *q);
// Releases q->mutex and then wakes the sleepers if there were any, so that a
// woken thread does not run into the mutex its waker still holds. The
// change it reacts to was made under the mutex, so no wake-up is lost.
void UnlockAndWake(OSAL_Queue *q, bool changed);

}  // namespace queue
}  // namespace osal

#endif  // OSAL_QUEUE_QUEUE_H
