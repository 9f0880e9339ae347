/*
 * Starter.c - a test component written with the component kit's macros
 * (info blocks, parameter setup, thread pair, notification): it proves they
 * expand to working C exports, and gives the host kit's tests a level whose
 * start can be refused. Fits anywhere and takes anything on top; does not
 * complete the stack. Traces its start and stop; its start returns false
 * while the level's parameter "Refuse" is not 0.
 */
#include "test_component.h"

static BOOL8 Setup(BOOL8 wide, Param **pp) {
    uint32_t count = 0;
    return CreateList(pp) && AddDWord(wide, pp, &count, "Refuse", ZERA_ACCESS_ALWAYS, 0, 0);
}

static BOOL8 Start(StackHandle *h) {
    const Param *refuse = OwnParam(h, "Refuse");
    Trace(TRACE_START, h->u8Level);
    return refuse == NULL || refuse->uValue.dw == 0;
}

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Starter.COMPONENT")
ZERA_COMPONENT_INFO(ZERA_INFO_VERSION(0, 1), ZERA_INFO_VERSION(0, 1) ZERA_INFO_FLAGS(0x01u))
ZERA_COMPONENT_PARAMS(Setup)
ZERA_COMPONENT_THREADS(Start, TracedStop)
ZERA_COMPONENT_NOTIFY(TracedNotify)
TC_TRACED_INIT()
TC_TRACED_DEINIT()
