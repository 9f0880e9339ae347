/*
 * Starter.c - a test component written with the component kit's macros only
 * (info blocks, parameter setup, thread pair, notification): it proves they
 * expand to working C exports, and gives the host kit's tests a level whose
 * start can be refused. Fits anywhere and takes anything on top; does not
 * complete the stack. Traces its start and stop; its start returns false
 * while its parameter "Refuse" is not 0.
 */
#include "test_component.h"

static uint32_t g_refuse; /* the last "Refuse" a level's init or notification saw */

static BOOL8 Setup(BOOL8 wide, Param **pp) {
    uint32_t count = 0;
    return CreateList(pp) && AddDWord(wide, pp, &count, "Refuse", ZERA_ACCESS_ALWAYS, 0, 0);
}

static void Notify(StackHandle *h) {
    Param *refuse = OwnParam(h, "Refuse");
    Trace(TRACE_NOTIFY, h);
    if (refuse != NULL) g_refuse = refuse->uValue.dw;
}

static BOOL8 Start(StackHandle *h) {
    Trace(TRACE_START, h);
    return g_refuse == 0;
}

static void Stop(StackHandle *h) { Trace(TRACE_STOP, h); }

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Starter.COMPONENT")
ZERA_COMPONENT_INFO(ZERA_INFO_VERSION(0, 1), ZERA_INFO_VERSION(0, 1) ZERA_INFO_FLAGS(0x01u))
ZERA_COMPONENT_PARAMS(Setup)
ZERA_COMPONENT_THREADS(Start, Stop)
ZERA_COMPONENT_NOTIFY(Notify)
TC_TRACED_DEINIT()

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    Trace(TRACE_INIT, h);
    Notify(h); /* a new level starts from its own "Refuse" */
    return 1;
}
