// bench/queue_bench.cpp - cost of the platform layer's time-ordered queue:
// puts with increasing and with random time stamps at 1k and 32k items (the
// "per_put" counter is the time of one put, "compares" the calls of the order
// function per put), a put-then-take cycle, and the hand-off of items from
// one thread to a waiting one. A put lands in the queue's box and is ordered
// when a thread next looks at the queue: "per_put" holds both. Beside the
// puts, in the same run, the peer: a std::multiset ordered by (stamp,
// arrival) under a std::recursive_mutex, filled with the same items.
#include <benchmark/benchmark.h>

#include <atomic>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "VOQ_OSAL.h"

namespace {

struct Item {
    TimeVal stTimeStamp;
};

// True when second is not earlier than first.
BOOL8 OSAL_CALL NotEarlier(const void *first, const void *second) {
    const TimeVal &a = static_cast<const Item *>(first)->stTimeStamp;
    const TimeVal &b = static_cast<const Item *>(second)->stTimeStamp;
    if (a.i32Seconds != b.i32Seconds) return a.i32Seconds < b.i32Seconds;
    return a.dwMicroseconds <= b.dwMicroseconds;
}

// The same order, counting its calls: the puts' "compares" counter shows how
// the search grows with the queue, apart from what the caches make of it.
uint64_t g_compares = 0;
BOOL8 OSAL_CALL CountingNotEarlier(const void *first, const void *second) {
    ++g_compares;
    return NotEarlier(first, second);
}

std::vector<Item> MakeItems(size_t n, bool random) {
    std::vector<Item> items(n);
    std::mt19937 rng(12345);
    for (size_t i = 0; i < n; ++i) {
        uint32_t t = random ? static_cast<uint32_t>(rng() % 1000000000u) : static_cast<uint32_t>(i * 1000);
        items[i].stTimeStamp = TimeVal{t % 1000000u, static_cast<int32_t>(1700000000 + t / 1000000u)};
    }
    return items;
}

void Drain(OSAL_HQUEUE q) {
    while (OSAL_pvQueueGet(q, 0, OSAL_stTimeNoWait)) {
    }
}

// Only the puts and the look that orders them are timed; the queue is
// emptied outside the measurement.
void PutOnly(benchmark::State &state, bool random) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<Item> items = MakeItems(n, random);
    OSAL_HQUEUE q = OSAL_hQueueCreate(0, nullptr);
    for (auto _ : state) {
        for (Item &item : items) OSAL_boQueuePut(q, &item, NotEarlier);
        benchmark::DoNotOptimize(OSAL_pvQueuePeek(q, 0, OSAL_stTimeNoWait));
        state.PauseTiming();
        Drain(q);
        state.ResumeTiming();
    }
    g_compares = 0;  // one more fill, untimed, to count the compares
    for (Item &item : items) OSAL_boQueuePut(q, &item, CountingNotEarlier);
    OSAL_pvQueuePeek(q, 0, OSAL_stTimeNoWait);
    OSAL_vQueueDelete(q);
    state.counters["compares"] = static_cast<double>(g_compares) / static_cast<double>(n);
    state.counters["per_put"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void BM_QueuePutInOrder(benchmark::State &state) { PutOnly(state, false); }
void BM_QueuePutRandom(benchmark::State &state) { PutOnly(state, true); }
BENCHMARK(BM_QueuePutInOrder)->Arg(1024)->Arg(32768);
BENCHMARK(BM_QueuePutRandom)->Arg(1024)->Arg(32768);

// The peer's queue: equal stamps keep their arrival order, a put locks as
// the platform layer's does (re-entrant for its holder).
struct PeerQueue {
    struct Entry {
        int64_t stamp;
        uint64_t arrival;
        const Item *item;
        bool operator<(const Entry &o) const { return stamp != o.stamp ? stamp < o.stamp : arrival < o.arrival; }
    };
    std::recursive_mutex lock;  // guards items and arrivals
    std::multiset<Entry> items;
    uint64_t arrivals = 0;

    void Put(const Item *item) {
        std::lock_guard<std::recursive_mutex> hold(lock);
        const int64_t stamp = int64_t{item->stTimeStamp.i32Seconds} * 1000000 + item->stTimeStamp.dwMicroseconds;
        items.insert(Entry{stamp, arrivals++, item});
    }
    const Item *Peek() {
        std::lock_guard<std::recursive_mutex> hold(lock);
        return items.empty() ? nullptr : items.begin()->item;
    }
};

void PeerPutOnly(benchmark::State &state, bool random) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<Item> items = MakeItems(n, random);
    PeerQueue q;
    for (auto _ : state) {
        for (Item &item : items) q.Put(&item);
        benchmark::DoNotOptimize(q.Peek());
        state.PauseTiming();
        q.items.clear();
        state.ResumeTiming();
    }
    state.counters["per_put"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void BM_PeerMultisetPutInOrder(benchmark::State &state) { PeerPutOnly(state, false); }
void BM_PeerMultisetPutRandom(benchmark::State &state) { PeerPutOnly(state, true); }
BENCHMARK(BM_PeerMultisetPutInOrder)->Arg(1024)->Arg(32768);
BENCHMARK(BM_PeerMultisetPutRandom)->Arg(1024)->Arg(32768);

// Fill, then take everything in order; "per_item" is one put plus one take.
void PutTake(benchmark::State &state, bool random) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<Item> items = MakeItems(n, random);
    OSAL_HQUEUE q = OSAL_hQueueCreate(0, nullptr);
    for (auto _ : state) {
        for (Item &item : items) OSAL_boQueuePut(q, &item, NotEarlier);
        for (size_t i = 0; i < n; ++i) benchmark::DoNotOptimize(OSAL_pvQueueGet(q, 0, OSAL_stTimeNoWait));
    }
    OSAL_vQueueDelete(q);
    state.counters["per_item"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void BM_QueuePutTakeInOrder(benchmark::State &state) { PutTake(state, false); }
void BM_QueuePutTakeRandom(benchmark::State &state) { PutTake(state, true); }
BENCHMARK(BM_QueuePutTakeInOrder)->Arg(1024)->Arg(32768);
BENCHMARK(BM_QueuePutTakeRandom)->Arg(1024)->Arg(32768);

// One item to a thread waiting in Get and one back: a round trip per iteration.
void BM_QueueHandoffRoundTrip(benchmark::State &state) {
    OSAL_HQUEUE there = OSAL_hQueueCreate(0, nullptr);
    OSAL_HQUEUE back = OSAL_hQueueCreate(0, nullptr);
    Item ball{TimeVal{0, 1}};
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        for (;;) {
            void *p = OSAL_pvQueueGet(there, 1, OSAL_stTimeInfinite);
            if (stop) break;
            if (p) OSAL_boQueuePut(back, p, NotEarlier);
        }
    });
    for (auto _ : state) {
        OSAL_boQueuePut(there, &ball, NotEarlier);
        benchmark::DoNotOptimize(OSAL_pvQueueGet(back, 1, OSAL_stTimeInfinite));
    }
    stop = true;
    OSAL_boQueuePut(there, nullptr, nullptr);
    echo.join();
    OSAL_vQueueDelete(there);
    OSAL_vQueueDelete(back);
}
BENCHMARK(BM_QueueHandoffRoundTrip)->UseRealTime();

// A stream of items from this thread to a waiting taker; "per_item" is the
// cost of one hand-off.
void BM_QueueHandoffStream(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<Item> items = MakeItems(n, false);
    OSAL_HQUEUE q = OSAL_hQueueCreate(0, nullptr);
    std::atomic<size_t> taken{0};
    std::atomic<bool> stop{false};
    std::thread taker([&] {
        for (;;) {
            void *p = OSAL_pvQueueGet(q, 1, OSAL_stTimeInfinite);
            if (stop) break;
            if (p) taken.fetch_add(1, std::memory_order_release);
        }
    });
    size_t target = 0;
    for (auto _ : state) {
        for (Item &item : items) OSAL_boQueuePut(q, &item, NotEarlier);
        target += n;
        while (taken.load(std::memory_order_acquire) < target) std::this_thread::yield();
    }
    stop = true;
    OSAL_boQueuePut(q, nullptr, nullptr);
    taker.join();
    OSAL_vQueueDelete(q);
    state.counters["per_item"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}
BENCHMARK(BM_QueueHandoffStream)->Arg(1024)->UseRealTime();

// The random puts again, once the process has had a second thread: from then
// on the C library's locks (the peer's) and the box's lock take an atomic
// operation each, where in a process that never had one both skip it.
void StartAThread() {
    static const bool started = (std::thread([] {}).join(), true);
    benchmark::DoNotOptimize(started);
}
void BM_QueuePutRandomThreaded(benchmark::State &state) {
    StartAThread();
    PutOnly(state, true);
}
void BM_PeerMultisetPutRandomThreaded(benchmark::State &state) {
    StartAThread();
    PeerPutOnly(state, true);
}
BENCHMARK(BM_QueuePutRandomThreaded)->Arg(1024);
BENCHMARK(BM_PeerMultisetPutRandomThreaded)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
