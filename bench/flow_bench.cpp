// bench/flow_bench.cpp - speed of the event flow on a stack of three levels
// above the host, beside a plain mutex + condition variable hand-off as the
// floor:
//   SendToTake        host sends to level 3, level 3's taker takes it when due
//   FilterToReceive   level 1's filter puts an event, the host receives it
//                     (all masks: the queue's own take; masked: the walk)
//   RoundTrip         host -> level 3 (taken) -> answer through the filters
//                     of levels 3 to 1 -> host
// Each comes as "Latency" (one event in flight; the "median_us" counter is
// the median one-way time, or the round trip for RoundTrip) and "Stream"
// (a burst of 1024 events; "items_per_second"). SendToTake and RoundTrip
// come once more with the timeline written ("Traced", beside the plain
// ones in the same run): "records" counts what the file got, "lost_pct"
// the share of records the threads' buffers had no room for.
//
// The levels are made by hand (handle, entry table, empty parameter list),
// so the programs need no component modules.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "ZERA_Host.h"
#include "bench_util.h"

namespace {

constexpr uint32_t kAll = 0xFFFFFFFFu;
constexpr int64_t kBurst = 1024;

void WaitFor(const std::atomic<int64_t> &counter, int64_t target) {
    while (counter.load(std::memory_order_acquire) < target) std::this_thread::yield();
}

// ---- The floor: a plain locked queue with a condition variable -------------------

class PlainQueue {
public:
    void Put(uint64_t item) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            items_.push_back(item);
        }
        ready_.notify_one();
    }
    // Blocks for the next item; false once stopped and empty.
    bool Get(uint64_t *item) {
        std::unique_lock<std::mutex> hold(mutex_);
        ready_.wait(hold, [this] { return !items_.empty() || stopped_; });
        if (items_.empty()) return false;
        *item = items_.front();
        items_.pop_front();
        return true;
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            stopped_ = true;
        }
        ready_.notify_all();
    }

private:
    std::mutex mutex_;  // guards items_ and stopped_
    std::condition_variable ready_;
    std::deque<uint64_t> items_;
    bool stopped_ = false;
};

void Floor(benchmark::State &state, bool stream) {
    PlainQueue queue;
    std::atomic<int64_t> taken{0};
    std::vector<uint64_t> nanos;
    nanos.reserve(1 << 20);
    std::thread taker([&] {
        uint64_t sent = 0;
        while (queue.Get(&sent)) {
            if (!stream && nanos.size() < nanos.capacity()) nanos.push_back(SteadyNanos() - sent);
            taken.fetch_add(1, std::memory_order_release);
        }
    });
    int64_t target = 0;
    for (auto _ : state) {
        const int64_t n = stream ? kBurst : 1;
        for (int64_t i = 0; i < n; ++i) queue.Put(SteadyNanos());
        target += n;
        WaitFor(taken, target);
    }
    queue.Stop();
    taker.join();
    state.SetItemsProcessed(target);
    ReportMedian(state, nanos);
}

void BM_FloorLatency(benchmark::State &state) { Floor(state, false); }
void BM_FloorStream(benchmark::State &state) { Floor(state, true); }
BENCHMARK(BM_FloorLatency)->UseRealTime();
BENCHMARK(BM_FloorStream)->UseRealTime();

// ---- A stack of three levels above the host --------------------------------------

class BenchStack {
public:
    BenchStack() {
        levels_.push_back(ZERA_hHostStackCreate(nullptr));
        levels_[0]->dwStatus |= ZERA_STATUS_NO_EVID;
        for (int i = 1; i <= 3; ++i) {
            StackHandle *h = ZERA_hHandleCreate(levels_.back());
            h->dwStatus |= ZERA_STATUS_NO_EVID;
            ZERA_vModuleInitAPIHooksUp(h->apfnEntry);
            ZERA_vModuleInitAPIHooksDown(h->apfnEntry, nullptr);
            ZERA_boCreateParListA(&h->pstStackParams);
            ZERA_boHandleBind(levels_.back(), h);
            levels_.push_back(h);
        }
        // The host takes what levels 1 and 3 produce; levels 1 and 2 take nothing.
        ZERA_boSetEventTypes(levels_[2], 0, kAll);
        ZERA_boSetEventTypes(levels_[1], 0, kAll);
        ZERA_boSetEventTypes(levels_[0], (1u << 1) | (1u << 3), kAll);
        breakMutex_ = OSAL_hMutexCreate();
    }
    ~BenchStack() {
        while (levels_.size() > 1) {
            StackHandle *top = levels_.back();
            ZERA_vDeleteParamListA(top->pstStackParams);
            ZERA_vFree(top->pvComponentName);
            ZERA_boHandleClose(top);
            levels_.pop_back();
        }
        ZERA_boHostStackDestroy(levels_[0]);
        OSAL_vMutexDelete(breakMutex_);
    }
    StackHandle *operator[](size_t level) const { return levels_[level]; }

    // Runs `handle` on every event that level 3's taker takes, on a thread of
    // its own, until Stop.
    template <typename Handle>
    void StartTaker(Handle handle) {
        taker_ = std::thread([this, handle] {
            const TimeVal lead = OSAL_stTimeNoWait;
            while (Event *ev = ZERA_pstGetNextSendEvent(levels_[3], &lead, &stop_, breakMutex_)) handle(ev);
        });
    }
    void StopTaker() {
        ZERA_vBreakSendEventWait(levels_[3], &stop_, breakMutex_);
        taker_.join();
    }

private:
    std::vector<StackHandle *> levels_;
    OSAL_HMUTEX breakMutex_;
    BOOL8 stop_ = 0;  // guarded by breakMutex_
    std::thread taker_;
};

// The timeline written from construction to destruction, into a file that
// is read back for the counters and removed.
class Traced {
public:
    explicit Traced(benchmark::State &state) : state_(state) {
        if (!ZERA_boHostTraceStart(nullptr, kFile)) state.SkipWithError("the timeline did not start");
    }
    ~Traced() {
        if (!ZERA_boHostTraceStop()) return;
        FILE *file = std::fopen(kFile, "rb");
        if (file == nullptr) return;
        double records = 0, lost = 0;
        char line[512];
        while (std::fgets(line, sizeof line, file) != nullptr) {
            if (std::strncmp(line, "{\"ph\"", 5) == 0) ++records;
            if (const char *at = std::strstr(line, "\"records_lost\"")) {
                if ((at = std::strstr(at, "\"count\":")) != nullptr) lost = std::strtod(at + 8, nullptr);
            }
        }
        std::fclose(file);
        std::remove(kFile);
        state_.counters["records"] = records;
        state_.counters["lost_pct"] = records + lost > 0 ? 100.0 * lost / (records + lost) : 0;
    }

private:
    static constexpr const char *kFile = "flow_bench_timeline.json";
    benchmark::State &state_;
};

Event *Stamped(int32_t type, uint8_t level) {
    Event *ev = ZERA_pstCreateEvent(type, level, 16);
    ev->u64Aux1 = SteadyNanos();
    return ev;
}

void SendToTake(benchmark::State &state, bool stream, bool traced = false) {
    std::unique_ptr<Traced> timeline(traced ? new Traced(state) : nullptr);
    BenchStack stack;
    std::atomic<int64_t> taken{0};
    std::vector<uint64_t> nanos;
    nanos.reserve(1 << 20);
    stack.StartTaker([&](Event *ev) {
        if (!stream && nanos.size() < nanos.capacity()) nanos.push_back(SteadyNanos() - ev->u64Aux1);
        ZERA_boDeleteEvent(ev);
        taken.fetch_add(1, std::memory_order_release);
    });
    const TimeVal now = OSAL_stTimeNoWait;  // RELATIVE 0 would do as well: due at once
    int64_t target = 0;
    for (auto _ : state) {
        const int64_t n = stream ? kBurst : 1;
        for (int64_t i = 0; i < n; ++i) ZERA_boSendEvent(stack[0], Stamped(ZERA_EVENT_DATA, 3), 0, &now);
        target += n;
        WaitFor(taken, target);
    }
    stack.StopTaker();
    state.SetItemsProcessed(target);
    ReportMedian(state, nanos);
}

void BM_SendToTakeLatency(benchmark::State &state) { SendToTake(state, false); }
void BM_SendToTakeStream(benchmark::State &state) { SendToTake(state, true); }
void BM_SendToTakeStreamTraced(benchmark::State &state) { SendToTake(state, true, true); }
BENCHMARK(BM_SendToTakeLatency)->UseRealTime();
BENCHMARK(BM_SendToTakeStream)->UseRealTime();
BENCHMARK(BM_SendToTakeStreamTraced)->UseRealTime();

void FilterToReceive(benchmark::State &state, bool stream, uint32_t levelMask) {
    BenchStack stack;
    std::atomic<int64_t> received{0};
    std::atomic<bool> stop{false};
    std::vector<uint64_t> nanos;
    nanos.reserve(1 << 20);
    std::thread receiver([&] {
        for (;;) {
            Event *ev = ZERA_pstReceiveEvent(stack[0], levelMask, kAll, &OSAL_stTimeInfinite);
            if (ev == nullptr) {
                if (stop) return;
                continue;
            }
            if (!stream && nanos.size() < nanos.capacity()) nanos.push_back(SteadyNanos() - ev->u64Aux1);
            ZERA_boDeleteEvent(ev);
            received.fetch_add(1, std::memory_order_release);
        }
    });
    int64_t target = 0;
    for (auto _ : state) {
        const int64_t n = stream ? kBurst : 1;
        for (int64_t i = 0; i < n; ++i) ZERA_vInputFilter(stack[1], Stamped(ZERA_EVENT_DATA2, 1));
        target += n;
        WaitFor(received, target);
    }
    stop = true;
    ZERA_vBreakRecvEventWait(stack[0], nullptr, nullptr);
    receiver.join();
    state.SetItemsProcessed(target);
    ReportMedian(state, nanos);
}

void BM_FilterToReceiveLatency(benchmark::State &state) { FilterToReceive(state, false, kAll); }
void BM_FilterToReceiveStream(benchmark::State &state) { FilterToReceive(state, true, kAll); }
void BM_FilterToReceiveMaskedLatency(benchmark::State &state) { FilterToReceive(state, false, 1u << 1); }
void BM_FilterToReceiveMaskedStream(benchmark::State &state) { FilterToReceive(state, true, 1u << 1); }
BENCHMARK(BM_FilterToReceiveLatency)->UseRealTime();
BENCHMARK(BM_FilterToReceiveStream)->UseRealTime();
BENCHMARK(BM_FilterToReceiveMaskedLatency)->UseRealTime();
BENCHMARK(BM_FilterToReceiveMaskedStream)->UseRealTime();

void RoundTrip(benchmark::State &state, bool stream, bool traced = false) {
    std::unique_ptr<Traced> timeline(traced ? new Traced(state) : nullptr);
    BenchStack stack;
    stack.StartTaker([&](Event *ev) {
        Event *answer = ZERA_pstCreateEvent(ZERA_EVENT_DATA2, 3, 16);
        answer->u64Aux1 = ev->u64Aux1;
        ZERA_boDeleteEvent(ev);
        ZERA_vInputFilter(stack[3], answer);
    });
    std::vector<uint64_t> nanos;
    nanos.reserve(1 << 20);
    const TimeVal now = OSAL_stTimeNoWait;
    int64_t done = 0;
    for (auto _ : state) {
        const int64_t n = stream ? kBurst : 1;
        for (int64_t i = 0; i < n; ++i) ZERA_boSendEvent(stack[0], Stamped(ZERA_EVENT_DATA, 3), 0, &now);
        for (int64_t i = 0; i < n; ++i) {
            Event *answer = ZERA_pstReceiveEvent(stack[0], 1u << 3, kAll, &OSAL_stTimeInfinite);
            if (answer == nullptr) {
                state.SkipWithError("an answer got lost");
                break;
            }
            if (!stream) nanos.push_back(SteadyNanos() - answer->u64Aux1);
            ZERA_boDeleteEvent(answer);
        }
        done += n;
    }
    stack.StopTaker();
    state.SetItemsProcessed(done);
    ReportMedian(state, nanos);
}

void BM_RoundTripLatency(benchmark::State &state) { RoundTrip(state, false); }
void BM_RoundTripStream(benchmark::State &state) { RoundTrip(state, true); }
void BM_RoundTripStreamTraced(benchmark::State &state) { RoundTrip(state, true, true); }
BENCHMARK(BM_RoundTripLatency)->UseRealTime();
BENCHMARK(BM_RoundTripStream)->UseRealTime();
BENCHMARK(BM_RoundTripStreamTraced)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
