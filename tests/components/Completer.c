/*
 * Completer.c - a test component whose level completes the stack (own
 * dwFlags 8) and takes anything on top. Narrow and wide; it traces its init,
 * deinit, notifications and the start and stop of its threads (it starts
 * none), and has a parameter "Mode" settable while the stack is stopped.
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Completer.COMPONENT")

ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    Trace(TRACE_INFO, NULL);
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, ZERA_INFO_COMPLETES_STACK);
}

static BOOL8 Setup(int wide, Param **pp) {
    uint32_t count = 0;
    return CreateList(pp) && AddDWord(wide, pp, &count, "Mode", ZERA_ACCESS_STOPPED, ZERA_ATTR_ATTACHABLE, 0);
}

TC_SETUP_BOTH(Setup)

TC_TRACED_INIT()

TC_TRACED_DEINIT()

ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyA(StackHandle *h) { Trace(TRACE_NOTIFY, h); }
ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyW(StackHandle *h) { Trace(TRACE_NOTIFY, h); }

TC_TRACED_THREADS(A)
TC_TRACED_THREADS(W)
