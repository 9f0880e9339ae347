/*
 * NoInit.c - a component without ZERA_boModuleInit: its binding refuses it
 * (1035) before anything of the level changes.
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

TC_STANDARD_INFO()

TC_EMPTY_PARAMS()

TC_TRACED_DEINIT()
