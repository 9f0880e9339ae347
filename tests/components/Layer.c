/*
 * Layer.c - a test component that fits anywhere and takes anything on top:
 * the plain level of test stacks. Narrow and wide; a settable "Gain", a
 * stack-wide string "Wide10" (so that a stack-wide set of a number passes it
 * over), and an identifier manager of its own size (2 slots of 64).
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Layer.COMPONENT")

TC_STANDARD_INFO()

static BOOL8 Setup(int wide, Param **pp) {
    uint32_t count = 0;
    return CreateList(pp) && AddDWord(wide, pp, &count, "Gain", ZERA_ACCESS_ALWAYS, ZERA_ATTR_ATTACHABLE, 1) &&
           AddString(wide, pp, &count, "Wide10", ZERA_ACCESS_WIDE_READY, 0, "text");
}

TC_SETUP_BOTH(Setup)

ZERA_EXPORT EvIdManagerConfig ZERA_CALL ZERA_stGetEvIdManagerConfig(StackHandle *h) {
    (void)h;
    EvIdManagerConfig config = {64, 2, 0};
    return config;
}

TC_TRACED_INIT()

TC_TRACED_DEINIT()

ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyA(StackHandle *h) { Trace(TRACE_NOTIFY, h); }

ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyW(StackHandle *h) { Trace(TRACE_NOTIFY, h); }
