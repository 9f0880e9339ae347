/*
 * Layer.c - a test component that fits anywhere and takes anything on top:
 * the plain level of test stacks. Narrow and wide; a settable "Gain", a
 * stack-wide string "Wide10" (so that a stack-wide set of a number passes it
 * over), and an identifier manager of its own size (2 slots of 64). Traces
 * init, deinit and notify; has no threads.
 */
#include "test_component.h"

TC_LEVEL("Layer.COMPONENT", 0)
TC_TRACED_DEINIT()
ZERA_COMPONENT_NOTIFY(TracedNotify)

static BOOL8 Setup(BOOL8 wide, Param **pp) {
    uint32_t count = 0;
    return CreateList(pp) && AddDWord(wide, pp, &count, "Gain", ZERA_ACCESS_ALWAYS, ZERA_ATTR_ATTACHABLE, 1) &&
           AddString(wide, pp, &count, "Wide10", ZERA_ACCESS_WIDE_READY, 0, "text");
}
ZERA_COMPONENT_PARAMS(Setup)

ZERA_EXPORT EvIdManagerConfig ZERA_CALL ZERA_stGetEvIdManagerConfig(StackHandle *h) {
    EvIdManagerConfig config = {64, 2, 0};
    (void)h;
    return config;
}
