/*
 * Limits.c - a test component declared with the component kit's parameter
 * helpers only: "Rate" (dword, permitted 1..1000), "Gain" (real, 0.5..2),
 * "Mode" (string, "fast" or "slow"), "Start" (dword, settable while the
 * stack is stopped), "Fixed" (dword, never settable), "Free" (dword, any
 * value; attachable). Narrow and wide; completes the stack, starts no
 * threads, and says who made it.
 */
#include "test_component.h"

TC_LEVEL("Limits.COMPONENT", ZERA_INFO_COMPLETES_STACK)
TC_TRACED_DEINIT()
ZERA_COMPONENT_NO_THREADS()
ZERA_COMPONENT_ABOUT("Test Author", "Parameters with permitted values", "MIT")

static void Declare(ZERA_PARAM_LIST *l) {
    ZERA_DECLARE_DWORD(l, "Rate", ZERA_ACCESS_ALWAYS, 100);
    ZERA_PERMIT_DWORDS(l, 1, 1000);
    ZERA_DECLARE_REAL(l, "Gain", ZERA_ACCESS_ALWAYS, 1.0);
    ZERA_PERMIT_REALS(l, 0.5, 2.0);
    ZERA_DECLARE_STRING(l, "Mode", ZERA_ACCESS_ALWAYS, "fast");
    ZERA_PERMIT_STRING(l, "fast");
    ZERA_PERMIT_STRING(l, "slow");
    ZERA_DECLARE_DWORD(l, "Start", ZERA_ACCESS_STOPPED, 0);
    ZERA_DECLARE_DWORD(l, "Fixed", ZERA_ACCESS_NEVER, 7);
    ZERA_DECLARE_DWORD(l, "Free", ZERA_ACCESS_ALWAYS, 0);
    ZERA_vDeclareAttachable(l);
}
ZERA_COMPONENT_DECLARE_PARAMS(Declare)
