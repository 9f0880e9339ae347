/*
 * SetupFails.c - a component whose parameter setup builds part of its list
 * and then fails: the add is refused (1035) and the partial list released.
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

ZERA_API void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    Trace(TRACE_INFO, NULL);
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, 0);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams) {
    (void)dwFlags;
    uint32_t count = 0;
    if (CreateList(ppstStackParams)) AddString(0, ppstStackParams, &count, "Half", 0, 0, "built");
    return 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    Trace(TRACE_INIT, h);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    Trace(TRACE_DEINIT, h);
    return 1;
}
