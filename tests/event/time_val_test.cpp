// event/time_val_test.cpp - sum, difference and order of TimeVal values,
// with the infinite value and the RELATIVE flag.
#include <gtest/gtest.h>

#include <climits>

#include "event/event.h"

namespace {

constexpr uint32_t kRel = OSAL_TIME_RELATIVE;

void ExpectTime(const TimeVal &t, uint32_t micros, int32_t seconds) {
    EXPECT_EQ(t.dwMicroseconds, micros);
    EXPECT_EQ(t.i32Seconds, seconds);
}

TEST(TimeVal, ConstantsAreTestedOnBothWords) {
    EXPECT_TRUE(zera::TimeIsInfinite(OSAL_stTimeInfinite));
    EXPECT_TRUE(zera::TimeIsRelative(OSAL_stTimeInfinite));
    EXPECT_FALSE(zera::TimeIsInfinite(TimeVal{0xFFFFFFFFu, 0}));
    EXPECT_FALSE(zera::TimeIsInfinite(TimeVal{0, INT32_MAX}));
    EXPECT_TRUE(zera::TimeIsNoWait(TimeVal{0, 0}));
    EXPECT_FALSE(zera::TimeIsNoWait(TimeVal{kRel, 0}));
}

TEST(TimeVal, SumCarriesAndDropsTheRelativeFlag) {
    ExpectTime(zera::TimeSum(TimeVal{500000, 10}, TimeVal{kRel | 600000, 2}), 100000, 13);
    ExpectTime(zera::TimeSum(TimeVal{999999, 1}, TimeVal{kRel | 1, 0}), 0, 2);
    ExpectTime(zera::TimeSum(TimeVal{3, 1}, TimeVal{kRel | 4, 0}), 7, 1);
    // Both flagged: the carry out of bit 31 is dropped with them.
    ExpectTime(zera::TimeSum(TimeVal{kRel | 5, 1}, TimeVal{kRel | 6, 2}), 11, 3);
    // Seconds wrap instead of overflowing.
    ExpectTime(zera::TimeSum(TimeVal{0, INT32_MAX}, TimeVal{kRel, 1}), 0, INT32_MIN);
}

TEST(TimeVal, SumWithInfiniteIsInfinite) {
    EXPECT_TRUE(zera::TimeIsInfinite(zera::TimeSum(OSAL_stTimeInfinite, TimeVal{kRel | 5, 1})));
    EXPECT_TRUE(zera::TimeIsInfinite(zera::TimeSum(TimeVal{5, 1}, OSAL_stTimeInfinite)));
}

TEST(TimeVal, DifferenceBorrowsASecond) {
    // (100000 - 600000) masked has bit 30 set: one second is borrowed.
    ExpectTime(zera::TimeDifference(TimeVal{100000, 4}, TimeVal{600000, 2}), 500000, 1);
    ExpectTime(zera::TimeDifference(TimeVal{700000, 4}, TimeVal{kRel | 600000, 2}), 100000, 2);
    ExpectTime(zera::TimeDifference(TimeVal{0, 0}, TimeVal{1, 0}), 999999, -1);
}

TEST(TimeVal, DifferenceWithInfinite) {
    EXPECT_TRUE(zera::TimeIsNoWait(zera::TimeDifference(TimeVal{5, 1}, OSAL_stTimeInfinite)));
    EXPECT_TRUE(zera::TimeIsNoWait(zera::TimeDifference(OSAL_stTimeInfinite, OSAL_stTimeInfinite)));
    EXPECT_TRUE(zera::TimeIsInfinite(zera::TimeDifference(OSAL_stTimeInfinite, TimeVal{5, 1})));
}

TEST(TimeVal, LaterComparesSecondsThenMicrosecondsWithoutTheFlag) {
    EXPECT_TRUE(zera::TimeIsLater(TimeVal{0, 2}, TimeVal{999999, 1}));
    EXPECT_FALSE(zera::TimeIsLater(TimeVal{999999, 1}, TimeVal{0, 2}));
    EXPECT_TRUE(zera::TimeIsLater(TimeVal{6, 1}, TimeVal{5, 1}));
    EXPECT_FALSE(zera::TimeIsLater(TimeVal{5, 1}, TimeVal{5, 1}));
    EXPECT_FALSE(zera::TimeIsLater(TimeVal{kRel | 5, 1}, TimeVal{5, 1}));
    EXPECT_TRUE(zera::TimeIsLater(TimeVal{6, 1}, TimeVal{kRel | 5, 1}));
    // A signed difference of the seconds: the wrapped value is the later one.
    EXPECT_TRUE(zera::TimeIsLater(TimeVal{0, INT32_MIN}, TimeVal{0, INT32_MAX}));
    EXPECT_FALSE(zera::TimeIsLater(TimeVal{0, INT32_MAX}, TimeVal{0, INT32_MIN}));
}

}  // namespace
