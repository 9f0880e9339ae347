/*
 * KitCheck.c - a test component written in C against ZERA_Component.h only:
 * proves the kit's declarations, binding macro and name macro work from C,
 * and gives the handle tests a module with a path-qualified name export
 * ("KitCheck" once cut). Narrow and wide; fits a host level 0 and takes
 * anything on top.
 */
#include "ZERA_Component.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("C:\\comp\\KitCheck.component")

ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    pstInfoBlock->dwVersion = 0x00000001u;
    pstUpperInfoBlock->dwVersion = 0x00000001u;
    pstUpperInfoBlock->dwFlags = 0x01u; /* anything may sit on top */
}

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams) {
    (void)dwFlags;
    return ZERA_boCreateParListA(ppstStackParams);
}

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListW(uint32_t dwFlags, Param **ppstStackParams) {
    (void)dwFlags;
    return ZERA_boCreateParListW(ppstStackParams);
}

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    (void)h;
    return 1;
}

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    (void)h;
    return 1;
}
