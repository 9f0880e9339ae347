/*
 * handle/handle.h - what the handle subsystem offers the rest of the library:
 * the ready flag and the process key set at library start, the masked link
 * from level 0 to level 1, the slot numbers of a level's entry table, and the
 * building of component names.
 *
 * Internal: included by src/ and by tests/handle only.
 */
#ifndef ZERA_HANDLE_HANDLE_H
#define ZERA_HANDLE_HANDLE_H

#include <cstddef>
#include <cstdint>

#include "VOQ_ZERA_Comp.h"
#include "common/common.h"

// Provided by the event subsystem: deletes an event with its data, its
// attachments and their parameter lists. Every handle's two queues delete the
// events left in them with it.
extern "C" ZERA_API void ZERA_CALL ZERA_vDeleteEvent(Event *pstEvent);

namespace zera {

// ---- Record checks -----------------------------------------------------------

// What ZERA_boInfoBlockCheck and ZERA_boHandleCheck test, inline and storing
// no code: for paths that check a level on every call.
inline bool InfoBlockValid(const InfoBlock *b) {
    return b != nullptr && b->dwMagic == ZERA_INFOBLOCK_MAGIC && b->dwSize == sizeof(InfoBlock);
}
inline bool HandleValid(const StackHandle *h) {
    return h != nullptr && h->dwMagic == ZERA_HANDLE_MAGIC && h->dwSize == sizeof(StackHandle) &&
           h->hSendQueue != nullptr && h->hRecvQueue != nullptr && InfoBlockValid(h->pstInfoBlock) &&
           InfoBlockValid(h->pstUpperInfoBlock);
}

// ---- Library start and stop ------------------------------------------------

// Whether the platform layer started when the library was loaded. Written
// once before any other operation can run; read without a lock.
ZERA_TEST_VISIBLE bool LibraryReady();

// The per-process key that masks the link from level 0 to level 1. Made once
// at library start, never changed. Pointer-wide: on 64-bit builds its low 32
// bits are the 32-bit key and its high 32 bits come from the next four draws
// of the same generator (see MakePointerKey).
ZERA_TEST_VISIBLE ZERA_UPTR PointerKey();

// The key as library start makes it from the current time's seconds: srand
// with the seconds, then four rand values r1..r4 give the 32-bit word
// ((r1*256 + r2)*256 + r3)*256 + r4 (unsigned arithmetic, unmasked). Wider
// builds draw a second such word for the high half. Reseeds the process's
// rand generator.
ZERA_TEST_VISIBLE ZERA_UPTR MakePointerKey(int32_t i32Seconds);

// ---- The chain of levels ---------------------------------------------------------

// The masked link word: stores `upper` (null clears it) into the descriptor of
// a level 0, XORed with the process key.
void WriteLevel1Link(HostStackDescriptor *pstDesc, StackHandle *pstUpper);
// The unmasked link: level 1, or null when the descriptor holds the masked null.
StackHandle *ReadLevel1Link(const HostStackDescriptor *pstDesc);

// The level above h, or null. h is not checked (it must not be null); a
// level-0 handle whose pvLevelContext is not set yet has no level above.
StackHandle *NextLevelOf(const StackHandle *h);

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

using PfnComponentNameA = const char *(ZERA_CALL *)(StackHandle *h, uint8_t u8Level);
using PfnComponentNameW = const WCHAR16 *(ZERA_CALL *)(StackHandle *h, uint8_t u8Level);

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
