/*
 * common/test_hooks.h - hooks that only test builds (ZERA_TEST_HOOKS) compile
 * into the library (allocation failure is the platform layer's
 * OSAL_vTestFailAllocAfter, one countdown for both). Included by tests and
 * by src/common.
 */
#ifndef ZERA_COMMON_TEST_HOOKS_H
#define ZERA_COMMON_TEST_HOOKS_H

#include "VOQ_ZERA_Comp.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZERA_TEST_HOOKS)
/* Called by a receive by masks on level h's queue each time its wait for a
 * change ends, before it looks at what changed (null: none). */
ZERA_API void ZERA_CALL ZERA_vTestSetReceiveWokenHook(void (*hook)(StackHandle *h));
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZERA_COMMON_TEST_HOOKS_H */
