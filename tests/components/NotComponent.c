/*
 * NotComponent.c - a module that is a complete component in every other
 * respect but exports "ZERA_boDeleteStack", which marks a module that is no
 * component: adding it must be refused before its binding runs.
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

ZERA_API BOOL8 ZERA_CALL ZERA_boDeleteStack(void) { return 0; }

ZERA_API void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    Trace(TRACE_INFO, NULL);
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, 0);
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
