// event/receive.cpp - receiving: taking (or looking at) the wanted events
// of the next level's receive queue with a time-out, breaking such waits,
// the masks with which a level asks for events, and the small services a
// level reaches through its neighbour's table: error texts (slot 32), the
// release of what they hand out (slot 33), and the release of a stack
// description packet.
//
// Several threads may receive from one queue. A receive locks the queue
// only while it walks it and waits without any lock; the change count read
// before the walk tells a put made between the walk and the wait (which the
// wait then reports at once) from a wake-up without a change (a break).
//
// Breaks that land outside a wait. A receiver's loop reads its break flag,
// then receives; a break between the two must end the receive at once. Each
// break stamps the level whose queue it breaks with a number from one
// process-wide sequence (kept beside the level's record), and each thread
// remembers, per level, the stamp it last saw. A receive that may wait and
// finds a stamp its thread has not seen returns null instead of waiting:
// the break came after the thread's previous receive, so possibly after its
// caller looked at the flag. (The receive has no flag argument to look at;
// this gives it the same guarantee.) The platform keeps a wake of its own
// for such a thread, which the same receive uses up, so that one break ends
// one wait.
//
// A thread's first receive on a level starts its record at the level's
// latest stamp: breaks before it were meant for other threads (or for an
// earlier receiver that this thread replaces), and an endless receive
// returns only with an event or a break. So the window a break cannot be
// lost in opens at the thread's first receive on the level: a thread that
// receives in a loop it may be asked to leave receives once (a look without
// waiting will do) before its first look at its flag.
#include <atomic>
#include <cstring>

#include "common/test_hooks.h"
#include "event/event.h"

namespace {

constexpr uint32_t kAllBits = 0xFFFFFFFFu;

// An absolute time long past: a wait until it ends at once, after using up
// a wake the platform keeps for the thread.
constexpr TimeVal kLookOnly = {0, 1};

// The number of the latest break, process-wide; a level's extras hold the
// number of the latest break of its receive queue (0: none yet).
std::atomic<uint32_t> g_breakSequence{0};

uint32_t LatestBreak(StackHandle *h) { return zera::ExtrasOf(h)->latestBreak.load(std::memory_order_acquire); }

// What the calling thread saw of the breaks of a few levels (the levels it
// receives on; a thread rarely uses more than one or two).
class SeenBreaks {
public:
    // The stamp the thread last saw on h, in *seen; false for a level it
    // has no record of.
    bool Find(const StackHandle *h, uint32_t *seen) const {
        for (const Entry &e : entries_) {
            if (e.level == h) {
                *seen = e.seen;
                return true;
            }
        }
        return false;
    }
    void Remember(const StackHandle *h, uint32_t seen) {
        for (Entry &e : entries_) {
            if (e.level == h) {
                e.seen = seen;
                return;
            }
        }
        entries_[next_] = Entry{h, seen};
        next_ = (next_ + 1) % kEntries;
    }

private:
    static constexpr uint32_t kEntries = 8;
    struct Entry {
        const StackHandle *level;
        uint32_t seen;
    };
    Entry entries_[kEntries] = {};
    uint32_t next_ = 0;
};
thread_local SeenBreaks t_seenBreaks;

// The breaks of level h as the receiving thread sees them. A level that is
// gone and a new one at its address start over at 0, which is never newer
// than a stamp seen before (the comparison is by sequence order).
class BreakWatch {
public:
    explicit BreakWatch(StackHandle *h) : h_(h) {
        if (t_seenBreaks.Find(h, &seen_)) return;
        // First receive here (or a record pushed out by other levels): the
        // thread becomes known to the queue before the stamp is read, so a
        // break after the read leaves the platform's wake for this thread
        // and none is lost in between.
        OSAL_boQueueWaitChange(h->hRecvQueue, OSAL_stTimeNoWait);
        seen_ = LatestBreak(h);
        t_seenBreaks.Remember(h, seen_);
    }
    // A break this thread has not seen yet.
    bool Missed() const { return static_cast<int32_t>(LatestBreak(h_) - seen_) > 0; }
    // The receive returns null: every break so far has been seen.
    void Seen() const { t_seenBreaks.Remember(h_, LatestBreak(h_)); }

private:
    StackHandle *h_;
    uint32_t seen_ = 0;
};

#if defined(ZERA_TEST_HOOKS)
std::atomic<void (*)(StackHandle *)> g_wokenHook{nullptr};
void ReportWoken(StackHandle *h) {
    if (auto hook = g_wokenHook.load(std::memory_order_acquire)) hook(h);
}
#else
void ReportWoken(StackHandle *) {}
#endif

// Tries a few times to read the change count at the moment this thread
// synchronises with the queue, so that a later count equal to it means
// "nothing changed since". Under a stream of puts the last reading is used.
uint32_t SynchroniseChangeCount(OSAL_HQUEUE queue) {
    uint32_t count = OSAL_dwQueueGetChangeCount(queue);
    for (int attempt = 0; attempt < 8; ++attempt) {
        OSAL_boQueueWaitChange(queue, OSAL_stTimeNoWait);
        const uint32_t after = OSAL_dwQueueGetChangeCount(queue);
        if (after == count) break;
        count = after;
    }
    return count;
}

bool Wanted(const Event *ev, uint32_t levelMask, uint32_t typeMask) {
    const uint32_t levelBit = ev->u8Level < 32 ? 1u << ev->u8Level : 0u;
    const uint32_t typeBit = 1u << (static_cast<uint32_t>(ev->i32Type) & 31u);
    return (levelMask & levelBit) != 0 && (typeMask & typeBit) != 0;
}

// One walk of the queue under its lock: the first wanted event, unlinked
// when `remove`. Null when none is there, or when the queue cannot be locked
// or the event unlinked (it then stays queued).
Event *FindWanted(OSAL_HQUEUE queue, uint32_t levelMask, uint32_t typeMask, bool remove) {
    zera::QueueWalk walk(queue);
    if (!walk.Locked()) return nullptr;
    while (auto *item = static_cast<Event *>(walk.Next())) {
        if (!Wanted(item, levelMask, typeMask)) continue;
        return !remove || OSAL_boQueueRemove(walk.Cursor(), 0) ? item : nullptr;
    }
    return nullptr;
}

// The level above h, checked, for the operations that read its queue.
StackHandle *ReceivingLevel(StackHandle *h) {
    if (!ZERA_boHandleCheck(h, 1)) return nullptr;
    return zera::CheckedNextLevel(h);
}

Event *ReceiveThroughNext(StackHandle *h, uint32_t levelMask, uint32_t typeMask, const TimeVal *timeout, bool remove) {
    StackHandle *next = ReceivingLevel(h);
    if (next == nullptr) return nullptr;
    auto receive = zera::EntryOf<zera::PfnReceiveEventIntl>(next, zera::kEntryReceiveEvent);
    return receive != nullptr ? receive(next, levelMask, typeMask, timeout, remove ? 1 : 0) : nullptr;
}

// A heap copy (ZERA_pvMalloc) of a narrow text, or null.
char *CopyText(const char *text) {
    const size_t size = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(ZERA_pvMalloc(size));
    if (copy != nullptr) std::memcpy(copy, text, size);
    return copy;
}

}  // namespace

extern "C" {

ZERA_API Event *ZERA_CALL ZERA_pstReceiveEvent(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask,
                                               const TimeVal *pstTimeout) {
    return ReceiveThroughNext(h, dwLevelMask, dwTypeMask, pstTimeout, true);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boWaitEvent(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask,
                                          const TimeVal *pstTimeout) {
    return ReceiveThroughNext(h, dwLevelMask, dwTypeMask, pstTimeout, false) != nullptr ? 1 : 0;
}

}  // extern "C"

namespace {

Event *ReceiveAtLevel(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask, const TimeVal *pstTimeout,
                      BOOL8 boRemove) {
    if (pstTimeout == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    const TimeVal timeout = *pstTimeout;
    const bool infinite = zera::TimeIsInfinite(timeout);
    TimeVal deadline = timeout;
    if (zera::TimeIsRelative(timeout) && !infinite) {
        TimeVal now;
        OSAL_vGetSystemTime(&now);
        deadline = zera::TimeSum(now, timeout);
    }
    OSAL_HQUEUE queue = h->hRecvQueue;
    const bool mayWait = !zera::TimeIsNoWait(timeout);
    const BreakWatch breaks(h);
    if (dwLevelMask == kAllBits && dwTypeMask == kAllBits) {
        // After a break this thread has not seen: what is there, no wait.
        if (mayWait && breaks.Missed()) deadline = kLookOnly;
        void *item = boRemove ? OSAL_pvQueueGet(queue, mayWait ? 1 : 0, deadline)
                              : OSAL_pvQueuePeek(queue, mayWait ? 1 : 0, deadline);
        if (item == nullptr && mayWait) breaks.Seen();
        return static_cast<Event *>(item);
    }
    const bool remove = boRemove != 0;
    // A wanted event that is there already needs no synchronising.
    if (Event *found = FindWanted(queue, dwLevelMask, dwTypeMask, remove)) return found;
    for (;;) {
        // Changes from here on end the wait; so the walk after this sees
        // everything put before it.
        const uint32_t changes = SynchroniseChangeCount(queue);
        if (Event *found = FindWanted(queue, dwLevelMask, dwTypeMask, remove)) return found;
        if (!mayWait) return nullptr;
        if (!infinite) {
            TimeVal now;
            OSAL_vGetSystemTime(&now);
            if (zera::TimeIsLater(now, deadline)) break;
        }
        if (breaks.Missed()) {
            OSAL_boQueueWaitChange(queue, kLookOnly);  // uses up the platform's wake of the same break
            break;
        }
        if (!OSAL_boQueueWaitChange(queue, deadline)) break;
        ReportWoken(h);
        // A wake may come with a change at the same moment; the break is
        // told by its stamp, not by the change count.
        if (breaks.Missed()) break;
        if (OSAL_dwQueueGetChangeCount(queue) == changes) break;  // woken without a change
        if (Event *found = FindWanted(queue, dwLevelMask, dwTypeMask, remove)) return found;
    }
    breaks.Seen();
    return nullptr;
}

}  // namespace

extern "C" {

ZERA_API Event *ZERA_CALL ZERA_pstReceiveEventIntl(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask,
                                                   const TimeVal *pstTimeout, BOOL8 boRemove) {
    if (!ZERA_boHandleCheck(h, 1)) return nullptr;
    Event *ev = ReceiveAtLevel(h, dwLevelMask, dwTypeMask, pstTimeout, boRemove);
    if (ev != nullptr && boRemove && zera::trace::Hooked(zera::trace::kRecv)) {
        zera::WatchDeparture(h, ev, zera::trace::kReceived);
    }
    return ev;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetEventTypes(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask) {
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    zera::StoreRelaxed(h->dwWantedLevels, dwLevelMask);
    zera::StoreRelaxed(h->dwWantedTypes, dwTypeMask);
    if (zera::NextLevelOf(h) == nullptr) return 1;
    StackHandle *next = zera::CheckedNextLevel(h);
    if (next == nullptr) return 0;
    // The host that names no level wants what level 1 produces.
    if (h->u8Level == 0 && dwLevelMask == 0) {
        zera::StoreRelaxed(h->dwWantedLevels, next->u8Level < 32 ? 1u << next->u8Level : 0u);
    }
    zera::StoreRelaxed(next->dwLowerWantedLevels,
                       zera::LoadRelaxed(h->dwLowerWantedLevels) | zera::LoadRelaxed(h->dwWantedLevels));
    // The next level keeps its own masks and passes the union on upwards.
    auto setTypes = zera::EntryOf<zera::PfnSetEventTypes>(next, zera::kEntrySetEventTypes);
    return setTypes != nullptr
               ? setTypes(next, zera::LoadRelaxed(next->dwWantedLevels), zera::LoadRelaxed(next->dwWantedTypes))
               : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boGetEventTypes(StackHandle *h, uint32_t *pdwLevelMask, uint32_t *pdwTypeMask) {
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    if (pdwLevelMask == nullptr || pdwTypeMask == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    *pdwLevelMask = zera::LoadRelaxed(h->dwWantedLevels);
    *pdwTypeMask = zera::LoadRelaxed(h->dwWantedTypes);
    return 1;
}

ZERA_API void ZERA_CALL ZERA_vBreakRecvEventWait(StackHandle *h, BOOL8 *pboBreak, OSAL_HMUTEX hBreakMutex) {
    if (h == nullptr) return;
    StackHandle *next = zera::NextLevelOf(h);
    if (next == nullptr) return;
    auto breakWait = zera::EntryOf<zera::PfnBreakRecvEventWait>(next, zera::kEntryBreakRecvEventWait);
    if (breakWait != nullptr) breakWait(next, pboBreak, hBreakMutex);
}

ZERA_API void ZERA_CALL ZERA_vBreakRecvEventWaitIntl(StackHandle *h, BOOL8 *pboBreak, OSAL_HMUTEX hBreakMutex) {
    {
        zera::MutexHold hold(hBreakMutex, zera::LockRank::kBreakMutex);
        if (pboBreak != nullptr) *pboBreak = 1;
        if (h != nullptr) {
            // The stamp ends the next wait of a receiver that is between its
            // look at the flag and its receive (the breaking thread has seen
            // it); the interrupt ends the waits in progress; the null put (one
            // wake with it) is the platform's own record for a receiver about
            // to wait.
            const uint32_t stamp = g_breakSequence.fetch_add(1, std::memory_order_relaxed) + 1;
            zera::ExtrasOf(h)->latestBreak.store(stamp, std::memory_order_release);
            t_seenBreaks.Remember(h, stamp);
            OSAL_vQueueInterrupt(h->hRecvQueue);
            OSAL_boQueuePut(h->hRecvQueue, nullptr, nullptr);
        }
    }
    if (h != nullptr && zera::trace::Hooked(zera::trace::kRecv)) {
        zera::WatchMark(h, nullptr, zera::trace::kBreak, zera::trace::kRecvQueue);
    }
}

#if defined(ZERA_TEST_HOOKS)
ZERA_API void ZERA_vTestSetReceiveWokenHook(void (*hook)(StackHandle *h)) {
    g_wokenHook.store(hook, std::memory_order_release);
}
#endif

ZERA_API void ZERA_CALL ZERA_vRetrieveStackHandleDone(ZERA_HPACKET hPacket) {
    zera::KeepLastError keep;
    ZERA_boMarshalPacketDelete(hPacket);
}

}  // extern "C"

namespace zera {

char *ZERA_CALL ErrorTextEntry(StackHandle *h, uint8_t u8Level, uint32_t dwCode) {
    if (h == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    if (u8Level <= h->u8Level) {
        const char *text = OSAL_pszGetErrorText(dwCode);
        return text != nullptr ? CopyText(text) : nullptr;
    }
    if (NextLevelOf(h) == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_LEVEL);
        return nullptr;
    }
    StackHandle *next = CheckedNextLevel(h);
    if (next == nullptr) return nullptr;
    auto getText = EntryOf<PfnErrorText>(next, kEntryGetErrorText);
    if (getText == nullptr) return nullptr;
    char *theirs = getText(next, u8Level, dwCode);
    if (theirs == nullptr) return nullptr;
    // Each level hands down a block of its own making, released where it was made.
    char *mine = CopyText(theirs);
    auto release = EntryOf<PfnFreeMemory>(next, kEntryFreeMemory);
    if (release != nullptr) {
        release(theirs);
    } else {
        ZERA_vFree(theirs);
    }
    return mine;
}

void ZERA_CALL FreeMemoryEntry(void *pv) { ZERA_vFree(pv); }

}  // namespace zera
