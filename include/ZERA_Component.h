/*
 * ZERA_Component.h - the kit for component authors.
 *
 * A component is a module file named <Name>.COMPONENT that the library loads
 * for one stack level. It exports the functions declared here; the library
 * finds them by name and calls them with the platform's standard calling
 * convention. Define the binding exports with one line:
 *
 *     ZERA_COMPONENT_BINDING()
 *
 * and write ZERA_vInfoBlockInitialize, ZERA_boSetupParListA (and/or W),
 * ZERA_boModuleInit and ZERA_boModuleDeinit. Everything else is optional.
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
 * See examples/components for three small complete components.
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
/* Optional: the level's status or stack parameters changed. */
ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyA(StackHandle *h);
ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyW(StackHandle *h);
/* Optional, used only in pairs: the stack became complete and started (start
 * the level's threads), or left that state (stop them). */
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

#ifdef __cplusplus
}
#endif

#endif /* ZERA_COMPONENT_H */
