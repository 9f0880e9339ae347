// tests/osal/osal_test_util.h - the check the platform layer's tests share: a
// call refused with an exact code. Included by tests/osal only.
#ifndef ZERA_TESTS_OSAL_OSAL_TEST_UTIL_H
#define ZERA_TESTS_OSAL_OSAL_TEST_UTIL_H

#include <gtest/gtest.h>

#include "VOQ_OSAL.h"

// Expects `call` to give false or null and to store `code` (a void call is
// written `(call, 0)`).
#define EXPECT_REFUSED(call, code)                                               \
    do {                                                                         \
        OSAL_vSetLastError(0);                                                   \
        EXPECT_FALSE(call) << #call;                                             \
        EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(code)) << #call;  \
    } while (0)

#endif  // ZERA_TESTS_OSAL_OSAL_TEST_UTIL_H
