// flow/flow_test_util.h - helpers of the event-flow tests: stacks without
// identifier management, times, events, queues, break flags, idle CPU time.
#ifndef ZERA_TESTS_FLOW_FLOW_TEST_UTIL_H
#define ZERA_TESTS_FLOW_FLOW_TEST_UTIL_H

#include <atomic>
#include <ctime>
#include <thread>

#include "event/event.h"
#include "ZERA_Component.h"
#include "stack/stack_test_util.h"

namespace st {

constexpr int64_t kSecond = 1000000;
constexpr uint32_t kAll = 0xFFFFFFFFu;

// Without identifier management events need no owner and masters can be made.
struct FlowStack : Stack {
    explicit FlowStack(std::initializer_list<const char *> components = {}) : Stack(components, ZERA_STATUS_NO_EVID) {}
};

inline TimeVal Relative(int64_t micros) {
    return TimeVal{static_cast<uint32_t>(micros % 1000000) | OSAL_TIME_RELATIVE, static_cast<int32_t>(micros / 1000000)};
}
inline TimeVal Absolute(int64_t micros) {
    return TimeVal{static_cast<uint32_t>(micros % 1000000), static_cast<int32_t>(micros / 1000000)};
}
inline int64_t Micros(const TimeVal &t) {
    return static_cast<int64_t>(t.i32Seconds) * 1000000 + (t.dwMicroseconds & OSAL_TIME_USEC_MASK);
}
inline int64_t NowMicros() {
    TimeVal now;
    OSAL_vGetSystemTime(&now);
    return Micros(now);
}
// Seconds on `clock` (the thread's CPU clock shows whether a waiter sleeps).
inline double Seconds(clockid_t clock = CLOCK_MONOTONIC) {
    timespec ts;
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A data event of `type` for `level` with `size` bytes, without owner.
inline Event *Data(int32_t type, uint8_t level, uint32_t size = 4) { return ZERA_pstCreateEvent(type, level, size); }

// A repeating type-1 master for `level`: count deliveries (0: without end), one per period.
inline Event *Master(StackHandle *sender, uint8_t level, uint16_t count, int64_t periodMicros) {
    Event *ev = ZERA_pstCreateEventEx(sender, ZERA_EVENT_DATA, level, 4, 1, count);
    EXPECT_NE(ev, nullptr) << LastText();
    if (ev != nullptr) ev->stPeriod = Relative(periodMicros);
    return ev;
}

// A type-1 cancel or modify for the queued events of `level` named by id.
inline Event *QueueOp(uint8_t level, uint32_t id, uint8_t op, uint32_t size = 4) {
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_DATA, level, size);
    ev->dwEventId = ev->dwOwnerEventId = id;
    ev->u8QueueOp = op;
    return ev;
}

inline bool Send(StackHandle *h, Event *ev, const TimeVal &when, uint32_t flags = 0) {
    return ZERA_boSendEvent(h, ev, flags, &when) != 0;
}
inline Event *ReceiveNow(StackHandle *h, uint32_t levels = kAll, uint32_t types = kAll) {
    return ZERA_pstReceiveEvent(h, levels, types, &OSAL_stTimeNoWait);
}

// The events in a queue, in queue order (they stay queued).
inline std::vector<Event *> Queued(OSAL_HQUEUE queue) {
    std::vector<Event *> items;
    zera::QueueWalk walk(queue);
    EXPECT_TRUE(walk.Locked());
    while (auto *ev = static_cast<Event *>(walk.Next())) items.push_back(ev);
    return items;
}

// Deletes everything in a queue.
inline void Drain(OSAL_HQUEUE queue) {
    while (auto *ev = static_cast<Event *>(OSAL_pvQueueGet(queue, 0, OSAL_stTimeNoWait))) ZERA_boDeleteEvent(ev);
}

// A caller's break flag with the mutex that guards it (not to be copied).
struct BreakFlag {
    BOOL8 flag = 0;  // guarded by mutex
    OSAL_HMUTEX mutex = OSAL_hMutexCreate();
    ~BreakFlag() { OSAL_vMutexDelete(mutex); }
    // Reads the flag and, if `clear`, clears it.
    bool Set(bool clear = false) {
        zera::MutexHold hold(mutex, zera::LockRank::kBreakMutex);
        const bool set = flag != 0;
        if (clear) flag = 0;
        return set;
    }
};

inline Event *Take(StackHandle *h, BreakFlag &brk, int64_t leadMicros = 0) {
    const TimeVal lead = Absolute(leadMicros);
    return ZERA_pstGetNextSendEvent(h, &lead, &brk.flag, brk.mutex);
}

// Whether `returned` turns true within 10 s. A waiter that missed its break
// is then freed by breaking again (`fire`) until it returns.
template <typename Fire>
bool ReturnsSoon(const std::atomic<bool> &returned, Fire fire) {
    for (int i = 0; i < 10000 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool soon = returned;
    for (; !returned; std::this_thread::sleep_for(std::chrono::milliseconds(10))) fire();
    return soon;
}

// Runs `wait` on a thread, breaks it with `fire` 300 ms later (expecting null);
// returns the CPU seconds the waiter used.
template <typename Wait, typename Fire>
double IdleWaitCpu(Wait wait, Fire fire) {
    std::atomic<double> cpu{-1};
    std::thread waiter([&] {
        const double before = Seconds(CLOCK_THREAD_CPUTIME_ID);
        EXPECT_EQ(wait(), nullptr);
        cpu = Seconds(CLOCK_THREAD_CPUTIME_ID) - before;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    fire();
    waiter.join();
    return cpu;
}

}  // namespace st

#endif  // ZERA_TESTS_FLOW_FLOW_TEST_UTIL_H
