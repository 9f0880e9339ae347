// support/alloc_sweep.h - the allocation-failure sweep every test program
// shares: an operation run under each allocation failure point of both
// libraries in turn (one countdown). Included by tests only.
#ifndef ZERA_TESTS_SUPPORT_ALLOC_SWEEP_H
#define ZERA_TESTS_SUPPORT_ALLOC_SWEEP_H

#include <gtest/gtest.h>

#include <cstdint>
#include <type_traits>

#include "VOQ_OSAL.h"
#include "osal/osal_test_hooks.h"

namespace zt {

// Turns allocation failure off again when a test ends.
struct AllocFailureGuard {
    ~AllocFailureGuard() { OSAL_vTestFailAllocAfter(-1); }
};

// What a failure may store, for SweepAllocFailures: any code but none.
constexpr uint32_t kAnyCode = 0xFFFFFFFFu;

// Runs make() with allocations failing after n successful ones, n = 0, 1, ...
// until it gives something true. Each failure must store `code` (a code, 0
// for none, kAnyCode, or a function of n giving one) and leave snapshot()
// as it was before the sweep; the success, after at least `least` failures,
// goes to release(). The leak checkers see what a failure left behind.
template <class Make, class Snapshot, class Release, class Code = uint32_t>
void SweepAllocFailures(Make make, Snapshot snapshot, Release release, long least = 1,
                        Code code = OSAL_ERR_NO_MEMORY) {
    AllocFailureGuard guard;
    const auto before = snapshot();
    for (long n = 0;; ++n) {
        ASSERT_LT(n, 10000) << "never succeeded";
        OSAL_vTestFailAllocAfter(n);
        OSAL_vSetLastError(0);
        auto made = make();
        OSAL_vTestFailAllocAfter(-1);
        if (made) {
            EXPECT_GE(n, least) << "fewer failure points than expected";
            release(made);
            return;
        }
        uint32_t want = 0;
        if constexpr (std::is_invocable_v<Code, long>) want = code(n);
        else want = code;
        EXPECT_TRUE(want == kAnyCode ? OSAL_dwGetLastError() != 0 : OSAL_dwGetLastError() == want)
            << "failure point " << n << ": code " << OSAL_dwGetLastError();
        EXPECT_TRUE(snapshot() == before) << "changed by failure point " << n;
    }
}

}  // namespace zt

#endif  // ZERA_TESTS_SUPPORT_ALLOC_SWEEP_H
