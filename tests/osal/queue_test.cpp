// tests/osal/queue_test.cpp - time-ordered queues: order and stability,
// capacity, every deadline form, wake-ups that are neither lost nor invented,
// the cursor lock, the delete and mark functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "osal/osal_test_hooks.h"
#include "support/refusal.h"

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
// Due functions of a take-if-due: every item; one with an even id (the item
// shown goes to *shown); none, while another thread puts into the queue.
BOOL8 OSAL_CALL AlwaysDue(const void *, void *) { return 1; }
BOOL8 OSAL_CALL PutMeanwhile(const void *, void *queue) {
    auto *q = static_cast<OSAL_HQUEUE>(queue);
    std::thread([q] { OSAL_boQueuePut(q, new Item{TimeVal{0, 0}, 99, 0}, NotEarlier); }).join();
    return 0;
}
BOOL8 OSAL_CALL EvenIdIsDue(const void *item, void *shown) {
    *static_cast<const void **>(shown) = item;
    return static_cast<const Item *>(item)->id % 2 == 0;
}

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
// How long f() took, in milliseconds.
template <class F>
long long MillisOf(F f) {
    auto start = Clock::now();
    f();
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}
void Spin(std::chrono::nanoseconds span) {
    for (auto until = Clock::now() + span; Clock::now() < until;) {
    }
}
// The three waits on a queue: a take, a peek, a wait for a change; each true when something came.
std::vector<std::function<bool(TimeVal)>> Waits(OSAL_HQUEUE q) {
    return {[q](TimeVal t) { return OSAL_pvQueueGet(q, 1, t) != nullptr; },
            [q](TimeVal t) { return OSAL_pvQueuePeek(q, 1, t) != nullptr; },
            [q](TimeVal t) { return OSAL_boQueueWaitChange(q, t) != 0; }};
}
int IdOf(void *item) { return item != nullptr ? static_cast<Item *>(item)->id : -1; }
// Takes the first item and deletes it: its id, or -1 when none came.
int TakeId(OSAL_HQUEUE q, BOOL8 wait = 0, TimeVal deadline = OSAL_stTimeNoWait) {
    Item *item = static_cast<Item *>(OSAL_pvQueueGet(q, wait, deadline));
    const int id = IdOf(item);
    delete item;
    return id;
}
// Takes every item without waiting: their ids, in order.
std::vector<int> Drain(OSAL_HQUEUE q) {
    std::vector<int> ids;
    for (int id; (id = TakeId(q)) >= 0;) ids.push_back(id);
    return ids;
}

class OsalQueue : public ::testing::Test {
protected:
    void SetUp() override {
        g_deleted = 0;
        q = OSAL_hQueueCreate(0, CountDelete);
        ASSERT_NE(q, nullptr);
    }
    void TearDown() override {
        OSAL_vTestFailAllocAfter(-1);
        if (q) OSAL_vQueueDelete(q);
    }
    void Put(int32_t seconds, int id) {
        EXPECT_TRUE(OSAL_boQueuePut(q, new Item{At(seconds), id, 0}, NotEarlier));
    }
    OSAL_HQUEUE q = nullptr;
};

// A burst larger than the box keeps between drains, then more puts; a peek
// leaves the first item where it is. (Order and ties at random: the test of
// the plain list below.)
TEST_F(OsalQueue, BurstsInOrderEqualStampsInArrivalOrderAndPeekLeaves) {
    for (int id = 5000; id > 0; --id) Put(id, id);
    void *first = OSAL_pvQueuePeek(q, 0, OSAL_stTimeNoWait);
    EXPECT_EQ(IdOf(first), 1);
    EXPECT_EQ(OSAL_pvQueuePeek(q, 1, OSAL_stTimeInfinite), first);
    EXPECT_EQ(TakeId(q), 1);
    Put(2, 10002);
    Put(1, 10001);
    std::vector<int> want{10001, 2, 10002};
    for (int id = 3; id <= 5000; ++id) want.push_back(id);
    EXPECT_EQ(Drain(q), want);

    // A burst of equal stamps, placed as one batch, keeps its arrival order.
    want.clear();
    for (int id = 1; id <= 64; ++id) Put(id % 4, id);
    for (int stamp = 0; stamp < 4; ++stamp)
        for (int id = stamp == 0 ? 4 : stamp; id <= 64; id += 4) want.push_back(id);
    EXPECT_EQ(Drain(q), want);
}

// Random puts, takes, two nested cursors' walks, removals and inserts against
// a plain sorted list; small chunks split and compact under the cursors.
void RunAgainstPlainList(OSAL_HQUEUE q, unsigned seed, size_t size, bool mostlyInOrder) {
    std::mt19937 rng(seed);
    int32_t latest = 0;         // stamps of a mostly-in-order run creep upwards
    std::vector<Item *> model;  // queue order
    struct ModelCursor {
        OSAL_HQCURSOR handle;
        long anchor;  // model index the cursor stands after (-1: before the first)
        bool removable;
    };
    std::vector<ModelCursor> cursors;
    auto erase = [&](long index) {
        for (ModelCursor &c : cursors) {
            if (index == c.anchor) c.removable = false;
            c.anchor -= index <= c.anchor;
        }
        model.erase(model.begin() + index);
    };
    for (int step = 0, nextId = 0; step < 20000; ++step) {
        SCOPED_TRACE(step);
        unsigned op = rng() % 100;
        ModelCursor *c = cursors.empty() ? nullptr : &cursors[rng() % cursors.size()];
        if (op < (model.size() < size ? 60u : 35u)) {  // grow to the size, then hover around it
            int32_t stamp = static_cast<int32_t>(rng() % 400);
            if (mostlyInOrder) {
                latest += static_cast<int32_t>(rng() % 3);
                stamp = latest - static_cast<int32_t>(rng() % 4);
            }
            Item *it = new Item{At(stamp, rng() % 3), nextId++, 0};
            ASSERT_TRUE(c && rng() % 2 == 0 ? OSAL_boQueueInsert(c->handle, it, NotEarlier)
                                            : OSAL_boQueuePut(q, it, NotEarlier));
            auto at = std::upper_bound(model.begin(), model.end(), it,
                                       [](const Item *a, const Item *b) { return !NotEarlier(b, a); });
            long index = at - model.begin();
            model.insert(at, it);
            for (ModelCursor &m : cursors) m.anchor += index <= m.anchor;
        } else if (op < 70) {
            Item *front = model.empty() ? nullptr : model.front();
            const void *shown = nullptr;
            void *p = op < 65 ? OSAL_pvQueueGet(q, 0, OSAL_stTimeNoWait)
                              : OSAL_pvQueueTakeIfDue(q, EvenIdIsDue, &shown);
            if (op >= 65) {
                ASSERT_EQ(shown, front);
                if (front && front->id % 2 != 0) front = nullptr;  // stays
            }
            ASSERT_EQ(p, front);
            if (p) erase(0);
            delete static_cast<Item *>(p);
        } else if (op < 74) {
            if (cursors.size() < 2 && (cursors.empty() || rng() % 2 == 0)) {
                cursors.push_back(ModelCursor{OSAL_hQueueLock(q), -1, false});  // re-entrant for the second
                ASSERT_NE(cursors.back().handle, nullptr);
            } else {
                size_t which = rng() % cursors.size();
                OSAL_vQueueUnlock(cursors[which].handle);
                cursors.erase(cursors.begin() + static_cast<long>(which));
            }
        } else if (c && op < 90) {  // a burst of steps, so the cursors reach every part of the queue
            for (unsigned n = rng() % (size / 4 + 1) + 1; n > 0; --n) {
                bool atEnd = c->anchor + 1 >= static_cast<long>(model.size());
                ASSERT_EQ(OSAL_pvQueueNext(c->handle), atEnd ? nullptr : model[c->anchor + 1]);
                c->removable = !atEnd;
                if (atEnd) break;
                ++c->anchor;
            }
        } else if (c) {
            BOOL8 removed = OSAL_boQueueRemove(c->handle, 1);
            ASSERT_EQ(removed != 0, c->removable);
            if (removed) erase(c->anchor);
        }
    }
    for (ModelCursor &c : cursors) OSAL_vQueueUnlock(c.handle);
    std::vector<int> want;
    for (Item *it : model) want.push_back(it->id);
    EXPECT_EQ(Drain(q), want);
}

TEST_F(OsalQueue, MatchesAPlainListUnderRandomOperations) {
    RunAgainstPlainList(q, 2024, 3000, false);
    for (unsigned seed = 1; seed <= 8 && !HasFatalFailure(); ++seed) {
        OSAL_vTestSetQueueChunkSlots(4 + seed % 3);
        OSAL_HQUEUE small = OSAL_hQueueCreate(0, CountDelete);
        OSAL_vTestSetQueueChunkSlots(0);
        ASSERT_NE(small, nullptr);
        RunAgainstPlainList(small, seed, seed % 4 == 0 ? 8 : 60, seed % 2 == 0);
        OSAL_vQueueDelete(small);
    }
}

// Bad input is refused with its code; a full queue refuses with 1037, marks
// the refused put (not an insert) and changes nothing.
TEST_F(OsalQueue, BadInputAndAFullQueueAreRefusedAndChangeNothing) {
    const uint32_t kHandle = OSAL_ERR_INVALID_HANDLE;
    Item items[5] = {{At(1), 1, 0}, {At(2), 2, 0}, {At(3), 3, 0}, {At(0), 4, 0}, {At(9), 5, 0}};
    EXPECT_REFUSED(OSAL_boQueuePut(nullptr, &items[0], NotEarlier), kHandle);
    EXPECT_REFUSED(OSAL_boQueuePut(q, &items[0], nullptr), OSAL_ERR_INVALID_ARG);  // an item needs an order
    EXPECT_REFUSED(OSAL_pvQueueGet(nullptr, 0, OSAL_stTimeNoWait), kHandle);
    EXPECT_REFUSED(OSAL_pvQueueTakeIfDue(nullptr, AlwaysDue, nullptr), kHandle);
    EXPECT_REFUSED(OSAL_pvQueueTakeIfDue(q, nullptr, nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_boQueueWaitChange(nullptr, OSAL_stTimeInfinite), kHandle);
    EXPECT_REFUSED(OSAL_hQueueLock(nullptr), kHandle);
    EXPECT_REFUSED(OSAL_pvQueueNext(nullptr), kHandle);
    EXPECT_REFUSED(OSAL_boQueueRemove(nullptr, 1), kHandle);
    EXPECT_REFUSED((OSAL_vQueueUnlock(nullptr), 0), kHandle);
    EXPECT_REFUSED((OSAL_vQueueDelete(nullptr), 0), kHandle);

    OSAL_HQUEUE small = OSAL_hQueueCreate(3, CountDelete);
    ASSERT_NE(small, nullptr);
    OSAL_vQueueSetMarkFunction(small, MarkItem);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(OSAL_boQueuePut(small, &items[i], NotEarlier));
    uint32_t count = OSAL_dwQueueGetChangeCount(small);
    EXPECT_REFUSED(OSAL_boQueuePut(small, &items[3], NotEarlier), OSAL_ERR_QUEUE_FULL);
    EXPECT_EQ(items[3].mark, 1037u);
    EXPECT_EQ(items[0].mark, 0u);
    EXPECT_EQ(OSAL_dwQueueGetChangeCount(small), count);
    OSAL_HQCURSOR c = OSAL_hQueueLock(small);
    EXPECT_REFUSED(OSAL_boQueueInsert(c, &items[4], NotEarlier), OSAL_ERR_QUEUE_FULL);
    EXPECT_EQ(items[4].mark, 0u);
    EXPECT_REFUSED(OSAL_boQueueInsert(c, nullptr, NotEarlier), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_boQueueInsert(c, &items[4], nullptr), OSAL_ERR_INVALID_ARG);
    OSAL_vQueueUnlock(c);
    EXPECT_EQ(OSAL_pvQueueGet(small, 0, OSAL_stTimeNoWait), &items[0]);
    EXPECT_TRUE(OSAL_boQueuePut(small, &items[3], NotEarlier));
    for (int i : {3, 1, 2}) EXPECT_EQ(OSAL_pvQueueGet(small, 0, OSAL_stTimeNoWait), &items[i]);
    OSAL_vQueueDelete(small);
    EXPECT_EQ(g_deleted, 0);
}

// A removal hands the item over or deletes it; what is left goes to the delete function.
TEST_F(OsalQueue, RemovalOwnershipChangeCountAndDeleteFunction) {
    for (int i = 1; i <= 4; ++i) Put(i, i);
    const uint32_t c0 = OSAL_dwQueueGetChangeCount(q);
    OSAL_HQCURSOR c = OSAL_hQueueLock(q);
    EXPECT_REFUSED(OSAL_boQueueRemove(c, 0), OSAL_ERR_INVALID_ARG);  // nothing returned yet
    Item *first = static_cast<Item *>(OSAL_pvQueueNext(c));
    EXPECT_TRUE(OSAL_boQueueRemove(c, 0));  // unlinked only: ours now
    EXPECT_REFUSED(OSAL_boQueueRemove(c, 0), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(IdOf(OSAL_pvQueueNext(c)), 2);
    EXPECT_TRUE(OSAL_boQueueRemove(c, 1));  // deleted by the queue
    EXPECT_EQ(g_deleted, 1);
    first->ts = At(10);
    EXPECT_TRUE(OSAL_boQueueInsert(c, first, NotEarlier));
    OSAL_vQueueUnlock(c);
    EXPECT_EQ(TakeId(q), 3);
    EXPECT_EQ(OSAL_dwQueueGetChangeCount(q) - c0, 4u);
    Put(5, 5);  // waits in the box until a thread looks
    OSAL_vQueueDelete(q);  // 4 and 1 are left, and 5 in the box
    q = nullptr;
    EXPECT_EQ(g_deleted, 4);
}

// The re-entrant cursor lock: the holder puts and takes under its cursors;
// another thread's put counts at once but joins the walk at the unlock,
// behind the holder's put of the same stamp; a taker waits.
TEST_F(OsalQueue, CursorLockHolderAndOtherThreads) {
    Put(1, 1);
    Put(3, 3);
    OSAL_HQCURSOR outer = OSAL_hQueueLock(q);
    EXPECT_EQ(IdOf(OSAL_pvQueueNext(outer)), 1);
    OSAL_HQCURSOR inner = OSAL_hQueueLock(q);  // same thread: no deadlock
    ASSERT_NE(inner, nullptr);
    const uint32_t count = OSAL_dwQueueGetChangeCount(q);
    std::thread([&] { EXPECT_TRUE(OSAL_boQueuePut(q, new Item{At(2), 4, 0}, NotEarlier)); }).join();
    EXPECT_EQ(OSAL_dwQueueGetChangeCount(q) - count, 1u);
    std::atomic<int> took{0};
    std::thread taker([&] { took = TakeId(q, 1, OSAL_stTimeInfinite); });
    Put(2, 2);  // a put by the holder
    EXPECT_EQ(TakeId(q, 1, OSAL_stTimeInfinite), 1);
    EXPECT_REFUSED(OSAL_boQueueRemove(outer, 0), OSAL_ERR_INVALID_ARG);  // its item was taken
    EXPECT_EQ(IdOf(OSAL_pvQueueNext(outer)), 2);
    EXPECT_EQ(IdOf(OSAL_pvQueueNext(inner)), 2);
    OSAL_vQueueUnlock(inner);
    EXPECT_EQ(IdOf(OSAL_pvQueueNext(outer)), 3);
    EXPECT_EQ(OSAL_pvQueueNext(outer), nullptr);
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(took, 0);
    OSAL_vQueueUnlock(outer);
    taker.join();
    EXPECT_EQ(took, 2);
    EXPECT_EQ(Drain(q), (std::vector<int>{4, 3}));
}

// Out of memory: a refused put stays with the caller, unmarked and not
// counted; puts that cannot be ordered wait and join in put order later.
TEST_F(OsalQueue, OutOfMemoryLosesNothing) {
    Item item{At(1), 9, 0};
    OSAL_vQueueSetMarkFunction(q, MarkItem);
    OSAL_vTestFailAllocAfter(0);
    EXPECT_REFUSED(OSAL_hQueueCreate(4, nullptr), OSAL_ERR_NO_MEMORY);
    EXPECT_REFUSED(OSAL_boQueuePut(q, &item, NotEarlier), OSAL_ERR_NO_MEMORY);
    EXPECT_EQ(item.mark, 0u);
    OSAL_vTestFailAllocAfter(-1);
    Put(2, 1);
    Put(1, 2);
    OSAL_vTestFailAllocAfter(0);
    OSAL_HQCURSOR outer = OSAL_hQueueLock(q);  // the outermost lock needs no memory, a nested one does
    ASSERT_NE(outer, nullptr);
    EXPECT_REFUSED(OSAL_hQueueLock(q), OSAL_ERR_NO_MEMORY);
    OSAL_vQueueUnlock(outer);
    EXPECT_REFUSED(OSAL_pvQueuePeek(q, 0, OSAL_stTimeNoWait), OSAL_ERR_NO_MEMORY);
    EXPECT_EQ(OSAL_boQueueWaitChange(q, Relative(1000)), 0);  // a thread's record needs no memory
    EXPECT_EQ(OSAL_dwQueueGetChangeCount(q), 2u);  // the two puts only
    OSAL_vTestFailAllocAfter(-1);
    // A thread's first wait on a queue sleeps to its deadline without memory and
    // stores no code (a caller looping on such a wait would spin otherwise).
    for (bool forItem : {false, true}) {
        SCOPED_TRACE(forItem ? "for an item" : "for a change");
        OSAL_HQUEUE fresh = OSAL_hQueueCreate(0, nullptr);
        OSAL_vTestFailAllocAfter(0);
        OSAL_vSetLastError(OSAL_ERR_NONE);
        EXPECT_GE(MillisOf([&] {
                      EXPECT_FALSE(forItem ? OSAL_pvQueueGet(fresh, 1, Relative(250000)) != nullptr
                                           : OSAL_boQueueWaitChange(fresh, Relative(250000)) != 0);
                  }),
                  240);
        EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NONE);
        OSAL_vTestFailAllocAfter(-1);
        OSAL_vQueueDelete(fresh);
    }
    Put(1, 3);
    EXPECT_EQ(Drain(q), (std::vector<int>{2, 3, 1}));
    OSAL_HQUEUE fresh = OSAL_hQueueCreate(0, CountDelete);  // no chunk to place the put in
    ASSERT_TRUE(OSAL_boQueuePut(fresh, new Item{At(4), 4, 0}, NotEarlier));
    OSAL_vTestFailAllocAfter(0);
    EXPECT_REFUSED(OSAL_pvQueueGet(fresh, 0, OSAL_stTimeNoWait), OSAL_ERR_NO_MEMORY);
    OSAL_vQueueDelete(fresh);  // what waits unordered goes to the delete function too
    EXPECT_EQ(g_deleted, 1);

    // A burst placed by one sort when chunks run out at once or partway:
    // nothing is lost or placed twice, and the rest joins in order.
    OSAL_vTestFailAllocAfter(-1);
    std::vector<int> want(300);
    for (int id = 1; id <= 300; ++id) want[id - 1] = id;
    for (int allowed : {2, 3}) {  // the sort's array, the chunk index and maybe one chunk of 128
        fresh = OSAL_hQueueCreate(0, CountDelete);
        for (int id = 300; id > 0; --id) ASSERT_TRUE(OSAL_boQueuePut(fresh, new Item{At(id), id, 0}, NotEarlier));
        OSAL_vTestFailAllocAfter(allowed);
        if (allowed == 2) {
            EXPECT_REFUSED(OSAL_pvQueuePeek(fresh, 0, OSAL_stTimeNoWait), OSAL_ERR_NO_MEMORY);
        } else {
            EXPECT_EQ(IdOf(OSAL_pvQueuePeek(fresh, 0, OSAL_stTimeNoWait)), 1);
        }
        OSAL_vTestFailAllocAfter(-1);
        EXPECT_EQ(Drain(fresh), want);
        OSAL_vQueueDelete(fresh);
    }
}

TEST_F(OsalQueue, EveryDeadlineForm) {
    for (const auto &wait : Waits(q)) {
        EXPECT_LT(MillisOf([&] { EXPECT_FALSE(wait(OSAL_stTimeNoWait) || wait(FromNow(-5000000))); }), 1000);
        for (bool absolute : {false, true}) {
            long long ms = MillisOf([&] { EXPECT_FALSE(wait(absolute ? FromNow(300000) : Relative(300000))); });
            EXPECT_TRUE(ms >= 280 && ms < 5000) << ms << (absolute ? " absolute" : " relative");
        }
    }
    EXPECT_EQ(OSAL_pvQueueGet(q, 0, OSAL_stTimeInfinite), nullptr);  // no wait flag
    EXPECT_EQ(OSAL_pvQueuePeek(q, 0, OSAL_stTimeInfinite), nullptr);

    // A change made before the wait is reported at once, then consumed.
    Put(1, 1);
    EXPECT_TRUE(OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait));
    EXPECT_FALSE(OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait));
    EXPECT_EQ(TakeId(q), 1);
    EXPECT_TRUE(OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait));
    EXPECT_FALSE(OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait));
}

// A put at any moment of a waiting take, of a walk then a wait for a change,
// or of a take-if-due then that wait, in turn; one item at a time, so a lost
// wake-up lasts to the deadline.
TEST_F(OsalQueue, WaitersNeverMissAPut) {
    Put(5, 1);
    std::thread([this] {  // a thread's first look is a take-if-due, and a put comes during it
        EXPECT_EQ(OSAL_pvQueueTakeIfDue(q, PutMeanwhile, q), nullptr);
        EXPECT_LT(MillisOf([this] { EXPECT_TRUE(OSAL_boQueueWaitChange(q, Relative(3000000))); }), 1000);
        EXPECT_EQ(Drain(q), (std::vector<int>{99, 1}));
    }).join();
    const int kRounds = 16000;
    std::atomic<int> taken{0}, lost{0};
    auto takeUnderCursor = [this](int id) {  // the queue holds one item at most
        OSAL_HQCURSOR c = OSAL_hQueueLock(q);
        const bool found = IdOf(OSAL_pvQueueNext(c)) == id && OSAL_boQueueRemove(c, 1);
        OSAL_vQueueUnlock(c);
        return found;
    };
    auto takeIfDue = [this](int id) {
        Item *item = static_cast<Item *>(OSAL_pvQueueTakeIfDue(q, AlwaysDue, nullptr));
        const bool found = IdOf(item) == id;
        delete item;
        return found;
    };
    std::thread consumer([&] {
        std::mt19937 pause(5);
        for (int id = 0; id < kRounds && lost == 0; ++id) {
            if (id % 3 == 0) {
                int got = -1;
                if (MillisOf([&] { got = TakeId(q, 1, Relative(3000000)); }) > 1000 || got != id) ++lost;
            } else {
                if (id % 3 == 1) OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait);  // the take-if-due registers itself
                while (lost == 0 && !(id % 3 == 1 ? takeUnderCursor(id) : takeIfDue(id))) {
                    Spin(std::chrono::microseconds(pause() % 40));  // widens the window
                    BOOL8 changed = 0;
                    if (MillisOf([&] { changed = OSAL_boQueueWaitChange(q, Relative(3000000)); }) > 1000 || !changed)
                        ++lost;
                }
            }
            taken = lost != 0 ? kRounds : id + 1;
        }
    });
    std::mt19937 rng(7);
    for (int id = 0; id < kRounds && lost == 0; ++id) {
        // Mostly around the end of the taker's watch, now and then past it.
        Spin(std::chrono::nanoseconds(id % 8 == 0 ? 50000 + rng() % 100000 : rng() % 12000));
        EXPECT_TRUE(OSAL_boQueuePut(q, new Item{At(id), id, 0}, NotEarlier));
        while (taken <= id && lost == 0) std::this_thread::yield();
    }
    consumer.join();
    EXPECT_EQ(lost, 0);
}

TEST_F(OsalQueue, NullPutAndInterruptWakeEveryWaiterWithoutAChange) {
    for (bool interrupt : {false, true}) {
        SCOPED_TRACE(interrupt ? "interrupt" : "null put");
        OSAL_HQUEUE q = OSAL_hQueueCreate(0, nullptr);  // no wake left from the round before
        ASSERT_NE(q, nullptr);
        const auto waits = Waits(q);
        std::atomic<int> ready{0}, woken{0};
        std::vector<std::thread> threads;
        for (size_t i = 0; i < 3; ++i) {
            threads.emplace_back([&, i] {
                OSAL_boQueueWaitChange(q, OSAL_stTimeNoWait);  // the thread is known to the queue
                ++ready;
                // A break ends a take and a peek empty-handed, a wait for a change as a change;
                // the null put's peek has no deadline.
                woken += waits[i](i == 1 && !interrupt ? OSAL_stTimeInfinite : Relative(30000000)) == (i == 2);
            });
        }
        while (ready < 3) std::this_thread::yield();
        // An interrupt reaches only waits in progress, so give them time to start.
        std::this_thread::sleep_for(milliseconds(interrupt ? 300 : 20));
        uint32_t count = OSAL_dwQueueGetChangeCount(q);
        EXPECT_LT(MillisOf([&] {
                      interrupt ? OSAL_vQueueInterrupt(q) : (void)OSAL_boQueuePut(q, nullptr, nullptr);
                      for (auto &t : threads) t.join();
                  }),
                  20000);
        EXPECT_EQ(woken, 3);
        EXPECT_EQ(OSAL_dwQueueGetChangeCount(q), count);
        OSAL_vQueueDelete(q);
    }
}

// A break (interrupt, then null put) ends the next wait of a thread that was
// not waiting, not the putter's, and leaves nothing behind. A break before a
// thread first used the queue is not its, nor one that an ended thread left
// to a new thread with the same id.
TEST_F(OsalQueue, BreakIsNeitherLostNorRepeated) {
    std::atomic<int> stage{0};
    auto reach = [&](int s) { while (stage != s) std::this_thread::yield(); };
    auto breakWait = [&] {  // true when a break ends the wait, long before its deadline
        return MillisOf([&] { EXPECT_EQ(OSAL_pvQueueGet(q, 1, Relative(20000000)), nullptr); }) < 5000;
    };
    long long lastWait = -1;
    OSAL_vQueueInterrupt(q);
    OSAL_boQueuePut(q, nullptr, nullptr);  // before the waiter has used the queue
    auto fullWait = [&] {  // a wait that nothing ends, in ms
        return MillisOf([&] { EXPECT_EQ(OSAL_pvQueueGet(q, 1, Relative(300000)), nullptr); });
    };
    std::thread waiter([&] {
        EXPECT_GE(fullWait(), 280) << "ended by a break made before the thread used the queue";
        stage = 1;
        reach(2);  // the second break happens here, between a look and a wait
        EXPECT_TRUE(breakWait());
        stage = 3;
        reach(4);
        EXPECT_TRUE(breakWait());  // woken by the third break's interrupt
        stage = 5;
        reach(6);
        lastWait = fullWait();  // nothing left
    });
    reach(1);
    OSAL_vQueueInterrupt(q);
    OSAL_boQueuePut(q, nullptr, nullptr);
    stage = 2;
    reach(3);
    stage = 4;
    std::this_thread::sleep_for(milliseconds(300));
    OSAL_vQueueInterrupt(q);  // the woken waiter gets ahead of the break's null put
    reach(5);
    OSAL_boQueuePut(q, nullptr, nullptr);
    stage = 6;
    EXPECT_GE(MillisOf([&] { EXPECT_FALSE(OSAL_boQueueWaitChange(q, Relative(300000))); }), 280);
    waiter.join();
    EXPECT_GE(lastWait, 280);
    // A break while no thread waits leaves a wake in the ended waiter's record.
    OSAL_vQueueInterrupt(q);
    OSAL_boQueuePut(q, nullptr, nullptr);
    std::thread(([&] { EXPECT_GE(fullWait(), 280) << "ended by a break left to an ended thread"; })).join();
}

}  // namespace
