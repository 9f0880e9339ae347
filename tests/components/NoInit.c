/*
 * NoInit.c - a component without ZERA_boModuleInit: its binding refuses it
 * (1035) before anything of the level changes.
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

ZERA_API void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    Trace(TRACE_INFO, NULL);
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, 0);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams) {
    (void)dwFlags;
    return CreateList(ppstStackParams);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    Trace(TRACE_DEINIT, h);
    return 1;
}
