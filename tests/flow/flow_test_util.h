// flow/flow_test_util.h - helpers for the event-flow tests: host stacks of
// test components, a test component's call trace, times, events, a look
// into a queue, break flags and thread CPU time. Included by tests/flow only.
#ifndef ZERA_TESTS_FLOW_FLOW_TEST_UTIL_H
#define ZERA_TESTS_FLOW_FLOW_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "ZERA_Host.h"
#include "event/event.h"
#include "osal/osal_test_hooks.h"

namespace ft {

inline const WCHAR16 *W(const char16_t *s) { return reinterpret_cast<const WCHAR16 *>(s); }

// A host level 0 (kit-made descriptor) with test components added on top;
// taken down, levels first, when the test ends. Without identifier
// management (bit 30 at level 0, copied by every added level) events need
// no owner and repeating events can be made.
class Stack {
public:
    explicit Stack(bool managed = false) : h0_(ZERA_hHostStackCreate(nullptr)) {
        EXPECT_NE(h0_, nullptr);
        if (!managed) h0_->dwStatus |= ZERA_STATUS_NO_EVID;
    }
    Stack(std::initializer_list<const char *> components, bool managed = false) : Stack(managed) {
        for (const char *name : components) Add(name);
    }
    ~Stack() { EXPECT_TRUE(ZERA_boHostStackDestroy(h0_)) << OSAL_pszGetLastErrorText(); }
    Stack(const Stack &) = delete;
    Stack &operator=(const Stack &) = delete;

    StackHandle *Add(const char *name) {
        const uint8_t level = ZERA_bAddToStackA(h0_, name);
        EXPECT_NE(level, 0) << name << ": " << OSAL_pszGetLastErrorText();
        return level != 0 ? (*this)[level] : nullptr;
    }
    StackHandle *AddWide(const char16_t *name) {
        const uint8_t level = ZERA_bAddToStackW(h0_, W(name));
        EXPECT_NE(level, 0) << OSAL_pszGetLastErrorText();
        return level != 0 ? (*this)[level] : nullptr;
    }
    StackHandle *h0() const { return h0_; }
    StackHandle *operator[](uint32_t level) const {
        StackHandle *h = h0_;
        while (h != nullptr && h->u8Level < level) h = ZERA_hHandleGetNextLevel(h);
        return h;
    }
    StackHandle *Top() const {
        StackHandle *h = h0_;
        while (StackHandle *next = ZERA_hHandleGetNextLevel(h)) h = next;
        return h;
    }

private:
    StackHandle *h0_;
};

// Kinds in a test component's trace (tests/components/test_component.h).
enum TraceKind : uint32_t { kNotify = 4, kStart = 5, kStop = 6 };

// A test component module held loaded, to read its trace (data exports
// "TestTrace" and "TestTraceCount") as level numbers per kind of call.
class ComponentTrace {
public:
    explicit ComponentTrace(const char *name) : module_(OSAL_hLoadLibraryA((std::string(name) + ".COMPONENT").c_str())) {
        EXPECT_NE(module_, nullptr) << OSAL_pszGetLastErrorText();
        if (module_ == nullptr) return;
        entries_ = reinterpret_cast<uint32_t *>(OSAL_pfnGetProcAddress(module_, "TestTrace"));
        count_ = reinterpret_cast<uint32_t *>(OSAL_pfnGetProcAddress(module_, "TestTraceCount"));
        Clear();
    }
    ~ComponentTrace() {
        if (module_ != nullptr) {
            EXPECT_TRUE(OSAL_boFreeLibrary(module_));
        }
    }
    ComponentTrace(const ComponentTrace &) = delete;
    ComponentTrace &operator=(const ComponentTrace &) = delete;

    void Clear() {
        if (count_ != nullptr) *count_ = 0;
    }
    std::vector<uint32_t> Levels(TraceKind kind) const {
        std::vector<uint32_t> levels;
        if (count_ == nullptr || entries_ == nullptr) return levels;
        for (uint32_t i = 0; i < *count_; ++i) {
            if (entries_[i] >> 8 == kind) levels.push_back(entries_[i] & 0xFF);
        }
        return levels;
    }

private:
    OSAL_HMODULE module_;
    uint32_t *entries_ = nullptr;
    uint32_t *count_ = nullptr;
};

// ---- Time --------------------------------------------------------------------------

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
// Seconds on a steady clock, for measuring how long a call took.
inline double Seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
inline double ThreadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Puts the platform clock back to real time when a test ends.
struct ClockGuard {
    ~ClockGuard() { OSAL_vTestSetClockOffset(0); }
};

// ---- Events ---------------------------------------------------------------------------

// A data event of `type` for `level` with `size` bytes, without owner.
inline Event *Data(int32_t type, uint8_t level, uint32_t size = 4) { return ZERA_pstCreateEvent(type, level, size); }

// A repeating type-1 master for level `level` (a stack without identifier
// management): count deliveries (0: without end), one per period.
inline Event *Master(StackHandle *sender, uint8_t level, uint16_t count, int64_t periodMicros) {
    Event *ev = ZERA_pstCreateEventEx(sender, ZERA_EVENT_DATA, level, 4, 1, count);
    EXPECT_NE(ev, nullptr) << OSAL_pszGetLastErrorText();
    if (ev != nullptr) ev->stPeriod = Relative(periodMicros);
    return ev;
}

// A type-1 cancel or modify for the queued events of `level` named by id.
inline Event *QueueOp(uint8_t level, uint32_t id, uint8_t op, uint32_t size = 4) {
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_DATA, level, size);
    ev->dwEventId = id;
    ev->dwOwnerEventId = id;
    ev->u8QueueOp = op;
    return ev;
}

// A stack status event made by hand, as the library hands them on.
inline Event *StatusEvent(uint8_t level, uint32_t status) {
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_ITEMS, level, 12);
    const uint32_t item[3] = {0, 12, status};
    std::memcpy(ev->pbItems, item, sizeof item);
    ev->dwItemCount = 1;
    return ev;
}
inline uint32_t StatusOf(const Event *ev) {
    uint32_t item[3];
    std::memcpy(item, ev->pbItems, sizeof item);
    return item[2];
}

inline bool Send(StackHandle *h, Event *ev, const TimeVal &when, uint32_t flags = 0) {
    return ZERA_boSendEvent(h, ev, flags, &when) != 0;
}

// ---- Queues ------------------------------------------------------------------------------

// The events in a queue, in queue order (they stay queued).
inline std::vector<Event *> Queued(OSAL_HQUEUE queue) {
    std::vector<Event *> items;
    OSAL_HQCURSOR cursor = OSAL_hQueueLock(queue);
    EXPECT_NE(cursor, nullptr);
    if (cursor == nullptr) return items;
    while (auto *ev = static_cast<Event *>(OSAL_pvQueueNext(cursor))) items.push_back(ev);
    OSAL_vQueueUnlock(cursor);
    return items;
}

// Deletes everything in a queue.
inline void Drain(OSAL_HQUEUE queue) {
    while (auto *ev = static_cast<Event *>(OSAL_pvQueueGet(queue, 0, OSAL_stTimeNoWait))) ZERA_boDeleteEvent(ev);
}

// A caller's break flag with the mutex that guards it.
struct BreakFlag {
    BOOL8 flag = 0;
    OSAL_HMUTEX mutex = OSAL_hMutexCreate();
    BreakFlag() = default;
    ~BreakFlag() { OSAL_vMutexDelete(mutex); }
    BreakFlag(const BreakFlag &) = delete;
    BreakFlag &operator=(const BreakFlag &) = delete;
    bool Set() {
        OSAL_boMutexLock(mutex);
        const bool set = flag != 0;
        OSAL_vMutexUnlock(mutex);
        return set;
    }
    void Clear() {
        OSAL_boMutexLock(mutex);
        flag = 0;
        OSAL_vMutexUnlock(mutex);
    }
};

inline Event *Take(StackHandle *h, BreakFlag &brk, int64_t leadMicros = 0) {
    const TimeVal lead = Absolute(leadMicros);
    return ZERA_pstGetNextSendEvent(h, &lead, &brk.flag, brk.mutex);
}

}  // namespace ft

#endif  // ZERA_TESTS_FLOW_FLOW_TEST_UTIL_H
