/*
 * SetupFails.c - a component whose parameter setup builds part of its list
 * and then fails: the add is refused (1035) and the partial list released.
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

TC_STANDARD_INFO()

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams) {
    (void)dwFlags;
    uint32_t count = 0;
    if (CreateList(ppstStackParams)) AddString(0, ppstStackParams, &count, "Half", 0, 0, "built");
    return 0;
}

TC_TRACED_INIT()

TC_TRACED_DEINIT()
