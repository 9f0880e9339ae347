// tests/osal/services_test.cpp - the small services of the platform layer:
// byte order, wall-clock time and its constants, mutexes, start and end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "VOQ_OSAL.h"

namespace {

TEST(OsalByteOrder, EveryWidthBothWays) {
    unsigned char packet[8];
    uint8_t u8 = 0xA5;
    ASSERT_TRUE(OSAL_boConvertByteOrder(packet, &u8, 1, OSAL_BO_TO_NETWORK));
    EXPECT_EQ(packet[0], 0xA5);

    uint16_t u16 = 0x1234;
    ASSERT_TRUE(OSAL_boConvertByteOrder(packet, &u16, 2, OSAL_BO_TO_NETWORK));
    EXPECT_EQ(packet[0], 0x12);
    EXPECT_EQ(packet[1], 0x34);

    uint32_t u32 = 0x89ABCDEFu;
    ASSERT_TRUE(OSAL_boConvertByteOrder(packet, &u32, 4, OSAL_BO_TO_NETWORK));
    const unsigned char want32[] = {0x89, 0xAB, 0xCD, 0xEF};
    EXPECT_EQ(std::memcmp(packet, want32, 4), 0);

    uint64_t u64 = 0x0102030405060708ull;
    ASSERT_TRUE(OSAL_boConvertByteOrder(packet, &u64, 8, OSAL_BO_TO_NETWORK));
    const unsigned char want64[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(std::memcmp(packet, want64, 8), 0);

    const unsigned char in[] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    unsigned char p[9];
    std::memcpy(p + 1, in, 8);  // unaligned on purpose
    ASSERT_TRUE(OSAL_boConvertByteOrder(p + 1, &u8, 1, OSAL_BO_FROM_NETWORK));
    EXPECT_EQ(u8, 0xFE);
    ASSERT_TRUE(OSAL_boConvertByteOrder(p + 1, &u16, 2, OSAL_BO_FROM_NETWORK));
    EXPECT_EQ(u16, 0xFEDC);
    ASSERT_TRUE(OSAL_boConvertByteOrder(p + 1, &u32, 4, OSAL_BO_FROM_NETWORK));
    EXPECT_EQ(u32, 0xFEDCBA98u);
    ASSERT_TRUE(OSAL_boConvertByteOrder(p + 1, &u64, 8, OSAL_BO_FROM_NETWORK));
    EXPECT_EQ(u64, 0xFEDCBA9876543210ull);
}

TEST(OsalByteOrder, BadInputChangesNothing) {
    unsigned char packet[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint64_t host = 0x1111111111111111ull;
    for (uint32_t width : {0u, 3u, 5u, 7u, 16u}) {
        OSAL_vSetLastError(0);
        EXPECT_FALSE(OSAL_boConvertByteOrder(packet, &host, width, OSAL_BO_FROM_NETWORK)) << width;
        EXPECT_EQ(OSAL_dwGetLastError(), 1034u);
        EXPECT_FALSE(OSAL_boConvertByteOrder(packet, &host, width, OSAL_BO_TO_NETWORK)) << width;
        EXPECT_EQ(OSAL_dwGetLastError(), 1034u);
    }
    EXPECT_FALSE(OSAL_boConvertByteOrder(nullptr, &host, 4, OSAL_BO_TO_NETWORK));
    EXPECT_EQ(OSAL_dwGetLastError(), 1028u);
    EXPECT_FALSE(OSAL_boConvertByteOrder(packet, nullptr, 4, OSAL_BO_FROM_NETWORK));
    EXPECT_EQ(OSAL_dwGetLastError(), 1028u);
    EXPECT_FALSE(OSAL_boConvertByteOrder(packet, &host, 4, 2));
    EXPECT_EQ(OSAL_dwGetLastError(), 1028u);
    EXPECT_EQ(host, 0x1111111111111111ull);
    const unsigned char same[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(std::memcmp(packet, same, 8), 0);
}

TEST(OsalTime, SystemTimeIsTheWallClockInNormalForm) {
    TimeVal t;
    OSAL_vGetSystemTime(&t);
    auto now = std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
    EXPECT_EQ(t.dwMicroseconds & OSAL_TIME_RELATIVE, 0u);
    EXPECT_LT(t.dwMicroseconds, 1000000u);
    EXPECT_LE(std::llabs(static_cast<long long>(t.i32Seconds) - static_cast<long long>(now)), 2);

    OSAL_vSetLastError(0);
    OSAL_vGetSystemTime(nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1028u);
}

TEST(OsalTime, Constants) {
    EXPECT_EQ(OSAL_stTimeNoWait.dwMicroseconds, 0u);
    EXPECT_EQ(OSAL_stTimeNoWait.i32Seconds, 0);
    EXPECT_NE(OSAL_stTimeInfinite.dwMicroseconds & OSAL_TIME_RELATIVE, 0u);
    EXPECT_EQ(OSAL_stTimeInfinite.dwMicroseconds, 0xFFFFFFFFu);
    EXPECT_EQ(OSAL_stTimeInfinite.i32Seconds, 0x7FFFFFFF);
    EXPECT_EQ(sizeof(TimeVal), 8u);
}

TEST(OsalMutex, RecursiveAndExcluding) {
    OSAL_HMUTEX m = OSAL_hMutexCreate();
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(OSAL_boMutexLock(m));
    ASSERT_TRUE(OSAL_boMutexLock(m));  // the same thread again
    int counter = 0;
    std::thread t([&] {
        ASSERT_TRUE(OSAL_boMutexLock(m));
        counter = 1;
        OSAL_vMutexUnlock(m);
    });
    OSAL_vMutexUnlock(m);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(counter, 0);  // still held once
    OSAL_vMutexUnlock(m);
    t.join();
    EXPECT_EQ(counter, 1);

    OSAL_vSetLastError(0);
    OSAL_vMutexUnlock(m);  // not held: refused, reported
    EXPECT_EQ(OSAL_dwGetLastError(), 1031u);
    OSAL_vMutexDelete(m);

    EXPECT_FALSE(OSAL_boMutexLock(nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), 1027u);
    OSAL_vSetLastError(0);
    OSAL_vMutexUnlock(nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1027u);
    OSAL_vSetLastError(0);
    OSAL_vMutexDelete(nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1027u);
}

TEST(OsalInit, CountedStartAndEnd) {
    EXPECT_TRUE(OSAL_boInit());
    EXPECT_TRUE(OSAL_boInit());
    OSAL_vDeinit();
    OSAL_vDeinit();
    OSAL_vDeinit();  // one too many is harmless
    EXPECT_TRUE(OSAL_boInit());
    OSAL_vDeinit();
}

}  // namespace
