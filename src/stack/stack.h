// stack/stack.h - what the stack subsystem offers the rest of the library:
// the settable test of stack parameters, the level-marshalling hook of entry
// slot 0 (the stack description) and the stack-level encodings under it.
//
// Internal: included by src/stack, src/library and by tests only. Nothing
// here takes a lock except the statistics operations, which take the level's
// hMutex; the chain of levels is read without locks (adding and removing
// levels must not run concurrently with anything else on the same stack).
#ifndef ZERA_STACK_STACK_H
#define ZERA_STACK_STACK_H

#include <cstdint>

#include "VOQ_ZERA_Comp.h"
#include "common/common.h"
#include "handle/handle.h"
#include "marshal/marshal.h"

namespace zera {

// ---- The stack description --------------------------------------------------------

// Slot 0: the level-marshalling hook (the stack description packet of h and
// every level above it). The caller owns the packet.
ZERA_HPACKET ZERA_CALL MarshalLevelHook(StackHandle *h, uint32_t boChangedOnly, uint8_t u8Count);

// The stack-level and statistics encodings behind the exports of the same
// names in zera/marshal.h, for the stack description. Same contracts as
// those exports.
bool MarshalStackLevel(MarshalPacket *p, StackHandle *h, bool changedOnly);
bool UnmarshalStackLevel(MarshalPacket *p, StackHandle **level, bool wide);

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

// ---- Saying which parameter, level and value a refusal is about ----------------------
//
// Texts for the arguments of refusals, written into the caller's buffer (cut
// to fit, always terminated); none allocates.

constexpr size_t kRefusalTextSize = 512;

// snprintf for refusal texts, which are cut to fit on purpose.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
int FormatText(char *out, size_t size, const char *format, ...);

// "level 2 (Counter)"; "level 0 (VOQ_ZERA)" for a host level.
void DescribeLevel(const StackHandle *h, char *out, size_t size);
// A name given in either width, as narrow text.
void NarrowText(bool wide, const void *text, char *out, size_t size);
// A value of that type as text: a number's digits, a string in quotes.
void DescribeValue(bool wide, uint32_t type, const ParamData &value, char *out, size_t size);
// When an access class lets a parameter be set: "settable at any time",
// "settable only while the stack is stopped", "never settable".
const char *AccessWords(uint32_t access);
// The level (from h upwards, then below h) whose list holds the record p,
// or null.
StackHandle *OwnerOfParam(StackHandle *h, const Param *p);

// Store `code` with an argument that says what was refused, and return
// false:
// "level 3 (Doubler): 'Factor' is settable only while the stack is stopped".
bool FailNotSettable(uint32_t code, const StackHandle *owner, const Param *p);
// "no parameter 'Factor' on level 2 (Counter); it is on level 3 (Doubler)",
// or "...; no level has it".
bool FailNoParam(uint32_t code, StackHandle *owner, bool wide, const void *name);
// "no level 5: the topmost is level 3 (Ticker)"; `top` is the level that
// has no next level.
bool FailNoLevel(uint32_t code, const StackHandle *top, uint32_t wanted);

// Sets the levels-changed mark (ZERA_CHANGE_LEVELS in the first record's
// u8ChangeFlags) of h's stack parameters, if it has a list.
void MarkLevelsChanged(StackHandle *h);

}  // namespace zera

#endif  // ZERA_STACK_STACK_H
