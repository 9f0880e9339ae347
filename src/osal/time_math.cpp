// osal/time_math.cpp - the two TimeVal constants and the conversion of a
// TimeVal into a wait deadline.
#include "osal/osal_internal.h"

// Callers compare both words against these.
extern "C" OSAL_API const TimeVal OSAL_stTimeInfinite = zera::kTimeInfinite;
extern "C" OSAL_API const TimeVal OSAL_stTimeNoWait = zera::kTimeNoWait;

namespace osal {

int64_t DeadlineMicros(const TimeVal &deadline) {
    if (zera::TimeIsInfinite(deadline)) return kNever;
    if (!zera::TimeIsRelative(deadline) && !zera::TimeIsNoWait(deadline)) return zera::TimeToMicros(deadline);
    const int64_t now = NowMicros();  // only here: takes that do not wait stay cheap
    if (zera::TimeIsNoWait(deadline)) return now;
    const int64_t duration = zera::TimeToMicros(deadline);
    // A negative duration has passed already; a huge one cannot overflow
    // (both terms stay far below 2^62).
    return duration <= 0 ? now : now + duration;
}

}  // namespace osal
