/*
 * Picky.c - a component whose own info block does not suit a host level 0
 * (a range A of [5, 6] against an empty one): the add fails with 2055 ("range A").
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

ZERA_API void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    Trace(TRACE_INFO, NULL);
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, 0);
    pstInfoBlock->dwRangeALow = 5;
    pstInfoBlock->dwRangeAHigh = 6;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams) {
    (void)dwFlags;
    return CreateList(ppstStackParams);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    Trace(TRACE_INIT, h);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    Trace(TRACE_DEINIT, h);
    return 1;
}
