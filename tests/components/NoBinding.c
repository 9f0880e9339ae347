/*
 * NoBinding.c - a module with every component export except the binding
 * exports ZERA_boModuleInitAPIA/W: adding it must be refused with 1035.
 */
#include "test_component.h"

ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, 0);
}

TC_EMPTY_PARAMS()

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    (void)h;
    return 1;
}

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    (void)h;
    return 1;
}
