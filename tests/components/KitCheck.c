/*
 * KitCheck.c - a test component written in C against ZERA_Component.h only:
 * proves the kit's declarations and name macro work from C, and gives the
 * handle tests a module with a path-qualified name export ("KitCheck" once
 * cut).
 *
 * TO FILL (module binding): add ZERA_COMPONENT_BINDING() here once the
 * library's binding operations exist; until then the module would not load
 * (its binding exports would name operations the library lacks). The macro
 * is compiled as C in tests/c_headers.c meanwhile.
 */
#include "ZERA_Component.h"

ZERA_COMPONENT_NAME("C:\\comp\\KitCheck.component")

ZERA_API void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    pstInfoBlock->dwVersion = 0x00010000u;
    pstUpperInfoBlock->dwVersion = 0x00010000u;
    pstUpperInfoBlock->dwFlags = 0x01u; /* anything may sit on top */
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams) {
    (void)dwFlags;
    *ppstStackParams = NULL;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetupParListW(uint32_t dwFlags, Param **ppstStackParams) {
    return ZERA_boSetupParListA(dwFlags, ppstStackParams);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    (void)h;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    (void)h;
    return 1;
}
