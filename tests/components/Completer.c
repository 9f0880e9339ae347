/*
 * Completer.c - a test component whose level completes the stack (own
 * dwFlags 8) and takes anything on top. Narrow and wide; it traces its init,
 * deinit, notifications and the start and stop of its threads (it starts
 * none), and has a parameter "Mode" settable while the stack is stopped.
 */
#include "test_component.h"

TC_LEVEL("Completer.COMPONENT", ZERA_INFO_COMPLETES_STACK)
TC_TRACED_DEINIT()
ZERA_COMPONENT_NOTIFY(TracedNotify)
ZERA_COMPONENT_THREADS(TracedStart, TracedStop)

static BOOL8 Setup(BOOL8 wide, Param **pp) {
    uint32_t count = 0;
    return CreateList(pp) && AddDWord(wide, pp, &count, "Mode", ZERA_ACCESS_STOPPED, ZERA_ATTR_ATTACHABLE, 0);
}
ZERA_COMPONENT_PARAMS(Setup)
