// handle/test_stack.h - a stack for the handle tests (a kit-made level 0 with
// levels created and bound by hand, released top down when the test ends) and
// the allocation-failure walk the tests share. Included by tests/handle only.
#ifndef ZERA_TESTS_HANDLE_TEST_STACK_H
#define ZERA_TESTS_HANDLE_TEST_STACK_H

#include "evid/evid_test_util.h"
#include "handle/handle.h"

// The identifier tests' chain with level 0 alone, not complete.
struct TestStack : zt::LevelChain {
    TestStack() : LevelChain(0, false) {}
};

using zt::AllocFailureGuard;

// Makes each allocation of make(), in the library and then in the platform
// layer, fail in turn: each failure stores 1026 and passes unchanged() (the
// leak checker sees the rest); the first success goes to release().
template <class Make, class Check, class Release>
void FailEachAllocation(Make make, Check unchanged, Release release) {
    AllocFailureGuard guard;
    for (auto failAfter : {ZERA_vTestFailAllocAfter, OSAL_vTestFailAllocAfter}) {
        StackHandle *made = nullptr;
        long n = 0;
        for (; n < 100; ++n) {
            failAfter(n);
            OSAL_vSetLastError(0);
            made = make();
            failAfter(-1);
            if (made != nullptr) break;
            EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_NO_MEMORY)) << n;
            unchanged();
        }
        ASSERT_NE(made, nullptr);
        EXPECT_GE(n, 3);
        release(made);
    }
}

#endif  // ZERA_TESTS_HANDLE_TEST_STACK_H
