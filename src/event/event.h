// event/event.h - what the event subsystem offers the rest of the library:
// time arithmetic on TimeVal values, the size of an event's own data or item
// area and its growth, the shared pieces of the event flow (sending, taking
// due events, the input filter, receiving, restoring parameters), and the
// lookup of a stack parameter that attaching needs (provided by the stack
// subsystem).
//
// Internal: included by src/ and by tests only. Events carry no lock: one
// thread at a time uses an event (its owner).
#ifndef ZERA_EVENT_EVENT_H
#define ZERA_EVENT_EVENT_H

#include <cstdint>

#include "VOQ_ZERA_Comp.h"
#include "common/common.h"

namespace zera {

// ---- Time arithmetic ------------------------------------------------------------
// Equality with OSAL_stTimeInfinite or OSAL_stTimeNoWait is tested on both
// words. None of these store a code.

ZERA_TEST_VISIBLE bool TimeIsInfinite(const TimeVal &t);
ZERA_TEST_VISIBLE bool TimeIsNoWait(const TimeVal &t);
// Bit 31 of the microseconds: a duration counted from now. Infinite has it.
ZERA_TEST_VISIBLE bool TimeIsRelative(const TimeVal &t);

// A point in time plus a duration, absolute: infinite when either is. The
// seconds add (modulo 2^32), the microseconds add without the RELATIVE flag,
// and a sum of 1,000,000 or more carries one second.
ZERA_TEST_VISIBLE TimeVal TimeSum(const TimeVal &time, const TimeVal &duration);

// a - b, absolute: NoWait when b is infinite, else infinite when a is.
// Otherwise the seconds subtract and the microseconds subtract without the
// RELATIVE flag; a borrow (bit 30 of the difference) takes one second and
// adds 1,000,000 (modulo 2^31).
ZERA_TEST_VISIBLE TimeVal TimeDifference(const TimeVal &a, const TimeVal &b);

// Whether a is later than b: the seconds compared as a signed 32-bit
// difference, then the microseconds by their difference shifted left by one
// (so bit 31, RELATIVE, of either plays no part).
ZERA_TEST_VISIBLE bool TimeIsLater(const TimeVal &a, const TimeVal &b);

// ---- Event records ---------------------------------------------------------------

// Largest data or item area of an event, and the first level it may not have.
constexpr uint32_t kEventMaxAreaSize = 0x3FFFFFFFu;
constexpr uint32_t kEventLevelLimit = 64;

// The bytes that belong to the event's own block behind its header: the
// dwSize it was created with for types 0 to 3, 0 for other types. Readers and
// writers of pbData / pbItems stay within it while the pointer still
// addresses that area (OwnArea). `event` must come from ZERA_pstCreateEvent
// or an operation that calls it.
ZERA_TEST_VISIBLE uint32_t EventAreaSize(const Event *event);
// The address of the area directly behind the header.
uint8_t *OwnArea(Event *event);
const uint8_t *OwnArea(const Event *event);

// Grows the block of `event` so that its own area holds at least `areaSize`
// bytes (a smaller size changes nothing). The header and the area's bytes
// move with the block; a pbData (types 0-2) or pbItems (type 3) that
// addressed the own area addresses the new one. Returns the event's address
// afterwards, or null with 1026 when memory runs out (the event is then
// unchanged at its old address). Only an event that nobody else can reach
// (e.g. unlinked from its queue) may be grown: its address changes.
Event *GrowEventArea(Event *event, uint32_t areaSize);

// ---- The event flow (send.cpp, send_queue_take.cpp, input_filter.cpp,
// receive.cpp, restore_params.cpp) ------------------------------------------
//
// Lock order: a caller's break mutex (ZERA_pstGetNextSendEvent,
// ZERA_vBreak*Wait) before a queue's cursor lock (OSAL_hQueueLock); a null
// put takes no cursor lock, so a break never waits for a walk. Under a send
// queue's cursor lock the flow reads the stack's time (slot 24) and copies
// events; the input filter runs only after the lock is released, except
// within a cancel, whose ZERA_vSetRestoreParams runs under its own walk's
// lock (the component's notification and a status announcement with it).

// Types under which the flow's entry slots are called (slot numbers:
// zera::EntrySlot in handle/handle.h; the stack subsystem's stack/stack.h
// gives the types of the other slots).
using PfnSendEventIntl = BOOL8(ZERA_CALL *)(StackHandle *h, Event *pstEvent);
using PfnSetEventTypes = BOOL8(ZERA_CALL *)(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask);
using PfnBreakRecvEventWait = void(ZERA_CALL *)(StackHandle *h, BOOL8 *pboBreak, OSAL_HMUTEX hBreakMutex);
using PfnConfigInputFilter = BOOL8(ZERA_CALL *)(StackHandle *h, uint8_t u8Level, uint32_t *pdwLevelMask,
                                               uint32_t *pdwTypeMask, BOOL8 boSet);
using PfnSetRestoreParams = void(ZERA_CALL *)(StackHandle *h, Event *pstEvent);
using PfnReceiveEventIntl = Event *(ZERA_CALL *)(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask,
                                                 const TimeVal *pstTimeout, BOOL8 boRemove);
using PfnErrorText = char *(ZERA_CALL *)(StackHandle *h, uint8_t u8Level, uint32_t dwCode);
using PfnFreeMemory = void(ZERA_CALL *)(void *pv);

// Bits of a type-1 event's u8QueueOp.
constexpr uint8_t kQueueOpMask = 0x03;
constexpr uint8_t kQueueOpInsert = 0;
constexpr uint8_t kQueueOpModify = 1;
constexpr uint8_t kQueueOpCancel = 2;
constexpr uint8_t kQueueOpRefused = 3;
constexpr uint8_t kModifyGroupsMask = 0x0C;  // 4: all groups and u8Options, 8: the chosen groups, 12: both
constexpr uint8_t kModifyData = 0x10;
constexpr uint8_t kModifyTimeStamp = 0x20;
constexpr uint8_t kModifyFlags = 0x40;
constexpr uint8_t kModifyAttachments = 0x80;

// Wildcards of a cancel's identifier.
constexpr uint32_t kCancelAll = 0xFFFFFFC0u;
constexpr uint32_t kCancelAllButMasters = 0xFFFFFFE0u;
constexpr uint32_t kCancelMasters = 0xFFFFFFE1u;

// Whether ev is a repeating master: a type-1 event with the REPEATING option.
// Other types' u8Options bytes are not read.
inline bool IsRepeatingType1(const Event *ev) {
    return ev->i32Type == ZERA_EVENT_DATA && (ev->u8Options & ZERA_OPT_REPEATING) != 0;
}

// The time of h's stack as h's entry slot 24 reads it. When the slot fails
// or is empty (false), *time gets the platform's clock, so that it always
// holds a usable time.
bool ReadLevelTime(StackHandle *h, TimeVal *time);

// Puts `ev`, unlinked from h's send queue under `cursor`, back in time-stamp
// order and releases the cursor. When it cannot go back, it is not lost:
// bit 16 (ZERA_EVF_REQUEUE_FAILED) is set and, after the lock is released,
// ZERA_vInputFilter(h, ev) takes it. True when it went back into the queue.
bool PutBackAndUnlock(StackHandle *h, OSAL_HQCURSOR cursor, Event *ev);

// Applies a stack status at h and at every level below it down to level 0,
// as a stack status event entered at h's filter would (identifier blocks,
// the components' start and stop), but without an event: nothing is queued
// for the host. A removal stops the stack with it when no status event can
// be made, so that no level is deinitialised with its threads running.
// Allocates nothing; takes no lock; stops at a level that fails the check.
void ApplyStackStatusDown(StackHandle *h, uint32_t status);

// ---- Stack parameters (provided by the stack subsystem) -------------------------

// The stack parameter `name` (narrow, or 16-bit when `wide`) of level `level`
// as seen from h, found exactly as ZERA_pstGetStackParamA/W finds it: h is
// checked (1027), a level of 0 or below h's is refused (2048), the request
// climbs to that level, and no parameter of that name gives null with 1028.
// The record belongs to that level's list. Reads only the chain of levels and
// the lists; takes no lock. Defined by the stack subsystem.
Param *FindStackParam(StackHandle *h, uint8_t level, bool wide, const void *name);

}  // namespace zera

#endif  // ZERA_EVENT_EVENT_H
