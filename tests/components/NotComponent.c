/*
 * NotComponent.c - a module that is a complete component in every other
 * respect but exports "ZERA_boDeleteStack", which marks a module that is no
 * component: adding it must be refused before its binding runs.
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boDeleteStack(void) { return 0; }

TC_STANDARD_INFO()

TC_EMPTY_PARAMS()

TC_TRACED_INIT()

TC_TRACED_DEINIT()
