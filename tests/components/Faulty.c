/*
 * Faulty.c - one source for the test components that each break one rule, so
 * that an add or a binding must refuse them (or the host must warn); built
 * once per name with TC_<Name> defined (see CMakeLists.txt):
 *   Major1          own major version 1 against a host level 0's 0: 2057
 *   Picky           own range A [5, 6] against an empty one: 2055 "range A"
 *   NoBinding       no ZERA_boModuleInitAPIA/W: 1035
 *   NoInit          no ZERA_boModuleInit: 1035 before the level changes
 *   NoDeinit        no ZERA_boModuleDeinit: 1035 before the level changes
 *   NoInfoInit      no ZERA_vInfoBlockInitialize: false without a code of its own
 *   NotComponent    exports "ZERA_boDeleteStack", the mark of a module that is
 *                   no component: refused before its binding runs
 *   SetupFails      builds part of its list, then fails: 1035, list released
 *   InitFailsSilent init refuses without a code: 1036 with the file name
 *   InitFailsCode   init stores 2056 after setting a traced level context:
 *                   the refusal releases the context and the list
 *   HalfThreads     only the narrow start and stop: never takes "started",
 *                   so a host start fails naming it
 * The init failers complete the stack; the others fit anywhere and take
 * anything on top.
 */
#include "test_component.h"

#ifndef TC_NoBinding
ZERA_COMPONENT_BINDING()
#endif
#ifdef TC_HalfThreads
ZERA_COMPONENT_NAME("HalfThreads.COMPONENT")
#endif
#ifdef TC_NotComponent
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boDeleteStack(void) { return 0; }
#endif

#ifdef TC_InitFailsCode
/* A level context (its level number) that traces its release. */
static void ZERA_CALL ReleaseTracedContext(void *pvContext) {
    Trace(TRACE_RELEASE, *(uint32_t *)pvContext);
    ZERA_vFree(pvContext);
}
#endif

#ifndef TC_NoInfoInit
ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
#if defined(TC_InitFailsSilent) || defined(TC_InitFailsCode)
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, ZERA_INFO_COMPLETES_STACK);
#else
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, 0);
#endif
#ifdef TC_Major1
    pstInfoBlock->dwVersion = 0x00010000u;
#endif
#ifdef TC_Picky
    pstInfoBlock->dwRangeALow = 5;
    pstInfoBlock->dwRangeAHigh = 6;
#endif
}
#endif

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams) {
    uint32_t count = 0;
    (void)dwFlags;
#if defined(TC_SetupFails)
    if (CreateList(ppstStackParams)) AddString(0, ppstStackParams, &count, "Half", 0, 0, "built");
    return 0;
#elif defined(TC_InitFailsSilent) || defined(TC_InitFailsCode)
    return CreateList(ppstStackParams) && AddString(0, ppstStackParams, &count, "Name", 0, 0, "refused");
#else
    (void)count;
    return CreateList(ppstStackParams);
#endif
}

#ifndef TC_NoInit
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    Trace(TRACE_INIT, h->u8Level);
#if defined(TC_InitFailsCode)
    uint32_t *level = (uint32_t *)ZERA_pvMalloc(sizeof *level);
    if (level != NULL) {
        *level = h->u8Level;
        h->pvLevelContext = level;
        h->pfnLevelContextRelease = ReleaseTracedContext;
    }
    OSAL_vSetLastError(OSAL_ERR_TYPE_RANGE);
#endif
#if defined(TC_InitFailsSilent) || defined(TC_InitFailsCode)
    return 0;
#else
    return 1;
#endif
}
#endif

#ifndef TC_NoDeinit
TC_TRACED_DEINIT()
#endif

#ifdef TC_HalfThreads
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsA(StackHandle *h) { return TracedStart(h); }
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsA(StackHandle *h) {
    TracedStop(h);
    return 1;
}
#endif
