// tests/osal/queue_test.cpp - time-ordered queues: order and stability,
// capacity, every deadline form, wake-ups that are neither lost nor invented,
// the cursor lock, the delete and mark functions, and the test clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "VOQ_OSAL.h"
#include "osal/osal_test_hooks.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Item {
    TimeVal ts;
    int id;
    uint32_t mark;
};

// True when second is not earlier than first.
BOOL8 OSAL_CALL NotEarlier(const void *first, const void *second) {
    const TimeVal &a = static_cast<const Item *>(first)->ts;
    const TimeVal &b = static_cast<const Item *>(second)->ts;
    if (a.i32Seconds != b.i32Seconds) return a.i32Seconds < b.i32Seconds;
    return (a.dwMicroseconds & OSAL_TIME_USEC_MASK) <= (b.dwMicroseconds & OSAL_TIME_USEC_MASK);
}

std::atomic<int> g_deleted{0};
void OSAL_CALL CountDelete(void *item) {
    ++g_deleted;
    delete static_cast<Item *>(item);
}
void OSAL_CALL MarkItem(void *item, uint32_t value) { static_cast<Item *>(item)->mark = value; }

TimeVal At(int32_t seconds, uint32_t micros = 0) { return TimeVal{micros, seconds}; }
TimeVal Relative(int64_t micros) {
    return TimeVal{static_cast<uint32_t>(micros % 1000000) | OSAL_TIME_RELATIVE,
                   static_cast<int32_t>(micros / 1000000)};
}
TimeVal FromNow(int64_t micros) {
    TimeVal now;
    OSAL_vGetSystemTime(&now);
    int64_t t = static_cast<int64_t>(now.i32Seconds) * 1000000 + now.dwMicroseconds + micros;
    return TimeVal{static_cast<uint32_t>(t % 1000000), static_cast<int32_t>(t / 1000000)};
}
long long MillisSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

class OsalQueue : public ::testing::Test {
protected:
    void SetUp() override {
        g_deleted = 0;
        q = OSAL_hQueueCreate(0, CountDelete);
        ASSERT_NE(q, nullptr);
    }
    void TearDown() override {
        OSAL_vTestSetClockOffset(0);
        OSAL_vTestFailAllocAfter(-1);
        if (q) OSAL_vQueueDelete(q);
    }
    Item *Put(int32_t seconds, int id, uint32_t micros = 0) {
        Item *it = new Item{At(seconds, micros), id, 0};
        EXPECT_TRUE(OSAL_boQueuePut(q, it, NotEarlier));
        return it;
    }
    std::vector<int> Drain() {
        std::vector<int> ids;
        while (void *p = OSAL_pvQueueGet(q, 0, OSAL_stTimeNoWait)) {
            ids.push_back(static_cast<Item *>(p)->id);
            delete static_cast<Item *>(p);
        }
        return ids;
    }
    OSAL_HQUEUE q = nullptr;
};

TEST_F(OsalQueue, EarliestFirstAndEqualStampsKeepArrivalOrder) {
    Put(5, 1);
    Put(3, 2);
    Put(5, 3);
    Put(1, 4);
    Put(3, 5);
    Put(5, 6, 1);
    Put(5, 7);
    Put(9, 8);
    EXPECT_EQ(Drain(), (std::vector<int>{4, 2, 5, 1, 3, 7, 6, 8}));
}

TEST_F(OsalQueue, RandomStampsComeOutStablySorted) {
    std::mt19937 rng(7);
    std::vector<std::pair<int, int>> expect;  // (stamp, id)
    for (int id = 0; id < 3000; ++id) {
        int stamp = static_cast<int>(rng() % 50);  // many equal stamps
        Put(stamp, id);
        expect.emplace_back(stamp, id);
    }
    std::stable_sort(expect.begin(), expect.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<int> want;
    for (auto &e : expect) want.push_back(e.second);
    EXPECT_EQ(Drain(), want);
}

// Random puts, takes, walks of two nested cursors, removals and inserts,
// checked step by step against a plain sorted list. Small chunks make every
// split, compaction and chunk removal happen under the cursors.
void RunAgainstPlainList(OSAL_HQUEUE q, unsigned seed, size_t size, int steps, bool mostlyInOrder) {
    std::mt19937 rng(seed);
    int32_t latest = 0;  // stamps of a mostly-in-order run creep upwards
    std::vector<Item *> model;  // queue order
    struct ModelCursor {
        OSAL_HQCURSOR handle;
        long anchor;  // model index the cursor stands after (-1: before the first)
        bool removable;
    };
    std::vector<ModelCursor> cursors;
    auto insertIntoModel = [&](Item *it) {
        auto at = std::upper_bound(model.begin(), model.end(), it,
                                   [](const Item *a, const Item *b) { return !NotEarlier(b, a); });
        long index = at - model.begin();
        model.insert(at, it);
        for (ModelCursor &c : cursors)
            if (index <= c.anchor) ++c.anchor;
    };
    auto eraseFromModel = [&](long index) {
        for (ModelCursor &c : cursors) {
            if (index == c.anchor) c.removable = false;
            if (index <= c.anchor) --c.anchor;
        }
        model.erase(model.begin() + index);
    };
    int nextId = 0;
    for (int step = 0; step < steps; ++step) {
        unsigned op = rng() % 100;
        ModelCursor *c = cursors.empty() ? nullptr : &cursors[rng() % cursors.size()];
        // Grow to the size, then hover around it.
        if (op < (model.size() < size ? 60u : 35u)) {
            int32_t stamp = static_cast<int32_t>(rng() % 400);
            if (mostlyInOrder) {
                latest += static_cast<int32_t>(rng() % 3);
                stamp = latest - static_cast<int32_t>(rng() % 4);
            }
            Item *it = new Item{At(stamp, rng() % 3), nextId++, 0};
            if (c && rng() % 2 == 0)
                ASSERT_TRUE(OSAL_boQueueInsert(c->handle, it, NotEarlier));
            else
                ASSERT_TRUE(OSAL_boQueuePut(q, it, NotEarlier));
            insertIntoModel(it);
        } else if (op < 70) {
            void *p = OSAL_pvQueueGet(q, 0, OSAL_stTimeNoWait);
            if (model.empty()) {
                ASSERT_EQ(p, nullptr);
            } else {
                ASSERT_EQ(p, model.front()) << "step " << step;
                eraseFromModel(0);
                delete static_cast<Item *>(p);
            }
        } else if (op < 74) {
            if (cursors.size() < 2 && (cursors.empty() || rng() % 2 == 0)) {
                OSAL_HQCURSOR h = OSAL_hQueueLock(q);  // re-entrant for the second
                ASSERT_NE(h, nullptr);
                cursors.push_back(ModelCursor{h, -1, false});
            } else {
                size_t which = rng() % cursors.size();
                OSAL_vQueueUnlock(cursors[which].handle);
                cursors.erase(cursors.begin() + static_cast<long>(which));
            }
        } else if (c && op < 90) {
            // A burst of steps, so the cursors reach every part of the queue.
            for (unsigned n = rng() % (size / 4 + 1) + 1; n > 0; --n) {
                void *p = OSAL_pvQueueNext(c->handle);
                if (c->anchor + 1 >= static_cast<long>(model.size())) {
                    ASSERT_EQ(p, nullptr) << "step " << step;
                    c->removable = false;
                    break;
                }
                ASSERT_EQ(p, model[c->anchor + 1]) << "step " << step;
                ++c->anchor;
                c->removable = true;
            }
        } else if (c) {
            BOOL8 removed = OSAL_boQueueRemove(c->handle, 1);
            ASSERT_EQ(removed != 0, c->removable) << "step " << step;
            if (removed) eraseFromModel(c->anchor);
        }
    }
    for (ModelCursor &c : cursors) OSAL_vQueueUnlock(c.handle);
    std::vector<int> want, got;
    for (Item *it : model) want.push_back(it->id);
    while (void *p = OSAL_pvQueueGet(q, 0, OSAL_stTimeNoWait)) {
        got.push_back(static_cast<Item *>(p)->id);
        delete static_cast<Item *>(p);
    }
    EXPECT_EQ(got, want);
}

TEST_F(OsalQueue, MatchesAPlainListUnderRandomOperations) {
    RunAgainstPlainList(q, 2024, 3000, 20000, false);
    for (unsigned seed = 1; seed <= 8; ++seed) {
        OSAL_vTestSetQueueChunkSlots(4 + seed % 3);
        OSAL_HQUEUE small = OSAL_hQueueCreate(0, CountDelete);
        OSAL_vTestSetQueueChunkSlots(0);
        ASSERT_NE(small, nullptr);
        RunAgainstPlainList(small, seed, seed % 4 == 0 ? 8 : 60, 20000, seed % 2 == 0);
        OSAL_vQueueDelete(small);
        if (HasFatalFailure()) return;
    }
}

TEST_F(OsalQueue, PeekLeavesGetTakes) {
    Put(2, 1);
    Put(1, 2);
    void *p = OSAL_pvQueuePeek(q, 0, OSAL_stTimeNoWait);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(static_cast<Item *>(p)->id, 2);
    EXPECT_EQ(OSAL_pvQueuePeek(q, 1, OSAL_stTimeInfinite), p);
    EXPECT_EQ(OSAL_pvQueueGet(q, 1, OSAL_stTimeInfinite), p);
    delete static_cast<Item *>(p);
    EXPECT_EQ(Drain(), std::vector<int>{1});
    EXPECT_EQ(OSAL_pvQueueGet(q, 0, OSAL_stTimeInfinite), nullptr);
    EXPECT_EQ(OSAL_pvQueuePeek(q, 1, OSAL_stTimeNoWait), nullptr);
}

TEST_F(OsalQueue, FullQueueRefusesMarksAndStaysAsItWas) {
    OSAL_HQUEUE small = OSAL_hQueueCreate(3, CountDelete);
    ASSERT_NE(small, nullptr);
    OSAL_vQueueSetMarkFunction(small, MarkItem);
    Item items[5] = {{At(1), 1, 0}, {At(2), 2, 0}, {At(3), 3, 0}, {At(0), 4, 0}, {At(9), 5, 0}};
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(OSAL_boQueuePut(small, &items[i], NotEarlier));
    uint32_t count = OSAL_dwQueueGetChangeCount(small);
    OSAL_vSetLastError(0);
    EXPECT_FALSE(OSAL_boQueuePut(small, &items[3], NotEarlier));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_QUEUE_FULL));
    EXPECT_EQ(items[3].mark, 1037u);
    EXPECT_EQ(items[0].mark, 0u);
    EXPECT_EQ(OSAL_dwQueueGetChangeCount(small), count);

    // Inserting under the cursor lock is refused too, without a mark.
    OSAL_HQCURSOR c = OSAL_hQueueLock(small);
    ASSERT_NE(c, nullptr);
    OSAL_vSetLastError(0);
    EXPECT_FALSE(OSAL_boQueueInsert(c, &items[4], NotEarlier));
    EXPECT_EQ(OSAL_dwGetLastError(), 1037u);
    EXPECT_EQ(items[4].mark, 0u);
    OSAL_vQueueUnlock(c);

    EXPECT_EQ(OSAL_pvQueueGet(small, 0, OSAL_stTimeNoWait), &items[0]);
    EXPECT_TRUE(OSAL_boQueuePut(small, &items[3], NotEarlier));  // room again
    EXPECT_EQ(OSAL_pvQueueGet(small, 0, OSAL_stTimeNoWait), &items[3]);
    EXPECT_EQ(OSAL_pvQueueGet(small, 0, OSAL_stTimeNoWait), &items[1]);
    EXPECT_EQ(OSAL_pvQueueGet(small, 0, OSAL_stTimeNoWait), &items[2]);
    OSAL_vQueueDelete(small);
    EXPECT_EQ(g_deleted, 0);
}

TEST_F(OsalQueue, DeleteFunctionGetsWhatIsLeftAndRemovedWithDelete) {
    Put(1, 1);
    Put(2, 2);
    Put(3, 3);
    OSAL_HQCURSOR c = OSAL_hQueueLock(q);
    ASSERT_NE(c, nullptr);
    ASSERT_NE(OSAL_pvQueueNext(c), nullptr);
    EXPECT_TRUE(OSAL_boQueueRemove(c, 1));
    EXPECT_EQ(g_deleted, 1);
    void *second = OSAL_pvQueueNext(c);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(OSAL_boQueueRemove(c, 0));  // unlinked only: ours now
    EXPECT_EQ(g_deleted, 1);
    OSAL_vQueueUnlock(c);
    delete static_cast<Item *>(second);
    OSAL_vQueueDelete(q);
    q = nullptr;
    EXPECT_EQ(g_deleted, 2);
}

TEST_F(OsalQueue, ChangeCountMovesOnChangesOnly) {
    uint32_t c0 = OSAL_dwQueueGetChangeCount(q);
    Put(1, 1);
    Put(2, 2);
    uint32_t c1 = OSAL_dwQueueGetChangeCount(q);
    EXPECT_EQ(c1 - c0, 2u);
    OSAL_pvQueuePeek(q, 0, OSAL_stTimeNoWait);
    EXPECT_TRUE(OSAL_boQueuePut(q, nullptr, nullptr));
    OSAL_vQueueInterrupt(q);
    EXPECT_EQ(OSAL_dwQueueGetChangeCount(q), c1);
    OSAL_HQCURSOR c = OSAL_hQueueLock(q);
    void *first = OSAL_pvQueueNext(c);
    EXPECT_TRUE(OSAL_boQueueRemove(c, 0));
    EXPECT_TRUE(OSAL_boQueueInsert(c, first, NotEarlier));
    OSAL_vQueueUnlock(c);
    EXPECT_EQ(OSAL_dwQueueGetChangeCount(q) - c1, 2u);
    delete static_cast<Item *>(OSAL_pvQueueGet(q, 0, OSAL_stTimeNoWait));
    EXPECT_EQ(OSAL_dwQueueGetChangeCount(q) - c1, 3u);
}

TEST_F(OsalQueue, CursorWalksRemovesAndInsertsInOrder) {
    for (int i = 1; i <= 5; ++i) Put(i, i);
    OSAL_HQCURSOR c = OSAL_hQueueLock(q);
    ASSERT_NE(c, nullptr);
    OSAL_vSetLastError(0);
    EXPECT_FALSE(OSAL_boQueueRemove(c, 0));  // nothing returned yet
    EXPECT_EQ(OSAL_dwGetLastError(), 1028u);
    std::vector<int> seen;
    Item *third = nullptr;
    while (void *p = OSAL_pvQueueNext(c)) {
        Item *it = static_cast<Item *>(p);
        seen.push_back(it->id);
        if (it->id == 3) {
            EXPECT_TRUE(OSAL_boQueueRemove(c, 0));
            EXPECT_FALSE(OSAL_boQueueRemove(c, 0));  // already gone
            third = it;
        }
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_FALSE(OSAL_boQueueRemove(c, 0));  // the walk ended on no item
    ASSERT_NE(third, nullptr);
    third->ts = At(10);
    EXPECT_TRUE(OSAL_boQueueInsert(c, third, NotEarlier));
    EXPECT_EQ(static_cast<Item *>(OSAL_pvQueueNext(c))->id, 3);  // lands behind the end of the walk
    OSAL_vQueueUnlock(c);
    EXPECT_EQ(Drain(), (std::vector<int>{1, 2, 4, 5, 3}));
}

TEST_F(OsalQueue, CursorLockIsReentrantAndItsOwnerMayPutAndTake) {
    Put(1, 1);
    Put(3, 3);
    OSAL_HQCURSOR outer = OSAL_hQueueLock(q);
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(static_cast<Item *>(OSAL_pvQueueNext(outer))->id, 1);
    OSAL_HQCURSOR inner = OSAL_hQueueLock(q);  // same thread: no deadlock
    ASSERT_NE(inner, nullptr);
    Put(2, 2);                                    // a put by the holder
    EXPECT_TRUE(OSAL_boQueuePut(q, nullptr, nullptr));
    // The holder takes the item its outer cursor stands on; the cursor
    // carries on from where that item was.
    Item *first = static_cast<Item *>(OSAL_pvQueueGet(q, 1, OSAL_stTimeInfinite));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->id, 1);
    delete first;
    EXPECT_FALSE(OSAL_boQueueRemove(outer, 0));
    EXPECT_EQ(static_cast<Item *>(OSAL_pvQueueNext(outer))->id, 2);
    EXPECT_EQ(static_cast<Item *>(OSAL_pvQueueNext(inner))->id, 2);
    OSAL_vQueueUnlock(inner);
    EXPECT_EQ(static_cast<Item *>(OSAL_pvQueueNext(outer))->id, 3);
    OSAL_vQueueUnlock(outer);
    EXPECT_EQ(Drain(), (std::vector<int>{2, 3}));
}

TEST_F(OsalQueue, OtherThreadsWaitForTheCursorLock) {
    OSAL_HQCURSOR c = OSAL_hQueueLock(q);
    ASSERT_NE(c, nullptr);
    std::atomic<bool> put{false}, took{false};
    std::thread putter([&] {
        Item *it = new Item{At(1), 1, 0};
        EXPECT_TRUE(OSAL_boQueuePut(q, it, NotEarlier));
        put = true;
    });
    std::thread taker([&] {
        void *p = OSAL_pvQueueGet(q, 1, Relative(30000000));
        EXPECT_NE(p, nullptr);
        delete static_cast<Item *>(p);
        took = true;
    });
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_FALSE(put);
    EXPECT_FALSE(took);
    EXPECT_EQ(OSAL_pvQueueNext(c), nullptr);
    OSAL_vQueueUnlock(c);
    putter.join();
    taker.join();
    EXPECT_TRUE(put);
    EXPECT_TRUE(took);
}

TEST_F(OsalQueue, EveryDeadlineFormOfGetAndPeek) {
    auto start = Clock::now();
    EXPECT_EQ(OSAL_pvQueueGet(q, 1, OSAL_stTimeNoWait), nullptr);
    EXPECT_EQ(OSAL_pvQueueGet(q, 0, OSAL_stTimeInfinite), nullptr);  // no wait flag
    EXPECT_EQ(OSAL_pvQueuePeek(q, 1, FromNow(-5000000)), nullptr);   // absolute, past
    EXPECT_LT(MillisSince(start), 1000);

    start = Clock::now();
    EXPECT_EQ(OSAL_pvQueueGet(q, 1, Relative(300000)), nullptr);
    long long relative = MillisSince(start);
    EXPECT_GE(relative, 280);
    EXPECT_LT(relative, 5000);

    start = Clock::now();
    EXPECT_EQ(OSAL_pvQueuePeek(q, 1, FromNow(300000)), nullptr);
    long long absolute = MillisSince(start);
    EXPECT_GE(absolute, 280);
    EXPECT_LT(absolute, 5000);

    // Infinite: ends when an item comes.
    std::thread later([&] {
        std::this_thread::sleep_for(milliseconds(100));
        Put(1, 42);
    });
    start = Clock::now();
    void *p = OSAL_pvQueueGet(q, 1, OSAL_stTimeInfinite);
    later.join();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(static_cast<Item *>(p)->id, 42);
    delete static_cast<Item *>(p);
}

TEST_F(OsalQueue, EveryDeadlineFormOfWaitChange) {
    EXPECT_FALSE(OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait));
    auto start = Clock::now();
    EXPECT_FALSE(OSAL_boQueueWaitChange(q, FromNow(-1000000)));
    EXPECT_LT(MillisSince(start), 1000);

    start = Clock::now();
    EXPECT_FALSE(OSAL_boQueueWaitChange(q, Relative(300000)));
    EXPECT_GE(MillisSince(start), 280);
    start = Clock::now();
    EXPECT_FALSE(OSAL_boQueueWaitChange(q, FromNow(300000)));
    EXPECT_GE(MillisSince(start), 280);

    // A change made before the wait is reported at once, then consumed.
    Put(1, 1);
    EXPECT_TRUE(OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait));
    EXPECT_FALSE(OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait));

    std::thread later([&] {
        std::this_thread::sleep_for(milliseconds(100));
        delete static_cast<Item *>(OSAL_pvQueueGet(q, 0, OSAL_stTimeNoWait));
    });
    start = Clock::now();
    EXPECT_TRUE(OSAL_boQueueWaitChange(q, OSAL_stTimeInfinite));
    later.join();
    EXPECT_LT(MillisSince(start), 10000);
}

// The receive pattern: sync, walk under the cursor lock, wait for a change.
// A put landing between the walk and the wait must end the wait. One item at
// a time, so that no later put can make up for a lost wake-up.
TEST_F(OsalQueue, PutBetweenWalkAndWaitIsNeverLost) {
    const int kRounds = 3000;
    std::atomic<int> taken{0};
    std::atomic<int> lost{0};
    std::thread consumer([&] {
        std::mt19937 pause(5);
        for (int id = 0; id < kRounds && lost == 0; ++id) {
            OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait);
            for (;;) {
                OSAL_HQCURSOR c = OSAL_hQueueLock(q);
                Item *found = nullptr;
                while (void *p = OSAL_pvQueueNext(c)) {
                    if (static_cast<Item *>(p)->id == id) {
                        found = static_cast<Item *>(p);
                        OSAL_boQueueRemove(c, 0);
                        break;
                    }
                }
                OSAL_vQueueUnlock(c);
                if (found) {
                    delete found;
                    taken = id + 1;
                    break;
                }
                // Some work between the walk and the wait widens the window.
                auto until = Clock::now() + std::chrono::microseconds(pause() % 40);
                while (Clock::now() < until) {
                }
                if (!OSAL_boQueueWaitChange(q, Relative(5000000))) {
                    ++lost;
                    taken = kRounds;  // let the producer end
                    break;
                }
            }
        }
    });
    std::mt19937 rng(11);
    for (int id = 0; id < kRounds; ++id) {
        // Land the put at a random moment of the consumer's walk or wait.
        auto until = Clock::now() + std::chrono::microseconds(rng() % 60);
        while (Clock::now() < until) {
        }
        Item *it = new Item{At(id), id, 0};
        EXPECT_TRUE(OSAL_boQueuePut(q, it, NotEarlier));
        while (taken <= id) std::this_thread::yield();
    }
    consumer.join();
    EXPECT_EQ(lost, 0);
}

TEST_F(OsalQueue, NullPutAndInterruptWakeEveryWaiterWithoutAChange) {
    for (int round = 0; round < 2; ++round) {
        const bool interrupt = round == 1;
        OSAL_HQUEUE q = OSAL_hQueueCreate(0, nullptr);  // no wake left from the round before
        ASSERT_NE(q, nullptr);
        std::atomic<int> ready{0}, done{0};
        std::atomic<bool> getNull{false}, peekNull{false}, changeTrue{false};
        auto register_ = [&] {
            OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait);  // the thread is known to the queue
            ++ready;
        };
        std::vector<std::thread> threads;
        threads.emplace_back([&] {
            register_();
            getNull = OSAL_pvQueueGet(q, 1, Relative(30000000)) == nullptr;
            ++done;
        });
        threads.emplace_back([&] {
            register_();
            // A null put is never missed, so that round may wait without limit.
            peekNull = OSAL_pvQueuePeek(q, 1, interrupt ? Relative(30000000) : OSAL_stTimeInfinite) == nullptr;
            ++done;
        });
        threads.emplace_back([&] {
            register_();
            changeTrue = OSAL_boQueueWaitChange(q, Relative(30000000)) != 0;
            ++done;
        });
        while (ready < 3) std::this_thread::yield();
        // An interrupt reaches only waits in progress, so give them time to start.
        std::this_thread::sleep_for(milliseconds(interrupt ? 300 : 20));
        uint32_t count = OSAL_dwQueueGetChangeCount(q);
        auto start = Clock::now();
        if (interrupt)
            OSAL_vQueueInterrupt(q);
        else
            EXPECT_TRUE(OSAL_boQueuePut(q, nullptr, nullptr));
        for (auto &t : threads) t.join();
        EXPECT_LT(MillisSince(start), 20000) << "round " << round;
        EXPECT_TRUE(getNull);
        EXPECT_TRUE(peekNull);
        EXPECT_TRUE(changeTrue);
        EXPECT_EQ(OSAL_dwQueueGetChangeCount(q), count);
        OSAL_vQueueDelete(q);
    }
}

// A thread that never used the queue may have looked at its break flag just
// before the break: its first wait must end too, and only that one.
TEST_F(OsalQueue, NullPutBeforeAThreadsFirstWaitEndsIt) {
    EXPECT_TRUE(OSAL_boQueuePut(q, nullptr, nullptr));
    long long first = -1, second = -1;
    std::thread newcomer([&] {
        auto start = Clock::now();
        EXPECT_EQ(OSAL_pvQueuePeek(q, 1, Relative(20000000)), nullptr);
        first = MillisSince(start);
        start = Clock::now();
        EXPECT_EQ(OSAL_pvQueueGet(q, 1, Relative(300000)), nullptr);
        second = MillisSince(start);
    });
    newcomer.join();
    EXPECT_LT(first, 5000);
    EXPECT_GE(second, 280);
    // The thread that put the null item is not woken by its own put.
    auto start = Clock::now();
    EXPECT_FALSE(OSAL_boQueueWaitChange(q, Relative(300000)));
    EXPECT_GE(MillisSince(start), 280);
}

// A break (interrupt, then null put, from one thread) fired while a thread is
// between its look and its wait ends that wait; one that ended a wait leaves
// nothing behind for the next, even when the woken thread runs before the
// break's null put.
TEST_F(OsalQueue, BreakIsNeitherLostNorRepeated) {
    std::atomic<int> stage{0};
    long long firstWait = -1, secondWait = -1;
    std::thread waiter([&] {
        OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait);
        stage = 1;
        while (stage != 2) std::this_thread::yield();  // the break happens here
        auto start = Clock::now();
        EXPECT_EQ(OSAL_pvQueueGet(q, 1, Relative(20000000)), nullptr);
        firstWait = MillisSince(start);
        stage = 3;
        while (stage != 4) std::this_thread::yield();
        start = Clock::now();
        EXPECT_EQ(OSAL_pvQueueGet(q, 1, Relative(20000000)), nullptr);  // woken by the second break
        stage = 5;
        while (stage != 6) std::this_thread::yield();
        start = Clock::now();
        EXPECT_EQ(OSAL_pvQueueGet(q, 1, Relative(300000)), nullptr);  // nothing left over
        secondWait = MillisSince(start);
    });
    while (stage != 1) std::this_thread::yield();
    OSAL_vQueueInterrupt(q);
    OSAL_boQueuePut(q, nullptr, nullptr);
    stage = 2;
    while (stage != 3) std::this_thread::yield();
    stage = 4;
    std::this_thread::sleep_for(milliseconds(300));
    // The woken waiter gets ahead of the null put that belongs to the break.
    OSAL_vQueueInterrupt(q);
    while (stage != 5) std::this_thread::yield();
    OSAL_boQueuePut(q, nullptr, nullptr);
    stage = 6;
    waiter.join();
    EXPECT_LT(firstWait, 5000);
    EXPECT_GE(secondWait, 280);
}

TEST_F(OsalQueue, ClockStepsMoveAbsoluteDeadlines) {
    // Forward: a wait for a moment 20 s ahead ends as soon as the clock passes it.
    std::atomic<bool> done{false};
    bool changed = true;
    std::thread forward([&] {
        changed = OSAL_boQueueWaitChange(q, FromNow(20000000)) != 0;
        done = true;
    });
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_FALSE(done);
    auto start = Clock::now();
    OSAL_vTestSetClockOffset(60LL * 1000000);
    forward.join();
    EXPECT_LT(MillisSince(start), 5000);
    EXPECT_FALSE(changed);
    TimeVal shifted;
    OSAL_vGetSystemTime(&shifted);
    auto real = std::chrono::duration_cast<std::chrono::seconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
    EXPECT_NEAR(static_cast<double>(shifted.i32Seconds), static_cast<double>(real + 60), 2.0);
    OSAL_vTestSetClockOffset(0);

    // Backward: a moment 300 ms ahead moves 30 s away until the clock returns.
    done = false;
    std::thread backward([&] {
        EXPECT_EQ(OSAL_pvQueuePeek(q, 1, FromNow(300000)), nullptr);
        done = true;
    });
    std::this_thread::sleep_for(milliseconds(50));
    OSAL_vTestSetClockOffset(-30LL * 1000000);
    std::this_thread::sleep_for(milliseconds(1000));
    EXPECT_FALSE(done);
    start = Clock::now();
    OSAL_vTestSetClockOffset(0);
    backward.join();
    EXPECT_LT(MillisSince(start), 5000);
}

TEST_F(OsalQueue, BadInput) {
    Item item{At(1), 1, 0};
    const uint32_t handle = OSAL_ERR_INVALID_HANDLE;
    auto expect = [](uint32_t code) {
        EXPECT_EQ(OSAL_dwGetLastError(), code);
        OSAL_vSetLastError(0);
    };
    EXPECT_FALSE(OSAL_boQueuePut(nullptr, &item, NotEarlier));
    expect(handle);
    EXPECT_FALSE(OSAL_boQueuePut(q, &item, nullptr));  // an item needs an order
    expect(OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(OSAL_pvQueueGet(nullptr, 0, OSAL_stTimeNoWait), nullptr);
    expect(handle);
    EXPECT_EQ(OSAL_pvQueuePeek(nullptr, 1, OSAL_stTimeInfinite), nullptr);
    expect(handle);
    EXPECT_FALSE(OSAL_boQueueWaitChange(nullptr, OSAL_stTimeInfinite));
    expect(handle);
    EXPECT_EQ(OSAL_dwQueueGetChangeCount(nullptr), 0u);
    expect(handle);
    EXPECT_EQ(OSAL_hQueueLock(nullptr), nullptr);
    expect(handle);
    EXPECT_EQ(OSAL_pvQueueNext(nullptr), nullptr);
    expect(handle);
    EXPECT_FALSE(OSAL_boQueueInsert(nullptr, &item, NotEarlier));
    expect(handle);
    EXPECT_FALSE(OSAL_boQueueRemove(nullptr, 1));
    expect(handle);
    OSAL_vQueueUnlock(nullptr);
    expect(handle);
    OSAL_vQueueInterrupt(nullptr);
    expect(handle);
    OSAL_vQueueSetMarkFunction(nullptr, MarkItem);
    expect(handle);
    OSAL_vQueueDelete(nullptr);
    expect(handle);
    OSAL_HQCURSOR c = OSAL_hQueueLock(q);
    EXPECT_FALSE(OSAL_boQueueInsert(c, nullptr, NotEarlier));
    expect(OSAL_ERR_INVALID_ARG);
    EXPECT_FALSE(OSAL_boQueueInsert(c, &item, nullptr));
    expect(OSAL_ERR_INVALID_ARG);
    OSAL_vQueueUnlock(c);
    EXPECT_EQ(OSAL_pvQueueGet(q, 0, OSAL_stTimeNoWait), nullptr);
}

TEST_F(OsalQueue, OutOfMemoryLeavesTheItemWithTheCaller) {
    OSAL_vTestFailAllocAfter(0);
    EXPECT_EQ(OSAL_hQueueCreate(4, nullptr), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1026u);
    EXPECT_EQ(OSAL_hQueueLock(q), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1026u);
    Item item{At(1), 1, 0};
    uint32_t count = OSAL_dwQueueGetChangeCount(q);
    EXPECT_FALSE(OSAL_boQueuePut(q, &item, NotEarlier));
    EXPECT_EQ(OSAL_dwGetLastError(), 1026u);
    EXPECT_EQ(item.mark, 0u);
    EXPECT_EQ(OSAL_dwQueueGetChangeCount(q), count);
    OSAL_vTestFailAllocAfter(-1);
    EXPECT_EQ(OSAL_pvQueueGet(q, 0, OSAL_stTimeNoWait), nullptr);
    EXPECT_TRUE(OSAL_boQueuePut(q, &item, NotEarlier));
    EXPECT_EQ(OSAL_pvQueueGet(q, 0, OSAL_stTimeNoWait), &item);
}

}  // namespace
