/*
 * Major1.c - a component whose own info block does not suit a host level 0
 * (major version 1 against 0): the add fails with 2057 ("version").
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    Trace(TRACE_INFO, NULL);
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, 0);
    pstInfoBlock->dwVersion = 0x00010000u;
}

TC_EMPTY_PARAMS()

TC_TRACED_INIT()

TC_TRACED_DEINIT()
