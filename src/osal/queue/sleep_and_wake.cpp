// osal/queue/sleep_and_wake.cpp - how a queue's operations sleep and wake:
// the registry of live queues that a move of the clock wakes, sleeps until
// a broadcast or a wall-clock deadline (or on the manual clock), the watch
// for the next change before a sleep, and the pulse and broadcast after a
// change (see queue.h).
#include <atomic>

#include "common/contract.h"
#include "common/spin.h"
#include "osal/queue/queue.h"

namespace osal {
namespace queue {

namespace {

// Every live queue, so that a move of the clock can wake their waits. Only
// creating and deleting a queue take the lock; a put or a take does not.
osal::Lock g_registryLock = OSAL_LOCK_INITIALIZER;  // guards g_registry and the links
OSAL_Queue *g_registry = nullptr;

// Longest single sleep: far deadlines are approached in steps, so no system
// time value ever overflows (32-bit time_t, milliseconds in 32 bits) and a
// deadline is re-read after each step.
constexpr int64_t kMaxSleepMicros = 24LL * 3600 * kMicrosPerSecond;

// How long a thread that is about to sleep first watches the queue: long
// enough to catch the next item of a steady stream without two system calls,
// short against anything a sleeping thread would notice.
constexpr int kSpinRounds = 200;

// After a change made under q->mutex: the pulse to publish (a plain store,
// no read-modify-write on the watched line). A late store of an older value
// still differs from what a watcher saw, or costs it no more than its rounds.
uint32_t NoteChange(OSAL_Queue *q) { return ++q->pulses; }
void Pulse(OSAL_Queue *q, uint32_t value) { q->pulse.store(value, std::memory_order_release); }

}  // namespace

void Register(OSAL_Queue *q) {
    AcquireTracked(&g_registryLock, LockRank::kQueueRegistry);
    q->regNext = g_registry;
    if (g_registry) g_registry->regPrev = q;
    g_registry = q;
    ReleaseTracked(&g_registryLock);
}

void Unregister(OSAL_Queue *q) {
    AcquireTracked(&g_registryLock, LockRank::kQueueRegistry);
    if (q->regPrev)
        q->regPrev->regNext = q->regNext;
    else
        g_registry = q->regNext;
    if (q->regNext) q->regNext->regPrev = q->regPrev;
    ReleaseTracked(&g_registryLock);
}

bool Accessible(const OSAL_Queue *q) {
    ZERA_ASSERT(HoldsLock(&q->mutex));
    const ThreadId holder = q->box.holder.load(std::memory_order_relaxed);
    return holder == 0 || holder == CurrentThread();
}

bool Drain(OSAL_Queue *q) {
    ZERA_ASSERT(HoldsLock(&q->mutex));
    return q->box.holder.load(std::memory_order_relaxed) != 0 || q->items.Drain();
}

void Sleep(OSAL_Queue *q, int64_t deadline, uint32_t seenPuts) {
    ZERA_ASSERT(HoldsLock(&q->mutex));
    if (!q->box.AddSleeper(seenPuts)) return;
    ++q->sleepers;
    ClockWait manual;
    if (deadline != kNever && ClockWaitBegin(&manual, deadline)) {
        // On the manual clock: no real deadline; its moves wake every queue.
        CondWaitUntil(&q->changed, &q->mutex, kNever);
        ClockWaitEnd(&manual);
        --q->sleepers;
        q->box.RemoveSleeper();
        return;
    }
    if (deadline != kNever) {
        const int64_t now = NowMicros();
        if (deadline - now > kMaxSleepMicros) deadline = now + kMaxSleepMicros;
        // The condition variable waits on the real clock; the test offset is
        // read under q->mutex, and a change of it broadcasts under that mutex.
        deadline -= ClockOffsetMicros();
    }
    CondWaitUntil(&q->changed, &q->mutex, deadline);
    --q->sleepers;
    q->box.RemoveSleeper();
}

void WatchPulse(const OSAL_Queue *q, uint32_t seenPulse, uint32_t seenPuts) {
    for (int i = 0; i < kSpinRounds && q->pulse.load(std::memory_order_acquire) == seenPulse &&
                    q->box.Puts() == seenPuts;
         ++i)
        spin::CpuRelax();
}

void WaitForAccess(OSAL_Queue *q) {
    while (!Accessible(q)) Sleep(q, kNever, q->box.Puts());
}

void *TakeFront(OSAL_Queue *q) {
    ZERA_ASSERT(HoldsLock(&q->mutex));
    void *item = q->items.PopFront();
    if (item) q->box.Leave(1);
    return item;
}

PutBox::Result PutNow(OSAL_Queue *q, void *item, OSAL_PFN_QORDER order) {
    ZERA_ASSERT(HoldsLock(&q->mutex));
    if (!q->box.Enter(q->capacity)) return PutBox::Result::kFull;
    if (q->items.Insert(item, order)) return PutBox::Result::kOk;
    q->box.Leave(1);
    return PutBox::Result::kNoMemory;
}

BOOL8 RefusePut(OSAL_Queue *q, void *item, PutBox::Result result, bool markItem) {
    if (result == PutBox::Result::kFull) {
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
    if (q->sleepers) CondBroadcast(&q->changed);
}

void UnlockAndWake(OSAL_Queue *q, bool changed) {
    const uint32_t pulse = changed ? NoteChange(q) : 0;
    const bool wake = changed && q->sleepers != 0;
    Unlock(q);
    if (changed) Pulse(q, pulse);
    if (wake) CondBroadcast(&q->changed);
}

}  // namespace queue

void NotifyClockChanged() {
    AcquireTracked(&queue::g_registryLock, LockRank::kQueueRegistry);
    for (OSAL_Queue *q = queue::g_registry; q; q = q->regNext) {
        queue::Lock(q);
        CondBroadcast(&q->changed);
        queue::Unlock(q);
    }
    ReleaseTracked(&queue::g_registryLock);
}

}  // namespace osal
