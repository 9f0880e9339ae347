// tests/osal/queue_wait_memory_test.cpp - a thread's first wait on a queue
// needs no memory: with every allocation failing it still sleeps until its
// deadline instead of failing at once (a caller that loops on such a wait
// would spin, and starve the threads it waits for).
#include <gtest/gtest.h>

#include <chrono>

#include "osal/osal_test_hooks.h"

namespace {

TEST(OsalQueueWaitMemory, AFirstWaitSleepsWithoutMemory) {
    const TimeVal wait = {250000 | OSAL_TIME_RELATIVE, 0};
    struct Case {
        const char *wait;
        bool (*run)(OSAL_HQUEUE q, const TimeVal &deadline);
    } cases[] = {
        {"for a change", [](OSAL_HQUEUE q, const TimeVal &d) { return OSAL_boQueueWaitChange(q, d) != 0; }},
        {"for an item", [](OSAL_HQUEUE q, const TimeVal &d) { return OSAL_pvQueueGet(q, 1, d) != nullptr; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.wait);
        OSAL_HQUEUE q = OSAL_hQueueCreate(0, nullptr);
        ASSERT_NE(q, nullptr);
        OSAL_vTestFailAllocAfter(0);
        OSAL_vSetLastError(OSAL_ERR_NONE);
        const auto start = std::chrono::steady_clock::now();
        const bool got = c.run(q, wait);
        const uint32_t code = OSAL_dwGetLastError();
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        OSAL_vTestFailAllocAfter(-1);
        EXPECT_FALSE(got);
        EXPECT_EQ(code, OSAL_ERR_NONE);
        EXPECT_GE(waited, 240);
        OSAL_vQueueDelete(q);
    }
}

}  // namespace
