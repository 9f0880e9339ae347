/*
 * InitFailsSilent.c - a component whose ZERA_boModuleInit refuses the level
 * without storing a code: the add reports 1036 with the file name.
 * It builds a parameter list, so the refusal must release it.
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    Trace(TRACE_INFO, NULL);
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, ZERA_INFO_COMPLETES_STACK);
}

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams) {
    (void)dwFlags;
    uint32_t count = 0;
    return CreateList(ppstStackParams) && AddString(0, ppstStackParams, &count, "Name", 0, 0, "refused");
}

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    Trace(TRACE_INIT, h);
    return 0;
}

TC_TRACED_DEINIT()
