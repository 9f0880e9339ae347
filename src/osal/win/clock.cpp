// osal/win/clock.cpp - the wall clock: the system time in microseconds since
// the Unix epoch, at the best precision the system offers.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace osal {

int64_t WallClockMicros() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;  // 100 ns since 1601
    constexpr uint64_t kTicksTo1970 = 116444736000000000ull;
    return static_cast<int64_t>((ticks - kTicksTo1970) / 10);
}

}  // namespace osal
