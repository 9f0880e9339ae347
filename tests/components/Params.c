/*
 * Params.c - a test component with a stack parameter of every access class
 * ("A0" to "A12", numbers), a string ("Text"), a real ("Ratio"), two
 * stack-wide numbers ("Wide10", class 10, and "Wide11", class 11) and
 * "Clamp", which its notification holds at 100 at most. Narrow and wide;
 * fits anywhere, takes anything on top, traces init, deinit and notify.
 */
#include <stdio.h>

#include "test_component.h"

#define CLAMP_LIMIT 100u

TC_LEVEL("Params.COMPONENT", 0)
TC_TRACED_DEINIT()

static BOOL8 Setup(BOOL8 wide, Param **pp) {
    uint32_t count = 0;
    if (!CreateList(pp)) return 0;
    for (uint32_t access = 0; access <= 12; ++access) {
        char name[8];
        snprintf(name, sizeof name, "A%u", (unsigned)access);
        if (!AddDWord(wide, pp, &count, name, access, 0, 0)) return 0;
    }
    return AddString(wide, pp, &count, "Text", ZERA_ACCESS_ALWAYS, ZERA_ATTR_ATTACHABLE, "initial") &&
           AddReal(wide, pp, &count, "Ratio", ZERA_ACCESS_ANY_TIME, ZERA_ATTR_ATTACHABLE, 0.5) &&
           AddDWord(wide, pp, &count, "Wide10", ZERA_ACCESS_WIDE_READY, ZERA_ATTR_ATTACHABLE, 0) &&
           AddDWord(wide, pp, &count, "Wide11", ZERA_ACCESS_WIDE_RUNNING, 0, 0) &&
           AddDWord(wide, pp, &count, "Clamp", ZERA_ACCESS_ALWAYS, 0, 0);
}
ZERA_COMPONENT_PARAMS(Setup)

static void Notify(StackHandle *h) {
    Param *clamp = OwnParam(h, "Clamp");
    TracedNotify(h);
    if (clamp != NULL && clamp->uValue.dw > CLAMP_LIMIT) clamp->uValue.dw = CLAMP_LIMIT;
}
ZERA_COMPONENT_NOTIFY(Notify)
