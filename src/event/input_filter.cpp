// event/input_filter.cpp - the way down: the input filter that stamps,
// counts and delivers the events of a level, keeps its time offset,
// reschedules repeating masters that follow the level's answers, and
// applies stack status events at every level (starting and stopping the
// components' communication threads); and the reading and setting of a
// level's filter masks.
//
// The filter runs on its caller's thread. It walks the send queue only under
// the queue's cursor lock and calls itself again (for an event that cannot
// go back into the queue) only after releasing it. dwStatus, stTimeOffset
// and the masks are read and written without a lock (dwStatus and the masks
// with whole-word atomic accesses): a level's answers come from its own
// taker thread, and masks and status change while the stack is set up,
// started and stopped.
#include <cstdio>

#include "ZERA_Component.h"
#include "event/event.h"

namespace {

constexpr uint32_t kCarriedStatusBits = ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED | ZERA_STATUS_BIT31;
constexpr uint32_t kRunning = ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED;
constexpr uint8_t kLevelBits = 0x3F;

// dwFlags bits that choose the statistics kind: kind 2, else kind 1, else 0.
constexpr uint32_t kAnswerKind2 = 0x00010000u;  // type 2, class A
constexpr uint32_t kAnswerKind1 = 0x00004000u;
constexpr uint32_t kDataKind2 = 0x00020000u;    // type 0, class B
constexpr uint32_t kDataKind1 = 0x00008000u;

bool IsRunning(uint32_t status) { return (status & kRunning) == kRunning; }

thread_local zera::RefusedStart t_refusedStart;  // this thread's only
thread_local bool t_refusalNoted;

// Keeps what a refusing start export stored, unless an earlier (higher)
// level of the walk refused first.
void NoteRefusedStart() {
    if (t_refusalNoted) return;
    t_refusalNoted = true;
    t_refusedStart.code = OSAL_dwGetLastError();
    const char *text = t_refusedStart.code != OSAL_ERR_NONE ? OSAL_pszGetLastErrorText() : "";
    std::snprintf(t_refusedStart.text, sizeof t_refusedStart.text, "%s", text != nullptr ? text : "");
}

void TakeOverStatus(StackHandle *h, uint32_t status) {
    const uint32_t own = zera::LoadRelaxed(h->dwStatus);
    zera::StoreRelaxed(h->dwStatus, (own & ~kCarriedStatusBits) | (status & kCarriedStatusBits));
}

uint32_t KindOf(uint32_t flags, uint32_t kind2Bit, uint32_t kind1Bit) {
    if (flags & kind2Bit) return 2;
    return (flags & kind1Bit) ? 1 : 0;
}

// Bit n for n below 32; an event of a level that cannot be sent (32 to 63)
// is in no level mask. Types count modulo 32, as the receive masks do.
uint32_t LevelBit(uint8_t level) { return level < 32 ? 1u << level : 0u; }
uint32_t TypeBit(int32_t type) { return 1u << (static_cast<uint32_t>(type) & 31u); }

// The start or stop export pair of h's component, in h's width; null unless
// the module exports both of the pair. Looking up leaves the caller's error
// code alone.
ZERA_PFN_COMMU_THREADS CommuThreads(const StackHandle *h, const char *nameA, const char *nameW) {
    if (h->hModule == nullptr) return nullptr;
    OSAL_PFN a = zera::LookUpQuietly(h->hModule, nameA);
    OSAL_PFN w = zera::LookUpQuietly(h->hModule, nameW);
    if (a == nullptr || w == nullptr) return nullptr;
    return reinterpret_cast<ZERA_PFN_COMMU_THREADS>(h->boWide ? w : a);
}

// A stack status arriving at level h: takes bits 0, 1 and 31 over. Becoming
// complete and started needs the component's threads started (the status
// stays as it was when they cannot be); leaving that state stops them after
// the status changed. A level that stops, or stops being complete, gives
// its identifier blocks back, after its threads stopped (so they draw no new
// ones): a stopped stack keeps none. Completion and a status that changes
// neither keep them: the event that announces completion drew its
// identifier from the top's run, which must stay reserved while it travels.
void ApplyStackStatusAt(StackHandle *h, uint32_t status) {
    const uint32_t own = zera::LoadRelaxed(h->dwStatus);
    if (IsRunning(status)) {
        if (IsRunning(own)) return;
        if (h->u8Level == 0) {
            TakeOverStatus(h, status);
            return;
        }
        ZERA_PFN_COMMU_THREADS start =
            CommuThreads(h, "ZERA_boModuleStartCommuThreadsA", "ZERA_boModuleStartCommuThreadsW");
        if (start == nullptr) return;
        OSAL_vSetLastError(OSAL_ERR_NONE);  // so that a refusal's code is the component's own
        if (start(h)) TakeOverStatus(h, status);
        else NoteRefusedStart();
        return;
    }
    ZERA_PFN_COMMU_THREADS stop = nullptr;
    if (IsRunning(own) && h->u8Level != 0) {
        stop = CommuThreads(h, "ZERA_boModuleStopCommuThreadsA", "ZERA_boModuleStopCommuThreadsW");
    }
    TakeOverStatus(h, status);
    if (stop != nullptr) stop(h);
    const bool stops = (own & ZERA_STATUS_STARTED) != 0 && (status & ZERA_STATUS_STARTED) == 0;
    const bool leavesComplete = (own & ZERA_STATUS_COMPLETE) != 0 && (status & ZERA_STATUS_COMPLETE) == 0;
    if ((own & ZERA_STATUS_NO_EVID) == 0 && (stops || leavesComplete) && h->stEvIdManager.pstLevel != nullptr) {
        zera::KeepLastError keep;
        ZERA_boEvIdManagerFreeIdBlocks(&h->stEvIdManager);
    }
}

void ApplyStackStatus(StackHandle *h, uint32_t status) {
    if (!zera::trace::Hooked(zera::trace::kStack)) return ApplyStackStatusAt(h, status);
    const uint32_t before = zera::LoadRelaxed(h->dwStatus);
    ApplyStackStatusAt(h, status);
    const uint32_t after = zera::LoadRelaxed(h->dwStatus);
    if (after != before) zera::WatchMark(h, nullptr, zera::trace::kStatus, after);
}

void StampWithLevelTime(StackHandle *h, Event *ev) { zera::ReadLevelTime(h, &ev->stTimeStamp); }

// An answer of the level moves the offset by how late it came:
// offset - its time stamp + the time now (the event takes that time).
void UpdateTimeOffset(StackHandle *h, Event *ev) {
    TimeVal offset = h->stTimeOffset;
    if (!zera::TimeIsInfinite(offset)) {
        offset = zera::TimeIsInfinite(ev->stTimeStamp) ? OSAL_stTimeNoWait
                                                        : zera::TimeDifference(offset, ev->stTimeStamp);
    }
    StampWithLevelTime(h, ev);
    h->stTimeOffset = zera::TimeSum(offset, ev->stTimeStamp);
}

// The answer to a repeating master that follows its level's answers: the
// master (the one type-1 event of level h with the answer's identifier) is
// moved to one period from now. Nothing happens when there are two.
void RescheduleMaster(StackHandle *h, const Event *answer) {
    TimeVal now;  // the level's time may come from a component: read before the lock
    zera::ReadLevelTime(h, &now);
    zera::QueueWalk walk(h->hSendQueue);
    if (!walk.Locked()) return;
    Event *master = nullptr;
    while (auto *item = static_cast<Event *>(walk.Next())) {
        if (item->i32Type != ZERA_EVENT_DATA || item->u8Level != h->u8Level || item->dwEventId != answer->dwEventId) {
            continue;
        }
        if (master != nullptr) {
            zera::PutBackAndUnlock(h, walk, master);
            return;
        }
        if (!OSAL_boQueueRemove(walk.Cursor(), 0)) return;
        master = item;
    }
    if (master == nullptr) return;
    master->stTimeStamp = zera::TimeSum(now, master->stPeriod);
    zera::PutBackAndUnlock(h, walk, master);
}

// An event of level h itself: stamped with the stack's time, counted, and
// for answers (type 2) the time offset or the repeating master.
void HandleOwnEvent(StackHandle *h, Event *ev, bool count) {
    switch (ev->i32Type) {
        case ZERA_EVENT_DATA2:
            if (count) {
                ZERA_vUpdateStatistics(h, KindOf(ev->dwFlags, kAnswerKind2, kAnswerKind1), 1, 0, ev->dwDataSize, 0);
            }
            if (ev->u8Options & ZERA_OPT_REPEATING) {
                StampWithLevelTime(h, ev);
                if (ev->dwFlags & ZERA_EVF_FOLLOW_ANSWERS) RescheduleMaster(h, ev);
            } else {
                UpdateTimeOffset(h, ev);
            }
            break;
        case ZERA_EVENT_DATA0:
            if (count) {
                ZERA_vUpdateStatistics(h, KindOf(ev->dwFlags, kDataKind2, kDataKind1), 0, 1, 0, ev->dwDataSize);
            }
            StampWithLevelTime(h, ev);
            break;
        default:
            StampWithLevelTime(h, ev);
            break;
    }
}

// Hands the event to the previous level's filter (slot 22); an empty slot
// (a level never bound) cannot take it, so it is deleted.
void PassDown(StackHandle *prev, Event *ev) {
    auto filter = zera::EntryOf<zera::PfnInputFilter>(prev, zera::kEntryInputFilter);
    if (filter != nullptr) {
        filter(prev, ev);
    } else {
        ZERA_boDeleteEvent(ev);
    }
}

// An event meant for h's receive queue that does not get there is counted,
// so that nobody loses events without learning of it.
void CountDropped(StackHandle *h) { zera::ExtrasOf(h)->dropped.fetch_add(1, std::memory_order_relaxed); }

// Puts ev into h's receive queue, or deletes and counts it when the queue
// refuses.
void Queue(StackHandle *h, Event *ev) {
    if (zera::trace::Hooked(zera::trace::kFilter)) {
        if (zera::PutWatched(h, h->hRecvQueue, ev, zera::trace::kQueued)) return;
        zera::WatchMark(h, ev, zera::trace::kDropped, 0);
    } else if (OSAL_boQueuePut(h->hRecvQueue, ev, ZERA_boTimeStampCompare)) {
        return;
    }
    ZERA_boDeleteEvent(ev);
    CountDropped(h);
}

// A copy into h's receive queue, the event itself further down.
void QueueCopyAndPassDown(StackHandle *h, StackHandle *prev, Event *ev) {
    Event *copy = ZERA_pstCloneEvent(ev);
    if (copy != nullptr) {
        Queue(h, copy);
    } else {
        if (zera::trace::Hooked(zera::trace::kFilter)) zera::WatchMark(h, ev, zera::trace::kDropped, 0);
        CountDropped(h);
    }
    PassDown(prev, ev);
}

}  // namespace

namespace zera {

void ForgetRefusedStart() {
    t_refusalNoted = false;
    t_refusedStart.code = OSAL_ERR_NONE;
    t_refusedStart.text[0] = '\0';
}

const RefusedStart &FirstRefusedStart() { return t_refusedStart; }

void ApplyStackStatusDown(StackHandle *h, uint32_t status) {
    for (StackHandle *at = h; at != nullptr && ZERA_boHandleCheck(at, 0);
         at = at->u8Level != 0 ? at->pstPrevLevel : nullptr) {
        ApplyStackStatus(at, status);
    }
}

}  // namespace zera

extern "C" {

ZERA_API void ZERA_CALL ZERA_vInputFilterEx(StackHandle *h, Event *pstEvent, BOOL8 boCount) {
    if (pstEvent == nullptr) return;
    if (!ZERA_boHandleCheck(h, 1)) {
        ZERA_boDeleteEvent(pstEvent);
        return;
    }
    StackHandle *prev = h->pstPrevLevel;
    if (h->u8Level != 0 && !ZERA_boHandleCheck(prev, 0)) {
        ZERA_boDeleteEvent(pstEvent);
        return;
    }
    // Only an event on its owner's level under the owner's identifier keeps it.
    if ((zera::LoadRelaxed(h->dwStatus) & ZERA_STATUS_NO_EVID) == 0 && pstEvent->pstOwner != nullptr &&
        (pstEvent->pstOwner != h || pstEvent->dwEventId != pstEvent->dwOwnerEventId)) {
        pstEvent->pstOwner = nullptr;
    }
    if (pstEvent->u8Level == h->u8Level) HandleOwnEvent(h, pstEvent, boCount != 0);
    if (zera::trace::Hooked(zera::trace::kFilter)) zera::WatchMark(h, pstEvent, zera::trace::kFiltered, 0);

    uint32_t status = 0;
    if (zera::ReadStackStatusEvent(pstEvent, &status)) {
        ApplyStackStatus(h, status);
        if (pstEvent->pstOwner != nullptr) pstEvent->pstOwner = prev;
        if (h->u8Level == 0) {
            ZERA_boDeleteEvent(pstEvent);
        } else if (h->u8Level == 1) {
            // The host reads the stack's status from level 1's receive queue.
            pstEvent->u8Level = 1;
            QueueCopyAndPassDown(h, prev, pstEvent);
        } else {
            PassDown(prev, pstEvent);
        }
        return;
    }
    if (h->u8Level == 0) {
        // Nothing lies below the host.
        ZERA_boDeleteEvent(pstEvent);
        return;
    }
    const uint32_t levelBit = LevelBit(pstEvent->u8Level);
    const bool prevTakes = (zera::LoadRelaxed(prev->dwWantedLevels) & levelBit) != 0 &&
                           (zera::LoadRelaxed(prev->dwWantedTypes) & TypeBit(pstEvent->i32Type)) != 0;
    const bool lowerWant = (zera::LoadRelaxed(prev->dwLowerWantedLevels) & levelBit) != 0;
    if (pstEvent->pstOwner != nullptr) pstEvent->pstOwner = prev;
    if (prevTakes && lowerWant) {
        QueueCopyAndPassDown(h, prev, pstEvent);
    } else if (prevTakes) {
        Queue(h, pstEvent);
    } else if (lowerWant) {
        PassDown(prev, pstEvent);
    } else {
        ZERA_boDeleteEvent(pstEvent);
    }
}

ZERA_API void ZERA_CALL ZERA_vInputFilter(StackHandle *h, Event *pstEvent) { ZERA_vInputFilterEx(h, pstEvent, 1); }

ZERA_API BOOL8 ZERA_CALL ZERA_boConfigInputFilter(StackHandle *h, uint8_t u8Level, uint32_t *pdwLevelMask,
                                                  uint32_t *pdwTypeMask, BOOL8 boSet) {
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    const uint8_t level = u8Level & kLevelBits;
    if (h->u8Level < level) {
        StackHandle *next = zera::CheckedNextLevel(h);
        if (next == nullptr) return 0;
        auto config = zera::EntryOf<zera::PfnConfigInputFilter>(next, zera::kEntryConfigInputFilter);
        return config != nullptr ? config(next, u8Level, pdwLevelMask, pdwTypeMask, boSet) : 0;
    }
    if (h->u8Level > level) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_LEVEL);
        return 0;
    }
    if (!boSet) {
        if (pdwLevelMask != nullptr) *pdwLevelMask = zera::LoadRelaxed(h->dwWantedLevels);
        if (pdwTypeMask != nullptr) *pdwTypeMask = zera::LoadRelaxed(h->dwWantedTypes);
        return 1;
    }
    if (pdwLevelMask == nullptr || pdwTypeMask == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    auto setTypes = zera::EntryOf<zera::PfnSetEventTypes>(h, zera::kEntrySetEventTypes);
    return setTypes != nullptr ? setTypes(h, *pdwLevelMask, *pdwTypeMask) : 0;
}

}  // extern "C"
