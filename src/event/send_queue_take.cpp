// event/send_queue_take.cpp - the taker's side of a level's send queue:
// waiting for the next due event, handing out the copies of a repeating
// master and moving the master on, and breaking such a wait.
//
// One thread per level takes. It holds no lock while it waits: it sleeps in
// the queue's wait-for-change until the first event may be taken (its time
// stamp minus the lead) or the queue changes. It looks at queued events only
// with the queue locked (a take-if-due, or the cursor lock for a repeating
// master, which goes back in), since a cancel on another thread may delete
// them and a modify may change them at any moment.
//
// The break protocol: the caller's flag is read only under the caller's
// mutex, and a break sets it and puts the null item under that mutex. Once
// the taker has used the queue, a null put while it is not waiting stays
// pending for it, so a break after its look at the flag ends its next wait
// at once. A thread new to the queue is not owed a null put made before it
// used the queue, so the flag is read once more between its take (which
// makes it known to the queue) and its wait. The flag is read before the
// take, so that a break made before the call is never answered with an
// event.
#include <cstdint>

#include "event/event.h"

namespace {

using zera::TimeIsInfinite;
using zera::TimeIsLater;
using zera::TimeSum;

constexpr int32_t kLagReset = 10000;    // seconds behind: start again from now
constexpr int32_t kLagCatchUp = 100;    // seconds behind: check the period limit
constexpr int64_t kLagPeriods = 10;     // periods behind, beyond kLagCatchUp: start again

// n periods as a RELATIVE duration (the period's RELATIVE bit is not a part
// of its length); infinite stays infinite.
TimeVal Periods(const TimeVal &period, int64_t n) {
    if (TimeIsInfinite(period)) return OSAL_stTimeInfinite;
    TimeVal total = zera::TimeFromMicros(zera::TimeToMicros(period) * n);
    total.dwMicroseconds |= OSAL_TIME_RELATIVE;
    return total;
}

void MarkLate(Event *copy) {
    if (copy == nullptr) return;
    copy->u8Error = 0xFF;
    copy->dwFlags |= ZERA_EVF_LATE;
}

// A repeating master that fell due, unlinked under `walk`: hands out a
// copy and moves the master on by one period (or, after a long delay, to
// the level's time `now`, read before the walk), then puts it back and ends
// the walk. The last delivery hands out the master itself.
Event *DeliverRepetition(StackHandle *h, zera::QueueWalk &walk, Event *master, const TimeVal &lead,
                         const TimeVal &now) {
    if (master->u16RepeatCount == 1) {
        master->u8Options |= ZERA_OPT_COPY;
        walk.Unlock();
        if (zera::trace::Hooked(zera::trace::kSend)) zera::WatchDeparture(h, master, zera::trace::kTaken);
        return master;
    }
    Event *copy = ZERA_pstInternalCloneEvent(master, 1);
    if (zera::trace::Hooked(zera::trace::kSend)) zera::WatchRepetition(h, master, copy);
    master->stTimeStamp = TimeSum(master->stTimeStamp, master->stPeriod);
    if (master->u16RepeatCount != 0) --master->u16RepeatCount;
    if (master->dwFlags & ZERA_EVF_FOLLOW_ANSWERS) {
        master->stTimeStamp = TimeSum(TimeSum(now, lead), master->stPeriod);
    } else {
        const auto lag = static_cast<int32_t>(static_cast<uint32_t>(now.i32Seconds) -
                                              static_cast<uint32_t>(master->stTimeStamp.i32Seconds));
        // A repetition far behind is not replayed period by period.
        bool restart = lag > kLagReset;
        if (!restart && lag > kLagCatchUp) {
            restart = TimeIsLater(now, TimeSum(master->stTimeStamp, Periods(master->stPeriod, kLagPeriods)));
        }
        if (restart) {
            master->stTimeStamp = TimeSum(now, master->stPeriod);
            MarkLate(copy);
        }
    }
    zera::PutBackAndUnlock(h, walk, master);
    return copy;
}

// Whether ev is due at `now` with `lead`; if not, *wakeAt tells when it will be.
bool DueAt(const Event *ev, const TimeVal &now, const TimeVal &lead, TimeVal *wakeAt) {
    if (!TimeIsLater(zera::TimeDifference(ev->stTimeStamp, now), lead)) return true;
    *wakeAt = zera::TimeDifference(ev->stTimeStamp, lead);
    return false;
}

// Hands out an event that was not a repeating master, unlinked (so no other
// thread sees it change): a one-shot that follows the level's answers is
// shifted by their delay; any other type-1 take ends that shift.
Event *HandOut(StackHandle *h, Event *ev) {
    if (zera::trace::Hooked(zera::trace::kSend)) zera::WatchDeparture(h, ev, zera::trace::kTaken);
    if (ev->i32Type == ZERA_EVENT_DATA) {
        if (ev->dwFlags & ZERA_EVF_FOLLOW_ANSWERS) {
            ev->stTimeStamp = TimeSum(ev->stTimeStamp, h->stTimeOffset);
        } else {
            h->stTimeOffset = OSAL_stTimeNoWait;
        }
    }
    return ev;
}

// The take under the queue's cursor lock, for a repeating master, which goes
// back in: takes the first event when it is due with `lead`, else tells when
// it will be (*wakeAt; infinite for an empty queue). *failed when the queue
// cannot be locked, the event not unlinked, or a repetition not copied (the
// code of what failed stands).
Event *TakeUnderCursor(StackHandle *h, const TimeVal &lead, TimeVal *wakeAt, bool *failed) {
    TimeVal now;  // the level's time may come from a component: read before the lock
    zera::ReadLevelTime(h, &now);
    zera::QueueWalk walk(h->hSendQueue);
    if (!walk.Locked()) {
        *failed = true;
        return nullptr;
    }
    auto *first = static_cast<Event *>(walk.Next());
    if (first == nullptr) {
        *wakeAt = OSAL_stTimeInfinite;
        return nullptr;
    }
    if (!DueAt(first, now, lead, wakeAt)) return nullptr;
    if (!OSAL_boQueueRemove(walk.Cursor(), 0)) {
        *failed = true;
        return nullptr;
    }
    if (zera::IsRepeatingType1(first)) {
        // Without a copy there is nothing to hand out this time; the master
        // has moved on all the same.
        Event *copy = DeliverRepetition(h, walk, first, lead, now);
        *failed = copy == nullptr;
        return copy;
    }
    walk.Unlock();
    return HandOut(h, first);
}

// What the take-if-due decides by, and what it found out.
struct DueCheck {
    TimeVal now;
    TimeVal lead;
    TimeVal wakeAt;  // when the first event falls due; infinite while none is seen
    bool master;     // the first event is a due repeating master, left in the queue
};

BOOL8 OSAL_CALL IsDue(const void *item, void *context) {
    const auto *ev = static_cast<const Event *>(item);
    auto *check = static_cast<DueCheck *>(context);
    if (!DueAt(ev, check->now, check->lead, &check->wakeAt)) return 0;
    check->master = zera::IsRepeatingType1(ev);
    return check->master ? 0 : 1;
}

// Takes the first event when it is due with `lead`, else tells when it will
// be (*wakeAt; infinite for an empty queue). *failed as TakeUnderCursor.
// Counts as the taker's wait-for-change that does not wait.
Event *TakeIfDue(StackHandle *h, const TimeVal &lead, TimeVal *wakeAt, bool *failed) {
    DueCheck check{{}, lead, OSAL_stTimeInfinite, false};
    zera::ReadLevelTime(h, &check.now);
    auto *ev = static_cast<Event *>(OSAL_pvQueueTakeIfDue(h->hSendQueue, IsDue, &check));
    if (ev == nullptr) {
        if (check.master) return TakeUnderCursor(h, lead, wakeAt, failed);
        *wakeAt = check.wakeAt;
        return nullptr;
    }
    return HandOut(h, ev);
}

bool BreakIsSet(const BOOL8 *pboBreak, OSAL_HMUTEX hBreakMutex) {
    zera::MutexHold hold(hBreakMutex, zera::LockRank::kBreakMutex);
    return *pboBreak != 0;
}

}  // namespace

extern "C" {

ZERA_API Event *ZERA_CALL ZERA_pstGetNextSendEvent(StackHandle *h, const TimeVal *pstLead, BOOL8 *pboBreak,
                                                   OSAL_HMUTEX hBreakMutex) {
    if (!ZERA_boHandleCheck(h, 1)) return nullptr;
    if (pstLead == nullptr || pboBreak == nullptr || hBreakMutex == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    const TimeVal lead = *pstLead;
    for (;;) {
        if (BreakIsSet(pboBreak, hBreakMutex)) return nullptr;
        TimeVal wakeAt = OSAL_stTimeInfinite;
        bool failed = false;
        Event *ev = TakeIfDue(h, lead, &wakeAt, &failed);
        if (ev != nullptr || failed) return ev;
        if (BreakIsSet(pboBreak, hBreakMutex)) return nullptr;
        // A wait that cannot be set up (1026: no memory for this thread's
        // record) fails at once, and going round again would spin: the take
        // ends with its code, as a receive does. A wait that ends at its
        // deadline stores no code.
        const uint32_t before = OSAL_dwGetLastError();
        OSAL_vSetLastError(OSAL_ERR_NONE);
        if (!OSAL_boQueueWaitChange(h->hSendQueue, wakeAt) && OSAL_dwGetLastError() != OSAL_ERR_NONE) return nullptr;
        OSAL_vSetLastError(before);
    }
}

ZERA_API void ZERA_CALL ZERA_vBreakSendEventWait(StackHandle *h, BOOL8 *pboBreak, OSAL_HMUTEX hBreakMutex) {
    {
        zera::MutexHold hold(hBreakMutex, zera::LockRank::kBreakMutex);
        if (pboBreak != nullptr) *pboBreak = 1;
        if (h != nullptr) OSAL_boQueuePut(h->hSendQueue, nullptr, nullptr);
    }
    if (h != nullptr && zera::trace::Hooked(zera::trace::kSend)) {
        zera::WatchMark(h, nullptr, zera::trace::kBreak, zera::trace::kSendQueue);
    }
}

}  // extern "C"
