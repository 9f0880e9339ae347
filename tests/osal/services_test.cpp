// tests/osal/services_test.cpp - the small services of the platform layer:
// byte order and mutexes.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "osal/os_support.h"
#include "support/refusal.h"

namespace {

// Every width both ways, to and from an unaligned place; any other width,
// direction or a null pointer is refused and changes nothing.
TEST(OsalByteOrder, EveryWidthBothWaysUnalignedAndBadInputChangesNothing) {
    const unsigned char wire[] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    auto check = [&](auto value) {
        const uint32_t width = sizeof value;
        SCOPED_TRACE(width);
        unsigned char buf[9] = {};
        decltype(value) back = 0;
        ASSERT_TRUE(OSAL_boConvertByteOrder(buf + 1, &value, width, OSAL_BO_TO_NETWORK));
        EXPECT_EQ(std::memcmp(buf + 1, wire, width), 0);
        ASSERT_TRUE(OSAL_boConvertByteOrder(buf + 1, &back, width, OSAL_BO_FROM_NETWORK));
        EXPECT_EQ(back, value);
    };
    check(uint8_t{0xFE});
    check(uint16_t{0xFEDC});
    check(uint32_t{0xFEDCBA98u});
    check(uint64_t{0xFEDCBA9876543210ull});
    unsigned char packet[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint64_t host = 0x1111111111111111ull;
    for (uint32_t width : {0u, 3u, 5u, 7u, 16u})
        EXPECT_REFUSED(OSAL_boConvertByteOrder(packet, &host, width, OSAL_BO_FROM_NETWORK), OSAL_ERR_INVALID_SIZE);
    EXPECT_REFUSED(OSAL_boConvertByteOrder(nullptr, &host, 4, OSAL_BO_TO_NETWORK), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_boConvertByteOrder(packet, nullptr, 4, OSAL_BO_FROM_NETWORK), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_boConvertByteOrder(packet, &host, 4, 2), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(host, 0x1111111111111111ull);
    EXPECT_EQ(std::memcmp(packet, "\1\2\3\4\5\6\7\10", 8), 0);
}

TEST(OsalMutex, RecursiveAndExcluding) {
    OSAL_HMUTEX m = OSAL_hMutexCreate();
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(OSAL_boMutexLock(m));
    ASSERT_TRUE(OSAL_boMutexLock(m));  // the same thread again
    OSAL_vMutexUnlock(m);
    const auto unlock = [m] { OSAL_vMutexUnlock(m); };
    EXPECT_TRUE(ot::WaitsFor([m] { return OSAL_boMutexLock(m) != 0; }, unlock, unlock));  // held once more till then
    EXPECT_REFUSED((OSAL_vMutexUnlock(m), 0), OSAL_ERR_SYSTEM);  // not held: refused, reported
    OSAL_vMutexDelete(m);
    EXPECT_REFUSED(OSAL_boMutexLock(nullptr), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED((OSAL_vMutexDelete(nullptr), 0), OSAL_ERR_INVALID_HANDLE);
}

// Four threads on two cores, some holders giving the processor away, so that
// contenders sleep: a lost wake-up hangs, a lost exclusion loses increments
// of the plain counter.
TEST(OsalMutex, ContendersSleepAndWakeWithoutLosingExclusion) {
    OSAL_HMUTEX m = OSAL_hMutexCreate();
    ASSERT_NE(m, nullptr);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([m, &counter] {
            for (int i = 0; i < 20000; ++i) {
                OSAL_boMutexLock(m);
                ++counter;
                if (i % 64 == 0) std::this_thread::yield();
                OSAL_vMutexUnlock(m);
            }
        });
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(counter, 4 * 20000);
    OSAL_vMutexDelete(m);
}

}  // namespace
