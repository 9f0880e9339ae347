// event/time_val.cpp - sum, difference and order of TimeVal values, as the
// event record, the send queues and the input filter compute with them.
//
// Seconds are computed modulo 2^32 (as unsigned words, then read back as
// signed), so that no overflow is undefined and far-apart stamps wrap the
// way the order test expects.
#include "event/event.h"

namespace zera {

namespace {

constexpr uint32_t kBorrowBit = 0x40000000u;

int32_t WrapSeconds(uint32_t seconds) { return static_cast<int32_t>(seconds); }

}  // namespace

TimeVal TimeSum(const TimeVal &time, const TimeVal &duration) {
    if (TimeIsInfinite(time) || TimeIsInfinite(duration)) return OSAL_stTimeInfinite;
    uint32_t seconds = static_cast<uint32_t>(time.i32Seconds) + static_cast<uint32_t>(duration.i32Seconds);
    uint32_t micros = (time.dwMicroseconds + duration.dwMicroseconds) & OSAL_TIME_USEC_MASK;
    if (micros >= kMicrosPerSecond) {
        ++seconds;
        micros -= static_cast<uint32_t>(kMicrosPerSecond);
    }
    return TimeVal{micros, WrapSeconds(seconds)};
}

TimeVal TimeDifference(const TimeVal &a, const TimeVal &b) {
    if (TimeIsInfinite(b)) return OSAL_stTimeNoWait;
    if (TimeIsInfinite(a)) return OSAL_stTimeInfinite;
    uint32_t seconds = static_cast<uint32_t>(a.i32Seconds) - static_cast<uint32_t>(b.i32Seconds);
    uint32_t micros = (a.dwMicroseconds - b.dwMicroseconds) & OSAL_TIME_USEC_MASK;
    if ((micros & kBorrowBit) != 0) {
        --seconds;
        micros = (micros + static_cast<uint32_t>(kMicrosPerSecond)) & OSAL_TIME_USEC_MASK;
    }
    return TimeVal{micros, WrapSeconds(seconds)};
}

bool TimeIsLater(const TimeVal &a, const TimeVal &b) {
    const int32_t seconds = WrapSeconds(static_cast<uint32_t>(a.i32Seconds) - static_cast<uint32_t>(b.i32Seconds));
    if (seconds > 0) return true;
    if (a.i32Seconds != b.i32Seconds) return false;
    // Shifting out bit 31 leaves the RELATIVE flags out of the comparison.
    return static_cast<int32_t>((a.dwMicroseconds - b.dwMicroseconds) << 1) > 0;
}

}  // namespace zera
