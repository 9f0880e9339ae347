// osal/time_math.cpp - the two TimeVal constants and the conversions between
// TimeVal values, microseconds and wait deadlines.
#include "osal/osal_internal.h"

// No limit: all bits of the microseconds word (so RELATIVE is set) and the
// largest second count. Callers compare both words against it.
extern "C" OSAL_API const TimeVal OSAL_stTimeInfinite = {0xFFFFFFFFu, 0x7FFFFFFF};
extern "C" OSAL_API const TimeVal OSAL_stTimeNoWait = {0u, 0};

namespace osal {

TimeVal FromMicros(int64_t micros) {
    int64_t seconds = micros / kMicrosPerSecond;
    int64_t rest = micros % kMicrosPerSecond;
    if (rest < 0) {
        rest += kMicrosPerSecond;
        --seconds;
    }
    TimeVal t;
    t.dwMicroseconds = static_cast<uint32_t>(rest);
    t.i32Seconds = static_cast<int32_t>(seconds);
    return t;
}

int64_t DeadlineMicros(const TimeVal &deadline) {
    if (IsInfinite(deadline)) return kNever;
    if (!IsRelative(deadline) && !IsNoWait(deadline)) return ToMicros(deadline);
    const int64_t now = NowMicros();  // only here: takes that do not wait stay cheap
    if (IsNoWait(deadline)) return now;
    const int64_t duration = ToMicros(deadline);
    // A negative duration has passed already; a huge one cannot overflow
    // (both terms stay far below 2^62).
    return duration <= 0 ? now : now + duration;
}

}  // namespace osal
