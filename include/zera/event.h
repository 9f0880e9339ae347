/*
 * zera/event.h - the event record: creating, identifying, copying, extending
 * and deleting events, and the parameter lists attached to them.
 *
 * An event is one heap block made by ZERA_pstCreateEvent (or an operation
 * that calls it: create-ex, the clones, unmarshalling): its header, then the
 * data (types 0-2) or item area (type 3). Only such blocks may be passed to
 * the operations here; the library keeps bookkeeping of its own in front of
 * the header. The event owns its area, its attachment nodes and their lists.
 * Whoever holds the pointer owns the event: the creator until a send
 * succeeds, then the queue, then whoever takes it out. Events carry no lock.
 *
 * Identifiers of events made without an identifier manager (ZERA_pstCreateEvent,
 * and create-ex on a stack whose level-0 status has ZERA_STATUS_NO_EVID):
 * - 32-bit builds: the address of the record itself. A record cannot start
 *   in the last 64 bytes below 4 GiB, so the value never falls in the
 *   reserved range ZERA_EVID_RESERVED_FIRST..0xFFFFFFFF.
 * - 64-bit builds: an address does not fit in 32 bits, so each record draws
 *   an odd number from a process-wide table of live records when it is made
 *   and gives it back when it is deleted: unique among the process's live
 *   events, never 0, never in the reserved range, and never equal to an
 *   identifier from a manager (those are even). A deleted record's number
 *   may be drawn again at once, as a freed address may be reused on 32-bit
 *   builds. The number stays with the record even when dwEventId is changed.
 * A clone copies the header, so it carries its source's dwEventId either way.
 *
 * Attachments: all parameter lists of one event are of one width, recorded in
 * boWideAttach; the operations never convert between widths.
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_EVENT_H
#define ZERA_EVENT_H

#include "zera/types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Largest dwSize of an event, and the first level an event may not have. */
#define ZERA_EVENT_MAX_SIZE 0x3FFFFFFFu
#define ZERA_EVENT_LEVEL_LIMIT 64u

/* Event types. Other values make bare events (header only). */
#define ZERA_EVENT_DATA0 0
#define ZERA_EVENT_DATA 1 /* the one that can repeat, be modified or cancelled */
#define ZERA_EVENT_DATA2 2
#define ZERA_EVENT_ITEMS 3
#define ZERA_EVENT_INTERVAL 4

/* u8Selector of an attachment: only 0 and 1 can be found again. */
#define ZERA_SELECTOR_MAX 1u

/* ---- Creating and identifying ------------------------------------------------ */

/* A new zero-filled event of i32Type for level u8Level (below 64), with a
 * data area (types 0-2) or item area (type 3) of dwSize bytes directly
 * behind the header; other types get the header alone and dwSize is only
 * checked. The caller owns it (ZERA_boDeleteEvent). Its identifier is its
 * own (see above); no owner. Null with 1034 (level 64 or more, size above
 * ZERA_EVENT_MAX_SIZE) or 1026 (memory). */
ZERA_API Event *ZERA_CALL ZERA_pstCreateEvent(int32_t i32Type, uint8_t u8Level, uint32_t dwSize);

/* As ZERA_pstCreateEvent, on level h: on a stack with identifier management
 * (h's dwStatus without ZERA_STATUS_NO_EVID) the identifier comes from h's
 * manager and h becomes the owner (pstOwner, dwOwnerEventId). boRepeat asks
 * for a repeating type-1 event (REPEATING option, u16RepeatCount set; the
 * caller sets a RELATIVE stPeriod before sending), which only stacks without
 * identifier management allow. Null with 1027 (h), 1028 (boRepeat with
 * another type), 1025 (boRepeat with identifier management), the manager's
 * code (2060 on an incomplete stack, 1028 when h has no manager), or the
 * create's. */
ZERA_API Event *ZERA_CALL ZERA_pstCreateEventEx(StackHandle *h, int32_t i32Type, uint8_t u8Level,
                                                uint32_t dwSize, BOOL8 boRepeat, uint16_t u16RepeatCount);

/* Sets dwEventId; on a stack with identifier management h also becomes the
 * owner with this identifier. False with 1027 (h), 1028 (null event) or 1034
 * (an identifier in the reserved range); the event is then unchanged. */
ZERA_API BOOL8 ZERA_CALL ZERA_boSetEventID(Event *pstEvent, StackHandle *h, uint32_t dwEventId);

/* ---- Deleting --------------------------------------------------------------------- */

/* Frees the event with its area, its attachment nodes and their lists.
 * False with 1028 for a null event. */
ZERA_API BOOL8 ZERA_CALL ZERA_boDeleteEvent(Event *pstEvent);
/* The same without a result: the element-delete function of every queue. */
ZERA_API void ZERA_CALL ZERA_vDeleteEvent(Event *pstEvent);

/* ---- Copying ---------------------------------------------------------------------- */

/* ZERA_pstInternalCloneEvent(pstEvent, 1). */
ZERA_API Event *ZERA_CALL ZERA_pstCloneEvent(Event *pstEvent);

/* A new event with the same header, identifier and owner, and a copy of the
 * data or items; a copy of a data event (types 0-2) is marked
 * ZERA_OPT_COPY. With boWithAttachments every node is copied with its
 * parameters (names with their additional texts, values, types, access,
 * tags and the creator's attribute bits 4-7; no permitted values), the nodes
 * in reverse order. The caller owns the copy. Null, the source unchanged,
 * with 1028 (null event), 1034 (a source area size larger than its block),
 * 1026 (memory for the copy), the code of ZERA_boSetEventID when the copy
 * cannot take the identifier under the source's owner (1027 for an owner
 * that fails the check), or 1033 (an attachment could not be copied). */
ZERA_API Event *ZERA_CALL ZERA_pstInternalCloneEvent(Event *pstEvent, BOOL8 boWithAttachments);

/* A copy without attachments that then takes over every node of the source
 * for a level above u8Level (selector 1 first, then 0; each pushed onto the
 * copy's head). The source keeps the nodes for u8Level and below. Null, the
 * source unchanged, with the codes of ZERA_pstInternalCloneEvent. */
ZERA_API Event *ZERA_CALL ZERA_pstInternalCloneEventAndSplitAttachment(Event *pstEvent, uint8_t u8Level);

/* ---- Attachments ------------------------------------------------------------------- */

/* The address of the link (the event's head link or a node's pstNext) that
 * points to the first node for (u8Level, u8Selector), or, with boAbove, for a
 * level above u8Level; the selector is compared with the node's stored bit as
 * a whole byte. Without a match: with boCreate a new node with an empty list
 * is put at the head and the head link returned; else the terminating null
 * link. A null at the returned address means no node: also when the node
 * could not be made (1026). Null only for a null event (1028). The W name is
 * the same function. */
ZERA_API Attachment **ZERA_CALL ZERA_ppstCheckParListA(Event *pstEvent, uint8_t u8Level, uint8_t u8Selector,
                                                       BOOL8 boCreate, BOOL8 boAbove);
ZERA_API Attachment **ZERA_CALL ZERA_ppstCheckParListW(Event *pstEvent, uint8_t u8Level, uint8_t u8Selector,
                                                       BOOL8 boCreate, BOOL8 boAbove);

/* Attaches a copy of a value of level u8Level's stack parameter pszName to the
 * event, in the node for (u8Level, u8Selector): a parameter of the stack
 * parameter's type and access class with the given name and the value that
 * follows as the trailing argument by that type (a string pointer for 0, a
 * uint32_t for 1 and 2, a double for 3). The stack parameter must carry
 * ZERA_ATTR_ATTACHABLE. False with 1028 (null event or name, empty name,
 * u8Level below the event's, a selector above 1, a parameter that may not be
 * attached or has no value type, or attaching in the other width while the
 * event carries parameters), the lookup's code (1027, 2048, 1028), or 1026;
 * an empty node may then stay on the event (freed with it). */
ZERA_API BOOL8 ZERA_CDECL ZERA_boAttachParamA(StackHandle *h, Event *pstEvent, uint8_t u8Level,
                                              uint8_t u8Selector, const char *pszName, ...);
ZERA_API BOOL8 ZERA_CDECL ZERA_boAttachParamW(StackHandle *h, Event *pstEvent, uint8_t u8Level,
                                              uint8_t u8Selector, const WCHAR16 *pwszName, ...);

#ifdef __cplusplus
}
#endif

#endif /* ZERA_EVENT_H */
