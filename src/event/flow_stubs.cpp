// event/flow_stubs.cpp - stand-ins for the operations of the event flow
// (sending, receiving, the input filter, restore parameters, error texts)
// and for the level-marshalling hook, so that every slot of a level's entry
// table can be filled and stacks can be built, completed and taken down.
//
// TO BE REPLACED by the event flow (and, for MarshalLevelHook, by the stack
// description packet): each definition here goes when its real one lands.
// What they do now: the input filter applies stack status events on their
// way down (status bits, the components' communication threads, identifier
// blocks) and deletes every other event; the other operations refuse with
// 1025 (not available) or do nothing.
#include "event/event.h"
#include "stack/stack.h"

namespace {

constexpr uint32_t kCarriedStatusBits = ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED | ZERA_STATUS_BIT31;
constexpr uint32_t kRunning = ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED;

bool IsRunning(uint32_t status) { return (status & kRunning) == kRunning; }

void TakeOverStatus(StackHandle *h, uint32_t status) {
    h->dwStatus = (h->dwStatus & ~kCarriedStatusBits) | (status & kCarriedStatusBits);
}

// The start or stop export pair of h's component for h's width; null unless
// the module exports both of the pair.
zera::PfnCommuThreads CommuThreads(const StackHandle *h, const char *nameA, const char *nameW) {
    if (h->hModule == nullptr) return nullptr;
    OSAL_PFN a = OSAL_pfnGetProcAddress(h->hModule, nameA);
    OSAL_PFN w = OSAL_pfnGetProcAddress(h->hModule, nameW);
    if (a == nullptr || w == nullptr) return nullptr;
    return reinterpret_cast<zera::PfnCommuThreads>(h->boWide ? w : a);
}

// A stack status arriving at level h.
void ApplyStackStatus(StackHandle *h, uint32_t status) {
    if ((h->dwStatus & ZERA_STATUS_NO_EVID) == 0 && (status & ZERA_STATUS_COMPLETE) == 0 &&
        (h->dwStatus & ZERA_STATUS_COMPLETE) != 0) {
        ZERA_boEvIdManagerFreeIdBlocks(&h->stEvIdManager);
    }
    if (IsRunning(status)) {
        if (IsRunning(h->dwStatus)) return;
        if (h->u8Level == 0) {
            TakeOverStatus(h, status);
            return;
        }
        zera::PfnCommuThreads start =
            CommuThreads(h, "ZERA_boModuleStartCommuThreadsA", "ZERA_boModuleStartCommuThreadsW");
        if (start != nullptr && start(h)) TakeOverStatus(h, status);
        return;
    }
    const bool wasRunning = IsRunning(h->dwStatus);
    zera::PfnCommuThreads stop = wasRunning && h->u8Level != 0
                                     ? CommuThreads(h, "ZERA_boModuleStopCommuThreadsA", "ZERA_boModuleStopCommuThreadsW")
                                     : nullptr;
    TakeOverStatus(h, status);
    if (stop != nullptr) stop(h);
}

void PassDown(StackHandle *prev, Event *ev) {
    auto filter = zera::EntryOf<zera::PfnInputFilter>(prev, zera::kEntryInputFilter);
    if (filter != nullptr) {
        filter(prev, ev);
    } else {
        ZERA_boDeleteEvent(ev);
    }
}

}  // namespace

extern "C" {

__attribute__((weak)) ZERA_API void ZERA_CALL ZERA_vInputFilter(StackHandle *h, Event *pstEvent) {
    if (pstEvent == nullptr) return;
    StackHandle *prev = h != nullptr ? h->pstPrevLevel : nullptr;
    uint32_t status = 0;
    if (!ZERA_boHandleCheck(h, 1) || (h->u8Level != 0 && !ZERA_boHandleCheck(prev, 0)) ||
        !zera::ReadStackStatusEvent(pstEvent, &status)) {
        ZERA_boDeleteEvent(pstEvent);
        return;
    }
    ApplyStackStatus(h, status);
    if (h->u8Level == 0) {
        ZERA_boDeleteEvent(pstEvent);
        return;
    }
    if (pstEvent->pstOwner != nullptr) pstEvent->pstOwner = prev;
    if (h->u8Level == 1) {
        // The host reads level 1's receive queue for the stack's status.
        pstEvent->u8Level = 1;
        Event *copy = ZERA_pstCloneEvent(pstEvent);
        if (copy != nullptr && !OSAL_boQueuePut(h->hRecvQueue, copy, ZERA_boTimeStampCompare)) {
            ZERA_boDeleteEvent(copy);
        }
    }
    PassDown(prev, pstEvent);
}

__attribute__((weak)) ZERA_API BOOL8 ZERA_CALL ZERA_boSendEvent(StackHandle *, Event *, uint32_t, const TimeVal *) {
    OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
    return 0;
}

__attribute__((weak)) ZERA_API BOOL8 ZERA_CALL ZERA_boSendEventIntl(StackHandle *, Event *) {
    OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
    return 0;
}

__attribute__((weak)) ZERA_API BOOL8 ZERA_CALL ZERA_boSetEventTypes(StackHandle *, uint32_t, uint32_t) {
    OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
    return 0;
}

__attribute__((weak)) ZERA_API void ZERA_CALL ZERA_vBreakRecvEventWaitIntl(StackHandle *, BOOL8 *, OSAL_HMUTEX) {}

__attribute__((weak)) ZERA_API BOOL8 ZERA_CALL ZERA_boConfigInputFilter(StackHandle *, uint8_t, uint32_t *, uint32_t *, BOOL8) {
    OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
    return 0;
}

__attribute__((weak)) ZERA_API void ZERA_CALL ZERA_vSetRestoreParams(StackHandle *, Event *) {}

__attribute__((weak)) ZERA_API Event *ZERA_CALL ZERA_pstReceiveEventIntl(StackHandle *, uint32_t, uint32_t, const TimeVal *, BOOL8) {
    OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
    return nullptr;
}

}  // extern "C"

namespace zera {

__attribute__((weak)) char *ZERA_CALL ErrorTextEntry(StackHandle *, uint8_t, uint32_t) {
    OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
    return nullptr;
}

__attribute__((weak)) void ZERA_CALL FreeMemoryEntry(void *pv) { ZERA_vFree(pv); }

__attribute__((weak)) ZERA_HPACKET ZERA_CALL MarshalLevelHook(StackHandle *, uint32_t, uint8_t) { return nullptr; }

}  // namespace zera
