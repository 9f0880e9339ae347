// event/send.cpp - sending events: the checks at the sender's level, the
// climb through entry slot 35 of every level, the turn of the stack status
// event at the top of the stack, and what an event does where it arrives:
// join the send queue, or (type 1) cancel queued events or modify one.
//
// Any thread may send on any level. A put locks the queue by itself; a
// cancel or modify holds the queue's cursor lock from its search until its
// changes are made and the changed event is back in order, so no taker sees
// an event half-changed.
#include <cstring>
#include <utility>

#include "ZERA_Component.h"
#include "event/event.h"

namespace {

using zera::TimeIsInfinite;
using zera::TimeIsLater;
using zera::TimeIsRelative;

constexpr uint32_t kStatusValueOffset = 8;  // behind the item's kind and size
constexpr TimeVal kShortestInterval = {OSAL_TIME_RELATIVE, 2};
constexpr uint8_t kOptionGroups = ZERA_OPT_AUX1 | ZERA_OPT_AUX2 | ZERA_OPT_AUX3 | ZERA_OPT_REPEATING;

// Identifiers that a repeating or modifying event may carry: the others are
// "none" and the cancel wildcards.
bool IsUsableId(uint32_t id) { return id != 0 && id < ZERA_EVID_RESERVED_FIRST; }

uint8_t QueueOpOf(const Event *ev) {
    return ev->i32Type == ZERA_EVENT_DATA ? static_cast<uint8_t>(ev->u8QueueOp & zera::kQueueOpMask) : 0;
}

bool SendAtLevel(StackHandle *h, Event *ev);

// Calls a level's slot 35 for h, which the caller has checked. Where the slot
// holds the library's own entry, its body runs without checking h again.
bool CallSendIntl(zera::PfnSendEventIntl send, StackHandle *h, Event *ev) {
    if (send == ZERA_boSendEventIntl) return SendAtLevel(h, ev);
    return send(h, ev) != 0;
}

void WriteStatusValue(Event *ev, uint32_t status) {
    std::memcpy(ev->pbItems + kStatusValueOffset, &status, sizeof status);
}

// A stack status event at the topmost level h, carrying `value`. When bit 31
// of the value differs from h's, the sender asks for a fresh announcement:
// a complete stack makes one from h's own status (with bit 31 toggled), an
// incomplete one sends the toggled status down in this event.
bool TurnStackStatus(StackHandle *h, Event *ev, uint32_t value) {
    const uint32_t status = zera::LoadRelaxed(h->dwStatus);
    if (((status ^ value) & ZERA_STATUS_BIT31) == 0) {
        WriteStatusValue(ev, status);
        ev->u8Level = h->u8Level;
        ZERA_vInputFilter(h, ev);
        return true;
    }
    const uint32_t toggled = status ^ ZERA_STATUS_BIT31;
    zera::StoreRelaxed(h->dwStatus, toggled);
    if ((toggled & ZERA_STATUS_COMPLETE) == 0) {
        WriteStatusValue(ev, toggled);
        ev->u8Level = h->u8Level;
        ZERA_vInputFilter(h, ev);
        return true;
    }
    // An empty notification slot is a component without one, not an error.
    ZERA_PFN notify = h->apfnEntry[h->boWide ? zera::kEntryModuleNotifyW : zera::kEntryModuleNotifyA];
    if (notify != nullptr) reinterpret_cast<ZERA_PFN_MODULE_NOTIFY>(notify)(h);
    ZERA_vUpdateStackStatus(h, status);
    return ZERA_boDeleteEvent(ev) != 0;
}

bool CancelMatches(uint32_t id, const Event *item) {
    switch (id) {
        case zera::kCancelAll: return true;
        case zera::kCancelAllButMasters: return !zera::IsRepeatingType1(item);
        case zera::kCancelMasters: return zera::IsRepeatingType1(item);
        default: return item->dwEventId == id;
    }
}

// Removes and deletes the queued events of level h that the event's
// identifier names. Its attachments are applied to the stack parameters
// around the walk (a selector-1 change is thus undone again), outside the
// queue's lock: the notification they bring may announce a status that
// starts or stops level threads, whose stop joins a taker that may be
// waiting for this lock.
bool Cancel(StackHandle *h, Event *ev) {
    ZERA_vSetRestoreParams(h, ev);
    zera::QueueWalk walk(h->hSendQueue);
    if (!walk.Locked()) {
        // Only a lock nested in the holder's own walk fails (h is checked):
        // the change is undone, the walk's code stands.
        zera::KeepLastError keep;
        ZERA_vSetRestoreParams(h, ev);
        return false;
    }
    uint32_t removed = 0;
    while (auto *item = static_cast<Event *>(walk.Next())) {
        if (item->u8Level == h->u8Level && CancelMatches(ev->dwEventId, item) &&
            OSAL_boQueueRemove(walk.Cursor(), 1)) {
            ++removed;
        }
    }
    // The taker may be waiting for the event that was first.
    OSAL_boQueuePut(h->hSendQueue, nullptr, nullptr);
    walk.Unlock();
    ZERA_vSetRestoreParams(h, ev);
    if (removed == 0) return false;
    if (zera::trace::Hooked(zera::trace::kSend)) zera::WatchMark(h, ev, zera::trace::kCancelled, removed);
    ZERA_boDeleteEvent(ev);
    return true;
}

bool Insert(StackHandle *h, Event *ev) {
    if (ev->i32Type == ZERA_EVENT_INTERVAL) {
        if (!TimeIsRelative(ev->stInterval)) return zera::Fail(OSAL_ERR_INVALID_ARG);
        if (!TimeIsInfinite(ev->stInterval) && TimeIsLater(kShortestInterval, ev->stInterval)) {
            ev->stInterval = kShortestInterval;
        }
    }
    if (zera::trace::Hooked(zera::trace::kSend)) return zera::PutWatched(h, h->hSendQueue, ev, zera::trace::kSent);
    return OSAL_boQueuePut(h->hSendQueue, ev, ZERA_boTimeStampCompare) != 0;
}

// How many bytes may be written at a data event's pbData: its own area, or a
// buffer of the creator's own taken at its declared size.
uint32_t DataRoom(const Event *ev) {
    return ev->pbData == zera::OwnArea(ev) ? zera::EventAreaSize(ev) : ev->dwDataSize;
}

// Whether the event's data can be read: within its block when pbData
// addresses its own area; any other buffer is taken as the creator declared it.
bool DataReadable(const Event *ev) {
    if (ev->pbData == zera::OwnArea(ev)) return ev->dwDataSize <= zera::EventAreaSize(ev);
    return ev->pbData != nullptr || ev->dwDataSize == 0;
}

// What a modify takes over, from the event's u8QueueOp and u8Options.
struct ModifyPlan {
    uint8_t op;
    uint8_t groups;    // option groups, by u8Options bits 0-3
    bool takeOptions;  // u8Options itself
    bool resort;       // the match's time stamp (or address) changes
    bool nowKnown;     // `now` holds the level's time, read before the walk
    TimeVal now;
};

ModifyPlan PlanModify(const Event *ev) {
    ModifyPlan plan{ev->u8QueueOp, 0, false, false, false, OSAL_stTimeNoWait};
    const uint8_t mode = plan.op & zera::kModifyGroupsMask;
    if (mode == 4) {
        plan.groups = kOptionGroups;
        plan.takeOptions = true;
    } else if (mode != 0) {
        plan.groups = ev->u8Options & kOptionGroups;
        plan.takeOptions = mode == 12;
    }
    // A repeat group moves the time stamp too, whatever the sender's options.
    plan.resort = (plan.op & zera::kModifyTimeStamp) != 0 || (zera::IsRepeatingType1(ev) && mode != 0) ||
                  (plan.groups & ZERA_OPT_REPEATING) != 0;
    return plan;
}

// Applies the plan's changes to the match, which the cursor lock keeps from
// every other thread. Growing the data needs the match unlinked (PlanModify
// and Modify see to that); *match then follows the block. False (1026) when
// it cannot grow; nothing is changed then.
bool ApplyModify(const ModifyPlan &plan, Event *ev, Event **match) {
    Event *m = *match;
    if (plan.op & zera::kModifyData) {
        const uint32_t size = ev->dwDataSize;
        if (size > DataRoom(m)) {
            Event *grown = zera::GrowEventArea(m, size);
            if (grown == nullptr) return false;
            *match = m = grown;
            m->pbData = zera::OwnArea(m);
        }
        m->dwDataSize = size;
        if (size != 0) std::memmove(m->pbData, ev->pbData, size);
    }
    if (plan.op & zera::kModifyTimeStamp) m->stTimeStamp = ev->stTimeStamp;
    if (plan.op & zera::kModifyFlags) m->dwFlags = ev->dwFlags;
    if (plan.op & zera::kModifyAttachments) {
        // Each list keeps the width it was made in.
        std::swap(m->pstAttachments, ev->pstAttachments);
        std::swap(m->boWideAttach, ev->boWideAttach);
    }
    if (plan.takeOptions) m->u8Options = ev->u8Options;
    if (plan.groups & ZERA_OPT_AUX1) m->u64Aux1 = ev->u64Aux1;
    if (plan.groups & ZERA_OPT_AUX2) m->u64Aux2 = ev->u64Aux2;
    if (plan.groups & ZERA_OPT_AUX3) m->u8Aux3 = ev->u8Aux3;
    if (plan.groups & ZERA_OPT_REPEATING) {
        if ((plan.op & zera::kModifyTimeStamp) == 0) {
            // The next delivery moves by the change of period, but not into the past.
            TimeVal next = zera::TimeSum(zera::TimeDifference(m->stTimeStamp, m->stPeriod), ev->stPeriod);
            if (plan.nowKnown && TimeIsLater(plan.now, next)) next = plan.now;
            m->stTimeStamp = next;
        }
        m->stPeriod = ev->stPeriod;
        m->u16RepeatCount = ev->u16RepeatCount;
    }
    return true;
}

// Changes the one queued type-1 event of level h that has the event's
// identifier, then deletes the event.
bool Modify(StackHandle *h, Event *ev) {
    ModifyPlan plan = PlanModify(ev);
    if ((plan.op & zera::kModifyData) && !DataReadable(ev)) return zera::Fail(OSAL_ERR_INVALID_SIZE);
    // The level's time may come from a component: read before the lock.
    if ((plan.groups & ZERA_OPT_REPEATING) && (plan.op & zera::kModifyTimeStamp) == 0) {
        plan.nowKnown = zera::ReadLevelTime(h, &plan.now);
    }
    zera::QueueWalk walk(h->hSendQueue);
    if (!walk.Locked()) return false;
    Event *match = nullptr;
    while (auto *item = static_cast<Event *>(walk.Next())) {
        if (item->u8Level != h->u8Level || item->i32Type != ZERA_EVENT_DATA || item->dwEventId != ev->dwEventId) {
            continue;
        }
        if (match != nullptr) {
            // Which of the two is meant cannot be told: neither is changed.
            if (plan.resort) zera::PutBackAndUnlock(h, walk, match);
            return zera::Fail(OSAL_ERR_DUPLICATE_ID);
        }
        match = item;
        if ((plan.op & zera::kModifyData) && (ev->dwDataSize > item->dwDataSize || ev->dwDataSize > DataRoom(item))) {
            plan.resort = true;
        }
        if (plan.resort && !OSAL_boQueueRemove(walk.Cursor(), 0)) return false;
    }
    if (match == nullptr) return false;
    if (!ApplyModify(plan, ev, &match)) {
        zera::PutBackAndUnlock(h, walk, match);
        return zera::Fail(OSAL_ERR_NO_MEMORY);
    }
    if (plan.resort) {
        if (!zera::PutBackAndUnlock(h, walk, match)) return false;
    } else {
        walk.Unlock();
    }
    ZERA_boDeleteEvent(ev);
    return true;
}

// The checks of ZERA_boSendEvent that need no change of the event; on
// success *oneShot tells whether a handed-out copy of a repeating event is
// sent on as a one-shot.
bool CheckSend(StackHandle *h, const Event *ev, const TimeVal *sendTime, bool *oneShot) {
    if ((zera::LoadRelaxed(h->dwStatus) & ZERA_STATUS_NO_EVID) == 0) {
        if (ev->pstOwner == nullptr) return zera::Fail(OSAL_ERR_NO_OWNER);
        if (ev->pstOwner != h) return zera::Fail(OSAL_ERR_NOT_OWNER);
        if (ev->dwEventId != ev->dwOwnerEventId) return zera::Fail(OSAL_ERR_ID_MISMATCH);
    }
    *oneShot = false;
    const uint8_t op = ev->u8QueueOp & zera::kQueueOpMask;
    if (ev->i32Type == ZERA_EVENT_DATA) {
        if ((ev->u8Options & ZERA_OPT_REPEATING) != 0 && op == zera::kQueueOpInsert) {
            // The host may send a copy again as a new master.
            *oneShot = (ev->u8Options & ZERA_OPT_COPY) != 0 && h->u8Level != 0;
            if (!*oneShot && !IsUsableId(ev->dwEventId)) return zera::Fail(OSAL_ERR_INVALID_SIZE);
        }
        if (op == zera::kQueueOpModify && !IsUsableId(ev->dwEventId)) return zera::Fail(OSAL_ERR_INVALID_SIZE);
    } else if (op != 0) {
        return zera::Fail(OSAL_ERR_INVALID_SIZE);
    }
    if (sendTime == nullptr || TimeIsInfinite(*sendTime)) return zera::Fail(OSAL_ERR_INVALID_ARG);
    return true;
}

}  // namespace

extern "C" {

ZERA_API BOOL8 ZERA_CALL ZERA_boSendEvent(StackHandle *h, Event *pstEvent, uint32_t dwSendFlags,
                                          const TimeVal *pstSendTime) {
    if (pstEvent == nullptr || pstEvent->u8Level > ZERA_MAX_LEVEL) return zera::Fail(OSAL_ERR_INVALID_ARG);
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    bool oneShot = false;
    if (!CheckSend(h, pstEvent, pstSendTime, &oneShot)) return 0;
    auto send = zera::EntryOf<zera::PfnSendEventIntl>(h, zera::kEntrySendEventIntl);
    if (send == nullptr) return 0;

    if (zera::IsRepeatingType1(pstEvent) && (pstEvent->u8QueueOp & zera::kQueueOpMask) == zera::kQueueOpInsert) {
        if (h->u8Level == 0) pstEvent->u8Options &= static_cast<uint8_t>(~ZERA_OPT_COPY);
        if (oneShot) {
            pstEvent->u8Options &= static_cast<uint8_t>(~ZERA_OPT_REPEATING);
            pstEvent->u16RepeatCount = 0;
            pstEvent->stPeriod = OSAL_stTimeNoWait;
        }
    }
    if (pstEvent->u8Level == 0) pstEvent->u8Level = 1;
    pstEvent->dwFlags = dwSendFlags;
    pstEvent->stTimeStamp = *pstSendTime;
    return CallSendIntl(send, h, pstEvent) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSendEventIntl(StackHandle *h, Event *pstEvent) {
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    return SendAtLevel(h, pstEvent) ? 1 : 0;
}

}  // extern "C"

namespace {

// What the event does at its own level h: join the send queue, cancel or modify.
bool ArriveAt(StackHandle *h, Event *pstEvent) {
    const uint8_t op = QueueOpOf(pstEvent);
    if (op == zera::kQueueOpRefused) return false;
    if (op == zera::kQueueOpCancel) return Cancel(h, pstEvent);
    if (TimeIsRelative(pstEvent->stTimeStamp)) {
        TimeVal now;
        zera::ReadLevelTime(h, &now);
        pstEvent->stTimeStamp = zera::TimeSum(now, pstEvent->stTimeStamp);
    }
    const bool changesRepetition =
        op == zera::kQueueOpInsert || (pstEvent->u8QueueOp & zera::kModifyGroupsMask) != 0;
    if (zera::IsRepeatingType1(pstEvent) && changesRepetition &&
        (!TimeIsRelative(pstEvent->stPeriod) || TimeIsInfinite(pstEvent->stPeriod))) {
        return zera::Fail(OSAL_ERR_INVALID_SIZE);
    }
    if (op == zera::kQueueOpModify) return Modify(h, pstEvent);
    return Insert(h, pstEvent);
}

// The event is refused where it climbed to: its owner goes back to what it
// was at the sender's level (the caller keeps the event and may send it again).
bool Refused(Event *ev, StackHandle *owner) {
    ev->pstOwner = owner;
    return false;
}

// ZERA_boSendEventIntl for a level the caller has checked. The event climbs
// to its level (a stack status event to the top) through every level's slot
// 35; where a slot holds the library's own entry, the climb goes on here
// without a call. The owner moves along with it.
bool SendAtLevel(StackHandle *h, Event *pstEvent) {
    if (pstEvent == nullptr) return zera::Fail(OSAL_ERR_INVALID_ARG);
    uint32_t status = 0;
    const bool statusEvent = zera::ReadStackStatusEvent(pstEvent, &status);
    StackHandle *const owner = pstEvent->pstOwner;
    while (statusEvent ? zera::NextLevelOf(h) != nullptr : h->u8Level < pstEvent->u8Level) {
        StackHandle *next = zera::NextLevelOf(h);
        if (!zera::HandleValid(next)) {
            OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
            return Refused(pstEvent, owner);
        }
        auto send = zera::EntryOf<zera::PfnSendEventIntl>(next, zera::kEntrySendEventIntl);
        if (send == nullptr) return Refused(pstEvent, owner);
        if (owner != nullptr) pstEvent->pstOwner = next;
        if (send != ZERA_boSendEventIntl) return send(next, pstEvent) != 0 || Refused(pstEvent, owner);
        h = next;
    }
    if (statusEvent) return TurnStackStatus(h, pstEvent, status) || Refused(pstEvent, owner);
    if (h->u8Level > pstEvent->u8Level) return zera::Fail(OSAL_ERR_INVALID_LEVEL) || Refused(pstEvent, owner);
    return ArriveAt(h, pstEvent) || Refused(pstEvent, owner);
}

}  // namespace
