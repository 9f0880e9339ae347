// support/refusal.h - the check every test program shares: a call refused
// with an exact error code. Included by tests only.
#ifndef ZERA_TESTS_SUPPORT_REFUSAL_H
#define ZERA_TESTS_SUPPORT_REFUSAL_H

#include <gtest/gtest.h>

#include <cstdint>

#include "VOQ_OSAL.h"

// Expects `call` to give false, null or 0 and to store `code` (a void call
// is written `(call, 0)`). The code is cleared first, so the call must store
// its own.
#define EXPECT_REFUSED(call, code)                                                   \
    do {                                                                             \
        OSAL_vSetLastError(0);                                                       \
        EXPECT_FALSE(call) << #call;                                                 \
        EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(code)) << #call;      \
    } while (0)

#endif  // ZERA_TESTS_SUPPORT_REFUSAL_H
