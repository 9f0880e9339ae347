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
 * convention (they may be static). examples/components/Echo.c is a complete
 * component written this way.
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
 * in its deinit): one module serves every level it is added to. Its threads
 * should not read the stack-parameter list while the host may set it: the
 * notification, which runs after every change, is the place to copy values.
 * See examples/components for small complete components in C and C++.
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
/* Major and minor version (dwVersion: major << 16 | minor); partners must
 * have the same major version. */
#define ZERA_INFO_VERSION(major, minor) \
    zera_info_block->dwVersion = ((uint32_t)(major) << 16) | ((uint32_t)(minor) & 0xFFFFu);
/* The lowest minor version this block accepts of its partner. */
#define ZERA_INFO_MIN_PARTNER_MINOR(minor) zera_info_block->u16MinPartnerMinor = (uint16_t)(minor);
/* dwFlags; ZERA_INFO_COMPLETES_STACK in the own block completes the stack. */
#define ZERA_INFO_FLAGS(flags) zera_info_block->dwFlags = (uint32_t)(flags);
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

#ifdef __cplusplus
}
#endif

#endif /* ZERA_COMPONENT_H */
