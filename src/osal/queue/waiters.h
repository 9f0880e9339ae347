/*
 * osal/queue/waiters.h - the per-thread bookkeeping that makes a queue's
 * waits neither lose nor invent wake-ups: each thread's last seen change,
 * whether it waits now, and the wakes (null puts, interrupts) that end its
 * waits or wait for its next one. No lock of its own: the queue calls every
 * member with its mutex held (see queue.h).
 *
 * Internal: included by src/osal/queue/ only.
 */
#ifndef OSAL_QUEUE_WAITERS_H
#define OSAL_QUEUE_WAITERS_H

#include <cstdint>

#include "osal/platform.h"
#include "osal/queue/ordered_items.h"

namespace osal {

// What one thread knows about the queue. A wake (null put or interrupt)
// ends the waits in progress; a null put also leaves a pending wake for
// each thread that is not waiting, so that a break fired between that
// thread's last look and its wait still ends the wait.
struct Waiter {
    ThreadId thread = 0;
    uint32_t seenChange = 0;  // change count at the thread's last wait-for-change
    bool waiting = false;     // inside a blocking wait now
    bool woken = false;       // a wake ended the current wait
    bool pending = false;     // the next blocking wait ends at once
    uint64_t wokenBy = 0;     // sequence number of the wake that last ended a wait (0: none)
    uint64_t life = 0;        // which of the threads that had this id it belongs to (ThreadLife)
    Waiter *next = nullptr;
};

enum class WakeKind { kNullPut, kInterrupt };

class Waiters {
public:
    Waiters() = default;
    ~Waiters();
    Waiters(const Waiters &) = delete;
    Waiters &operator=(const Waiters &) = delete;

    // The record of the calling thread (`thread` is its id), made on first
    // use with the items' current change count as seen and no pending wake:
    // a null put before the thread first used the queue was not meant for
    // it, and ending a wait that nothing ended would hand its caller a null
    // it did not ask for. A thread that uses the queue again after a break
    // must have used it before its look at its break flag (the receive and
    // take paths do). A record left by an ended thread whose id a new thread
    // now has is started afresh in the same way. Null (only with create)
    // when memory runs out, which the first kKept threads never see.
    Waiter *Find(ThreadId thread, bool create, const OrderedItems &items);
    // Ends the current waits; a null put also leaves pending wakes (see
    // Waiter). A null put that directly follows an interrupt of the same
    // thread (one break) adds nothing for the threads that interrupt woke,
    // and the thread that wakes never leaves one for itself.
    void Wake(WakeKind kind, ThreadId by);

private:
    // The records of the first threads live here: a wait that cannot make
    // its record fails at once (1026), and a thread that loops on such a
    // wait would spin instead of sleeping. Most queues have a thread or two
    // that wait, so those never need memory to wait.
    static constexpr uint32_t kKept = 4;
    Waiter kept_[kKept];
    uint32_t keptUsed_ = 0;
    Waiter *waiters_ = nullptr;
    uint64_t wakeSeq_ = 0;  // number of wakes so far
    WakeKind lastWakeKind_ = WakeKind::kNullPut;
    ThreadId lastWakeBy_ = 0;
};

}  // namespace osal

#endif  // OSAL_QUEUE_WAITERS_H
