// param/param_api.cpp - the exported parameter-list operations: unpack the
// variable arguments and hand over to the internals in param_list.cpp.
#include <cstdarg>

#include "common/common.h"
#include "param/param.h"

namespace {

// Takes one trailing value of `type` off the argument list. Unknown types
// take none, so a caller that passes none for them is read correctly.
ParamData NextValue(va_list &args, uint32_t type) {
    ParamData value;
    value.qw = 0;
    switch (type) {
        case ZERA_PARAM_STRING: value.pv = va_arg(args, void *); break;
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2: value.dw = va_arg(args, uint32_t); break;
        case ZERA_PARAM_REAL: value.r = va_arg(args, double); break;
        default: break;
    }
    return value;
}

BOOL8 AddValueFromArgs(bool wide, ParamValue ***cursor, uint32_t type, uint32_t tag, uint32_t kind,
                       va_list &args) {
    ParamData from = NextValue(args, type);
    ParamData to;
    to.qw = 0;
    if (kind == ZERA_VALUE_RANGE) to = NextValue(args, type);
    return zera::AddValue(wide, cursor, type, tag, kind, from, to) ? 1 : 0;
}

}  // namespace

extern "C" {

ZERA_API BOOL8 ZERA_CALL ZERA_boCreateParListA(Param **ppList) {
    if (ppList == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    return zera::CreateParamList(ppList) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CDECL ZERA_boAddParamA(BOOL8 boGrow, uint8_t u8CreateOptions, Param **ppList,
                                           uint32_t *pdwCount, ParamValue ***pppValueCursor,
                                           uint32_t dwType, uint32_t dwAccess, uint8_t u8Attributes,
                                           uint8_t u8Tag, BOOL8 boTwoStrings, const char *pszName, ...) {
    va_list args;
    va_start(args, pszName);
    ParamData value = NextValue(args, dwType);
    va_end(args);
    return zera::AddParam(false, boGrow != 0, u8CreateOptions, ppList, pdwCount, pppValueCursor, dwType,
                          dwAccess, u8Attributes, u8Tag, boTwoStrings != 0, pszName, value)
               ? 1
               : 0;
}

ZERA_API BOOL8 ZERA_CDECL ZERA_boAddParamW(BOOL8 boGrow, uint8_t u8CreateOptions, Param **ppList,
                                           uint32_t *pdwCount, ParamValue ***pppValueCursor,
                                           uint32_t dwType, uint32_t dwAccess, uint8_t u8Attributes,
                                           uint8_t u8Tag, BOOL8 boTwoStrings, const WCHAR16 *pwszName,
                                           ...) {
    va_list args;
    va_start(args, pwszName);
    ParamData value = NextValue(args, dwType);
    va_end(args);
    return zera::AddParam(true, boGrow != 0, u8CreateOptions, ppList, pdwCount, pppValueCursor, dwType,
                          dwAccess, u8Attributes, u8Tag, boTwoStrings != 0, pwszName, value)
               ? 1
               : 0;
}

ZERA_API BOOL8 ZERA_CDECL ZERA_boAddValueA(ParamValue ***pppValueCursor, uint32_t dwType, uint32_t dwTag,
                                           uint32_t dwKind, ...) {
    va_list args;
    va_start(args, dwKind);
    BOOL8 ok = AddValueFromArgs(false, pppValueCursor, dwType, dwTag, dwKind, args);
    va_end(args);
    return ok;
}

ZERA_API BOOL8 ZERA_CDECL ZERA_boAddValueW(ParamValue ***pppValueCursor, uint32_t dwType, uint32_t dwTag,
                                           uint32_t dwKind, ...) {
    va_list args;
    va_start(args, dwKind);
    BOOL8 ok = AddValueFromArgs(true, pppValueCursor, dwType, dwTag, dwKind, args);
    va_end(args);
    return ok;
}

ZERA_API void ZERA_CALL ZERA_vDeleteValListA(Param *pstParam) { zera::DeleteValueChain(pstParam); }

ZERA_API BOOL8 ZERA_CALL ZERA_boDeleteParamA(BOOL8 boShrink, Param **ppList, const char *pszName) {
    return zera::DeleteParam(false, boShrink != 0, ppList, pszName) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boDeleteParamW(BOOL8 boShrink, Param **ppList, const WCHAR16 *pwszName) {
    return zera::DeleteParam(true, boShrink != 0, ppList, pwszName) ? 1 : 0;
}

// Two exports, not one under two names: the name blocks are freed as whole
// blocks, so the width makes no difference, but each width keeps its own entry.
ZERA_API void ZERA_CALL ZERA_vDeleteParamListA(Param *pList) { zera::DeleteParamList(pList); }
ZERA_API void ZERA_CALL ZERA_vDeleteParamListW(Param *pList) { zera::DeleteParamList(pList); }

ZERA_API Param *ZERA_CALL ZERA_pastFindParamA(Param *pList, const char *pszName) {
    return zera::FindParam(false, pList, pszName);
}

ZERA_API Param *ZERA_CALL ZERA_pastFindParamW(Param *pList, const WCHAR16 *pwszName) {
    return zera::FindParam(true, pList, pwszName);
}

}  // extern "C"

ZERA_EXPORT_ALIAS(BOOL8, ZERA_boCreateParListW, ZERA_boCreateParListA, (Param **ppList))
ZERA_EXPORT_ALIAS(void, ZERA_vDeleteValListW, ZERA_vDeleteValListA, (Param *pstParam))
