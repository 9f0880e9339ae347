/*
 * NoInfoInit.c - a component without ZERA_vInfoBlockInitialize: its binding
 * returns false without a code of its own and changes nothing.
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

TC_EMPTY_PARAMS()

TC_TRACED_INIT()

TC_TRACED_DEINIT()
