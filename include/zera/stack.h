/*
 * zera/stack.h - growing and shrinking a stack, the stack parameters of its
 * levels, and each level's status, statistics, load figures and time.
 *
 * Every operation here may be called with the handle of any level: a request
 * for another level climbs the chain through the entry tables of the levels
 * above until it reaches the level it is meant for. No lock is taken except a
 * level's hMutex around its statistics; adding and removing levels must not
 * run concurrently with anything else on the same stack, and sets and reads
 * of one level's stack parameters must not run concurrently with each other.
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_STACK_H
#define ZERA_STACK_H

#include "zera/types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Adding and removing levels ------------------------------------------------
 *
 * A component named N lives in the module file N.COMPONENT (a name that ends
 * in ".COMPONENT", in any case, is used as it is). Adding loads the module,
 * binds it to a new level on top of the stack, starts the level's identifier
 * manager, links the level, matches its info block against the level below
 * (pstUpperInfoBlock) and runs the component's ZERA_boModuleInit. A level
 * whose own info block has dwFlags ZERA_INFO_COMPLETES_STACK completes the
 * stack: its status gains ZERA_STATUS_COMPLETE and a stack status event
 * carries the new status down through every level.
 *
 * On a stack whose level 0 has ZERA_STATUS_NO_EVID in dwStatus (set by the
 * host before the first add) the new levels copy that bit and get no
 * identifier manager at all: their events carry identifiers of their own
 * (zera/event.h) and nothing is reserved in the identifier segment.
 *
 * A refused add leaves the stack as it was (only the levels-changed mark of
 * the level it was called on stays set) and releases everything the new
 * level had: module, manager, name, stack parameters and handle. */

/* Adds the component pszName on top of the stack that h belongs to. Returns
 * the new level's number (1 to 31), 0 on failure with:
 * 1028 null or empty name; 1027 an invalid handle or neighbour (with the name
 * as argument); 2048 the top is level 31 ("Invalid stack level", with the
 * name); the loader's code when the module cannot be loaded (1030, with the
 * system's reason); 1035 the module is refused: it is no component (it
 * exports "ZERA_boDeleteStack"), has no binding export, its binding fails
 * (a required export is missing: ZERA_vInfoBlockInitialize,
 * ZERA_boSetupParListA/W, ZERA_boModuleInit, ZERA_boModuleDeinit; or its
 * parameter setup fails), the identifier manager cannot start or the level
 * cannot be linked; the text says which, the argument is the file name;
 * 2057 or 2055 the info blocks do not suit each other (the argument names
 * the rule); the component's own code when its ZERA_boModuleInit fails, or
 * 1036 (with the file name) when it stored none (a level context it set
 * before failing is released through pfnLevelContextRelease); 1026 memory;
 * 1027 (with a text) when called from inside the removal of the topmost
 * level (its component's deinit). Through level 0 the new level's bit is
 * set in the host descriptor's dwLevelMask. */
ZERA_API uint8_t ZERA_CALL ZERA_bAddToStackA(StackHandle *h, const char *pszName);
/* As ZERA_bAddToStackA with a wide name; the component is bound through its
 * wide exports (ZERA_boModuleInitAPIW, ZERA_boSetupParListW, the W
 * notification) and its level's names and stack parameters are wide. Error
 * arguments are narrow copies of the names. */
ZERA_API uint8_t ZERA_CALL ZERA_bAddToStackW(StackHandle *h, const WCHAR16 *pwszName);

/* Removes every level numbered u8Level (low 6 bits) or higher, from the top
 * down. First a stack status event with the complete and started bits
 * cleared runs down from the top (stopping the components' threads and
 * returning every level's identifier blocks; when no event can be made the
 * status is applied level by level without one, so no level goes with its
 * threads running); then
 * each level's ZERA_boModuleDeinit runs, its identifier manager stops, its
 * pfnLevelContextRelease (when it and pvLevelContext are set) is called,
 * its module is unloaded, and its name, stack parameters and handle are
 * released. Through level 0 the bits u8Level to 31 of dwLevelMask are
 * cleared. False with 2048 for level 0 or a level above the top (nothing
 * removed), 1027 for an invalid handle or neighbour, or when called from
 * inside the removal of the topmost level (its component's deinit; with a
 * text; nothing removed), or the loader's code when a module cannot be
 * unloaded (that level is then deinitialised but still linked). ZERA_boRemoveFromStackW is the same for wide levels. */
ZERA_API BOOL8 ZERA_CALL ZERA_boRemoveFromStackA(StackHandle *h, uint8_t u8Level);
ZERA_API BOOL8 ZERA_CALL ZERA_boRemoveFromStackW(StackHandle *h, uint8_t u8Level);

/* ---- Stack parameters ---------------------------------------------------------
 *
 * The level argument: bits 0-5 the number of the level that owns the
 * parameter (1 to 62), or ZERA_LEVEL_STACK_WIDE; bit 6 (set only) an
 * attribute byte follows among the trailing arguments; bit 7 (set only) the
 * value type follows. Higher bits are carried along unchanged.
 *
 * Access classes (Param::dwAccess) decide when a value may be set, by the
 * level's complete and started status bits:
 *   0 and 12 up, 7: always        1: the level is the topmost
 *   2: a level is above it and the stack is not complete
 *   3: not complete               4: complete
 *   5: not started                6: started
 *   8: never                      9, 10: complete and not started
 *   11: complete and started
 * 10 and 11 are stack-wide: a set applies to every level's stack-wide
 * parameter of that name and type, from the top down. A read refreshes bit 0
 * (ZERA_ATTR_SETTABLE) of u8Attributes from this table (clear while bit 2 is
 * set). A level's list is searched only by the operations of the level's
 * own width (boWide): a narrow request finds nothing in a wide level's list
 * (1028), and a stack-wide search passes such a level over. */

#define ZERA_LEVEL_STACK_WIDE 63u
#define ZERA_LEVEL_WITH_ATTRIBUTES 0x40u
#define ZERA_LEVEL_WITH_TYPE 0x80u

#define ZERA_ACCESS_ALWAYS 0u
#define ZERA_ACCESS_TOPMOST 1u
#define ZERA_ACCESS_BELOW_INCOMPLETE 2u
#define ZERA_ACCESS_INCOMPLETE 3u
#define ZERA_ACCESS_COMPLETE 4u
#define ZERA_ACCESS_STOPPED 5u
#define ZERA_ACCESS_STARTED 6u
#define ZERA_ACCESS_ANY_TIME 7u
#define ZERA_ACCESS_NEVER 8u
#define ZERA_ACCESS_READY 9u
#define ZERA_ACCESS_WIDE_READY 10u
#define ZERA_ACCESS_WIDE_RUNNING 11u

/* Sets a stack parameter. Trailing arguments, in order: the type as a
 * uint32_t (only with ZERA_LEVEL_WITH_TYPE), the attribute byte as a
 * uint32_t (only with ZERA_LEVEL_WITH_ATTRIBUTES: its bits 1 and 2 replace
 * the parameter's), then the value by type: a string (char *, copied; type
 * 0), a uint32_t (1, 2) or a double (3). After the change the component's
 * ZERA_vModuleNotifyA runs and a status change is announced. False with
 * 2048 (level 0, below h, or bits 6/7 through level 0), 1028 (null or empty
 * name, no such parameter on the owning level, a type that is not the
 * parameter's, or through level 0 a parameter not settable now), 1034 (the
 * access class refuses now, or the component's notification changed the
 * value: the component's value stays), 1027, 1026 (the string copy; the old
 * value stays). A stack-wide set reports true only when every level that has
 * a matching stack-wide parameter took the value. */
ZERA_API BOOL8 ZERA_CDECL ZERA_boSetStackParamA(StackHandle *h, uint32_t dwLevel, const char *pszName, ...);
/* As A with a wide name and wide string values (WCHAR16 *). */
ZERA_API BOOL8 ZERA_CDECL ZERA_boSetStackParamW(StackHandle *h, uint32_t dwLevel, const WCHAR16 *pwszName,
                                                ...);

/* The stack parameter pszName of the level numbered by dwLevel (low 6 bits),
 * with its settable bit refreshed; with a null name the owning level's whole
 * array (every record refreshed; an empty list gives its terminator). With
 * ZERA_LEVEL_STACK_WIDE the first level from h upwards that has a
 * parameter of that name answers: its parameter when it is stack-wide, else
 * null with 1028. The record belongs to the owning level's list and stays
 * valid until that list changes. Null with 2048 (level 0, below h, or
 * stack-wide without a name), 1027 (invalid handle, or no such level), 1028
 * (no such parameter). */
ZERA_API Param *ZERA_CALL ZERA_pstGetStackParamA(StackHandle *h, uint32_t dwLevel, const char *pszName);
ZERA_API Param *ZERA_CALL ZERA_pstGetStackParamW(StackHandle *h, uint32_t dwLevel, const WCHAR16 *pwszName);

/* ---- Status, statistics, load and time --------------------------------------- */

/* Announces a change of h's dwStatus from dwOldStatus: while the stack is
 * complete and the status differs, a stack status event with the new status
 * goes down from h through every level (slot 22). h is not checked. */
ZERA_API void ZERA_CALL ZERA_vUpdateStackStatus(StackHandle *h, uint32_t dwOldStatus);

/* Statistics kinds and columns. */
#define ZERA_STATS_KINDS 3u
#define ZERA_STATS_WORDS 14u /* 12 counters, then the load figures two to a word */

/* The 14 words ZERA_boGetStatistics fills, by index. The input filter
 * counts each event of type 2 (class A) or type 0 (class B) that reaches the
 * level it is addressed to: events + 1, bytes + its dwDataSize; in kind 2
 * when its dwFlags has bit 16 (A) or 17 (B), else in kind 1 with bit 14 (A)
 * or 15 (B), else in kind 0. Components count what they like through
 * ZERA_vUpdateStatistics. When a counter would pass 0xFFFFFFFF, all twelve
 * are halved, so the figures keep their proportions. The load figures are
 * what the level's component last reported with ZERA_vUpdateLoad, and the
 * highest since the last reset. */
enum ZERA_STATS_WORD {
    ZERA_STATS_KIND0_EVENTS_A = 0,
    ZERA_STATS_KIND0_EVENTS_B = 1,
    ZERA_STATS_KIND0_BYTES_A = 2,
    ZERA_STATS_KIND0_BYTES_B = 3,
    ZERA_STATS_KIND1_EVENTS_A = 4,
    ZERA_STATS_KIND1_EVENTS_B = 5,
    ZERA_STATS_KIND1_BYTES_A = 6,
    ZERA_STATS_KIND1_BYTES_B = 7,
    ZERA_STATS_KIND2_EVENTS_A = 8,
    ZERA_STATS_KIND2_EVENTS_B = 9,
    ZERA_STATS_KIND2_BYTES_A = 10,
    ZERA_STATS_KIND2_BYTES_B = 11,
    ZERA_STATS_LOAD = 12,    /* load A in the low 16 bits, load B in the high 16 */
    ZERA_STATS_LOAD_MAX = 13 /* the highest load A and load B, the same way */
};
/* The word of kind k (0 to 2) and column c (0 events A, 1 events B, 2 bytes
 * A, 3 bytes B). */
#define ZERA_STATS_INDEX(k, c) ((k) * 4u + (c))
/* The two load figures of word ZERA_STATS_LOAD or ZERA_STATS_LOAD_MAX. */
#define ZERA_STATS_LOAD_A(word) ((uint16_t)((word) & 0xFFFFu))
#define ZERA_STATS_LOAD_B(word) ((uint16_t)((word) >> 16))

/* The same 14 words as a record: pass &stats.astKind[0].dwEventsA, or cast
 * the record's address, where a uint32_t[14] is asked for. */
typedef struct ZERA_STATS_COUNTERS {
    uint32_t dwEventsA; /* type-2 events */
    uint32_t dwEventsB; /* type-0 events */
    uint32_t dwBytesA;
    uint32_t dwBytesB;
} ZERA_STATS_COUNTERS;
typedef struct ZERA_STATISTICS {
    ZERA_STATS_COUNTERS astKind[3];
    uint32_t dwLoad;    /* ZERA_STATS_LOAD */
    uint32_t dwLoadMax; /* ZERA_STATS_LOAD_MAX */
} ZERA_STATISTICS;
ZERA_STATIC_ASSERT(sizeof(ZERA_STATISTICS) == ZERA_STATS_WORDS * 4u, "ZERA_STATISTICS is the 14 words");

/* Adds the four increments (events A, events B, bytes A, bytes B) to h's
 * counters of kind dwKind (0, 1 or 2; others are ignored). When any counter
 * of that kind would pass 0xFFFFFFFF, all twelve are halved first. h is not
 * checked; takes h's hMutex. */
ZERA_API void ZERA_CALL ZERA_vUpdateStatistics(StackHandle *h, uint32_t dwKind, uint32_t dwEventsA,
                                               uint32_t dwEventsB, uint32_t dwBytesA, uint32_t dwBytesB);
/* Reports h's load figures; 0xFFFF leaves a figure unchanged. The maxima
 * follow. h is not checked; takes h's hMutex. */
ZERA_API void ZERA_CALL ZERA_vUpdateLoad(StackHandle *h, uint16_t u16LoadA, uint16_t u16LoadB);
/* Copies the statistics of level u8Level into the 14 words at pdwOut
 * (enum ZERA_STATS_WORD, or a ZERA_STATISTICS). The request climbs from h
 * while u8Level is above the level it is on: h's own figures for h's level
 * or below, and the topmost level's figures for any number above the
 * topmost level, which is not refused (ZERA_boHostGetStatistics refuses a
 * level the stack does not have). False with 1027 (invalid handle or
 * neighbour), 1028 (null pdwOut; the argument says so), or when the lock
 * cannot be taken. */
ZERA_API BOOL8 ZERA_CALL ZERA_boGetStatistics(StackHandle *h, uint8_t u8Level, uint32_t *pdwOut);
/* Zeroes the counters, load figures and maxima of level u8Level (routed as
 * ZERA_boGetStatistics). False with 1027, or when the lock cannot be taken. */
ZERA_API BOOL8 ZERA_CALL ZERA_boResetStatistics(StackHandle *h, uint8_t u8Level);

/* The order of every event queue: true when the second event's stTimeStamp
 * is not earlier than the first's. Equal seconds compare the microseconds by
 * their 32-bit difference (its bit 30 set means earlier), so the RELATIVE bit
 * plays no part. Both must be events (Event *); typed as the platform
 * queue's order function. */
ZERA_API BOOL8 ZERA_CALL ZERA_boTimeStampCompare(const void *pstFirst, const void *pstSecond);

/* The stack's time, as its topmost level reads it (the platform's wall
 * clock). u8Level is not used. False with 1027 or 1028 (null pstTime). */
ZERA_API BOOL8 ZERA_CALL ZERA_boGetTime(StackHandle *h, uint8_t u8Level, TimeVal *pstTime);

#ifdef __cplusplus
}
#endif

#endif /* ZERA_STACK_H */
