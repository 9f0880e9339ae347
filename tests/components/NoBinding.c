/*
 * NoBinding.c - a module with every component export except the binding
 * exports ZERA_boModuleInitAPIA/W: adding it must be refused with 1035.
 */
#include "test_component.h"

ZERA_API void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, 0);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams) {
    (void)dwFlags;
    return CreateList(ppstStackParams);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    (void)h;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    (void)h;
    return 1;
}
