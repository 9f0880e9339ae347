// osal/clock.cpp - the layer's clock: the wall clock of the platform half
// plus, in test builds, an offset that makes it controllable.
#include <atomic>

#include "osal/osal_internal.h"
#include "osal/osal_test_hooks.h"
#include "osal/platform.h"

namespace osal {

#if defined(ZERA_TEST_HOOKS)
namespace {
std::atomic<int64_t> g_clockOffset{0};  // microseconds added to the real clock
}
int64_t ClockOffsetMicros() { return g_clockOffset.load(std::memory_order_relaxed); }
#else
int64_t ClockOffsetMicros() { return 0; }
#endif

int64_t NowMicros() { return WallClockMicros() + ClockOffsetMicros(); }

}  // namespace osal

extern "C" OSAL_API void OSAL_CALL OSAL_vGetSystemTime(TimeVal *pstTime) {
    if (!pstTime) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return;
    }
    *pstTime = zera::TimeFromMicros(osal::NowMicros());
}

#if defined(ZERA_TEST_HOOKS)
extern "C" OSAL_API void OSAL_CALL OSAL_vTestSetClockOffset(int64_t i64Microseconds) {
    osal::g_clockOffset.store(i64Microseconds);
    osal::NotifyClockChanged();
}

extern "C" OSAL_API int64_t OSAL_CALL OSAL_i64TestGetClockOffset(void) { return osal::ClockOffsetMicros(); }
#endif
