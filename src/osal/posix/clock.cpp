// osal/posix/clock.cpp - the wall clock: CLOCK_REALTIME in microseconds.
#include <ctime>

#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace osal {

int64_t WallClockMicros() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kMicrosPerSecond + ts.tv_nsec / 1000;
}

}  // namespace osal
