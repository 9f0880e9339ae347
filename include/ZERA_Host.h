/*
 * ZERA_Host.h - the kit for host programs: the whole life of a stack from
 * level 0, in a handful of calls.
 *
 *     StackHandle *h0 = ZERA_hHostStackCreate(NULL);      ready level 0
 *     ZERA_bHostAddComponentA(h0, "Counter");             levels 1, 2, ...
 *     ZERA_boHostSetParamDWord(h0, 3, "Period", 100);     a parameter, checked against
 *                                                         what its component permits
 *     ZERA_boHostStartStack(h0);                          every level started
 *     Event *ev = ZERA_pstHostCreateEvent(h0, ZERA_EVENT_DATA0, 3, 4);
 *     ZERA_boHostSendEvent(h0, ev, 0);                    to level 3
 *     ev = ZERA_pstHostReceiveEvent(h0, 100);             what came down
 *     ZERA_boHostStopStack(h0);                           every level stopped
 *     ZERA_boHostStackDestroy(h0);                        levels removed, h0 gone
 *
 * A call that fails returns false, 0 or null after storing an error code for
 * the calling thread (OSAL_dwGetLastError; OSAL_pszGetLastErrorText gives
 * the code's text, the reason and the argument). Unless a call says
 * otherwise, a failure changes nothing. examples/hosts/ holds a complete
 * host in C and one in C++.
 *
 * Every call here takes the level-0 handle that ZERA_hHostStackCreate made
 * (1027 for anything else), except ZERA_vHostDescriptorInit. Like the
 * library's own add and remove operations, creating, adding, starting,
 * stopping and destroying must not run concurrently on one stack; creating,
 * sending and receiving events may run on any thread while it runs.
 *
 * Pure C (C11 and C++17 clean).
 */
#ifndef ZERA_HOST_H
#define ZERA_HOST_H

#include "VOQ_ZERA_Comp.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Level 0 ------------------------------------------------------------------ */

/* Prepares a descriptor for a stack with no level above 0: the link word
 * holds the masked null and the level mask has only bit 0. The host's two
 * words of its own are left alone. 1028 for a null descriptor. */
ZERA_API void ZERA_CALL ZERA_vHostDescriptorInit(HostStackDescriptor *pstDesc);

/* Creates a ready level-0 handle: its descriptor's link word holding the
 * masked null, its entry table filled with the library's own operations and
 * an empty parameter list. pstDesc is the host's descriptor (it stays the
 * host's, is prepared with ZERA_vHostDescriptorInit and must outlive the
 * stack), or null to have one made that the handle owns: the kit then points
 * pfnLevelContextRelease at its own release. The caller owns the handle and
 * releases it with ZERA_boHostStackDestroy. Null with the code of what failed
 * (1026 for memory); the host's descriptor is untouched when the handle
 * cannot be made. The level's pstUpperInfoBlock stays empty (version 0.0,
 * no flags, no ranges): it takes a level-1 component of major version 0
 * with an open range A; a host that expects another version family fills
 * it before its first add. A stack without identifier management sets
 * ZERA_STATUS_NO_EVID in the handle's dwStatus before its first add. */
ZERA_API StackHandle *ZERA_CALL ZERA_hHostStackCreate(HostStackDescriptor *pstDesc);

/* Removes every level above level 0 from the top down (a started stack is
 * stopped on the way: each level's stop export runs before its
 * deinitialisation), then releases the level-0 handle, its name and
 * parameter list, and calls its pfnLevelContextRelease (when set) with its
 * descriptor, which frees a descriptor the kit made. Events still queued at
 * level 0 are deleted. False with 1027 for an invalid handle or one that is
 * not a level 0 with a descriptor; nothing is released then. False with the
 * removal's code when a level cannot be removed: the levels below it and
 * level 0 stay, and the call may be repeated. */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostStackDestroy(StackHandle *h0);

/* ---- Adding components ------------------------------------------------------- */

/* The separator of the folders in ZERA_COMPONENT_PATH, as in PATH. */
#if defined(_WIN32)
#define ZERA_COMPONENT_PATH_SEPARATOR ';'
#else
#define ZERA_COMPONENT_PATH_SEPARATOR ':'
#endif

/* Adds the component pszName on top of the stack and returns the new level's
 * number, as ZERA_bAddToStackA does, but finds a bare name (one without a
 * folder) on the component search path first: the module <pszName>.COMPONENT
 * (or pszName, when it ends with .COMPONENT) is looked for in each folder of
 * the environment variable ZERA_COMPONENT_PATH in turn, then where the
 * library's add looks: the current folder, the running program's folder,
 * then the system loader's search, which for an installed library includes
 * its components folder (<libdir>/VOQ_ZERA_Comp/components). The first
 * file found is loaded; a name with a folder is used as given. 0 on failure,
 * the stack as it was: 1027 (h0), 1028 (null or empty name), 1026 (memory),
 * or the add's code with the file name as argument (1030 when no folder has
 * the module, 1035 for a module refused, 2055/2057 for info blocks that do
 * not suit). */
ZERA_API uint8_t ZERA_CALL ZERA_bHostAddComponentA(StackHandle *h0, const char *pszName);

/* ---- Starting and stopping ---------------------------------------------------- */

/* Starts the stack: the status "complete and started" runs down from the
 * topmost level to level 0 as a stack status event, on the calling thread;
 * each level above 0 has its component's start export
 * (ZERA_boModuleStartCommuThreadsA/W) run and takes the status when it
 * returns true. The call returns when every level has taken it or one has
 * not. Levels already started stay as they are (a second start is true).
 *
 * (ZERA_vUpdateStackStatus is not the way: it announces the status the
 * topmost level already has, so that level's own start export never runs.)
 *
 * Failure, with the stack left stopped (the levels that did start are
 * stopped again, each with its stop export):
 *   1027  h0 is not a kit-made level 0;
 *   2060  the stack is not complete (no level completes it, or it has no
 *         level above 0); the argument names the topmost level;
 *   1035  a level's module lacks one or both names of the start or stop
 *         pair (the library calls a pair only when both names exist);
 *   1036  a level's start export returned false without storing a code;
 *   the code it stored, when it stored one (a Link whose peer refused it:
 *         2057 another protocol version, 2055 another name), with its
 *         message in the text;
 *   1026  the status event could not be made.
 * For 1035, 1036 and a start export's own code the argument names the
 * highest such level and its component, as "level 2 (Loopback)", and the
 * text says what it lacks or why it did not start. */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostStartStack(StackHandle *h0);

/* Stops a started stack: the status "complete, not started" runs down from
 * the topmost level; each level that was started takes it and has its
 * component's stop export run (which should end the level's threads) before
 * the status goes on down. Returns when every level has taken it; a stack
 * that is not started is left as it is (true). False with 1027 (h0) or 1026
 * (the status event could not be made; nothing changed). */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostStopStack(StackHandle *h0);

/* Each status change also reaches level 0 as a type-3 event of level 1 (one
 * item, kind 0, holding the new status word), which ZERA_pstHostReceiveEvent
 * hands out among the other events. */

/* ---- Typed stack parameters and statistics --------------------------------
 *
 * The library's ZERA_boSetStackParamA takes its value as a variable argument
 * whose type the compiler cannot check, and stores what it is given within
 * the parameter's access class. These calls take the value in its own type
 * and check, before anything changes, that the parameter pszName of level
 * u8Level (1 to 31) exists and has that type, that its access class lets it
 * be set in the stack's state now, and that the value is one of the values
 * or ranges its component permits (ZERA_PERMIT_ in ZERA_Component.h; a
 * parameter without any takes every value of its type). A narrow name and
 * string reach a wide level as wide ones. Refusals store a code whose
 * argument names the level, its component, the parameter, the value and
 * what is permitted:
 *   1034  "level 2 (Counter): cannot set 'Rate' to 5000: permitted are
 *         1..1000"; another type ("it is a dword, not a string"); an access
 *         class that refuses now ("it is settable only while the stack is
 *         stopped (the stack is complete and started)");
 *   1028  no name; "no parameter 'Factor' on level 2 (Counter); it is on
 *         level 3 (Doubler)";
 *   1027  h0, or "no level 5: the topmost is level 3 (Ticker)";
 *   2048  a level byte other than 1 to 31 (there is no type bit to give:
 *         the call's own type is the one checked).
 * Once checked, the value is set through level 0 by the library (a
 * stack-wide parameter on every level that has one), whose own refusals
 * stand: a value the component's notification changed fails with 1034,
 * "its component kept 'Kind' at 2 instead of 3", and stays as the component
 * left it. Like the library's, these must not run concurrently with other
 * sets or with changes of the stack. */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostSetParamDWord(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                 uint32_t dwValue);
ZERA_API BOOL8 ZERA_CALL ZERA_boHostSetParamReal(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                double rValue);
/* pszValue is copied; null is refused (1034). */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostSetParamString(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                  const char *pszValue);

/* The value of a parameter, refused as the setters refuse (without the
 * access and permitted-value checks); 1028 for a null output. A dword read
 * takes types 1 and 2. The string is copied into pszOut (a wide level's one
 * byte per unit, '?' above 0xFF; a string without a value as ""); 1034 when
 * it needs more than dwOutSize bytes, NUL included (the argument says how
 * many). */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostGetParamDWord(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                 uint32_t *pdwValue);
ZERA_API BOOL8 ZERA_CALL ZERA_boHostGetParamReal(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                double *prValue);
ZERA_API BOOL8 ZERA_CALL ZERA_boHostGetParamString(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                  char *pszOut, uint32_t dwOutSize);

/* The statistics of level u8Level (0 to the topmost) as named fields
 * (zera/stack.h). Unlike the library's ZERA_boGetStatistics, which answers
 * a level above the topmost with the topmost level's figures, a level the
 * stack does not have is refused: 2048 with "no level 9: the topmost is
 * level 3 (Ticker)". 1027 (h0), 1028 (null pstOut). */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostGetStatistics(StackHandle *h0, uint8_t u8Level, ZERA_STATISTICS *pstOut);

/* ---- Events -------------------------------------------------------------------- */

/* A wait without end for ZERA_pstHostReceiveEvent. */
#define ZERA_HOST_WAIT_FOREVER 0xFFFFFFFFu

/* Creates an event of type i32Type (ZERA_EVENT_DATA0 to ZERA_EVENT_INTERVAL,
 * 0 to 4) addressed to level u8Level (0 or 1: level 1), whose owner is level
 * 0, so that ZERA_boHostSendEvent accepts it on a stack with or without
 * identifier management. A data event (types 0 to 2) gets a zero-filled
 * data area of dwDataSize bytes, which the caller fills through the event's
 * pbData field; an item-list event (type 3) an item area of that size;
 * type 4 none. (The library's ZERA_pstCreateEventEx refuses level 0 with
 * 1028: a kit-made level 0 has no identifier manager; this call gives the
 * event an identifier of its own.) The caller owns the event: it hands it
 * to ZERA_boHostSendEvent or deletes it with ZERA_boDeleteEvent. Null with
 * 1027 (h0), 1028 (a type below 0 or above 4, or a level above 31; the
 * argument says which), 1034 (dwDataSize above ZERA_EVENT_MAX_SIZE) or 1026
 * (memory). */
ZERA_API Event *ZERA_CALL ZERA_pstHostCreateEvent(StackHandle *h0, int32_t i32Type, uint8_t u8Level,
                                                  uint32_t dwDataSize);

/* Sends an event made by ZERA_pstHostCreateEvent from level 0 to its level,
 * where it waits in the level's send queue until dwDelayMs milliseconds from
 * now, when the level's component may take it. On success the stack owns
 * the event. On failure the caller still owns it (and deletes it or sends it
 * again): 1027 (h0), 1028 (null event), 2048 when the stack has no level of
 * the event's number (the argument says which levels it has), or the send's
 * own code (e.g. 2058 for an event another level owns). */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostSendEvent(StackHandle *h0, Event *pstEvent, uint32_t dwDelayMs);

/* Takes the earliest event that came down to level 0 (from level 1's
 * receive queue: by default every level passes down what the level above it
 * produces, and level 0 wants the events of level 1), waiting up to
 * dwTimeoutMs milliseconds (0: no wait; ZERA_HOST_WAIT_FOREVER: until one
 * comes or the wait is broken with ZERA_vBreakRecvEventWait on h0; a break
 * made before the wait begins is not seen, so a receiver that another thread
 * must stop waits in rounds and checks its own flag between them). The
 * caller owns the event and deletes it with ZERA_boDeleteEvent. Null with
 * code 0 when none came in time or the wait was broken; null with 1027 for
 * h0 or a stack without level 1. */
ZERA_API Event *ZERA_CALL ZERA_pstHostReceiveEvent(StackHandle *h0, uint32_t dwTimeoutMs);

/* Stores into *pu64Dropped how many events the input filter of level
 * u8Level (0 to the topmost level) has deleted since the level was added
 * because they could not go into the level's receive queue, the one the
 * level below takes from: the queue was full (ZERA_QUEUE_CAPACITY events
 * not yet taken) or no copy of the event could be made for it. Level 1's
 * count is what level 0 lost; level 0's is always 0. The count only grows
 * and is not part of the statistics block. False with 1027 (h0), 1028 (null
 * pu64Dropped) or 2048 (no such level); *pu64Dropped is then untouched. */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostGetDropCount(StackHandle *h0, uint8_t u8Level, uint64_t *pu64Dropped);

/* ---- Watching a stack: the timeline, debug output, snapshots ------------- */

/* Starts writing the timeline of every stack of the process into pszFile
 * (replaced), as trace-event JSON that chrome://tracing and Perfetto open:
 * a track per level, a slice for each event's stay in each send and receive
 * queue, marks for sends, filters, breaks, status changes and drops, and
 * counters of queue lengths and load. The levels of h0's stack (h0 may be
 * null) are named on it. ZERA_TRACE=FILE in the environment does the same
 * when the library loads. False with 1027 (h0 not a level 0), 1028 (no
 * file), 1031 (the file cannot be made; its name is the argument) or 1025
 * (a timeline is being written already). */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostTraceStart(StackHandle *h0, const char *pszFile);
/* Ends the timeline: writes what was recorded and closes the file. False
 * with 1025 when none was being written. */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostTraceStop(void);
/* For links between processes, so that their two timelines merge into one
 * (zera trace merge): the timeline's clock, in microseconds since its start
 * in this process (the unit of the timeline's time stamps; it runs also
 * while no timeline is written). */
ZERA_API uint64_t ZERA_CALL ZERA_u64HostTraceClock(void);
/* Marks in the timeline that pstEvent, as this process now has it, came in
 * over a link at h's level, where the peer knew it by dwPeerId. Nothing
 * happens while no timeline is written, or for a null event or an invalid
 * handle; the calling thread's last error is kept. */
ZERA_API void ZERA_CALL ZERA_vHostTraceLinkArrival(StackHandle *h, const Event *pstEvent, uint32_t dwPeerId);
/* Records in the timeline that h's level links this process to the peer
 * named pszPeer (copied; null for none) in session u64Session, whose
 * timeline clock reads i64PeerOffsetUs more than this one's, within
 * u64ErrorUs either way. False with 1027 (h) or 1025 (no timeline is
 * written). */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostTraceLinkPeer(StackHandle *h, const char *pszPeer, uint64_t u64Session,
                                                 int64_t i64PeerOffsetUs, uint64_t u64ErrorUs);
/* Sets the debug output as ZERA_DEBUG and ZERA_DEBUG_FILE do:
 * "category:severity,..." with the categories stack, send, filter, recv,
 * evid, module, link, error (every error code stored, at warning) or "*",
 * and the severities error, warning, info, debug; null or "" turns it off.
 * pszFile null or "" writes to stderr. False with 1028 when an entry is
 * malformed (the others take effect) or the file cannot be opened (stderr
 * is used). */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostSetDebug(const char *pszCategories, const char *pszFile);
/* Writes a snapshot of h0's stack to the debug output (also when no
 * category logs): each level's component, status, masks, send and receive
 * queue lengths, drop count, statistics and load. Takes each queue's lock
 * for a count. False with 1027 (h0 not a level 0). */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostSnapshot(StackHandle *h0);
/* boOn 1: from now on every SIGUSR1 the process receives (Linux) writes a
 * snapshot of h0's stack, taken by a thread of the library's within a
 * tenth of a second. The signal's handler is installed only where the
 * signal has its default disposition: a handler of the host's own is never
 * replaced (false with 1025, its argument says so; also on Windows, which
 * has no such signal, and when a stack answers the signal already).
 * boOn 0 (h0 is not read) ends it and puts the default back; call it
 * before the stack is destroyed. False with 1025 when it was not on, 1027
 * for an h0 that is not a level 0. */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostSnapshotOnSignal(StackHandle *h0, BOOL8 boOn);

#ifdef __cplusplus
}
#endif

#endif /* ZERA_HOST_H */
