/*
 * WideOnly.c - a component with only the wide parameter setup
 * (ZERA_boSetupParListW): a wide add binds it, a narrow add is refused with
 * 1035. Its stack parameters and names are wide: "Label" (a string) and
 * "Count" (a number).
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("WideOnly.COMPONENT")

TC_STANDARD_INFO()

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListW(uint32_t dwFlags, Param **ppstStackParams) {
    (void)dwFlags;
    uint32_t count = 0;
    return CreateList(ppstStackParams) &&
           AddString(1, ppstStackParams, &count, "Label", ZERA_ACCESS_ALWAYS, ZERA_ATTR_ATTACHABLE, "wide") &&
           AddDWord(1, ppstStackParams, &count, "Count", ZERA_ACCESS_ALWAYS, 0, 3);
}

TC_TRACED_INIT()

TC_TRACED_DEINIT()

ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyW(StackHandle *h) { Trace(TRACE_NOTIFY, h); }
