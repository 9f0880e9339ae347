/*
 * ZERA_Component.h - the kit for component authors.
 *
 * A component is a module file named <Name>.COMPONENT that the library loads
 * for one stack level. It exports the functions declared here; the library
 * finds them by name and calls them with the platform's standard calling
 * convention. The macros below define them, so that no export is misspelt,
 * has the wrong calling convention, or is defined under one name of a pair
 * that the library looks up whole:
 *
 *     ZERA_COMPONENT_BINDING()                  the binding exports (required)
 *     ZERA_COMPONENT_NAME("Echo.COMPONENT")     the level's name
 *     ZERA_COMPONENT_INFO(                      the two info blocks
 *         ZERA_INFO_VERSION(0, 1) ZERA_INFO_RANGE_B(1, 1),
 *         ZERA_INFO_VERSION(0, 1) ZERA_INFO_RANGE_B(2, 2))
 *     ZERA_COMPONENT_PARAMS(SetupParams)        both parameter setups
 *     ZERA_COMPONENT_THREADS(Start, Stop)       both start and both stop names
 *     ZERA_COMPONENT_NOTIFY(Notify)             both notification names
 *
 * and write ZERA_boModuleInit and ZERA_boModuleDeinit. The functions handed
 * to the macros are the component's own, of plain C linkage and calling
 * convention (they may be static). A component that serves its level with
 * a thread lets a level thread (ZERA_hLevelThreadCreate, below; in C++
 * zera::LevelThread) run its loop: the start and stop exports then start
 * and stop it, and the break protocol is the kit's. components/samples/Echo.c
 * is a complete component written this way.
 *
 * Adding a component (ZERA_bAddToStackA/W) refuses it with 1035, the file
 * name as the error's argument and a text that says why, when the module
 * exports "ZERA_boDeleteStack" (it is no component), lacks the binding
 * export of the add's width, or when the binding finds a required export
 * missing: ZERA_vInfoBlockInitialize, the ZERA_boSetupParListA/W of the
 * add's width, ZERA_boModuleInit or ZERA_boModuleDeinit. A refused module
 * runs none of its code on the level (only a failing parameter setup has
 * run) and is unloaded again.
 *
 * The life of a level: ZERA_vInfoBlockInitialize and the parameter setup
 * (binding), then ZERA_boModuleInit once the level is linked on top of the
 * stack; while the stack is complete and started the start export has
 * run, and the stop export runs when it leaves that state (also before the
 * level is removed); ZERA_boModuleDeinit last. A component keeps what it
 * needs per level in the level's pvLevelContext (set in its init, released
 * in its deinit, which deletes its level threads): one module serves every
 * level it is added to. Its threads
 * should not read the stack-parameter list while the host may set it: the
 * notification, which runs after every change, is the place to copy values.
 * See components/samples for small complete components in C and C++.
 *
 * Pure C (C11 and C++17 clean).
 */
#ifndef ZERA_COMPONENT_H
#define ZERA_COMPONENT_H

#include "VOQ_ZERA_Comp.h"

#ifdef __cplusplus
extern "C" {
#define ZERA_COMPONENT_EXTERN_C extern "C"
#else
#define ZERA_COMPONENT_EXTERN_C
#endif

/* Required: fill the level's own info block and the block that says what the
 * level accepts above it. */
ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock);
/* Required in the width the level is added with: build the level's stack
 * parameters with the parameter-list operations and store the list at
 * ppstStackParams; the level owns it from then on. dwFlags is the own info
 * block's dwFlags. */
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams);
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListW(uint32_t dwFlags, Param **ppstStackParams);
/* Required (a component without it is refused): the level is linked; false
 * refuses it (store a code first to say why, else the add reports 1036) and
 * the level is released without ZERA_boModuleDeinit. */
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h);
/* Required (a component without it is refused): the level is being removed
 * (after the stop export, when the stack was running); the result is
 * ignored. */
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h);
/* Optional: the level's status or stack parameters changed; a narrow level
 * is told through the A name, a wide one through the W name
 * (ZERA_COMPONENT_NOTIFY defines both). */
ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyA(StackHandle *h);
ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyW(StackHandle *h);
/* Used only in pairs, by both names (ZERA_COMPONENT_THREADS defines all
 * four): the stack became complete and started (start the level's threads),
 * or left that state (stop them). A level whose module lacks a name of a
 * pair never takes the started status, so a host's start fails on it;
 * `zera inspect` warns of such a module. */
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsA(StackHandle *h);
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsA(StackHandle *h);
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsW(StackHandle *h);
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsW(StackHandle *h);
/* Optional: the size and number of the level's identifier blocks; zeros pick
 * the defaults (3 blocks of 16384). Not called on a stack without identifier
 * management (ZERA_STATUS_NO_EVID), whose levels get no manager. */
ZERA_EXPORT EvIdManagerConfig ZERA_CALL ZERA_stGetEvIdManagerConfig(StackHandle *h);

/* Optional data exports: the component's name, read from the export of the
 * level's width ("ZERA_hsModuleName" narrow, "ZERA_lsModuleName" wide). A
 * path and one suffix of .DLL, .EXE, .COMPONENT or .PLUGIN are cut off:
 * "C:\\comp\\Filter.component" names the level "Filter". Define both with
 * ZERA_COMPONENT_NAME("Filter.COMPONENT"). */

/* A wide (WCHAR16) string literal. */
#if defined(_WIN32)
#define ZERA_WTEXT(s) L##s
#else
#define ZERA_WTEXT(s) u##s
#endif

/* Types under which the library calls these exports. */
typedef BOOL8 (ZERA_CALL *ZERA_PFN_MODULE_INIT_API)(StackHandle *h);
typedef void (ZERA_CALL *ZERA_PFN_INFOBLOCK_INIT)(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock);
typedef BOOL8 (ZERA_CALL *ZERA_PFN_SETUP_PARLIST)(uint32_t dwFlags, Param **ppstStackParams);
typedef BOOL8 (ZERA_CALL *ZERA_PFN_MODULE_INIT)(StackHandle *h);
typedef BOOL8 (ZERA_CALL *ZERA_PFN_MODULE_DEINIT)(StackHandle *h);
typedef void (ZERA_CALL *ZERA_PFN_MODULE_NOTIFY)(StackHandle *h);
typedef BOOL8 (ZERA_CALL *ZERA_PFN_COMMU_THREADS)(StackHandle *h);
typedef EvIdManagerConfig (ZERA_CALL *ZERA_PFN_EVID_CONFIG)(StackHandle *h);

/* Defines the component's binding exports ZERA_boModuleInitAPIA/W, which
 * forward to the library's binding. */
#define ZERA_COMPONENT_BINDING()                                                     \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInitAPIA(StackHandle *h) \
    {                                                                                \
        return ZERA_boModuleBindLevelA(h);                                           \
    }                                                                                \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInitAPIW(StackHandle *h) \
    {                                                                                \
        return ZERA_boModuleBindLevelW(h);                                           \
    }

/* Defines the data exports ZERA_hsModuleName and ZERA_lsModuleName from one
 * narrow string literal. */
#define ZERA_COMPONENT_NAME(name)                                                   \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT const char ZERA_hsModuleName[] = name;      \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT const WCHAR16 ZERA_lsModuleName[] = ZERA_WTEXT(name);

/* Defines ZERA_vInfoBlockInitialize from two lists of fields: what the level
 * is (its own block) and what it accepts on top of it. Each list is a run of
 * the ZERA_INFO_ field macros below, or ZERA_INFO_NONE; fields not named
 * stay 0:
 *
 *     ZERA_COMPONENT_INFO(
 *         ZERA_INFO_VERSION(0, 1) ZERA_INFO_RANGE_B(1, 1),
 *         ZERA_INFO_VERSION(0, 1) ZERA_INFO_RANGE_B(2, 2))
 */
#define ZERA_COMPONENT_INFO(own, upper)                                                         \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, \
                                                                          InfoBlock *pstUpperInfoBlock) \
    {                                                                                           \
        InfoBlock *zera_info_block = pstInfoBlock;                                              \
        own                                                                                     \
        zera_info_block = pstUpperInfoBlock;                                                    \
        upper                                                                                   \
        (void)zera_info_block;                                                                  \
    }
/* How the library matches a new level's own block (P) against the upper
 * block of the level below it (Q), rule by rule; the first rule that refuses
 * names itself in the add's error (2057 or 2055, with both components and
 * their figures in the text):
 *
 *   version        P and Q must have the same major version (2057).
 *   minor version  P's minor must be at least Q's u16MinPartnerMinor, and
 *                  Q's minor at least P's u16MinPartnerMinor (2057).
 *   flags          Q with ZERA_INFO_ACCEPTS_ANY, or P with ZERA_INFO_FITS_ANY,
 *                  matches at once (the ranges are not read). Otherwise Q with
 *                  ZERA_INFO_FITS_ANY or ZERA_INFO_COMPLETES_STACK takes
 *                  nothing on top, unless it also has ZERA_INFO_TAKES_ON_TOP;
 *                  and ZERA_INFO_NEVER_MATCHES as the whole dwFlags of either
 *                  block matches nothing (2055).
 *   range A        what the level below offers must lie within what the new
 *                  level takes: Q's range A within P's, unless P's range A is
 *                  0..0 or 0xFFFFFFFF..0xFFFFFFFF (it takes anything) (2055).
 *   range B        the place of the new level must lie within the places the
 *                  level below takes on top: P's range B within Q's. It
 *                  passes when P's is 0xFFFFFFFF..0xFFFFFFFF (any place) or
 *                  Q's is 0..0 (any place); P's 0..0 fits nowhere else (2055).
 * A range whose low end is above its high end matches nothing.
 *
 * The samples use range B as a place number: Counter is place 1 and takes
 * place 2 (Loopback) on top, which takes place 3 (Ticker). */

/* dwFlags bits (ZERA_INFO_COMPLETES_STACK, 0x08, is in zera/types.h). */
#define ZERA_INFO_ACCEPTS_ANY 0x01u   /* Q: takes any component of its version family on top */
#define ZERA_INFO_TAKES_ON_TOP 0x02u  /* Q: lifts the refusal of 0x04 and 0x08 in the same block */
#define ZERA_INFO_FITS_ANY 0x04u      /* P: fits on any level of its version family; Q: takes nothing */
#define ZERA_INFO_NEVER_MATCHES 0x20u /* as the whole dwFlags of either block: matches nothing */
/* ZERA_INFO_COMPLETES_STACK as the whole dwFlags of the own block (no other
 * bit) completes the stack; in an upper block it takes nothing on top. */

/* Major and minor version (dwVersion: major << 16 | minor); partners must
 * have the same major version. */
#define ZERA_INFO_VERSION(major, minor) \
    zera_info_block->dwVersion = ((uint32_t)(major) << 16) | ((uint32_t)(minor) & 0xFFFFu);
/* The lowest minor version this block accepts of its partner. */
#define ZERA_INFO_MIN_PARTNER_MINOR(minor) zera_info_block->u16MinPartnerMinor = (uint16_t)(minor);
/* dwFlags: the ZERA_INFO_ bits above. */
#define ZERA_INFO_FLAGS(flags) zera_info_block->dwFlags = (uint32_t)(flags);
/* Range A and range B, low and high end included (see the rules above). */
#define ZERA_INFO_RANGE_A(low, high) \
    zera_info_block->dwRangeALow = (uint32_t)(low), zera_info_block->dwRangeAHigh = (uint32_t)(high);
#define ZERA_INFO_RANGE_B(low, high) \
    zera_info_block->dwRangeBLow = (uint32_t)(low), zera_info_block->dwRangeBHigh = (uint32_t)(high);
/* A block with every field 0. */
#define ZERA_INFO_NONE

/* Defines ZERA_boSetupParListA and W, which call
 * BOOL8 setup(BOOL8 boWide, Param **ppstStackParams): build the level's
 * parameter list in the width given (narrow names and strings for 0, wide
 * for 1) and store it at ppstStackParams. */
#define ZERA_COMPONENT_PARAMS(setup)                                                              \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags,        \
                                                                       Param **ppstStackParams) \
    {                                                                                             \
        (void)dwFlags;                                                                            \
        return (setup)(0, ppstStackParams);                                                       \
    }                                                                                             \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListW(uint32_t dwFlags,        \
                                                                       Param **ppstStackParams) \
    {                                                                                             \
        (void)dwFlags;                                                                            \
        return (setup)(1, ppstStackParams);                                                       \
    }

/* Defines both names of the start pair and of the stop pair, which the
 * library uses only whole: BOOL8 start(StackHandle *h) starts the level's
 * threads when the stack becomes complete and started (false: the level
 * stays unstarted, and a host's start fails naming it); void stop(StackHandle
 * *h) ends them when the stack leaves that state and before the level is
 * removed. */
#define ZERA_COMPONENT_THREADS(start, stop)                                                                \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsA(StackHandle *h)      \
    {                                                                                                      \
        return (start)(h);                                                                                 \
    }                                                                                                      \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsW(StackHandle *h)      \
    {                                                                                                      \
        return (start)(h);                                                                                 \
    }                                                                                                      \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsA(StackHandle *h)       \
    {                                                                                                      \
        (stop)(h);                                                                                         \
        return 1;                                                                                          \
    }                                                                                                      \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsW(StackHandle *h)       \
    {                                                                                                      \
        (stop)(h);                                                                                         \
        return 1;                                                                                          \
    }

/* For a component without threads of its own: start and stop pairs that do
 * nothing, so that its levels take the started status like the others. */
#define ZERA_COMPONENT_NO_THREADS()                                                                   \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsA(StackHandle *h) \
    {                                                                                                 \
        (void)h;                                                                                      \
        return 1;                                                                                     \
    }                                                                                                 \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsW(StackHandle *h) \
    {                                                                                                 \
        (void)h;                                                                                      \
        return 1;                                                                                     \
    }                                                                                                 \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsA(StackHandle *h)  \
    {                                                                                                 \
        (void)h;                                                                                      \
        return 1;                                                                                     \
    }                                                                                                 \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsW(StackHandle *h)  \
    {                                                                                                 \
        (void)h;                                                                                      \
        return 1;                                                                                     \
    }

/* Defines both notification names (a narrow level is told through the A
 * export, a wide one through the W export): void notify(StackHandle *h) runs
 * after the level's status or stack parameters changed. */
#define ZERA_COMPONENT_NOTIFY(notify)                                                  \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyA(StackHandle *h) \
    {                                                                                  \
        (notify)(h);                                                                   \
    }                                                                                  \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyW(StackHandle *h) \
    {                                                                                  \
        (notify)(h);                                                                   \
    }

/* ---- Declaring stack parameters in both widths at once -------------------
 *
 * The library asks for the level's list in the width it adds the level with,
 * so every name and string value exists twice. These helpers take each once,
 * as a string literal, and add it in the width asked for:
 *
 *     static void DeclareParams(ZERA_PARAM_LIST *l) {
 *         ZERA_DECLARE_DWORD(l, "Rate", ZERA_ACCESS_STOPPED, 100);
 *         ZERA_PERMIT_DWORDS(l, 1, 1000);                  Rate: 1..1000
 *         ZERA_DECLARE_STRING(l, "Mode", ZERA_ACCESS_ALWAYS, "fast");
 *         ZERA_PERMIT_STRING(l, "fast");
 *         ZERA_PERMIT_STRING(l, "slow");                   Mode: fast or slow
 *     }
 *     ZERA_COMPONENT_DECLARE_PARAMS(DeclareParams)
 *
 * A PERMIT adds a permitted value or range to the parameter declared last;
 * a parameter without any takes every value of its type. The host kit's
 * typed setters (ZERA_Host.h) refuse other values; the library's own set
 * does not look at them. The first failure (memory) is kept, the rest of
 * the declarations do nothing, and the setup reports false. */

typedef struct ZERA_PARAM_LIST {
    BOOL8 boWide;          /* the width the list is built in */
    BOOL8 boFailed;        /* a declaration failed; the setup reports false */
    Param **ppList;        /* the level's list (the library owns it) */
    uint32_t dwCount;      /* parameters declared so far */
    uint32_t dwType;       /* the type of the parameter declared last */
    ParamValue **ppValues; /* where its next permitted value goes */
} ZERA_PARAM_LIST;

/* Starts an empty list at *ppList in the width given. */
static inline ZERA_PARAM_LIST ZERA_stParamListBegin(BOOL8 boWide, Param **ppList) {
    ZERA_PARAM_LIST l;
    l.boWide = boWide;
    l.boFailed = (BOOL8)!ZERA_boCreateParListA(ppList);
    l.ppList = ppList;
    l.dwCount = 0;
    l.dwType = 0;
    l.ppValues = NULL;
    return l;
}

static inline BOOL8 ZERA_boParamListEnd(const ZERA_PARAM_LIST *l) { return (BOOL8)!l->boFailed; }

static inline void ZERA_vDeclareDWord(ZERA_PARAM_LIST *l, const char *pszName, const WCHAR16 *pwszName,
                                      uint32_t dwAccess, uint32_t dwValue) {
    if (l->boFailed) return;
    l->dwType = ZERA_PARAM_DWORD;
    l->boFailed = (BOOL8)!(l->boWide ? ZERA_boAddParamW(1, 0, l->ppList, &l->dwCount, &l->ppValues, ZERA_PARAM_DWORD,
                                                        dwAccess, 0, 0, 0, pwszName, dwValue)
                                     : ZERA_boAddParamA(1, 0, l->ppList, &l->dwCount, &l->ppValues, ZERA_PARAM_DWORD,
                                                        dwAccess, 0, 0, 0, pszName, dwValue));
}

static inline void ZERA_vDeclareReal(ZERA_PARAM_LIST *l, const char *pszName, const WCHAR16 *pwszName,
                                     uint32_t dwAccess, double rValue) {
    if (l->boFailed) return;
    l->dwType = ZERA_PARAM_REAL;
    l->boFailed = (BOOL8)!(l->boWide ? ZERA_boAddParamW(1, 0, l->ppList, &l->dwCount, &l->ppValues, ZERA_PARAM_REAL,
                                                        dwAccess, 0, 0, 0, pwszName, rValue)
                                     : ZERA_boAddParamA(1, 0, l->ppList, &l->dwCount, &l->ppValues, ZERA_PARAM_REAL,
                                                        dwAccess, 0, 0, 0, pszName, rValue));
}

static inline void ZERA_vDeclareString(ZERA_PARAM_LIST *l, const char *pszName, const WCHAR16 *pwszName,
                                       uint32_t dwAccess, const char *pszValue, const WCHAR16 *pwszValue) {
    if (l->boFailed) return;
    l->dwType = ZERA_PARAM_STRING;
    l->boFailed = (BOOL8)!(l->boWide ? ZERA_boAddParamW(1, 0, l->ppList, &l->dwCount, &l->ppValues,
                                                        ZERA_PARAM_STRING, dwAccess, 0, 0, 0, pwszName, pwszValue)
                                     : ZERA_boAddParamA(1, 0, l->ppList, &l->dwCount, &l->ppValues,
                                                        ZERA_PARAM_STRING, dwAccess, 0, 0, 0, pszName, pszValue));
}

/* Marks the parameter declared last as one that may be attached to events. */
static inline void ZERA_vDeclareAttachable(ZERA_PARAM_LIST *l) {
    if (!l->boFailed && l->dwCount != 0) (*l->ppList)[l->dwCount - 1].u8Attributes |= ZERA_ATTR_ATTACHABLE;
}

static inline void ZERA_vPermitDWords(ZERA_PARAM_LIST *l, uint32_t dwLow, uint32_t dwHigh) {
    if (l->boFailed || l->ppValues == NULL) return;
    l->boFailed = (BOOL8)!ZERA_boAddValueA(&l->ppValues, l->dwType, 0, dwLow == dwHigh ? ZERA_VALUE_SINGLE : ZERA_VALUE_RANGE,
                                            dwLow, dwHigh);
}

static inline void ZERA_vPermitReals(ZERA_PARAM_LIST *l, double rLow, double rHigh) {
    if (l->boFailed || l->ppValues == NULL) return;
    l->boFailed = (BOOL8)!ZERA_boAddValueA(&l->ppValues, l->dwType, 0, rLow == rHigh ? ZERA_VALUE_SINGLE : ZERA_VALUE_RANGE,
                                            rLow, rHigh);
}

static inline void ZERA_vPermitString(ZERA_PARAM_LIST *l, const char *pszValue, const WCHAR16 *pwszValue) {
    if (l->boFailed || l->ppValues == NULL) return;
    l->boFailed = (BOOL8)!(l->boWide ? ZERA_boAddValueW(&l->ppValues, ZERA_PARAM_STRING, 0, ZERA_VALUE_SINGLE,
                                                        pwszValue, pwszValue)
                                     : ZERA_boAddValueA(&l->ppValues, ZERA_PARAM_STRING, 0, ZERA_VALUE_SINGLE,
                                                        pszValue, pszValue));
}

/* The declarations, each name and string once (string literals). */
#define ZERA_DECLARE_DWORD(l, name, access, value) \
    ZERA_vDeclareDWord((l), name, ZERA_WTEXT(name), (uint32_t)(access), (uint32_t)(value))
#define ZERA_DECLARE_REAL(l, name, access, value) \
    ZERA_vDeclareReal((l), name, ZERA_WTEXT(name), (uint32_t)(access), (double)(value))
#define ZERA_DECLARE_STRING(l, name, access, value) \
    ZERA_vDeclareString((l), name, ZERA_WTEXT(name), (uint32_t)(access), value, ZERA_WTEXT(value))
/* Permitted values of the parameter declared last: a range (one value when
 * low equals high) of a dword or real, or one string. */
#define ZERA_PERMIT_DWORDS(l, low, high) ZERA_vPermitDWords((l), (uint32_t)(low), (uint32_t)(high))
#define ZERA_PERMIT_REALS(l, low, high) ZERA_vPermitReals((l), (double)(low), (double)(high))
#define ZERA_PERMIT_STRING(l, value) ZERA_vPermitString((l), value, ZERA_WTEXT(value))

/* Defines ZERA_boSetupParListA and W from void declare(ZERA_PARAM_LIST *),
 * which declares the level's parameters with the helpers above. */
#define ZERA_COMPONENT_DECLARE_PARAMS(declare)                                                    \
    static BOOL8 zera_setup_declared_params(BOOL8 boWide, Param **ppstStackParams) {             \
        ZERA_PARAM_LIST zera_list = ZERA_stParamListBegin(boWide, ppstStackParams);               \
        if (!zera_list.boFailed) (declare)(&zera_list);                                           \
        return ZERA_boParamListEnd(&zera_list);                                                   \
    }                                                                                             \
    ZERA_COMPONENT_PARAMS(zera_setup_declared_params)

/* ---- A level's worker thread ------------------------------------------------
 *
 * Most components serve their level with a thread that waits for what is
 * sent to the level (ZERA_pstGetNextSendEvent) or comes down to it
 * (ZERA_pstReceiveEvent), and the stop export must end that wait and join
 * the thread. A level thread does all of it: its break flag and break mutex
 * live inside, a stop breaks both kinds of wait, and the loop takes events
 * through the thread, so a wait never misses a stop. One record per thread,
 * made in ZERA_boModuleInit and deleted in ZERA_boModuleDeinit:
 *
 *     static void ZERA_CALL Run(ZERA_HLEVELTHREAD t, void *pvLevel) {
 *         Event *ev;
 *         while ((ev = ZERA_pstLevelThreadNextSendEvent(t, &noLead)) != NULL)
 *             Handle(pvLevel, ev);
 *     }
 *     start:  return ZERA_boLevelThreadStart(l->thread, Run, l);
 *     stop:   ZERA_boLevelThreadStop(l->thread);
 *
 * What is safe: a stop before any start, a second stop, a loop that returns
 * on its own (the stop that follows joins it at once), a start that fails
 * (the record stays stopped and may be started again). A stop asked on the
 * thread itself (from a callback the loop runs, such as a filter that stops
 * the stack) cannot wait for its own end: it asks the loop to end and leaves
 * the join to the next stop from another thread, or to the delete. Start
 * and stop may come from any thread; the delete is the record's last call.
 * Components written in C++ use zera::LevelThread below.
 *
 * One level may have several level threads (one that takes what is sent to
 * the level and one that receives what comes down); a stop of one breaks
 * the other's receive wait too, which the receive below sits out. */

typedef struct ZERA_LevelThread *ZERA_HLEVELTHREAD;
/* The loop: runs on the level thread from a start until it returns; it
 * returns when a wait of the thread returns null or when
 * ZERA_boLevelThreadStopAsked says so. */
typedef void (ZERA_CALL *ZERA_PFN_LEVEL_LOOP)(ZERA_HLEVELTHREAD hThread, void *pvContext);

/* A stopped level thread of level h, with its break mutex; the caller owns
 * it (ZERA_boLevelThreadDelete). Null with 1028 (h null) or 1026. */
ZERA_API ZERA_HLEVELTHREAD ZERA_CALL ZERA_hLevelThreadCreate(StackHandle *h);
/* Stops the thread (as ZERA_boLevelThreadStop) and frees the record. True
 * also for a null handle. False, with nothing freed: 1027 (no level
 * thread), 1025 when called on the level thread itself. */
ZERA_API BOOL8 ZERA_CALL ZERA_boLevelThreadDelete(ZERA_HLEVELTHREAD hThread);
/* Clears the break flag and runs pfnLoop(hThread, pvContext) on a new
 * thread. False, with the record as it was: 1027, 1028 (pfnLoop null),
 * 1025 when it was started and not stopped since (also when its loop has
 * returned) or when called on the level thread itself, 1026 or 1031 when
 * the thread cannot be made. */
ZERA_API BOOL8 ZERA_CALL ZERA_boLevelThreadStart(ZERA_HLEVELTHREAD hThread, ZERA_PFN_LEVEL_LOOP pfnLoop,
                                                void *pvContext);
/* Sets the break flag, ends the thread's send and receive waits and joins
 * the thread. True when no thread is left to join: also before any start,
 * after a stop, and for a null handle. Called on the level thread itself it
 * only asks the loop to end: false with 1025 (the next stop from another
 * thread, or the delete, joins it). 1027 for a record that is none. */
ZERA_API BOOL8 ZERA_CALL ZERA_boLevelThreadStop(ZERA_HLEVELTHREAD hThread);
/* Whether the thread was started and not stopped since (false with 1027
 * for a record that is none). */
ZERA_API BOOL8 ZERA_CALL ZERA_boLevelThreadStarted(ZERA_HLEVELTHREAD hThread);
/* Whether a stop was asked since the last start: a loop that waits in
 * other ways (sockets, rounds of its own) looks here between its waits. */
ZERA_API BOOL8 ZERA_CALL ZERA_boLevelThreadStopAsked(ZERA_HLEVELTHREAD hThread);
/* For the loop: the next due event of the level's send queue, as
 * ZERA_pstGetNextSendEvent with the thread's break. Null once a stop was
 * asked, or with the wait's code (1027, 1028) when it cannot wait. A take
 * that fails for want of memory (1026) is not the end: it pauses for a few
 * milliseconds and tries again (a stop asked meanwhile ends it then). */
ZERA_API Event *ZERA_CALL ZERA_pstLevelThreadNextSendEvent(ZERA_HLEVELTHREAD hThread, const TimeVal *pstLead);
/* For the loop: the next wanted event that comes down to the level, as
 * ZERA_pstReceiveEvent. Null once a stop was asked, after *pstTimeout, or
 * with the receive's code (1027 when the level above is gone, 1028). With
 * OSAL_stTimeInfinite it returns only so: a break of another thread's wait
 * on the same queue is sat out, and a wait that cannot be set up for want
 * of memory (1026) is tried again after a pause of a few milliseconds; with
 * a finite time-out such a break may end the wait early, and 1026 ends it. */
ZERA_API Event *ZERA_CALL ZERA_pstLevelThreadReceiveEvent(ZERA_HLEVELTHREAD hThread, uint32_t dwLevelMask,
                                                         uint32_t dwTypeMask, const TimeVal *pstTimeout);

/* ---- What a component says about itself (optional) -------------------------
 *
 * Narrow data exports "ZERA_hsComponentAuthor", "ZERA_hsComponentDescription"
 * and "ZERA_hsComponentLicence" (UTF-8 text), which `zera list` and `zera
 * inspect` show (text and JSON); the library reads none of them. Define all
 * three with
 * ZERA_COMPONENT_ABOUT("A. Author", "Counts what comes down", "MIT"); an
 * empty string leaves a field out. */
#define ZERA_COMPONENT_ABOUT(author, description, licence)                                \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT const char ZERA_hsComponentAuthor[] = author;      \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT const char ZERA_hsComponentDescription[] = description; \
    ZERA_COMPONENT_EXTERN_C ZERA_EXPORT const char ZERA_hsComponentLicence[] = licence;

#ifdef __cplusplus
}  /* extern "C" */

/* The C++ face of the level thread: owns the record, and starts a loop
 * given as a function of the component's own record:
 *
 *     struct Level { StackHandle *h; zera::LevelThread thread; };
 *     void Run(Level *l) { while (Event *ev = l->thread.NextSendEvent()) ...; }
 *     init:   l->thread.Create(h)        start: l->thread.Start<Run>(l)
 *     stop:   l->thread.Stop()           deinit: delete l (stops and joins)
 */
namespace zera {

class LevelThread {
public:
    LevelThread() = default;
    ~LevelThread() { ZERA_boLevelThreadDelete(h_); }
    LevelThread(const LevelThread &) = delete;
    LevelThread &operator=(const LevelThread &) = delete;

    /* False with the code of ZERA_hLevelThreadCreate (or 1025 when made
     * already). */
    bool Create(StackHandle *h) {
        if (h_ != nullptr) {
            OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
            return false;
        }
        h_ = ZERA_hLevelThreadCreate(h);
        return h_ != nullptr;
    }
    /* Runs Loop(record) on the thread (ZERA_boLevelThreadStart). */
    template <auto Loop, typename Record>
    bool Start(Record *record) {
        return ZERA_boLevelThreadStart(h_, &Trampoline<Loop, Record>, record) != 0;
    }
    bool Stop() { return ZERA_boLevelThreadStop(h_) != 0; }
    bool Started() const { return h_ != nullptr && ZERA_boLevelThreadStarted(h_) != 0; }
    bool StopAsked() const { return ZERA_boLevelThreadStopAsked(h_) != 0; }
    Event *NextSendEvent(const TimeVal &lead = OSAL_stTimeNoWait) {
        return ZERA_pstLevelThreadNextSendEvent(h_, &lead);
    }
    Event *ReceiveEvent(uint32_t levelMask, uint32_t typeMask, const TimeVal &timeout = OSAL_stTimeInfinite) {
        return ZERA_pstLevelThreadReceiveEvent(h_, levelMask, typeMask, &timeout);
    }
    ZERA_HLEVELTHREAD handle() const { return h_; }

private:
    template <auto Loop, typename Record>
    static void ZERA_CALL Trampoline(ZERA_HLEVELTHREAD, void *record) {
        Loop(static_cast<Record *>(record));
    }

    ZERA_HLEVELTHREAD h_ = nullptr;
};

}  /* namespace zera */
#endif

#endif /* ZERA_COMPONENT_H */
