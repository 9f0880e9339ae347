/*
 * zera/handle.h - level handles, info blocks, the library's heap, module
 * binding and component names.
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_HANDLE_H
#define ZERA_HANDLE_H

#include "zera/types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Handles -------------------------------------------------------------- */

/* Creates the handle of a new level above hParent, or a level-0 handle when
 * hParent is null. The caller owns the result (ZERA_boHandleClose); it is not
 * linked to the parent yet (ZERA_boHandleBind). The parent's dwWantedLevels
 * gains the new level's bit. Null with 1026 when memory, a queue or the lock
 * cannot be made; null with 1027 when the parent is invalid, already has a
 * next level or is a level 0 without its descriptor; null with 2048 when the
 * parent is level 31, the highest. The parent is unchanged on failure. */
ZERA_API StackHandle *ZERA_CALL ZERA_hHandleCreate(StackHandle *hParent);
/* Links hUpper above hLower (masked in the descriptor when hLower is level
 * 0). False when either fails the check (1027), hLower has a next level or
 * hUpper has a previous level (no code), both are the same handle (1028) or
 * hLower is a level 0 without its descriptor (1027); nothing changed then.
 * The level numbers are not compared. */
ZERA_API BOOL8 ZERA_CALL ZERA_boHandleBind(StackHandle *hLower, StackHandle *hUpper);
/* Unlinks and releases a handle without a next level, with its info blocks,
 * queues (and the events in them) and lock. 1027 when invalid or it still has
 * a next level, 1024 when its previous level is invalid; nothing changed then. */
ZERA_API BOOL8 ZERA_CALL ZERA_boHandleClose(StackHandle *h);
/* True for a valid handle; else 1027. dwFlag has no effect. */
ZERA_API BOOL8 ZERA_CALL ZERA_boHandleCheck(StackHandle *h, uint32_t dwFlag);
/* The next level, or null. h is not checked; a level 0 without its
 * descriptor (pvLevelContext) has no next level. The descriptor's link word
 * must have been prepared (ZERA_Host.h). */
ZERA_API StackHandle *ZERA_CALL ZERA_hHandleGetNextLevel(StackHandle *h);

/* ---- Info blocks ----------------------------------------------------------- */

/* A zero-filled block with magic and size set; the caller owns it. Null when
 * memory runs out (no code). */
ZERA_API InfoBlock *ZERA_CALL ZERA_pstInfoBlockCreate(void);
/* Frees a valid block; false (no code) for an invalid one. */
ZERA_API BOOL8 ZERA_CALL ZERA_boInfoBlockDelete(InfoBlock *pstBlock);
/* True for a valid block; no code. */
ZERA_API BOOL8 ZERA_CALL ZERA_boInfoBlockCheck(const InfoBlock *pstBlock);
/* Whether the level described by pstUpper (its own block) may sit on the level
 * whose pstUpperInfoBlock is pstLower. False with 2057 ("version", "minor
 * version") or 2055 ("info block", "flags", "range A", "range B"); the quoted
 * name of the rule that refused is stored as the error's string argument. */
ZERA_API BOOL8 ZERA_CALL ZERA_boInfoBlockMatch(const InfoBlock *pstUpper, const InfoBlock *pstLower);

/* ---- Heap: blocks that pass between components and the library ------------- */

ZERA_API void *ZERA_CALL ZERA_pvMalloc(size_t dwSize);
ZERA_API void *ZERA_CALL ZERA_pvCalloc(size_t dwCount, size_t dwSize);
ZERA_API void *ZERA_CALL ZERA_pvRealloc(void *pv, size_t dwSize);
ZERA_API void ZERA_CALL ZERA_vFree(void *pv);

/* ---- Module binding and component names ----------------------------------- */

/* Binds a level to its loaded component module: fills the info blocks, the
 * entry table and the stack parameters (narrow A, wide W). A component
 * exports its own ZERA_boModuleInitAPIA/W (ZERA_COMPONENT_BINDING in
 * ZERA_Component.h) that forwards to ZERA_boModuleBindLevelA/W, the same
 * operation under a second name. Both the library and each component define
 * these two, so they carry no import mark on Windows. */
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInitAPIA(StackHandle *h);
ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInitAPIW(StackHandle *h);
ZERA_API BOOL8 ZERA_CALL ZERA_boModuleBindLevelA(StackHandle *h);
ZERA_API BOOL8 ZERA_CALL ZERA_boModuleBindLevelW(StackHandle *h);
/* Fill the slots of an entry table: Up 22, 32, 33, 35; Down every other
 * slot, slots 1, 2, 11 and 12 from hModule (null without one). */
ZERA_API void ZERA_CALL ZERA_vModuleInitAPIHooksUp(ZERA_PFN *apfnEntry);
ZERA_API void ZERA_CALL ZERA_vModuleInitAPIHooksDown(ZERA_PFN *apfnEntry, OSAL_HMODULE hModule);
/* The name of level u8Level (low 6 bits) as seen from h: h's own name for h's
 * level or any below it, else the answer of the levels above. Owned by the
 * level it names. A level is named from its component module's
 * "ZERA_hsModuleName" (narrow level) or "ZERA_lsModuleName" (wide level),
 * level 0 from the library itself ("VOQ_ZERA"); both operations give that one
 * name, in their own width. Null with 1027 for an invalid handle or a level
 * above the top; null when the module exports no name or memory runs out. */
ZERA_API const char *ZERA_CALL ZERA_hsComponentNameA(StackHandle *h, uint8_t u8Level);
ZERA_API const WCHAR16 *ZERA_CALL ZERA_lsComponentNameW(StackHandle *h, uint8_t u8Level);

#ifdef __cplusplus
}
#endif

#endif /* ZERA_HANDLE_H */
