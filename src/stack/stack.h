// stack/stack.h - what the stack subsystem offers the rest of the library
// (the settable test of stack parameters, the stack status event, checked
// calls through a neighbour's entry table), what it needs from its
// neighbours (the event flow and the level-marshalling hook that fill entry
// slots, and the binding's refusal reason), and the types under which the
// entry slots are called.
//
// Internal: included by src/ and by tests only. Nothing here takes a lock
// except the statistics operations, which take the level's hMutex; the chain
// of levels is read without locks (adding and removing levels must not run
// concurrently with anything else on the same stack).
#ifndef ZERA_STACK_STACK_H
#define ZERA_STACK_STACK_H

#include <cstdint>

#include "VOQ_ZERA_Comp.h"
#include "common/common.h"
#include "handle/handle.h"

// ---- Neighbours: operations of the event flow ----------------------------------
// Entry slots 16, 17, 20, 21, 22, 23, 34 and 35 hold exported operations of
// the event subsystem (declared in zera/event.h); slots 32 and 33 hold the
// two below, and slot 0 the level-marshalling hook.

namespace zera {

// Slot 32: the text of an error code as level u8Level sees it, in a block
// from ZERA_pvMalloc that the caller releases (slot 33 of the level it
// called, or ZERA_vFree). Null when there is none.
char *ZERA_CALL ErrorTextEntry(StackHandle *h, uint8_t u8Level, uint32_t dwCode);
// Slot 33: releases a block handed out through slot 32 (ZERA_vFree).
void ZERA_CALL FreeMemoryEntry(void *pv);

// Slot 0: the level-marshalling hook (the stack description packet of h and
// every level above it). The caller owns the packet. Defined with the
// stack description (handle/stack_description.cpp).
ZERA_HPACKET ZERA_CALL MarshalLevelHook(StackHandle *h, uint32_t boChangedOnly, uint8_t u8Count);

// ---- Neighbours: module binding (handle/binding.cpp) -----------------------------

// Why the last binding on the calling thread refused its level: a static
// text naming the missing export or the failed step, or null when the last
// binding succeeded (or none ran since ClearBindingRefusal). The add uses it
// to explain its 1035.
ZERA_TEST_VISIBLE const char *BindingRefusal();
void ClearBindingRefusal();

// The receive queue's error-marking function (given to every bound level's
// hRecvQueue): sets ZERA_EVF_ERROR_MARK in the event's dwFlags and stores the
// value, limited to 255, in its u8Error.
ZERA_TEST_VISIBLE void OSAL_CALL MarkReceiveError(void *pvEvent, uint32_t dwValue);

// ---- Calling through the entry table ------------------------------------------

// Types under which the slots are called (the slot numbers are EntrySlot).
using PfnModuleInitApi = BOOL8(ZERA_CALL *)(StackHandle *h);
using PfnInfoBlockInit = void(ZERA_CALL *)(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock);
using PfnSetupParList = BOOL8(ZERA_CALL *)(uint32_t dwFlags, Param **ppstStackParams);
using PfnModuleInit = BOOL8(ZERA_CALL *)(StackHandle *h);
using PfnModuleDeinit = BOOL8(ZERA_CALL *)(StackHandle *h);
using PfnModuleNotify = void(ZERA_CALL *)(StackHandle *h);
using PfnCommuThreads = BOOL8(ZERA_CALL *)(StackHandle *h);
using PfnEvIdConfig = EvIdManagerConfig(ZERA_CALL *)(StackHandle *h);
using PfnAddToStackA = uint8_t(ZERA_CALL *)(StackHandle *h, const char *pszName);
using PfnAddToStackW = uint8_t(ZERA_CALL *)(StackHandle *h, const WCHAR16 *pwszName);
using PfnRemoveFromStack = BOOL8(ZERA_CALL *)(StackHandle *h, uint8_t u8Level);
using PfnSetStackParamA = BOOL8(ZERA_CDECL *)(StackHandle *h, uint32_t dwLevel, const char *pszName, ...);
using PfnSetStackParamW = BOOL8(ZERA_CDECL *)(StackHandle *h, uint32_t dwLevel, const WCHAR16 *pwszName, ...);
using PfnGetStackParamA = Param *(ZERA_CALL *)(StackHandle *h, uint32_t dwLevel, const char *pszName);
using PfnGetStackParamW = Param *(ZERA_CALL *)(StackHandle *h, uint32_t dwLevel, const WCHAR16 *pwszName);
using PfnInputFilter = void(ZERA_CALL *)(StackHandle *h, Event *pstEvent);
using PfnGetTime = BOOL8(ZERA_CALL *)(StackHandle *h, uint8_t u8Level, TimeVal *pstTime);
using PfnGetStatistics = BOOL8(ZERA_CALL *)(StackHandle *h, uint8_t u8Level, uint32_t *pdwOut);
using PfnResetStatistics = BOOL8(ZERA_CALL *)(StackHandle *h, uint8_t u8Level);

// The function in slot `slot` of h's table, as Pfn. Null with 1027 when the
// slot is empty: the level's table was never filled (a level made by hand,
// not bound), so it cannot take part in requests along the chain.
template <typename Pfn>
Pfn EntryOf(const StackHandle *h, int slot) {
    ZERA_PFN entry = h->apfnEntry[slot];
    if (entry == nullptr) OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
    return reinterpret_cast<Pfn>(entry);
}

// The level above h when it passes the handle check; null with 1027 when
// there is none or it is invalid. h must not be null.
StackHandle *CheckedNextLevel(const StackHandle *h);

// ---- Stack parameters ---------------------------------------------------------------

// Access classes of a stack parameter (Param::dwAccess). 10 and 11 are
// stack-wide: a set applies to every level's parameter of that name and type.
constexpr uint32_t kAccessStackWideStopped = 10;
constexpr uint32_t kAccessStackWideStarted = 11;
inline bool IsStackWide(const Param *p) {
    return p->dwAccess == kAccessStackWideStopped || p->dwAccess == kAccessStackWideStarted;
}

// Whether level h's parameter p may be set now, by its access class and h's
// complete and started bits (and, for classes 1 and 2, whether h has a level
// above it). Reads only; no code.
ZERA_TEST_VISIBLE bool ParamSettable(const StackHandle *h, const Param *p);

// Sets bit 0 of p's u8Attributes to the settable test for h, then clears it
// again while attribute bit 2 is set.
void RefreshSettableBit(const StackHandle *h, Param *p);

// Sets the levels-changed mark (ZERA_CHANGE_LEVELS in the first record's
// u8ChangeFlags) of h's stack parameters, if it has a list.
void MarkLevelsChanged(StackHandle *h);

// ---- The stack status event ---------------------------------------------------------

// A new stack status event for level h: type 3, h's level, one kind-0 item
// of 12 bytes holding `status`. Made with ZERA_pstCreateEventEx, so on a stack
// with identifier management its identifier comes from h's manager (which
// needs the stack complete). The caller owns it; null with the create's code.
ZERA_TEST_VISIBLE Event *NewStackStatusEvent(StackHandle *h, uint32_t status);

// Whether ev is a stack status event (type 3, one item of kind 0 inside its
// item area); its status word goes to *status.
ZERA_TEST_VISIBLE bool ReadStackStatusEvent(const Event *ev, uint32_t *status);

}  // namespace zera

#endif  // ZERA_STACK_STACK_H
