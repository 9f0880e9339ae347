/*
 * common/time_value.h - what a TimeVal is: the tests for the two special
 * values and for a duration counted from now, and the conversions between a
 * TimeVal and microseconds. Header-only, so that the platform layer and the
 * library share one definition without either exporting it.
 *
 * Internal: included by src/ only. None of these store a code.
 */
#ifndef ZERA_COMMON_TIME_VALUE_H
#define ZERA_COMMON_TIME_VALUE_H

#include <cstdint>

#include "VOQ_OSAL.h"

namespace zera {

constexpr int64_t kMicrosPerSecond = 1000000;

// The values of OSAL_stTimeInfinite (every bit of the microseconds, so
// RELATIVE is set, and the largest second count) and OSAL_stTimeNoWait.
constexpr TimeVal kTimeInfinite = {0xFFFFFFFFu, INT32_MAX};
constexpr TimeVal kTimeNoWait = {0u, 0};

// Equality with either is tested on both words.
inline bool TimeEquals(const TimeVal &a, const TimeVal &b) {
    return a.dwMicroseconds == b.dwMicroseconds && a.i32Seconds == b.i32Seconds;
}
inline bool TimeIsInfinite(const TimeVal &t) { return TimeEquals(t, kTimeInfinite); }
inline bool TimeIsNoWait(const TimeVal &t) { return TimeEquals(t, kTimeNoWait); }
// Bit 31 of the microseconds: a duration counted from now. Infinite has it.
inline bool TimeIsRelative(const TimeVal &t) { return (t.dwMicroseconds & OSAL_TIME_RELATIVE) != 0; }

// The value of a TimeVal in microseconds, the RELATIVE bit ignored.
inline int64_t TimeToMicros(const TimeVal &t) {
    return static_cast<int64_t>(t.i32Seconds) * kMicrosPerSecond +
           static_cast<int64_t>(t.dwMicroseconds & OSAL_TIME_USEC_MASK);
}

// An absolute TimeVal in normal form (microseconds below one million, also
// for a negative count).
inline TimeVal TimeFromMicros(int64_t micros) {
    int64_t seconds = micros / kMicrosPerSecond;
    int64_t rest = micros % kMicrosPerSecond;
    if (rest < 0) {
        rest += kMicrosPerSecond;
        --seconds;
    }
    return TimeVal{static_cast<uint32_t>(rest), static_cast<int32_t>(seconds)};
}

}  // namespace zera

#endif  // ZERA_COMMON_TIME_VALUE_H
