// param/param_list.cpp - parameter lists: the array with its terminator,
// name blocks, values, value chains, and deep copies of all of them.
//
// Narrow and wide lists share every record; only the code unit of the
// strings differs, so each string-handling step is a template over it.
#include <cstring>

#include "common/common.h"
#include "param/param.h"

namespace zera {
namespace {

template <typename C>
size_t Units(const C *s) {
    size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

// Exact, case-sensitive comparison up to the first NUL: the additional text
// behind a name never takes part.
template <typename C>
bool SameName(const C *a, const C *b) {
    for (;; ++a, ++b) {
        if (*a != *b) return false;
        if (*a == 0) return true;
    }
}

// Code units of a name block: the name, its NUL, the additional text, its NUL.
template <typename C>
size_t NameBlockUnits(const C *block) {
    size_t name = Units(block) + 1;
    return name + Units(block + name) + 1;
}

template <typename C>
C *CopyUnits(const C *src, size_t units) {
    C *dst = static_cast<C *>(Alloc(units * sizeof(C)));
    if (dst != nullptr) std::memcpy(dst, src, units * sizeof(C));
    return dst;
}

// A heap copy of a string value into *dst. A null string has nothing to copy
// and stays null; only a failed allocation returns false.
template <typename C>
bool CopyString(const void *src, ParamData *dst) {
    dst->qw = 0;
    if (src == nullptr) return true;
    const C *s = static_cast<const C *>(src);
    dst->pv = CopyUnits(s, Units(s) + 1);
    return dst->pv != nullptr;
}

bool CopyStringOf(bool wide, const void *src, ParamData *dst) {
    return wide ? CopyString<WCHAR16>(src, dst) : CopyString<char>(src, dst);
}

// Bit 0 of u8Attributes at creation: whether the access class lets the value
// be set from the start; classes 3 and 4 depend on the creator's option bit.
uint8_t SettableBit(uint32_t access, uint8_t options) {
    bool option = (options & ZERA_CREATE_OPT_ACCESS) != 0;
    switch (access) {
        case 0: case 1: case 5: case 7: return 1;
        case 3: return option ? 0 : 1;
        case 4: return option ? 1 : 0;
        default: return 0;
    }
}

size_t TerminatorIndex(const Param *list) {
    size_t i = 0;
    while (list[i].pName != nullptr) ++i;
    return i;
}

// Array room for `records` records, rounded up to whole growth steps.
size_t RoundedRecords(size_t records) {
    return (records + kParamListStep - 1) / kParamListStep * kParamListStep;
}

template <typename C>
bool AddParamT(bool grow, uint8_t options, Param **list, uint32_t *count, ParamValue ***cursor,
               uint32_t type, uint32_t access, uint8_t attributes, uint8_t tag, bool twoStrings,
               const C *name, ParamData value) {
    if (name == nullptr || list == nullptr || count == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;
    }
    size_t nameUnits = Units(name) + 1;
    size_t textUnits = twoStrings ? Units(name + nameUnits) + 1 : 1;
    C *block = static_cast<C *>(Alloc((nameUnits + textUnits) * sizeof(C)));
    if (block == nullptr) {
        // The interface reports a name block it cannot build as a bad name.
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;
    }
    std::memcpy(block, name, nameUnits * sizeof(C));
    if (twoStrings) {
        std::memcpy(block + nameUnits, name + nameUnits, textUnits * sizeof(C));
    } else {
        block[nameUnits] = 0;
    }

    const size_t n = *count;
    Param *array = *list;
    if (grow && array != nullptr && (n + 1) % kParamListStep == 0) {
        size_t records = n + kParamListStep + 1;
        array = records < SIZE_MAX / sizeof(Param)
                    ? static_cast<Param *>(Realloc(array, records * sizeof(Param)))
                    : nullptr;
    }
    if (array == nullptr) {  // the old array, if any, is still the caller's
        Free(block);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return false;
    }
    *list = array;
    array[0].u8ChangeFlags |= ZERA_CHANGE_VALUE | ZERA_CHANGE_SHAPE;
    array[n + 1] = array[n];

    Param &rec = array[n];
    rec.pName = block;
    rec.dwType = type;
    rec.dwAccess = access;
    rec.u8ChangeFlags = ZERA_CHANGE_VALUE;
    rec.u8Tag = tag;
    rec.u8Attributes = static_cast<uint8_t>((attributes & 0xF0u) | SettableBit(access, options));
    rec.pstValues = nullptr;
    rec.uValue.qw = 0;
    switch (type) {
        case ZERA_PARAM_STRING:
            if (!CopyString<C>(value.pv, &rec.uValue)) {
                Free(block);
                array[n] = array[n + 1];
                OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
                return false;
            }
            break;
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2: rec.uValue.dw = value.dw; break;
        case ZERA_PARAM_REAL: rec.uValue.r = value.r; break;
        default: break;  // an unknown type carries no value
    }
    if (cursor != nullptr) *cursor = &rec.pstValues;
    ++*count;
    return true;
}

template <typename C>
bool DeleteParamT(bool shrink, Param **list, const C *name) {
    if (list == nullptr || *list == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;
    }
    Param *array = *list;
    size_t end = TerminatorIndex(array);
    size_t i = 0;
    if (name != nullptr) {
        while (i < end && !SameName(static_cast<const C *>(array[i].pName), name)) ++i;
    }
    if (i == end) {
        if (name != nullptr) OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;  // a null name on an empty list is no error
    }
    ReleaseParam(&array[i]);
    std::memmove(&array[i], &array[i + 1], (end - i) * sizeof(Param));

    size_t remaining = end - 1;
    if (shrink && (remaining + 1) % kParamListStep == 0) {
        Param *smaller = static_cast<Param *>(Realloc(array, (remaining + 1) * sizeof(Param)));
        if (smaller != nullptr) *list = array = smaller;  // else the larger array stays in use
    }
    // Every removal changes the list's shape, so changed-only marshalling
    // must fall back to the full list; marking only when the array shrinks
    // would let a receiver miss removals.
    array[0].u8ChangeFlags |= ZERA_CHANGE_SHAPE;
    return true;
}

template <typename C>
Param *FindParamT(Param *list, const C *name) {
    if (list == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    if (name == nullptr) return list;
    for (Param *p = list; p->pName != nullptr; ++p) {
        if (SameName(static_cast<const C *>(p->pName), name)) return p;
    }
    OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
    return nullptr;
}

// Copies the value chain of a parameter of `type` into *dst (empty on
// entry). On failure the part copied stays linked at *dst for the caller to
// release with the record.
bool CopyChain(bool wide, uint32_t type, const ParamValue *src, ParamValue **dst) {
    for (; src != nullptr; src = src->pstNext) {
        ParamValue *v = static_cast<ParamValue *>(Alloc(sizeof(ParamValue)));
        if (v == nullptr) return false;
        *v = *src;
        v->pstNext = nullptr;
        if (type == ZERA_PARAM_STRING) {
            v->uTo.qw = 0;
            if (!CopyStringOf(wide, src->uFrom.pv, &v->uFrom)) {
                Free(v);
                return false;
            }
            if (src->dwKind == ZERA_VALUE_RANGE && !CopyStringOf(wide, src->uTo.pv, &v->uTo)) {
                Free(v->uFrom.pv);
                Free(v);
                return false;
            }
        }
        *dst = v;
        dst = &v->pstNext;
    }
    return true;
}

// Copies one named record into *dst. On failure *dst owns nothing and has a
// null pName.
bool CopyRecord(bool wide, const Param &src, Param *dst) {
    *dst = src;
    dst->pstValues = nullptr;
    if (src.dwType == ZERA_PARAM_STRING) dst->uValue.qw = 0;
    dst->pName = wide ? static_cast<void *>(CopyUnits(static_cast<const WCHAR16 *>(src.pName),
                                                      NameBlockUnits(static_cast<const WCHAR16 *>(src.pName))))
                      : static_cast<void *>(CopyUnits(static_cast<const char *>(src.pName),
                                                      NameBlockUnits(static_cast<const char *>(src.pName))));
    if (dst->pName == nullptr) return false;
    bool ok = (src.dwType != ZERA_PARAM_STRING || CopyStringOf(wide, src.uValue.pv, &dst->uValue)) &&
              CopyChain(wide, src.dwType, src.pstValues, &dst->pstValues);
    if (!ok) ReleaseParam(dst);
    return ok;
}

}  // namespace

bool CreateParamList(Param **list) {
    Param *array = static_cast<Param *>(AllocZero(kParamListStep, sizeof(Param)));
    *list = array;
    if (array == nullptr) return false;
    array[0].dwType = ZERA_PARAM_DWORD;
    array[0].u8ChangeFlags = ZERA_CHANGE_VALUE | ZERA_CHANGE_SHAPE;
    return true;
}

bool AddParam(bool wide, bool grow, uint8_t options, Param **list, uint32_t *count, ParamValue ***cursor,
              uint32_t type, uint32_t access, uint8_t attributes, uint8_t tag, bool twoStrings,
              const void *name, ParamData value) {
    return wide ? AddParamT(grow, options, list, count, cursor, type, access, attributes, tag, twoStrings,
                            static_cast<const WCHAR16 *>(name), value)
                : AddParamT(grow, options, list, count, cursor, type, access, attributes, tag, twoStrings,
                            static_cast<const char *>(name), value);
}

bool AddValue(bool wide, ParamValue ***cursor, uint32_t type, uint32_t tag, uint32_t kind, ParamData from,
              ParamData to) {
    if (cursor == nullptr || *cursor == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;
    }
    ParamValue **slot = *cursor;
    ParamValue *v = static_cast<ParamValue *>(Alloc(sizeof(ParamValue)));
    *slot = v;
    if (v == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return false;
    }
    v->pstNext = nullptr;
    v->dwKind = kind;
    v->dwTag = tag;
    v->uFrom.qw = 0;
    v->uTo.qw = 0;
    bool range = kind == ZERA_VALUE_RANGE;
    switch (type) {
        case ZERA_PARAM_STRING:
            if (!CopyStringOf(wide, from.pv, &v->uFrom)) {
                Free(v);
                *slot = nullptr;
                OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
                return false;
            }
            if (range && !CopyStringOf(wide, to.pv, &v->uTo)) {
                Free(v->uFrom.pv);
                Free(v);
                *slot = nullptr;
                OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
                return false;
            }
            break;
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2:
            v->uFrom.dw = from.dw;
            if (range) v->uTo.dw = to.dw;
            break;
        case ZERA_PARAM_REAL:
            v->uFrom.r = from.r;
            if (range) v->uTo.r = to.r;
            break;
        default: break;
    }
    *cursor = &v->pstNext;
    return true;
}

void DeleteValueChain(Param *param) {
    if (param == nullptr) return;
    while (param->pstValues != nullptr) {
        ParamValue *v = param->pstValues;
        if (param->dwType == ZERA_PARAM_STRING) {
            Free(v->uFrom.pv);
            if (v->dwKind == ZERA_VALUE_RANGE) Free(v->uTo.pv);
        }
        param->pstValues = v->pstNext;
        Free(v);
    }
}

void ReleaseParam(Param *param) {
    if (param == nullptr || param->pName == nullptr) return;
    Free(param->pName);
    param->pName = nullptr;
    DeleteValueChain(param);
    if (param->dwType == ZERA_PARAM_STRING) Free(param->uValue.pv);
    param->uValue.qw = 0;
}

bool DeleteParam(bool wide, bool shrink, Param **list, const void *name) {
    return wide ? DeleteParamT(shrink, list, static_cast<const WCHAR16 *>(name))
                : DeleteParamT(shrink, list, static_cast<const char *>(name));
}

void DeleteParamList(Param *list) {
    if (list == nullptr) return;
    // From the last parameter to the first, so that no record has to move.
    for (size_t i = TerminatorIndex(list); i > 0; --i) ReleaseParam(&list[i - 1]);
    Free(list);
}

Param *FindParam(bool wide, Param *list, const void *name) {
    return wide ? FindParamT(list, static_cast<const WCHAR16 *>(name))
                : FindParamT(list, static_cast<const char *>(name));
}

uint32_t CountParams(const Param *list) {
    return list == nullptr ? 0 : static_cast<uint32_t>(TerminatorIndex(list));
}

bool CopyParamList(bool wide, const Param *source, Param **copy) {
    if (copy == nullptr || source == nullptr) {
        if (copy != nullptr) *copy = nullptr;
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;
    }
    *copy = nullptr;
    size_t n = TerminatorIndex(source);
    Param *array = static_cast<Param *>(AllocZero(RoundedRecords(n + 1), sizeof(Param)));
    if (array == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (!CopyRecord(wide, source[i], &array[i])) {
            // array[i] owns nothing and ends the records copied so far.
            DeleteParamList(array);
            OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
            return false;
        }
    }
    array[n] = source[n];  // the terminator owns nothing; its marks are kept
    array[n].pstValues = nullptr;
    *copy = array;
    return true;
}

bool CopyParamToNewList(bool wide, const Param *source, Param **copy) {
    if (copy != nullptr) *copy = nullptr;
    if (copy == nullptr || source == nullptr || source->pName == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;
    }
    Param *array = nullptr;
    if (!CreateParamList(&array)) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return false;
    }
    array[1] = array[0];
    if (!CopyRecord(wide, *source, &array[0])) {
        Free(array);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return false;
    }
    *copy = array;
    return true;
}

}  // namespace zera
