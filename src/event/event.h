// event/event.h - what the event subsystem offers the rest of the library:
// time arithmetic on TimeVal values, the size of an event's own data or item
// area, and the lookup of a stack parameter that attaching needs (provided
// by the stack subsystem). The sending, receiving, input-filter and
// restore-parameter files of this folder add their declarations here.
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

// ---- Stack parameters (provided by the stack subsystem) -------------------------

// The stack parameter `name` (narrow, or 16-bit when `wide`) of level `level`
// as seen from h, found exactly as ZERA_pstGetStackParamA/W finds it: h is
// checked (1027), a level of 0 or below h's is refused (2048), the request
// climbs to that level, and no parameter of that name gives null with 1028.
// The record belongs to that level's list. Reads only the chain of levels and
// the lists; takes no lock.
//
// Until the stack subsystem defines it, a stand-in in
// event/stack_param_lookup.cpp searches pstStackParams of the level found by
// climbing from h (a weak definition on ELF builds, which the stack
// subsystem's own replaces).
Param *FindStackParam(StackHandle *h, uint8_t level, bool wide, const void *name);

}  // namespace zera

#endif  // ZERA_EVENT_EVENT_H
