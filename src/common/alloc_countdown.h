/*
 * common/alloc_countdown.h - the test builds' allocation-failure countdown,
 * one for both libraries: the platform layer keeps it (osal/alloc.cpp) and
 * exports it, the library's allocator (common/alloc.cpp) asks it, tests set
 * it through osal/osal_test_hooks.h.
 */
#ifndef ZERA_COMMON_ALLOC_COUNTDOWN_H
#define ZERA_COMMON_ALLOC_COUNTDOWN_H

#include "VOQ_OSAL.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZERA_TEST_HOOKS)
/* After n more successful allocations every allocation fails, in the
 * platform layer and in the library alike (counted in the order they
 * happen), until called again; a negative n turns failures off. */
OSAL_API void OSAL_CALL OSAL_vTestFailAllocAfter(long n);
/* As OSAL_vTestFailAllocAfter, but only the one allocation after the n
 * fails; the ones after it succeed. */
OSAL_API void OSAL_CALL OSAL_vTestFailOneAllocAfter(long n);
/* Allocations of both libraries since OSAL_vTestFailAllocAfter was last called. */
OSAL_API long OSAL_CALL OSAL_lTestAllocCount(void);
/* Counts one allocation; 0 when the countdown says it is to fail. */
OSAL_API BOOL8 OSAL_CALL OSAL_boTestAllocAllowed(void);
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZERA_COMMON_ALLOC_COUNTDOWN_H */
