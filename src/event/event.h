// event/event.h - what the event subsystem offers the rest of the library:
// time arithmetic on TimeVal values, the size of an event's own data or item
// area and its growth, the stack status event, the shared pieces of the
// event flow (sending, taking due events, the input filter, receiving), the
// error-text slots and the event encoding.
//
// Internal: included by src/ and by tests only. Events carry no lock: one
// thread at a time uses an event (its owner).
#ifndef ZERA_EVENT_EVENT_H
#define ZERA_EVENT_EVENT_H

#include <cstdint>

#include "VOQ_ZERA_Comp.h"
#include "common/common.h"
#include "common/platform_locks.h"
#include "common/time_value.h"
#include "handle/handle.h"
#include "marshal/marshal.h"
#include "trace/trace.h"

namespace zera {

// ---- Time arithmetic ------------------------------------------------------------
// The tests for the special values are common/time_value.h. None of these
// store a code.

// A point in time plus a duration, absolute: infinite when either is. The
// seconds add (modulo 2^32), the microseconds add without the RELATIVE flag,
// and a sum of 1,000,000 or more carries one second.
ZERA_TEST_VISIBLE TimeVal TimeSum(const TimeVal &time, const TimeVal &duration);

// a - b, absolute: NoWait when b is infinite, else infinite when a is.
// Otherwise the seconds subtract and the microseconds subtract without the
// RELATIVE flag; a borrow (bit 30 of the difference) takes one second and
// adds 1,000,000 (modulo 2^31). Inline, as the next two: a taker decides
// with them, under its queue's lock, whether an event is due.
inline TimeVal TimeDifference(const TimeVal &a, const TimeVal &b) {
    constexpr uint32_t kBorrowBit = 0x40000000u;
    if (TimeIsInfinite(b)) return kTimeNoWait;
    if (TimeIsInfinite(a)) return kTimeInfinite;
    uint32_t seconds = static_cast<uint32_t>(a.i32Seconds) - static_cast<uint32_t>(b.i32Seconds);
    uint32_t micros = (a.dwMicroseconds - b.dwMicroseconds) & OSAL_TIME_USEC_MASK;
    if ((micros & kBorrowBit) != 0) {
        --seconds;
        micros = (micros + static_cast<uint32_t>(kMicrosPerSecond)) & OSAL_TIME_USEC_MASK;
    }
    return TimeVal{micros, static_cast<int32_t>(seconds)};
}

// Whether a is later than b: the seconds compared as a signed 32-bit
// difference, then the microseconds by their difference shifted left by one
// (so bit 31, RELATIVE, of either plays no part).
inline bool TimeIsLater(const TimeVal &a, const TimeVal &b) {
    const uint32_t apart = static_cast<uint32_t>(a.i32Seconds) - static_cast<uint32_t>(b.i32Seconds);
    if (static_cast<int32_t>(apart) > 0) return true;
    if (a.i32Seconds != b.i32Seconds) return false;
    return static_cast<int32_t>((a.dwMicroseconds - b.dwMicroseconds) << 1) > 0;
}

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
// Locks are taken in the order of common/lock_order.h (a caller's break
// mutex before a queue's cursor lock); a null put takes no cursor lock, so
// a break never waits for a walk. Under a send queue's cursor lock the flow
// reads the stack's time (slot 24) and copies events; the input filter, a
// cancel's ZERA_vSetRestoreParams and with them every notification and
// status announcement run only after the lock is released.

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
// holds a usable time. h must have passed the handle check.
bool ReadLevelTime(StackHandle *h, TimeVal *time);

// Puts `ev`, unlinked from h's send queue under `walk`, back in time-stamp
// order and ends the walk. When it cannot go back, it is not lost: bit 16
// (ZERA_EVF_REQUEUE_FAILED) is set and, after the lock is released,
// ZERA_vInputFilter(h, ev) takes it. True when it went back into the queue.
bool PutBackAndUnlock(StackHandle *h, QueueWalk &walk, Event *ev);

// Applies a stack status at h and at every level below it down to level 0,
// as a stack status event entered at h's filter would (identifier blocks,
// the components' start and stop), but without an event: nothing is queued
// for the host. A removal stops the stack with it when no status event can
// be made, so that no level is deinitialised with its threads running.
// Allocates nothing; takes no lock; stops at a level that fails the check.
void ApplyStackStatusDown(StackHandle *h, uint32_t status);

// The error stored by the first start export that returned false on this
// thread since its last ForgetRefusedStart: code 0 when none did or it
// stored none, else the code and the thread's error text as it read then.
// A status walk goes on below a refusing level (and the host kit stops the
// started levels again), so the thread's last error no longer holds it when
// the walk returns; the host kit's start reports this instead. Per thread,
// no lock.
struct RefusedStart {
    uint32_t code;
    char text[512];
};
void ForgetRefusedStart();
const RefusedStart &FirstRefusedStart();

// ---- The flow as the timeline and the debug output see it ---------------------
// Called only behind trace::Hooked(category), so that the flow pays one load
// and a branch while nobody watches. None of them blocks or stores a code.

// The stamp of when the event joined its current queue, kept in its block
// beside the header (the record's layout stays as it is); 0 when it joined
// unwatched. Owned, as the event, by whoever holds it.
void SetArrivalStamp(Event *event, uint32_t stamp);
uint32_t ArrivalStampOf(const Event *event);

// Puts ev into `queue` (h's send or receive queue, `kind` kSent or kQueued)
// in time-stamp order with its arrival stamped, and records the arrival once
// the put succeeded (the event is then the queue's and is not read again).
// Returns what the put returned.
bool PutWatched(StackHandle *h, OSAL_HQUEUE queue, Event *ev, trace::Kind kind);
// Records that ev left h's queue (kTaken, kReceived): its stay from the
// arrival stamp to now. The caller owns ev.
void WatchDeparture(StackHandle *h, const Event *ev, trace::Kind kind);
// A repeating master handed out `copy` and stays queued: the stay so far
// ends with the copy's take, and a new one begins.
void WatchRepetition(StackHandle *h, Event *master, const Event *copy);
// Any other mark at h: ev may be null (a break, a status); `value` as
// trace::Record takes it.
void WatchMark(StackHandle *h, const Event *ev, trace::Kind kind, uint64_t value);

// ---- The stack status event ---------------------------------------------------------

// A new stack status event for level h: type 3, h's level, one kind-0 item
// of 12 bytes holding `status`. Made with ZERA_pstCreateEventEx, so on a stack
// with identifier management its identifier comes from h's manager (which
// needs the stack complete). The caller owns it; null with the create's code.
ZERA_TEST_VISIBLE Event *NewStackStatusEvent(StackHandle *h, uint32_t status);

// Whether ev is a stack status event (type 3, one item of kind 0 inside its
// item area); its status word goes to *status.
ZERA_TEST_VISIBLE bool ReadStackStatusEvent(const Event *ev, uint32_t *status);

// ---- Error texts (entry slots 32 and 33) -------------------------------------------

// Slot 32: the text of an error code as level u8Level sees it, in a block
// from ZERA_pvMalloc that the caller releases (slot 33 of the level it
// called, or ZERA_vFree). Null when there is none.
char *ZERA_CALL ErrorTextEntry(StackHandle *h, uint8_t u8Level, uint32_t dwCode);
// Slot 33: releases a block handed out through slot 32 (ZERA_vFree).
void ZERA_CALL FreeMemoryEntry(void *pv);

// ---- The event encoding -------------------------------------------------------------

// The event encoding behind the exports of the same names in zera/marshal.h,
// for the stack description and the tests. Same contracts as those exports.
ZERA_TEST_VISIBLE bool MarshalEvent(MarshalPacket *p, Event *event);
ZERA_TEST_VISIBLE bool UnmarshalEvent(MarshalPacket *p, Event **event, bool wideAttach);

}  // namespace zera

#endif  // ZERA_EVENT_EVENT_H
