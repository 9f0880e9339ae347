/*
 * Picky.c - a component whose own info block does not suit a host level 0
 * (a range A of [5, 6] against an empty one): the add fails with 2055 ("range A").
 */
#include "test_component.h"

ZERA_COMPONENT_BINDING()

ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    Trace(TRACE_INFO, NULL);
    StandardBlocks(pstInfoBlock, pstUpperInfoBlock, 0);
    pstInfoBlock->dwRangeALow = 5;
    pstInfoBlock->dwRangeAHigh = 6;
}

TC_EMPTY_PARAMS()

TC_TRACED_INIT()

TC_TRACED_DEINIT()
