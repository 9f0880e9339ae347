// harness/test_level.cpp - the test level: level 2 of a harness's stack,
// which completes the stack on top of any component that takes a level
// above it, records what the component sends up and lets the test produce
// events from above. HarnessLevel.COMPONENT forwards its exports here; the
// harness that adds it is found through the adding thread.
#include "harness/harness.h"

namespace harness {
namespace {

// Takes what falls due in the test level's send queue, as a level above
// would: a send to a later time waits (on the test clock too) until due.
void TakeSentUp(ZERA_Harness *h) {
    const TimeVal noLead = OSAL_stTimeNoWait;
    for (;;) {
        Event *ev = ZERA_pstGetNextSendEvent(h->h2, &noLead, &h->levelTaker.stop, h->levelTaker.breakMutex);
        if (ev != nullptr) {
            h->up.Push(ev);
        } else if (!PausedForMemory(&h->levelTaker)) {
            return;
        }
    }
}

ZERA_Harness *Of(StackHandle *h) { return h != nullptr ? static_cast<ZERA_Harness *>(h->pvLevelContext) : nullptr; }

}  // namespace
}  // namespace harness

extern "C" {

ZERA_HARNESS_API void ZERA_CALL ZERA_vHarnessLevelInfo(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    // Of the family the component takes on top, a minor version every
    // partner accepts, completing the stack, and a range B that passes any
    // range check; nothing goes on top of it.
    const ZERA_Harness *h = harness::Building();
    const uint32_t family = h != nullptr && h->h1 != nullptr ? h->h1->pstUpperInfoBlock->dwVersion & 0xFFFF0000u : 0;
    pstInfoBlock->dwVersion = family | 0xFFFFu;
    pstInfoBlock->dwFlags = ZERA_INFO_COMPLETES_STACK;
    pstInfoBlock->dwRangeBLow = pstInfoBlock->dwRangeBHigh = 0xFFFFFFFFu;
    pstUpperInfoBlock->dwVersion = family;
    pstUpperInfoBlock->dwFlags = 0x08u;
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessLevelInit(StackHandle *h) {
    ZERA_Harness *owner = harness::Building();
    if (owner == nullptr) return harness::Refuse(OSAL_ERR_INVALID_ARG, "the test level is added by a harness only");
    h->pvLevelContext = owner;
    return 1;
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessLevelDeinit(StackHandle *h) {
    ZERA_boHarnessLevelStop(h);
    h->pvLevelContext = nullptr;
    return 1;
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessLevelStart(StackHandle *h) {
    ZERA_Harness *owner = harness::Of(h);
    if (owner == nullptr) return 0;
    owner->h2 = h;  // the start may come before the harness has read its levels
    return harness::StartTaker(&owner->levelTaker, harness::TakeSentUp, owner);
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessLevelStop(StackHandle *h) {
    ZERA_Harness *owner = harness::Of(h);
    if (owner != nullptr) harness::StopTaker(&owner->levelTaker, h, ZERA_vBreakSendEventWait);
    return 1;
}

}  // extern "C"
