/*
 * handle/handle.h - what the handle subsystem offers the rest of the library:
 * the process key and the masked link from level 0 to level 1, the chain of
 * levels, a level's entry table (slot numbers, the types its slots are called
 * under, checked calls through it), the reason the last binding refused a
 * level, and the building of component names.
 *
 * Internal: included by src/ and by tests/handle only.
 */
#ifndef ZERA_HANDLE_HANDLE_H
#define ZERA_HANDLE_HANDLE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "VOQ_ZERA_Comp.h"
#include "common/common.h"

namespace zera {

// ---- Record checks -----------------------------------------------------------

// Whether a record begins with this magic word and this size, read as one
// word pair: both records keep the two side by side at their start.
static_assert(offsetof(StackHandle, dwSize) == offsetof(StackHandle, dwMagic) + 4 &&
                  offsetof(InfoBlock, dwSize) == offsetof(InfoBlock, dwMagic) + 4,
              "magic and size side by side");
template <typename Record>
bool HasMagicAndSize(const Record *r, uint32_t magic) {
    const uint32_t want[2] = {magic, static_cast<uint32_t>(sizeof(Record))};
    uint64_t have, expected;
    std::memcpy(&have, &r->dwMagic, sizeof have);
    std::memcpy(&expected, want, sizeof expected);
    return have == expected;
}

// What ZERA_boInfoBlockCheck and ZERA_boHandleCheck test, inline and storing
// no code: for paths that check a level on every call.
inline bool InfoBlockValid(const InfoBlock *b) { return b != nullptr && HasMagicAndSize(b, ZERA_INFOBLOCK_MAGIC); }
inline bool HandleValid(const StackHandle *h) {
    return h != nullptr && HasMagicAndSize(h, ZERA_HANDLE_MAGIC) && h->hSendQueue != nullptr &&
           h->hRecvQueue != nullptr && InfoBlockValid(h->pstInfoBlock) && InfoBlockValid(h->pstUpperInfoBlock);
}

// ---- The process key ------------------------------------------------------

// The per-process key that masks the link from level 0 to level 1. Set once
// by library start (SetPointerKey) before any other operation can run, never
// changed afterwards; read without a lock. Pointer-wide: on 64-bit builds its low 32
// bits are the 32-bit key and its high 32 bits come from the next four draws
// of the same generator (see MakePointerKey).
ZERA_TEST_VISIBLE ZERA_UPTR PointerKey();

// The key as library start makes it from the current time's seconds: srand
// with the seconds, then four rand values r1..r4 give the 32-bit word
// ((r1*256 + r2)*256 + r3)*256 + r4 (unsigned arithmetic, unmasked). Wider
// builds draw a second such word for the high half. Reseeds the process's
// rand generator.
ZERA_TEST_VISIBLE ZERA_UPTR MakePointerKey(int32_t i32Seconds);
void SetPointerKey(ZERA_UPTR key);

// ---- The chain of levels ---------------------------------------------------------

// The masked link word: stores `upper` (null clears it) into the descriptor of
// a level 0, XORed with the process key.
void WriteLevel1Link(HostStackDescriptor *pstDesc, StackHandle *pstUpper);
// The unmasked link: level 1, or null when the descriptor holds the masked null.
StackHandle *ReadLevel1Link(const HostStackDescriptor *pstDesc);

// The level above a level 0, or null when its pvLevelContext is not set yet.
// h0 is not checked (it must not be null).
StackHandle *Level1Of(const StackHandle *h0);

// The level above h, or null. h is not checked (it must not be null).
inline StackHandle *NextLevelOf(const StackHandle *h) { return h->u8Level != 0 ? h->pstNextLevel : Level1Of(h); }

// The level above h when it passes the handle check; null with 1027 when
// there is none or it is invalid. h must not be null.
StackHandle *CheckedNextLevel(const StackHandle *h);

// ---- What the library keeps of a level beside the record -----------------------

// The record's layout is fixed and its reserved words are not the library's,
// so what the library needs of a level beyond them lives behind the record,
// in the block ZERA_hHandleCreate makes. No lock: each field is atomic.
struct LevelExtras {
    // The number of the latest break of the level's receive waits, from one
    // process-wide sequence (0: none yet); see event/receive.cpp.
    std::atomic<uint32_t> latestBreak{0};
    // Events the level's input filter deleted because its receive queue
    // refused them (full) or no copy could be made for it; only grows.
    std::atomic<uint64_t> dropped{0};
};

// The extras of a level that ZERA_hHandleCreate made (every handle that
// passes the handle check). h must not be null.
LevelExtras *ExtrasOf(StackHandle *h);

// ---- The entry-point table ---------------------------------------------------------

// Slots of StackHandle::apfnEntry. Callers cast a slot to the type of the
// operation it holds before calling it.
enum EntrySlot : int {
    kEntryMarshalLevel = 0,
    kEntryModuleInit = 1,
    kEntryModuleDeinit = 2,
    kEntryAddToStackA = 3,
    kEntryAddToStackW = 4,
    kEntryRemoveFromStackA = 5,
    kEntryRemoveFromStackW = 6,
    kEntrySetStackParamA = 7,
    kEntrySetStackParamW = 8,
    kEntryGetStackParamA = 9,
    kEntryGetStackParamW = 10,
    kEntryModuleNotifyA = 11,
    kEntryModuleNotifyW = 12,
    kEntryCreateEvent = 13,
    kEntryDeleteEvent = 14,
    kEntryCloneEvent = 15,
    kEntrySendEvent = 16,
    kEntrySetEventTypes = 17,
    kEntryAttachParamA = 18,
    kEntryAttachParamW = 19,
    kEntryBreakRecvEventWait = 20,
    kEntryConfigInputFilter = 21,
    kEntryInputFilter = 22,
    kEntrySetRestoreParams = 23,
    kEntryGetTime = 24,
    kEntryGetStatistics = 25,
    kEntryResetStatistics = 26,
    kEntryComponentNameA = 27,
    kEntryComponentNameW = 28,
    kEntryEvIdGetBlockSize = 29,
    kEntryEvIdGetBlock = 30,
    kEntryEvIdFreeBlock = 31,
    kEntryGetErrorText = 32,
    kEntryFreeMemory = 33,
    kEntryReceiveEvent = 34,
    kEntrySendEventIntl = 35,
};
static_assert(ZERA_ENTRY_COUNT == 36, "entry table has 36 slots");

// Types under which the slots are called. Slots 1, 2, 11 and 12 are called
// as the component kit's ZERA_PFN_MODULE_INIT, _DEINIT and _NOTIFY, slot 0 as
// ZERA_PFN_MARSHAL_LEVEL; slots 29 and 30 as evid/evid.h says.
using PfnAddToStackA = uint8_t(ZERA_CALL *)(StackHandle *h, const char *pszName);
using PfnAddToStackW = uint8_t(ZERA_CALL *)(StackHandle *h, const WCHAR16 *pwszName);
using PfnRemoveFromStack = BOOL8(ZERA_CALL *)(StackHandle *h, uint8_t u8Level);
using PfnSetStackParamA = BOOL8(ZERA_CDECL *)(StackHandle *h, uint32_t dwLevel, const char *pszName, ...);
using PfnSetStackParamW = BOOL8(ZERA_CDECL *)(StackHandle *h, uint32_t dwLevel, const WCHAR16 *pwszName, ...);
using PfnGetStackParamA = Param *(ZERA_CALL *)(StackHandle *h, uint32_t dwLevel, const char *pszName);
using PfnGetStackParamW = Param *(ZERA_CALL *)(StackHandle *h, uint32_t dwLevel, const WCHAR16 *pwszName);
using PfnSendEventIntl = BOOL8(ZERA_CALL *)(StackHandle *h, Event *pstEvent);
using PfnSetEventTypes = BOOL8(ZERA_CALL *)(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask);
using PfnBreakRecvEventWait = void(ZERA_CALL *)(StackHandle *h, BOOL8 *pboBreak, OSAL_HMUTEX hBreakMutex);
using PfnConfigInputFilter = BOOL8(ZERA_CALL *)(StackHandle *h, uint8_t u8Level, uint32_t *pdwLevelMask,
                                               uint32_t *pdwTypeMask, BOOL8 boSet);
using PfnInputFilter = void(ZERA_CALL *)(StackHandle *h, Event *pstEvent);
using PfnSetRestoreParams = void(ZERA_CALL *)(StackHandle *h, Event *pstEvent);
using PfnGetTime = BOOL8(ZERA_CALL *)(StackHandle *h, uint8_t u8Level, TimeVal *pstTime);
using PfnGetStatistics = BOOL8(ZERA_CALL *)(StackHandle *h, uint8_t u8Level, uint32_t *pdwOut);
using PfnResetStatistics = BOOL8(ZERA_CALL *)(StackHandle *h, uint8_t u8Level);
using PfnComponentNameA = const char *(ZERA_CALL *)(StackHandle *h, uint8_t u8Level);
using PfnComponentNameW = const WCHAR16 *(ZERA_CALL *)(StackHandle *h, uint8_t u8Level);
using PfnErrorText = char *(ZERA_CALL *)(StackHandle *h, uint8_t u8Level, uint32_t dwCode);
using PfnFreeMemory = void(ZERA_CALL *)(void *pv);
using PfnReceiveEventIntl = Event *(ZERA_CALL *)(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask,
                                                 const TimeVal *pstTimeout, BOOL8 boRemove);

// The function in slot `slot` of h's table, as Pfn. Null with 1027 when the
// slot is empty: the level's table was never filled (a level made by hand,
// not bound), so it cannot take part in requests along the chain.
template <typename Pfn>
Pfn EntryOf(const StackHandle *h, int slot) {
    ZERA_PFN entry = h->apfnEntry[slot];
    if (entry == nullptr) OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
    return reinterpret_cast<Pfn>(entry);
}

// ---- Binding ------------------------------------------------------------------------

// Why the last binding on the calling thread refused its level: a static
// text naming the missing export or the failed step, or null when the last
// binding succeeded (or none ran since ClearBindingRefusal). The binding
// records it; the add uses it to explain its 1035.
ZERA_TEST_VISIBLE const char *BindingRefusal();
void RecordBindingRefusal(const char *reason);
inline void ClearBindingRefusal() { RecordBindingRefusal(nullptr); }

// ---- Component names -------------------------------------------------------------

// Where the component name lies inside a file or module name: after the last
// ':', '\' or '/', without one suffix of ".DLL", ".EXE", ".COMPONENT" or
// ".PLUGIN" (tried in this order, case ignored) that the rest ends with and is
// strictly longer than. `name` must not be null.
struct NameSpan {
    size_t offset;
    size_t length;
};
ZERA_TEST_VISIBLE NameSpan ComponentNameSpan(const char *name);
ZERA_TEST_VISIBLE NameSpan ComponentNameSpan(const WCHAR16 *name);

// A level's name block, built from a file or module name in the level's own
// width: one heap block (zera::Alloc) holding the component name in that width
// at its start, followed by the same name in the other width (wide units above
// 0xFF become '?'). pvComponentName holds it, so it is both the string of the
// level's width and the block that zera::Free releases. Null when memory runs
// out (no code stored).
ZERA_TEST_VISIBLE void *BuildLevelName(const char *source);
ZERA_TEST_VISIBLE void *BuildLevelName(const WCHAR16 *source);
// The two forms in a block that BuildLevelName made; wideFirst says which
// overload made it. Null for a null block.
ZERA_TEST_VISIBLE const char *LevelNameNarrow(const void *block, bool wideFirst);
ZERA_TEST_VISIBLE const WCHAR16 *LevelNameWide(const void *block, bool wideFirst);

}  // namespace zera

#endif  // ZERA_HANDLE_HANDLE_H
