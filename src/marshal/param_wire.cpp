// marshal/param_wire.cpp - parameters and parameter lists on the wire.
//
// One parameter: name block (byte stream "name NUL text NUL", length 0 for a
// terminator), Byte type, then for a named record Byte access and Byte
// attributes, Byte change flags, then for a named record Byte tag, the value
// and the value chain (DWord count; per record Byte kind, from, to for a
// range, DWord tag). A list: DWord N, then N records, the last one ending it.
// Narrow and wide lists write the same bytes: one byte per character.
#include <cstring>

#include "common/common.h"
#include "marshal/marshal.h"
#include "param/param.h"

namespace zera {
namespace {

bool Fail(uint32_t code) {
    OSAL_vSetLastError(code);
    return false;
}

bool PutByte(MarshalPacket *p, uint32_t value) {
    uint8_t byte = static_cast<uint8_t>(value);
    return PutUnit(p, &byte, 1);
}

// Reads a byte and widens it with its sign, as the wire's small fields are.
bool GetSignedByte(MarshalPacket *p, uint32_t *value) {
    int8_t byte = 0;
    if (!GetUnit(p, &byte, 1)) return false;
    *value = static_cast<uint32_t>(static_cast<int32_t>(byte));
    return true;
}

template <typename C>
size_t Units(const C *s) {
    size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

bool WriteNameBlock(MarshalPacket *p, const void *block, bool wide) {
    if (block == nullptr) return MarshalByteStream(p, nullptr, 0);
    if (!wide) {
        const char *name = static_cast<const char *>(block);
        size_t nameBytes = Units(name) + 1;
        size_t len = nameBytes + Units(name + nameBytes) + 1;
        if (len > INT32_MAX) return Fail(OSAL_ERR_INVALID_SIZE);
        return MarshalByteStream(p, name, static_cast<int32_t>(len));
    }
    const WCHAR16 *name = static_cast<const WCHAR16 *>(block);
    size_t nameUnits = Units(name) + 1;
    size_t textUnits = Units(name + nameUnits) + 1;
    size_t len = nameUnits + textUnits;
    if (len > INT32_MAX) return Fail(OSAL_ERR_INVALID_SIZE);
    char *narrow = static_cast<char *>(Alloc(len));
    if (narrow == nullptr) return Fail(OSAL_ERR_NO_MEMORY);
    WideToNarrow(narrow, nameUnits, name);
    WideToNarrow(narrow + nameUnits, textUnits, name + nameUnits);
    bool ok = MarshalByteStream(p, narrow, static_cast<int32_t>(len));
    Free(narrow);
    return ok;
}

bool WriteValue(MarshalPacket *p, uint32_t type, const ParamData &value, bool wide) {
    switch (type) {
        case ZERA_PARAM_STRING:
            return wide ? MarshalWideString(p, value.ls) : MarshalString(p, value.hs);
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2: return PutUnit(p, &value.dw, 4);
        default: return PutUnit(p, &value.r, 8);
    }
}

bool WriteChain(MarshalPacket *p, const Param &param, bool wide) {
    uint32_t count = 0;
    for (const ParamValue *v = param.pstValues; v != nullptr; v = v->pstNext, ++count) {
        if (v->dwKind > ZERA_VALUE_RANGE) return Fail(OSAL_ERR_TYPE_RANGE);
    }
    if (!PutUnit(p, &count, 4)) return false;
    for (const ParamValue *v = param.pstValues; v != nullptr; v = v->pstNext) {
        if (!PutByte(p, v->dwKind) || !WriteValue(p, param.dwType, v->uFrom, wide) ||
            (v->dwKind == ZERA_VALUE_RANGE && !WriteValue(p, param.dwType, v->uTo, wide)) ||
            !PutUnit(p, &v->dwTag, 4))
            return false;
    }
    return true;
}

// Reads a name block and checks its form "name NUL text NUL", so that later
// walks over the name and its text stay inside the block. Length 0 gives a
// null block. The wide form widens every byte to one unit.
bool ReadNameBlock(MarshalPacket *p, void **block, bool wide) {
    void *narrow = nullptr;
    int32_t len = UnmarshalByteStream(p, &narrow, true);
    if (len < 0) return false;
    *block = nullptr;
    if (len == 0) return true;
    const uint8_t *bytes = static_cast<const uint8_t *>(narrow);
    if (len < 2 || bytes[len - 1] != 0 || std::memchr(bytes, 0, static_cast<size_t>(len) - 1) == nullptr) {
        Free(narrow);
        return Fail(OSAL_ERR_INVALID_SIZE);
    }
    if (!wide) {
        *block = narrow;
        return true;
    }
    WCHAR16 *units = static_cast<WCHAR16 *>(Alloc(static_cast<size_t>(len) * sizeof(WCHAR16)));
    if (units != nullptr) {
        for (int32_t i = 0; i < len; ++i) units[i] = bytes[i];
    }
    Free(narrow);
    if (units == nullptr) return Fail(OSAL_ERR_NO_MEMORY);
    *block = units;
    return true;
}

bool ReadValue(MarshalPacket *p, uint32_t type, ParamData *value, bool wide) {
    value->qw = 0;
    switch (type) {
        case ZERA_PARAM_STRING:
            return (wide ? UnmarshalWideString(p, &value->ls) : UnmarshalString(p, &value->hs)) >= 0;
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2: return GetUnit(p, &value->dw, 4);
        default: return GetUnit(p, &value->r, 8);
    }
}

// Reads a value chain for a parameter of `type` into *chain. The strings read
// pass straight into the records, which then own them as records added with
// ZERA_boAddValueA/W would. On failure *chain is untouched and everything read
// is freed.
bool ReadChain(MarshalPacket *p, uint32_t type, ParamValue **chain, bool wide) {
    uint32_t count = 0;
    if (!GetUnit(p, &count, 4)) return false;
    Param holder{};  // owns the new chain until it is complete
    holder.dwType = type;
    ParamValue **link = &holder.pstValues;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t kind = 0;
        bool ok = GetSignedByte(p, &kind);
        if (ok && kind > ZERA_VALUE_RANGE) ok = Fail(OSAL_ERR_TYPE_RANGE);
        ParamValue v{};
        v.dwKind = kind;
        ok = ok && ReadValue(p, type, &v.uFrom, wide);
        ok = ok && (kind != ZERA_VALUE_RANGE || ReadValue(p, type, &v.uTo, wide));
        ok = ok && GetUnit(p, &v.dwTag, 4);
        ParamValue *record = ok ? static_cast<ParamValue *>(Alloc(sizeof(ParamValue))) : nullptr;
        if (ok && record == nullptr) ok = Fail(OSAL_ERR_NO_MEMORY);
        if (!ok) {
            if (type == ZERA_PARAM_STRING) {
                Free(v.uFrom.pv);
                Free(v.uTo.pv);
            }
            DeleteValueChain(&holder);
            return false;
        }
        *record = v;
        *link = record;
        link = &record->pstNext;
    }
    *chain = holder.pstValues;
    return true;
}

}  // namespace

bool MarshalParam(MarshalPacket *p, const Param *param, bool wide) {
    if (param == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    if (param->dwType > ZERA_PARAM_REAL) return Fail(OSAL_ERR_TYPE_RANGE);
    if (!WriteNameBlock(p, param->pName, wide) || !PutByte(p, param->dwType)) return false;
    const bool named = param->pName != nullptr;
    if (named && (!PutByte(p, param->dwAccess) || !PutByte(p, param->u8Attributes))) return false;
    if (!PutByte(p, param->u8ChangeFlags)) return false;
    if (!named) return true;
    return PutByte(p, param->u8Tag) && WriteValue(p, param->dwType, param->uValue, wide) &&
           WriteChain(p, *param, wide);
}

// A null list is refused with 1028 before anything is read or written: the
// writer would otherwise have to read the first record's change flags.
bool MarshalParamList(MarshalPacket *p, Param *list, bool changedOnly, bool wide) {
    if (list == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    constexpr uint8_t kMarks = ZERA_CHANGE_VALUE | ZERA_CHANGE_SHAPE | ZERA_CHANGE_LEVELS;
    const bool all = !changedOnly || (list[0].u8ChangeFlags & (ZERA_CHANGE_SHAPE | ZERA_CHANGE_LEVELS)) != 0;
    auto ends = [wide](const Param &rec) {
        if (rec.pName == nullptr) return true;
        return wide ? *static_cast<const WCHAR16 *>(rec.pName) == 0 : *static_cast<const char *>(rec.pName) == 0;
    };
    size_t end = 0;
    uint32_t count = 1;
    for (; !ends(list[end]); ++end) {
        if (all || (list[end].u8ChangeFlags & ZERA_CHANGE_VALUE) != 0) ++count;
    }
    if (!PutUnit(p, &count, 4)) return false;
    for (size_t i = 0; i <= end; ++i) {
        Param &rec = list[i];
        bool write = all || (rec.u8ChangeFlags & ZERA_CHANGE_VALUE) != 0 || i == end;
        bool ok = !write || MarshalParam(p, &rec, wide);
        rec.u8ChangeFlags = static_cast<uint8_t>(rec.u8ChangeFlags & ~kMarks);
        if (!ok) return false;
    }
    return true;
}

// Everything is read into a local record first and released with it on
// failure, so the destination is touched only once the whole parameter has
// been read; no heap block is needed for that.
bool UnmarshalParam(MarshalPacket *p, Param *dest, bool replace, bool wide) {
    if (dest == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    Param rec{};
    rec.dwType = ZERA_PARAM_DWORD;
    bool ok = ReadNameBlock(p, &rec.pName, wide) && GetSignedByte(p, &rec.dwType);
    if (ok && rec.dwType > ZERA_PARAM_REAL) ok = Fail(OSAL_ERR_TYPE_RANGE);
    const bool named = rec.pName != nullptr;
    if (ok && named) ok = GetSignedByte(p, &rec.dwAccess) && GetUnit(p, &rec.u8Attributes, 1);
    ok = ok && GetUnit(p, &rec.u8ChangeFlags, 1);
    if (ok && named) {
        ok = GetUnit(p, &rec.u8Tag, 1) && ReadValue(p, rec.dwType, &rec.uValue, wide) &&
             ReadChain(p, rec.dwType, &rec.pstValues, wide);
    }
    if (!ok) {
        ReleaseParam(&rec);
        return false;
    }
    if (replace) ReleaseParam(dest);
    *dest = rec;
    return true;
}

// Two points the list format leaves open are settled here so that every list
// this reader leaves behind - complete, failed part way, or with N = 0 - is an
// ordinary list that can be walked and deleted:
//  - A terminator always stands behind the records read: after a failure, or
//    when the last record read has a (possibly empty) name, the zeroed record
//    that follows becomes the terminator. The array therefore has room for one
//    record more than N, rounded up to the growth step.
//  - A record without a name before the N-th would end the list early and
//    hide the records behind it from every walk (they would leak), so the read
//    stops there with 1034 and that record stays as the terminator.
// The array is sized by what the packet can hold, not by N alone: every record
// takes at least six bytes, so a bogus N cannot demand a huge allocation, and
// the read fails with 1032 on the first record the bytes cannot hold.
bool UnmarshalParamList(MarshalPacket *p, Param **list, bool wide) {
    if (list == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    uint32_t n = 0;
    if (!GetUnit(p, &n, 4)) return false;
    constexpr uint32_t kMinRecordBytes = 6;
    uint32_t readable = static_cast<uint32_t>(p->i32DataSize - p->i32CurReadPos) / kMinRecordBytes;
    size_t room = (size_t{n < readable ? n : readable} + kParamListStep) / kParamListStep * kParamListStep;
    Param *array = static_cast<Param *>(AllocZero(room, sizeof(Param)));
    // 1026 rather than a bare false: without a code the caller would read
    // whatever code an earlier operation left.
    if (array == nullptr) return Fail(OSAL_ERR_NO_MEMORY);
    DeleteParamList(*list);
    *list = array;

    size_t i = 0;
    bool ok = true;
    for (; i < n; ++i) {
        if (i + 1 >= room) {  // unreachable: the bytes left cannot hold another record
            ok = Fail(OSAL_ERR_SHORT_PACKET);
            break;
        }
        if (!UnmarshalParam(p, &array[i], false, wide)) {
            ok = false;
            break;
        }
        if (array[i].pName == nullptr) {
            if (i + 1 < n) ok = Fail(OSAL_ERR_INVALID_SIZE);
            return ok;
        }
    }
    array[i].dwType = ZERA_PARAM_DWORD;  // the zeroed record behind the last one read
    return ok;
}

}  // namespace zera

using zera::ToPacket;

extern "C" {

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalParamA(ZERA_HPACKET hPacket, const Param *pstParam) {
    return zera::MarshalParam(ToPacket(hPacket), pstParam, false) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalParamW(ZERA_HPACKET hPacket, const Param *pstParam) {
    return zera::MarshalParam(ToPacket(hPacket), pstParam, true) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalParamListA(ZERA_HPACKET hPacket, Param *pList, BOOL8 boChangedOnly) {
    return zera::MarshalParamList(ToPacket(hPacket), pList, boChangedOnly != 0, false) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalParamListW(ZERA_HPACKET hPacket, Param *pList, BOOL8 boChangedOnly) {
    return zera::MarshalParamList(ToPacket(hPacket), pList, boChangedOnly != 0, true) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalParamA(ZERA_HPACKET hPacket, Param *pstParam, BOOL8 boReplace) {
    return zera::UnmarshalParam(ToPacket(hPacket), pstParam, boReplace != 0, false) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalParamW(ZERA_HPACKET hPacket, Param *pstParam, BOOL8 boReplace) {
    return zera::UnmarshalParam(ToPacket(hPacket), pstParam, boReplace != 0, true) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalParamListA(ZERA_HPACKET hPacket, Param **ppList) {
    return zera::UnmarshalParamList(ToPacket(hPacket), ppList, false) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalParamListW(ZERA_HPACKET hPacket, Param **ppList) {
    return zera::UnmarshalParamList(ToPacket(hPacket), ppList, true) ? 1 : 0;
}

}  // extern "C"
