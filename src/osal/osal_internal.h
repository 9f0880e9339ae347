/*
 * osal/osal_internal.h - what the files of the platform layer share: its
 * allocator (with the test-only failure hook), string copies, and the
 * layer's time in microseconds. What the platform halves provide is in
 * osal/platform.h.
 *
 * Internal: included by src/osal/ and src/osal/<half>/ only; the library
 * above sees the platform layer through include/VOQ_OSAL.h alone.
 */
#ifndef OSAL_OSAL_INTERNAL_H
#define OSAL_OSAL_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <new>

#include "VOQ_OSAL.h"
#include "common/time_value.h"

namespace osal {

// ---- Memory ----------------------------------------------------------------

// Heap blocks of the platform layer. Every allocation comes from here so that
// the test hook can make any of them fail. Null on failure; no code is stored.
void *Alloc(size_t size);
void *AllocZero(size_t count, size_t size);
void Free(void *p);
// A zero-filled block on whole cache lines of its own, for objects that
// threads on several processors use at once (queues, mutexes). Freed with
// FreeLines only.
void *AllocZeroLines(size_t size);
void FreeLines(void *p);

// A standard allocator over Alloc/Free for the containers of the layer. It
// throws std::bad_alloc on failure; interface functions catch it and store
// OSAL_ERR_NO_MEMORY.
template <class T>
struct Allocator {
    using value_type = T;
    Allocator() noexcept = default;
    template <class U>
    Allocator(const Allocator<U> &) noexcept {}
    T *allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        void *p = Alloc(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t) noexcept { Free(p); }
    template <class U>
    bool operator==(const Allocator<U> &) const noexcept { return true; }
    template <class U>
    bool operator!=(const Allocator<U> &) const noexcept { return false; }
};

// Narrow heap copy of a 16-bit string: one byte per unit, units above 0xFF
// become '?'. Null when memory runs out (no code stored) or s is null.
char *WideToNarrowDup(const WCHAR16 *s);

// ---- Time ------------------------------------------------------------------

using zera::kMicrosPerSecond;
// A deadline that never comes.
constexpr int64_t kNever = INT64_MAX;

// The layer's clock in microseconds since the epoch, as OSAL_vGetSystemTime
// reports it: the manual clock while one runs, else the wall clock plus, in
// test builds, the controllable offset.
int64_t NowMicros();
// The test clock's offset in microseconds (0 outside test builds).
int64_t ClockOffsetMicros();

// The wall-clock moment (microseconds) at which a wait with this deadline
// ends: kNever for OSAL_stTimeInfinite, now + duration for a RELATIVE value,
// the value itself for an absolute one. NoWait gives now. Reads the clock
// only when the deadline depends on it.
int64_t DeadlineMicros(const TimeVal &deadline);

// Wakes every queue wait so that it measures its deadline against a changed
// clock (queue/sleep_and_wake.cpp): the manual clock moved, started or
// stopped, or the test offset changed. Takes the queues' registry lock and
// each queue's mutex.
void NotifyClockChanged();

// A queue wait that sleeps on the manual clock (clock.cpp): it has no real
// deadline, and the clock counts it as pending until its deadline comes.
struct ClockWait {
    int64_t deadline;
    ClockWait *prev;
    ClockWait *next;
};
// Registers w with the manual clock before the caller sleeps until a clock
// move wakes it; false (nothing registered) while no manual clock runs: the
// caller then sleeps on the real clock. The caller holds the mutex that the
// clock's move takes before it wakes the sleepers (the queue's), so that no
// move between the caller's look at the clock and its sleep is missed.
bool ClockWaitBegin(ClockWait *w, int64_t deadline);
// Unregisters a wait that ClockWaitBegin registered.
void ClockWaitEnd(ClockWait *w);

}  // namespace osal

#endif  // OSAL_OSAL_INTERNAL_H
