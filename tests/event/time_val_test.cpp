// event/time_val_test.cpp - sum, difference and order of TimeVal values,
// with the infinite value and the RELATIVE flag.
#include <gtest/gtest.h>

#include <climits>

#include "event/event.h"

namespace {

constexpr uint32_t kRel = OSAL_TIME_RELATIVE;
const TimeVal kInf = OSAL_stTimeInfinite;

std::pair<uint32_t, int32_t> P(const TimeVal &t) { return {t.dwMicroseconds, t.i32Seconds}; }

TEST(TimeVal, SumDifferenceOrderAndConstantsOnBothWords) {
    EXPECT_TRUE(zera::TimeIsInfinite(kInf) && zera::TimeIsRelative(kInf) && zera::TimeIsNoWait(TimeVal{0, 0}));
    EXPECT_FALSE(zera::TimeIsInfinite(TimeVal{0xFFFFFFFFu, 0}) || zera::TimeIsInfinite(TimeVal{0, INT32_MAX}) ||
                 zera::TimeIsNoWait(TimeVal{kRel, 0}));
    const struct { TimeVal (*op)(const TimeVal &, const TimeVal &); TimeVal a, b, result; } cases[] = {
        {zera::TimeSum, {500000, 10}, {kRel | 600000, 2}, {100000, 13}},  // carries, drops the flag
        {zera::TimeSum, {kRel | 5, 1}, {kRel | 6, 2}, {11, 3}},  // both flagged: the carry out of bit 31 goes
        {zera::TimeSum, {0, INT32_MAX}, {kRel, 1}, {0, INT32_MIN}},  // seconds wrap
        {zera::TimeSum, kInf, {kRel | 5, 1}, kInf},
        {zera::TimeDifference, {100000, 4}, {600000, 2}, {500000, 1}},  // borrows a second
        {zera::TimeDifference, {0, 0}, {1, 0}, {999999, -1}},
        {zera::TimeDifference, {5, 1}, kInf, {0, 0}},
        {zera::TimeDifference, kInf, kInf, {0, 0}},
        {zera::TimeDifference, kInf, {5, 1}, kInf},
    };
    for (const auto &c : cases) EXPECT_EQ(P(c.op(c.a, c.b)), P(c.result)) << "case " << &c - cases;

    // Seconds first (by signed difference: wrapped is later), then microseconds without the flag.
    const TimeVal order[][2] = {{{0, 2}, {999999, 1}}, {{6, 1}, {kRel | 5, 1}}, {{0, INT32_MIN}, {0, INT32_MAX}}};
    for (const auto &o : order) {
        EXPECT_TRUE(zera::TimeIsLater(o[0], o[1]) && !zera::TimeIsLater(o[1], o[0])) << o[0].i32Seconds;
    }
    EXPECT_FALSE(zera::TimeIsLater(TimeVal{kRel | 5, 1}, TimeVal{5, 1}));
}

}  // namespace
