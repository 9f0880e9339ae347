// handle/test_stack.h - a stack for the handle tests (a kit-made level 0 with
// levels created and bound by hand, released top down when the test ends).
// Included by tests/handle only.
#ifndef ZERA_TESTS_HANDLE_TEST_STACK_H
#define ZERA_TESTS_HANDLE_TEST_STACK_H

#include "evid/evid_test_util.h"
#include "handle/handle.h"
#include "stack/stack_test_util.h"

// The identifier tests' chain with level 0 alone, not complete.
struct TestStack : zt::LevelChain {
    TestStack() : LevelChain(0, false) {}
};

using zt::AllocFailureGuard;
using zt::SweepAllocFailures;

#endif  // ZERA_TESTS_HANDLE_TEST_STACK_H
