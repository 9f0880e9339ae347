// event/time_val.cpp - the sum of TimeVal values, as the event record, the
// send queues and the input filter compute with them (their difference and
// order are inline in event/event.h).
//
// Seconds are computed modulo 2^32 (as unsigned words, then read back as
// signed), so that no overflow is undefined and far-apart stamps wrap the
// way the order test expects.
#include "event/event.h"

namespace zera {

TimeVal TimeSum(const TimeVal &time, const TimeVal &duration) {
    if (TimeIsInfinite(time) || TimeIsInfinite(duration)) return OSAL_stTimeInfinite;
    uint32_t seconds = static_cast<uint32_t>(time.i32Seconds) + static_cast<uint32_t>(duration.i32Seconds);
    uint32_t micros = (time.dwMicroseconds + duration.dwMicroseconds) & OSAL_TIME_USEC_MASK;
    if (micros >= kMicrosPerSecond) {
        ++seconds;
        micros -= static_cast<uint32_t>(kMicrosPerSecond);
    }
    return TimeVal{micros, static_cast<int32_t>(seconds)};
}

}  // namespace zera
