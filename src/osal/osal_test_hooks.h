/*
 * osal/osal_test_hooks.h - hooks that only test builds (ZERA_TEST_HOOKS)
 * compile into the platform layer: a controllable clock, allocation
 * failure (for both libraries, common/alloc_countdown.h) and the queues'
 * chunk size. Included by tests and by src/osal.
 */
#ifndef OSAL_OSAL_TEST_HOOKS_H
#define OSAL_OSAL_TEST_HOOKS_H

#include <stdint.h>

#include "VOQ_OSAL.h"
#include "common/alloc_countdown.h"  /* allocation failure, for both libraries */

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZERA_TEST_HOOKS)
/* The next platform lock this thread takes reports a failure of the system
 * (which stops the process with a message naming the call). */
OSAL_API void OSAL_CALL OSAL_vTestFailNextLock(void);
/* Shifts the clock of the platform layer by this many microseconds from the
 * real wall clock: OSAL_vGetSystemTime reports the shifted time and every
 * queue wait measures its deadline against it, so a larger offset acts as a
 * forward clock step (due waits end at once) and a smaller one as a backward
 * step. Waits in progress re-evaluate their deadlines. 0 restores real time. */
OSAL_API void OSAL_CALL OSAL_vTestSetClockOffset(int64_t i64Microseconds);
OSAL_API int64_t OSAL_CALL OSAL_i64TestGetClockOffset(void);
/* Queues created from now on keep their items in chunks of this many slots
 * (at least 4), so that small tests reach chunk splits and merges; 0 restores
 * the normal size. */
OSAL_API void OSAL_CALL OSAL_vTestSetQueueChunkSlots(uint32_t dwSlots);
#endif

#ifdef __cplusplus
}
#endif

#endif /* OSAL_OSAL_TEST_HOOKS_H */
