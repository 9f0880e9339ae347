/*
 * RemovesInDeinit.c - a test component that, while its level is being
 * removed, tries to remove the stack from the level below and to add a Layer
 * on top of its own level, from inside its ZERA_boModuleDeinit. What the two
 * calls gave goes to the data export "TestNested": the removal's result and
 * code, then the add's.
 */
#include "test_component.h"

ZERA_EXPORT uint32_t TestNested[4];

TC_LEVEL("RemovesInDeinit.COMPONENT", 0)

static BOOL8 Setup(BOOL8 wide, Param **pp) {
    (void)wide;
    return CreateList(pp);
}
ZERA_COMPONENT_PARAMS(Setup)

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    static int depth = 0; /* a library that let the removal in would come back here */
    Trace(TRACE_DEINIT, h->u8Level);
    if (depth++ == 0) {
        TestNested[0] = ZERA_boRemoveFromStackA(h->pstPrevLevel, 1);
        TestNested[1] = OSAL_dwGetLastError();
        TestNested[2] = ZERA_bAddToStackA(h, "Layer");
        TestNested[3] = OSAL_dwGetLastError();
    }
    --depth;
    return 1;
}
