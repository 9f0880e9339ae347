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

/* Sets dwEventId, any value (a cancel's wildcards included); on a stack
 * with identifier management h also becomes the owner with this identifier.
 * False with 1027 (h) or 1028 (null event); the event is then unchanged. */
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

/* ---- Sending ---------------------------------------------------------------------
 *
 * An event climbs from the sender's level through entry slot 35 of each level
 * to the level its u8Level names (0 counts as 1), where it joins that level's
 * send queue in time-stamp order. There a type-1 event may instead modify or
 * cancel queued events of that level (u8QueueOp), or stay queued as a
 * repeating master that hands out one copy per period. A stack status event
 * climbs to the topmost level and is turned back down there.
 *
 * Any thread may send on any level; one thread per level takes its due
 * events with ZERA_pstGetNextSendEvent. */

/* u8QueueOp of a type-1 event: bits 0-1 the operation, the rest what a
 * modify takes over from the sent event. */
#define ZERA_QOP_INSERT 0x00u
#define ZERA_QOP_MODIFY 0x01u
#define ZERA_QOP_CANCEL 0x02u
#define ZERA_QOP_GROUPS_ALL 0x04u    /* all option groups, and u8Options */
#define ZERA_QOP_GROUPS_CHOSEN 0x08u /* the groups in the sent u8Options bits 0-3 */
/* Option groups, by u8Options bit: ZERA_OPT_AUX1 u64Aux1, ZERA_OPT_AUX2
 * u64Aux2, ZERA_OPT_AUX3 u8Aux3, ZERA_OPT_REPEATING stPeriod and
 * u16RepeatCount (the time stamp moves by the change of period). */
#define ZERA_QOP_DATA 0x10u          /* dwDataSize and the bytes */
#define ZERA_QOP_TIMESTAMP 0x20u
#define ZERA_QOP_FLAGS 0x40u
#define ZERA_QOP_ATTACHMENTS 0x80u   /* the two attachment lists are exchanged */

/* Identifiers of a cancel that match more than one identifier. */
#define ZERA_CANCEL_ALL 0xFFFFFFC0u              /* every event of the level */
#define ZERA_CANCEL_ALL_BUT_MASTERS 0xFFFFFFE0u  /* all but repeating type-1 masters */
#define ZERA_CANCEL_MASTERS 0xFFFFFFE1u          /* the repeating type-1 masters */

/* Sends pstEvent from level h (the sender's own level) with dwFlags =
 * dwSendFlags and stTimeStamp = *pstSendTime (a RELATIVE time counts from
 * the destination level's time when the event arrives). On a stack with
 * identifier management the event's owner must be h with the identifier it
 * assigned; the owner moves along with the event. True: the event belongs
 * to the destination queue (or was consumed by a modify or cancel). False:
 * the caller still owns it (refused before it left h, it is unchanged),
 * with the codes:
 *   1028 null event or time, level above 31, time infinite, a type-4
 *        interval not RELATIVE;
 *   1027 h, the owner or a level on the way invalid, or no level as high as
 *        the event's;
 *   2062 no owner, 2058 owner not h, 2061 identifier not the owner's;
 *   1034 a repeating or modifying type-1 event with identifier 0 or
 *        reserved, a queue operation on a type other than 1, a repeating
 *        event whose period is not RELATIVE or infinite, a modify's data
 *        larger than its event's own area;
 *   2048 the event's level is below the sender's;
 *   1046 a modify names an identifier that two queued events share;
 *   1026 a modify cannot grow the queued event;
 *   the queue's code when the put fails (1037 full).
 * No code of its own for queue operation 3, a cancel that removed nothing,
 * a modify without a match. An event that a modify changed but could not
 * put back into its queue is not lost: it gets ZERA_EVF_REQUEUE_FAILED and
 * goes to its level's input filter. */
ZERA_API BOOL8 ZERA_CALL ZERA_boSendEvent(StackHandle *h, Event *pstEvent, uint32_t dwSendFlags,
                                          const TimeVal *pstSendTime);

/* Entry slot 35: carries an event on from level h, or queues (modifies,
 * cancels) it when h is its level. Ownership as ZERA_boSendEvent. */
ZERA_API BOOL8 ZERA_CALL ZERA_boSendEventIntl(StackHandle *h, Event *pstEvent);

/* Takes the next due event of h's send queue: the first one whose time stamp
 * minus *pstLead has come. Sleeps in the queue's waits while none is due.
 * Returns null at once while the flag *pboBreak is set (read under
 * hBreakMutex; never cleared here: the caller clears it before it waits
 * again). A repeating master stays queued: the caller gets a copy
 * (ZERA_OPT_COPY, same identifier, attachments copied; u8Error 0xFF and
 * ZERA_EVF_LATE when the master had fallen behind and was moved to now),
 * and on its last delivery the master itself with ZERA_OPT_COPY. The caller
 * owns what it gets. Null also with 1027 (h), 1028 (a null pointer or
 * mutex), or the platform's code when the queue cannot be locked or its
 * wait cannot be set up (1026). One thread per level takes. */
ZERA_API Event *ZERA_CALL ZERA_pstGetNextSendEvent(StackHandle *h, const TimeVal *pstLead, BOOL8 *pboBreak,
                                                   OSAL_HMUTEX hBreakMutex);

/* Ends a ZERA_pstGetNextSendEvent on h: under hBreakMutex (if given) sets
 * *pboBreak (if given) to 1 and wakes the taker. h is not checked. */
ZERA_API void ZERA_CALL ZERA_vBreakSendEventWait(StackHandle *h, BOOL8 *pboBreak, OSAL_HMUTEX hBreakMutex);

/* ---- Receiving ----------------------------------------------------------------------
 *
 * Level h reads the receive queue of its NEXT level, which the input filter
 * fills with the events that h's masks ask for. A time-out is
 * OSAL_stTimeNoWait (no wait), OSAL_stTimeInfinite (no limit), RELATIVE (that
 * long from now) or a point in time. Several threads may receive from one
 * queue; a receive holds no lock while it waits. */

/* Takes out of the next level's receive queue the earliest event whose level
 * bit (1 << u8Level) is in dwLevelMask and whose type bit (1 << (i32Type &
 * 31)) is in dwTypeMask, waiting up to *pstTimeout. The caller owns it
 * (ZERA_boDeleteEvent). Null on time-out or a broken wait (no code), 1027
 * for h or a missing next level, 1028 for a null time-out. A break is never
 * lost: one that came after the calling thread's previous receive on this
 * queue (so possibly after the caller looked at its break flag) makes a
 * receive that would wait return what is there, or null at once. */
ZERA_API Event *ZERA_CALL ZERA_pstReceiveEvent(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask,
                                               const TimeVal *pstTimeout);
/* As ZERA_pstReceiveEvent, but the event stays queued: whether one is there. */
ZERA_API BOOL8 ZERA_CALL ZERA_boWaitEvent(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask,
                                          const TimeVal *pstTimeout);
/* Entry slot 34: the same on h's own receive queue; boRemove takes the event
 * out, else it is only looked at (and stays the queue's). */
ZERA_API Event *ZERA_CALL ZERA_pstReceiveEventIntl(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask,
                                                   const TimeVal *pstTimeout, BOOL8 boRemove);

/* Entry slot 17: the masks with which level h asks its next level's filter
 * for events (a level bit per sending level, a type bit per i32Type). At
 * level 0 a level mask of 0 means level 1. Refreshes dwLowerWantedLevels of
 * every level above. False with 1027. */
ZERA_API BOOL8 ZERA_CALL ZERA_boSetEventTypes(StackHandle *h, uint32_t dwLevelMask, uint32_t dwTypeMask);
/* h's two masks. False with 1027, or 1028 for a null address. */
ZERA_API BOOL8 ZERA_CALL ZERA_boGetEventTypes(StackHandle *h, uint32_t *pdwLevelMask, uint32_t *pdwTypeMask);

/* Ends the receive waits of level h (on its next level's receive queue):
 * under hBreakMutex (if given) sets *pboBreak (if given) to 1 and wakes
 * every waiter; a broken receive returns null, as does the next receive that
 * would wait of any other thread that was not waiting at that moment. The
 * flag stays set until its owner clears it. h is not checked. */
ZERA_API void ZERA_CALL ZERA_vBreakRecvEventWait(StackHandle *h, BOOL8 *pboBreak, OSAL_HMUTEX hBreakMutex);
/* Entry slot 20: the same on h's own receive queue. */
ZERA_API void ZERA_CALL ZERA_vBreakRecvEventWaitIntl(StackHandle *h, BOOL8 *pboBreak, OSAL_HMUTEX hBreakMutex);

/* Releases a packet made by the level-marshalling hook (entry slot 0)
 * without changing the calling thread's error code. */
ZERA_API void ZERA_CALL ZERA_vRetrieveStackHandleDone(ZERA_HPACKET hPacket);

/* ---- Input filter ---------------------------------------------------------------------
 *
 * Carries events down from level h, taking ownership: each ends in a receive
 * queue, in the previous level's filter (entry slot 22), or deleted. Events
 * of h's own level are stamped with the stack's time and counted (types 0
 * and 2, by their flag bits 14 to 17); a type-2 answer keeps h's
 * stTimeOffset and may reschedule its repeating master (ZERA_EVF_FOLLOW_ANSWERS).
 * Which level takes an event is decided by the previous level's masks
 * (ZERA_boSetEventTypes): into h's receive queue when it wants the event,
 * further down when a level below wants it, both with a copy. A stack status
 * event changes every level's dwStatus on its way to level 0, starting or
 * stopping the components' communication threads and returning identifier
 * blocks; level 1 queues a copy for the host. */

/* Entry slot 22: ZERA_vInputFilterEx(h, pstEvent, 1). */
ZERA_API void ZERA_CALL ZERA_vInputFilter(StackHandle *h, Event *pstEvent);
/* The filter; boCount 0 leaves the statistics alone. An invalid h or
 * previous level deletes the event. */
ZERA_API void ZERA_CALL ZERA_vInputFilterEx(StackHandle *h, Event *pstEvent, BOOL8 boCount);
/* Entry slot 21: reads (boSet 0: into the non-null addresses) or sets (both
 * addresses required) the masks of level u8Level (low 6 bits) as
 * ZERA_boGetEventTypes / ZERA_boSetEventTypes. False with 1027, 2048 for a
 * level below h, 1028 for a set without both masks. */
ZERA_API BOOL8 ZERA_CALL ZERA_boConfigInputFilter(StackHandle *h, uint8_t u8Level, uint32_t *pdwLevelMask,
                                                  uint32_t *pdwTypeMask, BOOL8 boSet);

/* ---- Restoring parameters --------------------------------------------------------------- */

/* Entry slot 23: applies pstEvent's attachments for level h to h's stack
 * parameters, then passes the event on to the next level for the
 * attachments of the levels above (those are dropped when there is none).
 * For a stack parameter of the same name and type that is settable now and
 * attachable (ZERA_ATTR_ATTACHABLE) the values are exchanged and the
 * parameter is marked changed. A selector-0 attachment is consumed; a
 * selector-1 attachment keeps the replaced values and becomes selector 0, so
 * that a second call undoes the change. When a parameter of h matched, h's
 * component is notified (the width of the event's attachments) and a status
 * change is announced. The caller keeps the event; no code of its own. */
ZERA_API void ZERA_CALL ZERA_vSetRestoreParams(StackHandle *h, Event *pstEvent);

#ifdef __cplusplus
}
#endif

#endif /* ZERA_EVENT_H */
