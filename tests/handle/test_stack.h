/*
 * handle/test_stack.h - a stack for the handle tests: a level 0 made by the
 * host kit and levels created and bound on top of it by hand, released from
 * the top down at the end of the test. Included by tests/handle only.
 */
#ifndef ZERA_TESTS_HANDLE_TEST_STACK_H
#define ZERA_TESTS_HANDLE_TEST_STACK_H

#include <gtest/gtest.h>

#include <vector>

#include "ZERA_Host.h"
#include "common/test_hooks.h"
#include "handle/handle.h"
#include "osal/osal_test_hooks.h"

class TestStack {
public:
    explicit TestStack(HostStackDescriptor *desc = nullptr) : h0_(ZERA_hHostStackCreate(desc)) {
        EXPECT_NE(h0_, nullptr);
    }
    ~TestStack() {
        while (!levels_.empty()) {
            StackHandle *top = levels_.back();
            ZERA_vFree(top->pvComponentName);  // the stack subsystem's part when it removes a level
            top->pvComponentName = nullptr;
            EXPECT_TRUE(ZERA_boHandleClose(top));
            levels_.pop_back();
        }
        EXPECT_TRUE(ZERA_boHostStackDestroy(h0_));
    }
    TestStack(const TestStack &) = delete;
    TestStack &operator=(const TestStack &) = delete;

    StackHandle *h0() const { return h0_; }
    HostStackDescriptor *desc() const { return static_cast<HostStackDescriptor *>(h0_->pvLevelContext); }
    StackHandle *top() const { return levels_.empty() ? h0_ : levels_.back(); }
    // Creates a level on the top and binds it there.
    StackHandle *Add() {
        StackHandle *h = ZERA_hHandleCreate(top());
        EXPECT_NE(h, nullptr);
        if (h == nullptr) return nullptr;
        EXPECT_TRUE(ZERA_boHandleBind(top(), h));
        levels_.push_back(h);
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

#endif  // ZERA_TESTS_HANDLE_TEST_STACK_H
