/*
 * zera/param.h - parameter lists: heap arrays of named, typed parameters,
 * each with a current value and a chain of permitted values or ranges,
 * ended by a record whose pName is null.
 *
 * The caller keeps the number of parameters (the terminator not counted). A
 * list owns its array, every name block, every string value and every value
 * record; free it with ZERA_vDeleteParamListA/W. Narrow (A) and wide (W)
 * lists share the record layout and differ only in the width of their
 * strings. No operation takes a lock: whoever owns a list serialises it.
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_PARAM_H
#define ZERA_PARAM_H

#include "zera/types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* u8ChangeFlags bits. VALUE on any record; SHAPE and LEVELS on the first. */
#define ZERA_CHANGE_VALUE 0x01u  /* the value changed since the last marshalling */
#define ZERA_CHANGE_SHAPE 0x02u  /* parameters were added or removed */
#define ZERA_CHANGE_LEVELS 0x04u /* levels were added to or removed from the stack */

/* u8Attributes bits. */
#define ZERA_ATTR_SETTABLE 0x01u   /* derived from dwAccess when the parameter is added */
#define ZERA_ATTR_ATTACHABLE 0x10u /* may be attached to events */

/* u8CreateOptions bit that decides access classes 3 and 4. */
#define ZERA_CREATE_OPT_ACCESS 0x08u

/* Kinds of a ParamValue. */
#define ZERA_VALUE_SINGLE 0u
#define ZERA_VALUE_RANGE 1u

/* Creates an empty list (room for 31 parameters) into *ppList; the caller owns
 * it. False with *ppList null when memory runs out (no code stored). The W
 * name is the same function. */
ZERA_API BOOL8 ZERA_CALL ZERA_boCreateParListA(Param **ppList);
ZERA_API BOOL8 ZERA_CALL ZERA_boCreateParListW(Param **ppList);

/* Appends a parameter at position *pdwCount and increments the count. The
 * trailing argument is the value by dwType: a string (char * / WCHAR16 *,
 * copied; null stores a null value), a uint32_t (1, 2) or a double (3); other
 * types take none. With boTwoStrings the name is followed in memory by the
 * additional text. With boGrow the array grows by 32 records when full
 * (*ppList may change); without it the caller guarantees room.
 * *pppValueCursor receives the address of the new record's pstValues, for
 * ZERA_boAddValueA/W. False with 1028 for a null name or when the name block
 * cannot be allocated, 1026 when the array cannot grow or there is no list,
 * 1026 when the string value cannot be copied (record undone, count kept). */
ZERA_API BOOL8 ZERA_CDECL ZERA_boAddParamA(BOOL8 boGrow, uint8_t u8CreateOptions, Param **ppList,
                                           uint32_t *pdwCount, ParamValue ***pppValueCursor,
                                           uint32_t dwType, uint32_t dwAccess, uint8_t u8Attributes,
                                           uint8_t u8Tag, BOOL8 boTwoStrings, const char *pszName, ...);
ZERA_API BOOL8 ZERA_CDECL ZERA_boAddParamW(BOOL8 boGrow, uint8_t u8CreateOptions, Param **ppList,
                                           uint32_t *pdwCount, ParamValue ***pppValueCursor,
                                           uint32_t dwType, uint32_t dwAccess, uint8_t u8Attributes,
                                           uint8_t u8Tag, BOOL8 boTwoStrings, const WCHAR16 *pwszName,
                                           ...);

/* Stores a new value record in the link slot that *pppValueCursor points to
 * (which must end its chain) and advances the cursor to the record's pstNext.
 * Two trailing values of dwType's type follow (strings are copied; a range,
 * dwKind 1, copies both, any other kind only the first). False with 1026 when
 * memory runs out; the slot is then null and nothing is kept. */
ZERA_API BOOL8 ZERA_CDECL ZERA_boAddValueA(ParamValue ***pppValueCursor, uint32_t dwType,
                                           uint32_t dwTag, uint32_t dwKind, ...);
ZERA_API BOOL8 ZERA_CDECL ZERA_boAddValueW(ParamValue ***pppValueCursor, uint32_t dwType,
                                           uint32_t dwTag, uint32_t dwKind, ...);

/* Frees the parameter's value chain (its strings when dwType is 0) and leaves
 * pstValues null. The W name is the same function. */
ZERA_API void ZERA_CALL ZERA_vDeleteValListA(Param *pstParam);
ZERA_API void ZERA_CALL ZERA_vDeleteValListW(Param *pstParam);

/* Removes the first parameter of that name (exact, case-sensitive), or the
 * first parameter when the name is null, moving the later records down. Marks
 * the list's shape as changed. With boShrink the array shrinks to the next
 * multiple of 32 records when that step falls due (*ppList may change; a
 * failed shrink keeps the larger array and still succeeds). False with 1028
 * when no parameter has the name or there is no list; false with no code for
 * a null name on an empty list. */
ZERA_API BOOL8 ZERA_CALL ZERA_boDeleteParamA(BOOL8 boShrink, Param **ppList, const char *pszName);
ZERA_API BOOL8 ZERA_CALL ZERA_boDeleteParamW(BOOL8 boShrink, Param **ppList, const WCHAR16 *pwszName);

/* Frees a whole list with everything it owns; null is ignored. */
ZERA_API void ZERA_CALL ZERA_vDeleteParamListA(Param *pList);
ZERA_API void ZERA_CALL ZERA_vDeleteParamListW(Param *pList);

/* The first record of that name inside the list (the caller may read on from
 * there), or the list itself for a null name. Null with 1028 when no name
 * matches or the list is null. The record belongs to the list. */
ZERA_API Param *ZERA_CALL ZERA_pastFindParamA(Param *pList, const char *pszName);
ZERA_API Param *ZERA_CALL ZERA_pastFindParamW(Param *pList, const WCHAR16 *pwszName);

#ifdef __cplusplus
}
#endif

#endif /* ZERA_PARAM_H */
