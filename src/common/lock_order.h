/*
 * common/lock_order.h - the one lock order of both libraries, and its check.
 *
 * Every lock that the platform layer or the library takes has a rank below,
 * outermost first: a thread that holds a lock takes only locks ranked after
 * it (or the same lock again, where the lock is re-entrant). A rank marked
 * "several" may be held more than once at a time, by locks of that rank
 * taken one after another in the order their comment gives. The platform
 * layer's own locks come last: it never calls into the library while it
 * holds one (the order and due functions that a queue runs under its mutex
 * take no lock).
 *
 * In debug builds and test builds (ZERA_TEST_HOOKS) every ranked acquire is
 * checked against the locks the thread holds, and a broken order stops the
 * process naming both locks; release builds keep nothing and check nothing.
 * Each library keeps its own record of the locks its threads hold, so a
 * check sees the locks of the library that takes them.
 *
 * Internal: header-only, included by src/ (both libraries) and by tests.
 */
#ifndef ZERA_COMMON_LOCK_ORDER_H
#define ZERA_COMMON_LOCK_ORDER_H

#include <cstdint>

// X(rank, several at once, what it is and guards). Outermost first.
#define ZERA_LOCK_RANKS(X)                                                                                      \
    /* The library (VOQ_ZERA_Comp) */                                                                           \
    X(kHostWatch, false, "a host's signal watch: its start and stop (library/host_watch.cpp lock_)")            \
    X(kHostWatchStop, false, "a host's signal watch: its stop request (library/host_watch.cpp stopLock_)")     \
    X(kLevelThread, false, "a level thread's start and stop (library/level_thread.cpp life)")                  \
    X(kBreakMutex, false, "a caller's break mutex (ZERA_pstGetNextSendEvent, ZERA_vBreak*Wait)")               \
    X(kQueueCursor, false, "a queue's cursor lock (OSAL_hQueueLock), held across a walk of its items")         \
    X(kIdManager, false, "a level's identifier manager (evid/evid_manager.cpp hMutex)")                        \
    X(kIdSegment, false, "the identifier segment's lock (OSAL_boSharedMemLock; evid/id_blocks.cpp)")           \
    X(kIdSegmentOpen, false, "the opening of the identifier segment (evid/evid_segment.cpp g_openLock)")       \
    X(kLevelStatistics, false, "a level's statistics and load figures (StackHandle hMutex)")                   \
    X(kEventBlocksTaken, false, "the event blocks kept for reuse, taking side (event/event_record.cpp)")        \
    X(kEventBlocksGiven, false, "the event blocks kept for reuse, giving side (event/event_record.cpp)")        \
    X(kEventRecords, false, "the numbers of live event records (event/event_record.cpp)")                      \
    X(kTraceTimeline, false, "the timeline's writer (trace/timeline.cpp g_timelineLock)")                      \
    X(kTraceWriter, false, "a timeline writer's stop (trace/timeline.cpp writer lock)")                        \
    X(kTraceNotes, false, "the timeline's notes for its writer (trace/timeline.cpp g_notesLock)")              \
    X(kTraceHooks, false, "the debug output's hooks (trace/debug_log.cpp g_hooksLock)")                        \
    X(kTraceOutput, false, "the debug output's file (trace/debug_log.cpp g_outLock)")                          \
    /* The platform layer (VOQ_OSAL) */                                                                         \
    X(kModules, false, "the open modules (osal/module.cpp g_modulesLock)")                                     \
    X(kSegments, false, "the open segments (osal/shared_mem.cpp g_segmentsLock)")                              \
    X(kSegment, true, "one segment's holder (osal/shared_mem.cpp lock); several in list order before a fork") \
    X(kQueueRegistry, false, "the live queues (osal/queue/sleep_and_wake.cpp g_registryLock)")                 \
    X(kQueue, false, "one queue's mutex (osal/queue/queue.h)")                                                 \
    X(kManualClock, false, "the manual clock and its waits (osal/clock.cpp g_manualLock)")                     \
    X(kPutBox, false, "a queue's put box (osal/queue/put_box.h); taken per put, never holds another")

namespace zera {

enum class LockRank : uint8_t {
#define ZERA_LOCK_RANK_ENUM(name, several, what) name,
    ZERA_LOCK_RANKS(ZERA_LOCK_RANK_ENUM)
#undef ZERA_LOCK_RANK_ENUM
};

namespace lock_order {

// Several locks of this rank may be held at once.
constexpr bool kSeveral[] = {
#define ZERA_LOCK_RANK_SEVERAL(name, several, what) several,
    ZERA_LOCK_RANKS(ZERA_LOCK_RANK_SEVERAL)
#undef ZERA_LOCK_RANK_SEVERAL
};
constexpr const char *kWhat[] = {
#define ZERA_LOCK_RANK_WHAT(name, several, what) what,
    ZERA_LOCK_RANKS(ZERA_LOCK_RANK_WHAT)
#undef ZERA_LOCK_RANK_WHAT
};

}  // namespace lock_order
}  // namespace zera

#if !defined(NDEBUG) || defined(ZERA_TEST_HOOKS)
#define ZERA_LOCK_ORDER_CHECKED 1
#include <cstdio>
#include <cstdlib>

namespace zera {
namespace lock_order {

// The locks this thread holds through the library that keeps this record,
// in the order taken. Deeper nesting than this is a broken contract too.
struct HeldLocks {
    static constexpr int kMax = 12;
    const void *lock[kMax];
    LockRank rank[kMax];
    int count;
};
inline thread_local HeldLocks t_held{};

// Stops the process. Not a ZERA_ASSERT: the order is checked in test
// builds with NDEBUG too.
[[noreturn]] inline void Broken(const char *what, LockRank taking) {
    std::fprintf(stderr, "lock order broken: %s %s\n", what, kWhat[static_cast<int>(taking)]);
    std::abort();
}
[[noreturn]] inline void Broken(LockRank taking, LockRank held) {
    std::fprintf(stderr, "lock order broken: taking %s while holding %s\n", kWhat[static_cast<int>(taking)],
                 kWhat[static_cast<int>(held)]);
    std::abort();
}

inline bool Holds(const void *lock) {
    for (int i = 0; i < t_held.count; ++i)
        if (t_held.lock[i] == lock) return true;
    return false;
}

// Records `lock` as held without checking the order: for a lock that a
// try-lock got (one that does not wait cannot deadlock), and for NoteAcquire.
inline void NoteHeld(const void *lock, LockRank rank) {
    if (t_held.count == HeldLocks::kMax) Broken("too many locks held to take", rank);
    t_held.lock[t_held.count] = lock;
    t_held.rank[t_held.count] = rank;
    ++t_held.count;
}

// Before the thread takes `lock`: checks the order and records the lock.
// Taking a lock the thread holds already (a re-entrant one) is no new step
// in the order. A take that then fails must be undone with NoteRelease.
inline void NoteAcquire(const void *lock, LockRank rank) {
    if (!Holds(lock)) {
        for (int i = 0; i < t_held.count; ++i) {
            const LockRank held = t_held.rank[i];
            if (held > rank || (held == rank && !kSeveral[static_cast<int>(rank)])) Broken(rank, held);
        }
    }
    NoteHeld(lock, rank);
}

// Before a call that may run a component's code, which may take locks of
// its own and call back into the library: stops the process when the
// thread holds a lock of `rank`.
inline void NotHeldAcrossCall(LockRank rank) {
    for (int i = 0; i < t_held.count; ++i)
        if (t_held.rank[i] == rank) Broken("a component's code may run while holding", rank);
}

// After the thread gave `lock` up (its latest hold of it).
inline void NoteRelease(const void *lock) {
    for (int i = t_held.count - 1; i >= 0; --i) {
        if (t_held.lock[i] != lock) continue;
        for (int j = i + 1; j < t_held.count; ++j) {
            t_held.lock[j - 1] = t_held.lock[j];
            t_held.rank[j - 1] = t_held.rank[j];
        }
        --t_held.count;
        return;
    }
    std::fprintf(stderr, "lock order broken: a lock given up that this thread does not hold\n");
    std::abort();
}

}  // namespace lock_order
}  // namespace zera
#endif

namespace zera {

// A lock of the standard's Lockable kind (spin::SpinLock, std::mutex) that
// takes its place in the order: declare it as Ranked<LockRank::kX,
// spin::SpinLock> and take it through std::lock_guard<Ranked<...>> (or a
// guard of deduced type); a condition waits on it as
// std::condition_variable_any, whose wait gives the lock up and takes it
// again through these. Release builds call the plain lock.
template <LockRank R, class L>
class Ranked : public L {
public:
    void lock() {
#if defined(ZERA_LOCK_ORDER_CHECKED)
        lock_order::NoteAcquire(this, R);
#endif
        L::lock();
    }
    bool try_lock() {
        if (!L::try_lock()) return false;
#if defined(ZERA_LOCK_ORDER_CHECKED)
        lock_order::NoteHeld(this, R);
#endif
        return true;
    }
    void unlock() {
        L::unlock();
#if defined(ZERA_LOCK_ORDER_CHECKED)
        lock_order::NoteRelease(this);
#endif
    }
};

}  // namespace zera

#endif  // ZERA_COMMON_LOCK_ORDER_H
