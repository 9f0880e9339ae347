/*
 * handle/test_stack.h - a stack for the handle tests (a level 0 made by the
 * host kit and levels created and bound on top of it by hand, released from
 * the top down at the end of the test) and the allocation-failure walk the
 * tests share. Included by tests/handle only.
 */
#ifndef ZERA_TESTS_HANDLE_TEST_STACK_H
#define ZERA_TESTS_HANDLE_TEST_STACK_H

#include <gtest/gtest.h>

#include <vector>

#include "ZERA_Host.h"
#include "common/test_hooks.h"
#include "handle/handle.h"
#include "osal/osal_test_hooks.h"
#include "support/refusal.h"

class TestStack {
public:
    explicit TestStack(HostStackDescriptor *desc = nullptr) : h0_(ZERA_hHostStackCreate(desc)) {
        EXPECT_NE(h0_, nullptr);
    }
    ~TestStack() {
        for (; !levels_.empty(); levels_.pop_back()) {
            ZERA_vFree(levels_.back()->pvComponentName);  // the stack subsystem's part when it removes a level
            levels_.back()->pvComponentName = nullptr;
            EXPECT_TRUE(ZERA_boHandleClose(levels_.back()));
        }
        EXPECT_TRUE(ZERA_boHostStackDestroy(h0_));
    }

    StackHandle *h0() const { return h0_; }
    HostStackDescriptor *desc() const { return static_cast<HostStackDescriptor *>(h0_->pvLevelContext); }
    StackHandle *top() const { return levels_.empty() ? h0_ : levels_.back(); }
    // Creates a level on the top and binds it there.
    StackHandle *Add() {
        StackHandle *h = ZERA_hHandleCreate(top());
        EXPECT_TRUE(h != nullptr && ZERA_boHandleBind(top(), h));
        if (h != nullptr) levels_.push_back(h);
        return h;
    }

private:
    StackHandle *h0_;
    std::vector<StackHandle *> levels_;
};

// Turns both allocation-failure hooks off again when a test ends.
struct AllocFailureGuard {
    ~AllocFailureGuard() {
        ZERA_vTestFailAllocAfter(-1);
        OSAL_vTestFailAllocAfter(-1);
    }
};

// Makes each allocation of make(), first in the library and then in the
// platform layer, fail in turn. Every failure must store 1026 and pass
// unchanged() (the leak checker sees whether it released what it made); the
// first success goes to release(). At least three failures per layer.
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
