// event/send_queue_take.cpp - the taker's side of a level's send queue:
// waiting for the next due event, handing out the copies of a repeating
// master and moving the master on, and breaking such a wait.
//
// One thread per level takes. It holds no lock while it waits: it sleeps in
// the queue's wait-for-change until the first event may be taken (its time
// stamp minus the lead) or the queue changes. It looks at queued events only
// under the queue's cursor lock, since a cancel on another thread may delete
// them and a modify may change them at any moment.
//
// The break protocol: the caller's flag is read only under the caller's
// mutex, and a break sets it and puts the null item under that mutex. The
// taker makes itself known to the queue (a wait-for-change without waiting)
// before it reads the flag, so a null put between its look at the flag and
// its wait stays pending for it and ends that wait at once.
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

// A repeating master that fell due, unlinked under `cursor`: hands out a
// copy and moves the master on by one period (or, after a long delay, to
// the level's time), then puts it back and releases the cursor. The last
// delivery hands out the master itself.
Event *DeliverRepetition(StackHandle *h, OSAL_HQCURSOR cursor, Event *master, const TimeVal &lead) {
    if (master->u16RepeatCount == 1) {
        master->u8Options |= ZERA_OPT_COPY;
        OSAL_vQueueUnlock(cursor);
        return master;
    }
    Event *copy = ZERA_pstInternalCloneEvent(master, 1);
    master->stTimeStamp = TimeSum(master->stTimeStamp, master->stPeriod);
    if (master->u16RepeatCount != 0) --master->u16RepeatCount;
    TimeVal now;
    zera::ReadLevelTime(h, &now);
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
    zera::PutBackAndUnlock(h, cursor, master);
    return copy;
}

// Under the queue's cursor lock: takes the first event when it is due at
// `now` with `lead`, else tells when it will be (*wakeAt; infinite for an
// empty queue). *failed when the queue cannot be locked, the event not
// unlinked, or a repetition not copied (the code of what failed stands).
Event *TakeIfDue(StackHandle *h, const TimeVal &lead, TimeVal *wakeAt, bool *failed) {
    TimeVal now;
    zera::ReadLevelTime(h, &now);
    OSAL_HQCURSOR cursor = OSAL_hQueueLock(h->hSendQueue);
    if (cursor == nullptr) {
        *failed = true;
        return nullptr;
    }
    auto *first = static_cast<Event *>(OSAL_pvQueueNext(cursor));
    if (first == nullptr) {
        OSAL_vQueueUnlock(cursor);
        *wakeAt = OSAL_stTimeInfinite;
        return nullptr;
    }
    if (TimeIsLater(zera::TimeDifference(first->stTimeStamp, now), lead)) {
        *wakeAt = zera::TimeDifference(first->stTimeStamp, lead);
        OSAL_vQueueUnlock(cursor);
        return nullptr;
    }
    if (!OSAL_boQueueRemove(cursor, 0)) {
        OSAL_vQueueUnlock(cursor);
        *failed = true;
        return nullptr;
    }
    if (zera::IsRepeatingType1(first)) {
        // Without a copy there is nothing to hand out this time; the master
        // has moved on all the same.
        Event *copy = DeliverRepetition(h, cursor, first, lead);
        *failed = copy == nullptr;
        return copy;
    }
    if (first->i32Type == ZERA_EVENT_DATA) {
        // A one-shot that follows the level's answers is shifted by their
        // delay; any other take ends that shift.
        if (first->dwFlags & ZERA_EVF_FOLLOW_ANSWERS) {
            first->stTimeStamp = TimeSum(first->stTimeStamp, h->stTimeOffset);
        } else {
            h->stTimeOffset = OSAL_stTimeNoWait;
        }
    }
    OSAL_vQueueUnlock(cursor);
    return first;
}

bool BreakIsSet(const BOOL8 *pboBreak, OSAL_HMUTEX hBreakMutex) {
    OSAL_boMutexLock(hBreakMutex);
    const bool set = *pboBreak != 0;
    OSAL_vMutexUnlock(hBreakMutex);
    return set;
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
        // Known to the queue from here on: a break after this is not lost.
        OSAL_boQueueWaitChange(h->hSendQueue, OSAL_stTimeNoWait);
        if (BreakIsSet(pboBreak, hBreakMutex)) return nullptr;
        TimeVal wakeAt = OSAL_stTimeInfinite;
        bool failed = false;
        Event *ev = TakeIfDue(h, lead, &wakeAt, &failed);
        if (ev != nullptr || failed) return ev;
        OSAL_boQueueWaitChange(h->hSendQueue, wakeAt);
    }
}

ZERA_API void ZERA_CALL ZERA_vBreakSendEventWait(StackHandle *h, BOOL8 *pboBreak, OSAL_HMUTEX hBreakMutex) {
    if (hBreakMutex != nullptr) OSAL_boMutexLock(hBreakMutex);
    if (pboBreak != nullptr) *pboBreak = 1;
    if (h != nullptr) OSAL_boQueuePut(h->hSendQueue, nullptr, nullptr);
    if (hBreakMutex != nullptr) OSAL_vMutexUnlock(hBreakMutex);
}

}  // extern "C"
