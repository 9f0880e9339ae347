// event/flow_shared.cpp - the pieces that sending, taking due events, the
// input filter and receiving share: the stack's time as a level reads it,
// putting an unlinked event back into its send queue without ever losing
// it, and what the flow tells the timeline and the debug output.
#include "event/event.h"

namespace {

using zera::trace::Kind;

zera::trace::EventFacts FactsOf(const Event *ev) {
    if (ev == nullptr) return zera::trace::EventFacts{-1, 0, 0};
    return zera::trace::EventFacts{ev->i32Type, ev->dwEventId, ev->u8Level};
}

zera::trace::Category CategoryOf(Kind kind, uint64_t value) {
    switch (kind) {
        case zera::trace::kSent:
        case zera::trace::kTaken:
        case zera::trace::kCancelled: return zera::trace::kSend;
        case zera::trace::kFiltered:
        case zera::trace::kQueued:
        case zera::trace::kDropped: return zera::trace::kFilter;
        case zera::trace::kReceived: return zera::trace::kRecv;
        case zera::trace::kBreak: return value == zera::trace::kRecvQueue ? zera::trace::kRecv : zera::trace::kSend;
        default: return zera::trace::kStack;
    }
}

const char *WordOf(Kind kind) {
    static const char *const kWords[] = {"sent",     "taken from the send queue", "cancelled", "filtered",
                                         "queued",   "received",                  "break",     "status",
                                         "dropped",  "load"};
    return kWords[kind];
}

// The record and, for a category logging at debug, the line.
void Watch(StackHandle *h, Kind kind, const zera::trace::EventFacts &facts, uint64_t value, uint32_t arrival) {
    zera::trace::Record(kind, h, h->u8Level, facts, value, arrival);
    const zera::trace::Category category = CategoryOf(kind, value);
    if (!zera::trace::LogOn(category, zera::trace::kDebug)) return;
    if (facts.type < 0) {
        zera::trace::Log(category, zera::trace::kDebug, "level %u: %s 0x%llx", h->u8Level, WordOf(kind),
                         static_cast<unsigned long long>(value));
    } else {
        zera::trace::Log(category, zera::trace::kDebug, "level %u: %s type %d of level %u id %u", h->u8Level,
                         WordOf(kind), facts.type, facts.level, facts.id);
    }
}

}  // namespace

namespace zera {

bool ReadLevelTime(StackHandle *h, TimeVal *time) {
#if defined(ZERA_LOCK_ORDER_CHECKED)
    // A level's time entry may be a component's.
    lock_order::NotHeldAcrossCall(LockRank::kQueueCursor);
#endif
    auto getTime = EntryOf<PfnGetTime>(h, kEntryGetTime);
    if (getTime == ZERA_boGetTime && NextLevelOf(h) == nullptr) {
        // The library's own entry at the top reads the system time; h is checked.
        OSAL_vGetSystemTime(time);
        return true;
    }
    if (getTime != nullptr && getTime(h, 0, time)) return true;
    // A refusing level leaves the time unwritten.
    OSAL_vGetSystemTime(time);
    return false;
}

bool PutBackAndUnlock(StackHandle *h, QueueWalk &walk, Event *ev) {
    const bool back = OSAL_boQueueInsert(walk.Cursor(), ev, ZERA_boTimeStampCompare) != 0;
    walk.Unlock();
    if (!back) {
        // The filter may walk this queue again, so it runs after the unlock.
        ev->dwFlags |= ZERA_EVF_REQUEUE_FAILED;
        ZERA_vInputFilter(h, ev);
    }
    return back;
}

bool PutWatched(StackHandle *h, OSAL_HQUEUE queue, Event *ev, trace::Kind kind) {
    const trace::EventFacts facts = FactsOf(ev);
    SetArrivalStamp(ev, trace::TimelineOn() ? trace::ArrivalStamp() : 0);
    if (!OSAL_boQueuePut(queue, ev, ZERA_boTimeStampCompare)) return false;
    Watch(h, kind, facts, 0, 0);
    return true;
}

void WatchDeparture(StackHandle *h, const Event *ev, trace::Kind kind) {
    Watch(h, kind, FactsOf(ev), 0, ArrivalStampOf(ev));
}

void WatchRepetition(StackHandle *h, Event *master, const Event *copy) {
    Watch(h, trace::kTaken, FactsOf(copy != nullptr ? copy : master), 0, ArrivalStampOf(master));
    // The master's next stay begins; it is no send of its own, so no line.
    SetArrivalStamp(master, trace::TimelineOn() ? trace::ArrivalStamp() : 0);
    trace::Record(trace::kSent, h, h->u8Level, FactsOf(master));
}

void WatchMark(StackHandle *h, const Event *ev, trace::Kind kind, uint64_t value) {
    Watch(h, kind, FactsOf(ev), value, 0);
}

}  // namespace zera
