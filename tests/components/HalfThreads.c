/*
 * HalfThreads.c - a test component that exports only the narrow names of
 * its start and stop pairs, which the library uses only whole: its level
 * never takes the started status. A host start must fail naming it, and
 * `zera inspect` must warn of it. Fits anywhere, takes anything on top.
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("HalfThreads.COMPONENT")
TC_STANDARD_INFO()
TC_EMPTY_PARAMS()
TC_TRACED_INIT()
TC_TRACED_DEINIT()

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsA(StackHandle *h) {
    Trace(TRACE_START, h);
    return 1;
}

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsA(StackHandle *h) {
    Trace(TRACE_STOP, h);
    return 1;
}
