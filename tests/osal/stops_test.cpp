// tests/osal/stops_test.cpp - what stops the process instead of going on
// broken: a platform lock whose system call fails, and a lock taken against
// the lock order (a queue's due function that creates a queue takes the
// registry's lock under the queue's, the reverse of a clock move's order).
#include <gtest/gtest.h>

#include <functional>
#include <mutex>

#include "common/lock_order.h"
#include "osal/osal_test_hooks.h"

namespace {

#if defined(_WIN32)
constexpr const char *kLockFailure = "VOQ_OSAL: AcquireSRWLockExclusive failed";
#else
constexpr const char *kLockFailure = "VOQ_OSAL: pthread_mutex_lock failed: Invalid argument";
#endif

BOOL8 OSAL_CALL Always(const void *, const void *) { return 1; }

// A queue with one item, so that a due function gets to run.
OSAL_HQUEUE QueueWithItem() {
    static int item;
    OSAL_HQUEUE q = OSAL_hQueueCreate(0, nullptr);
    OSAL_boQueuePut(q, &item, Always);
    return q;
}

// A forked child (POSIX) or this program started again (Windows) runs it.
void StopsWith(const std::function<void()> &run, const char *message) { EXPECT_DEATH(run(), message); }

TEST(OsalStops, AFailedLockStopsWithTheCallsName) {
    // Each takes its lock first thing after the hook.
    const struct {
        const char *lock;
        void (*take)(OSAL_HQUEUE q);
    } cases[] = {
        {"a queue's", [](OSAL_HQUEUE q) { OSAL_dwQueueGetChangeCount(q); }},
        {"the queues' registry", [](OSAL_HQUEUE) { OSAL_hQueueCreate(0, nullptr); }},
        {"the segments'", [](OSAL_HQUEUE) { OSAL_hSharedMemOpen(64, "stops", OSAL_SHM_CREATE); }},
        {"the manual clock's", [](OSAL_HQUEUE) { OSAL_boManualClockStop(); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lock);
        StopsWith(
            [&c] {
                OSAL_HQUEUE q = QueueWithItem();
                OSAL_vTestFailNextLock();
                c.take(q);
            },
            kLockFailure);
    }
}

BOOL8 OSAL_CALL DueAfterCreatingAQueue(const void *, void *) {
    OSAL_vQueueDelete(OSAL_hQueueCreate(0, nullptr));
    return 1;
}

TEST(OsalStops, ALockTakenAgainstTheOrderStopsNamingBoth) {
    StopsWith([] { OSAL_pvQueueTakeIfDue(QueueWithItem(), DueAfterCreatingAQueue, nullptr); },
              "lock order broken: taking the live queues .* while holding one queue's mutex");
}

// The record's rules, on locks of the test's own: a later rank, the same
// re-entrant lock again and several locks of a rank that allows it pass; an
// earlier rank and a second lock of a single rank stop.
TEST(OsalStops, TheOrderRecordPassesWhatTheOrderAllows) {
    using zera::LockRank;
    using zera::Ranked;
    Ranked<LockRank::kSegments, std::recursive_mutex> segments;
    Ranked<LockRank::kSegment, std::mutex> one, two;
    Ranked<LockRank::kQueue, std::mutex> queue, other;
    {
        std::lock_guard<decltype(segments)> a(segments), again(segments);
        std::lock_guard<decltype(one)> b(one), c(two);
        std::lock_guard<decltype(queue)> d(queue);
    }
    std::lock_guard<decltype(queue)> held(queue);
    StopsWith([&] { std::lock_guard<decltype(segments)> earlier(segments); },
              "lock order broken: taking the open segments .* while holding one queue's mutex");
    StopsWith([&] { std::lock_guard<decltype(other)> second(other); },
              "lock order broken: taking one queue's mutex .* while holding one queue's mutex");
}

}  // namespace
