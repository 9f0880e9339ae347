/*
 * common/alloc_countdown.h - the test builds' allocation-failure hook, once
 * for both libraries: each keeps one countdown of its own.
 *
 * Internal: included by common/alloc.cpp and osal/alloc.cpp only. Lock-free;
 * any thread may allocate while a test sets the countdown.
 */
#ifndef ZERA_COMMON_ALLOC_COUNTDOWN_H
#define ZERA_COMMON_ALLOC_COUNTDOWN_H

#include <atomic>

class AllocCountdown {
public:
    // Counts one allocation; false when the countdown says it is to fail.
    bool Allowed() {
        count_.fetch_add(1, std::memory_order_relaxed);
        long left = failAfter_.load(std::memory_order_relaxed);
        while (left >= 0) {
            if (left == 0) return false;
            if (failAfter_.compare_exchange_weak(left, left - 1)) return true;
        }
        return true;
    }
    // After n more allocations every one fails; a negative n: none fails.
    // Restarts the count.
    void FailAfter(long n) {
        count_.store(0);
        failAfter_.store(n < 0 ? -1 : n);
    }
    long Count() const { return count_.load(); }

private:
    std::atomic<long> failAfter_{-1};  // allocations left before failing; -1: never
    std::atomic<long> count_{0};       // allocations since FailAfter was last called
};

#endif  // ZERA_COMMON_ALLOC_COUNTDOWN_H
