/*
 * Major1.c - a component whose own info block does not suit a host level 0
 * (major version 1 against 0): the add fails with 2057 ("version").
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

ZERA_API void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    Trace(TRACE_INFO, NULL);
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, 0);
    pstInfoBlock->dwVersion = 0x00010000u;
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
