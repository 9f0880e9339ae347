/*
 * WideOnly.c - a component with only the wide parameter setup
 * (ZERA_boSetupParListW): a wide add binds it, a narrow add is refused with
 * 1035. Its stack parameters and names are wide: "Label" (a string) and
 * "Count" (a number). Its name export is path-qualified ("WideOnly" once
 * cut), for the handle tests.
 */
#include "test_component.h"

TC_LEVEL("C:\\comp\\WideOnly.component", 0)
TC_TRACED_DEINIT()

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListW(uint32_t dwFlags, Param **pp) {
    uint32_t count = 0;
    (void)dwFlags;
    return CreateList(pp) && AddString(1, pp, &count, "Label", ZERA_ACCESS_ALWAYS, ZERA_ATTR_ATTACHABLE, "wide") &&
           AddDWord(1, pp, &count, "Count", ZERA_ACCESS_ALWAYS, 0, 3);
}

ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyW(StackHandle *h) { TracedNotify(h); }
