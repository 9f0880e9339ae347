/*
 * NoInfoInit.c - a component without ZERA_vInfoBlockInitialize: its binding
 * returns false without a code of its own and changes nothing.
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

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
