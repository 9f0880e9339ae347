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
#include "marshal/wire_io.h"
#include "param/param.h"

namespace zera {
namespace {

// The name block, "name NUL text NUL", as one byte stream; a wide block is
// narrowed on its way into the packet. A null block is the length 0 alone.
template <typename Out>
bool PutNameBlock(Out &out, const void *block, bool wide) {
    if (block == nullptr) {
        out.Unit(uint32_t{0});
        return true;
    }
    if (!wide) {
        const char *name = static_cast<const char *>(block);
        const size_t nameBytes = out.Length(name) + 1;
        const size_t len = nameBytes + out.Length(name + nameBytes) + 1;
        if (len > INT32_MAX) return Fail(OSAL_ERR_INVALID_SIZE);
        out.Unit(static_cast<uint32_t>(len));
        out.Raw(name, len);
        return true;
    }
    const WCHAR16 *name = static_cast<const WCHAR16 *>(block);
    const size_t nameUnits = out.Length(name);
    const WCHAR16 *text = name + nameUnits + 1;
    const size_t textUnits = out.Length(text);
    const size_t len = nameUnits + 1 + textUnits + 1;
    if (len > INT32_MAX) return Fail(OSAL_ERR_INVALID_SIZE);
    out.Unit(static_cast<uint32_t>(len));
    out.Narrowed(name, nameUnits);
    out.Unit(uint8_t{0});
    out.Narrowed(text, textUnits);
    out.Unit(uint8_t{0});
    return true;
}

template <typename Out>
bool PutValue(Out &out, uint32_t type, const ParamData &value, bool wide) {
    switch (type) {
        case ZERA_PARAM_STRING: return wide ? PutWideString(out, value.ls) : PutString(out, value.hs);
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2: out.Unit(value.dw); return true;
        default: out.Unit(value.r); return true;
    }
}

// One parameter. A value kind out of range is refused (2056) before any of
// the chain is written; what came before it stays written.
template <typename Out>
bool EncodeParam(Out &out, const Param &param, bool wide) {
    if (param.dwType > ZERA_PARAM_REAL) return Fail(OSAL_ERR_TYPE_RANGE);
    if (!PutNameBlock(out, param.pName, wide)) return false;
    out.Unit(static_cast<uint8_t>(param.dwType));
    const bool named = param.pName != nullptr;
    if (named) {
        out.Unit(static_cast<uint8_t>(param.dwAccess));
        out.Unit(param.u8Attributes);
    }
    out.Unit(param.u8ChangeFlags);
    if (!named) return true;
    out.Unit(param.u8Tag);
    if (!PutValue(out, param.dwType, param.uValue, wide)) return false;
    uint32_t count = 0;
    for (const ParamValue *v = param.pstValues; v != nullptr; v = v->pstNext, ++count) {
        if (v->dwKind > ZERA_VALUE_RANGE) return Fail(OSAL_ERR_TYPE_RANGE);
    }
    out.Unit(count);
    for (const ParamValue *v = param.pstValues; v != nullptr; v = v->pstNext) {
        out.Unit(static_cast<uint8_t>(v->dwKind));
        if (!PutValue(out, param.dwType, v->uFrom, wide) ||
            (v->dwKind == ZERA_VALUE_RANGE && !PutValue(out, param.dwType, v->uTo, wide)))
            return false;
        out.Unit(v->dwTag);
    }
    return true;
}

bool EndsList(const Param &rec, bool wide) {
    if (rec.pName == nullptr) return true;
    return wide ? *static_cast<const WCHAR16 *>(rec.pName) == 0 : *static_cast<const char *>(rec.pName) == 0;
}

// Reads a name block and checks its form "name NUL text NUL" in the packet,
// so that later walks over the name and its text stay inside the block;
// only then is the caller's copy made (widened one unit per byte for a wide
// list). Length 0 gives a null block. A block of the wrong form is consumed
// and refused with 1034.
bool ReadNameBlock(MarshalPacket *p, void **block, bool wide) {
    const int32_t len = ReadStreamLength(p, 1);
    if (len < 0) return false;
    *block = nullptr;
    if (len == 0) return true;
    const uint8_t *bytes = ReadPos(p);
    const size_t n = static_cast<size_t>(len);
    if (n < 2 || bytes[n - 1] != 0 || std::memchr(bytes, 0, n - 1) == nullptr) {
        p->i32CurReadPos += len;
        return Fail(OSAL_ERR_INVALID_SIZE);
    }
    void *copy = Alloc(n * (wide ? sizeof(WCHAR16) : 1));
    if (copy == nullptr) return Fail(OSAL_ERR_NO_MEMORY);
    if (wide) {
        WCHAR16 *units = static_cast<WCHAR16 *>(copy);
        for (size_t i = 0; i < n; ++i) units[i] = bytes[i];
    } else {
        std::memcpy(copy, bytes, n);
    }
    p->i32CurReadPos += len;
    *block = copy;
    return true;
}

// A number of a parameter of `type` (1, 2: DWord; 3: Real).
template <typename In>
bool ReadNumber(In &in, uint32_t type, ParamData *value) {
    value->qw = 0;
    return type == ZERA_PARAM_REAL ? in.Unit(value->r) : in.Unit(value->dw);
}

uint32_t NumberWidth(uint32_t type) { return type == ZERA_PARAM_REAL ? 8 : 4; }

bool ReadText(MarshalPacket *p, ParamData *value, bool wide) {
    value->qw = 0;
    return (wide ? ReadString(p, &value->ls) : ReadString(p, &value->hs)) >= 0;
}

template <typename In>
bool ReadKind(In &in, uint32_t *kind) {
    if (!SignedByte(in, kind)) return false;
    return *kind <= ZERA_VALUE_RANGE || Fail(OSAL_ERR_TYPE_RANGE);
}

// One record of a value chain into *v (zeroed by the caller); strings read
// before a failure stay in *v for the caller to free.
bool ReadValueRecord(MarshalPacket *p, uint32_t type, ParamValue *v, bool wide) {
    if (type != ZERA_PARAM_STRING) {
        return ReadFixed(p, 1 + 2 * NumberWidth(type) + 4, [&](auto &in) {
            return ReadKind(in, &v->dwKind) && ReadNumber(in, type, &v->uFrom) &&
                   (v->dwKind != ZERA_VALUE_RANGE || ReadNumber(in, type, &v->uTo)) && in.Unit(v->dwTag);
        });
    }
    UnitReader in{p};
    return ReadKind(in, &v->dwKind) && ReadText(p, &v->uFrom, wide) &&
           (v->dwKind != ZERA_VALUE_RANGE || ReadText(p, &v->uTo, wide)) && in.Unit(v->dwTag);
}

// Reads `count` value records for a parameter of `type` into *chain. The
// strings read pass straight into the records, which then own them as
// records added with ZERA_boAddValueA/W would. On failure *chain is
// untouched and everything read is freed.
bool ReadChain(MarshalPacket *p, uint32_t type, uint32_t count, ParamValue **chain, bool wide) {
    Param holder{};  // owns the new chain until it is complete
    holder.dwType = type;
    ParamValue **link = &holder.pstValues;
    for (uint32_t i = 0; i < count; ++i) {
        ParamValue v{};
        bool ok = ReadValueRecord(p, type, &v, wide);
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

// The value of a named record and its chain. A number and the chain's
// count are checked as one run.
bool ReadValueAndChain(MarshalPacket *p, Param *rec, bool wide) {
    uint32_t count = 0;
    bool ok;
    if (rec->dwType == ZERA_PARAM_STRING) {
        UnitReader in{p};
        ok = ReadText(p, &rec->uValue, wide) && in.Unit(count);
    } else {
        ok = ReadFixed(p, NumberWidth(rec->dwType) + 4,
                       [&](auto &in) { return ReadNumber(in, rec->dwType, &rec->uValue) && in.Unit(count); });
    }
    return ok && ReadChain(p, rec->dwType, count, &rec->pstValues, wide);
}

// Reads one parameter into *rec, which starts zeroed with dwType 1. On
// failure everything read is released and *rec owns nothing.
bool ReadParam(MarshalPacket *p, Param *rec, bool wide) {
    bool ok = ReadNameBlock(p, &rec->pName, wide);
    const bool named = rec->pName != nullptr;
    // Type, access and attributes (named), change flags, tag (named).
    ok = ok && ReadFixed(p, named ? 5 : 2, [rec, named](auto &in) {
        if (!SignedByte(in, &rec->dwType)) return false;
        if (rec->dwType > ZERA_PARAM_REAL) return Fail(OSAL_ERR_TYPE_RANGE);
        if (named && !(SignedByte(in, &rec->dwAccess) && in.Unit(rec->u8Attributes))) return false;
        return in.Unit(rec->u8ChangeFlags) && (!named || in.Unit(rec->u8Tag));
    });
    if (ok && named) ok = ReadValueAndChain(p, rec, wide);
    if (!ok) ReleaseParam(rec);
    return ok;
}

void ClearRecord(Param *rec) {
    *rec = Param{};
    rec->dwType = ZERA_PARAM_DWORD;
}

}  // namespace

bool MarshalParam(MarshalPacket *p, const Param *param, bool wide) {
    if (param == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    return Emit(p, [param, wide](auto &out) { return EncodeParam(out, *param, wide); });
}

// The change marks are cleared only by the run that writes.
template <typename Out>
bool EncodeParamList(Out &out, Param *list, bool changedOnly, bool wide) {
    constexpr uint8_t kMarks = ZERA_CHANGE_VALUE | ZERA_CHANGE_SHAPE | ZERA_CHANGE_LEVELS;
    const bool all = !changedOnly || (list[0].u8ChangeFlags & (ZERA_CHANGE_SHAPE | ZERA_CHANGE_LEVELS)) != 0;
    size_t end = 0;
    uint32_t count = 1;
    for (; !EndsList(list[end], wide); ++end) {
        if (all || (list[end].u8ChangeFlags & ZERA_CHANGE_VALUE) != 0) ++count;
    }
    out.Unit(count);
    for (size_t i = 0; i <= end; ++i) {
        Param &rec = list[i];
        const bool write = all || (rec.u8ChangeFlags & ZERA_CHANGE_VALUE) != 0 || i == end;
        const bool ok = !write || EncodeParam(out, rec, wide);
        if (Out::kWrites) rec.u8ChangeFlags = static_cast<uint8_t>(rec.u8ChangeFlags & ~kMarks);
        if (!ok) return false;
    }
    return true;
}

template bool EncodeParamList(WireCounter &, Param *, bool, bool);
template bool EncodeParamList(WireWriter &, Param *, bool, bool);

// A null list is refused with 1028 before anything is read or written: the
// writer would otherwise have to read the first record's change flags.
bool MarshalParamList(MarshalPacket *p, Param *list, bool changedOnly, bool wide) {
    if (list == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    return Emit(p, [&](auto &out) { return EncodeParamList(out, list, changedOnly, wide); });
}

// Everything is read into a local record first and released with it on
// failure, so the destination is touched only once the whole parameter has
// been read; no heap block is needed for that.
bool UnmarshalParam(MarshalPacket *p, Param *dest, bool replace, bool wide) {
    if (dest == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    Param rec;
    ClearRecord(&rec);
    if (!ReadParam(p, &rec, wide)) return false;
    if (replace) ReleaseParam(dest);
    *dest = rec;
    return true;
}

// Two points the list format leaves open are settled here so that every list
// this reader leaves behind - complete, failed part way, or with N = 0 - is an
// ordinary list that can be walked and deleted:
//  - A terminator always stands behind the records read: after a failure, or
//    when the last record read has a (possibly empty) name, the record that
//    follows becomes a zeroed terminator. The array therefore has room for
//    one record more than N, rounded up to the growth step. Records behind
//    the terminator are never read, so they are not zeroed.
//  - A record without a name before the N-th would end the list early and
//    hide the records behind it from every walk (they would leak), so the read
//    stops there with 1034 and that record stays as the terminator.
// The array is sized by what the packet can hold, not by N alone: every record
// takes at least six bytes, so a bogus N cannot demand a huge allocation, and
// the read fails with 1032 on the first record the bytes cannot hold.
//
// A list of one growth step (most lists) is read into a local array and
// copied into its own behind the records' small blocks: allocated first, a
// block that large would make the platform's allocator merge its caches of
// small blocks on every read of a loop that reads and deletes lists, which
// costs more than the whole read.
bool UnmarshalParamList(MarshalPacket *p, Param **list, bool wide) {
    if (list == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    uint32_t n = 0;
    if (!GetUnit(p, &n, 4)) return false;
    constexpr uint32_t kMinRecordBytes = 6;
    const uint32_t readable = static_cast<uint32_t>(Unread(p)) / kMinRecordBytes;
    const size_t room = (size_t{n < readable ? n : readable} + kParamListStep) / kParamListStep * kParamListStep;
    Param local[kParamListStep];
    Param *array = nullptr;
    if (room > kParamListStep) {
        array = static_cast<Param *>(Alloc(room * sizeof(Param)));
        // 1026 rather than a bare false: without a code the caller would
        // read whatever code an earlier operation left.
        if (array == nullptr) return Fail(OSAL_ERR_NO_MEMORY);
        DeleteParamList(*list);
        *list = array;
    }
    Param *records = array != nullptr ? array : local;

    size_t end = 0;  // where the terminator stands
    bool ok = true, ended = false;
    for (; end < n; ++end) {
        if (end + 1 >= room) {  // unreachable: the bytes left cannot hold another record
            ok = Fail(OSAL_ERR_SHORT_PACKET);
            break;
        }
        ClearRecord(&records[end]);
        if (!ReadParam(p, &records[end], wide)) {
            ok = false;
            break;
        }
        if (records[end].pName == nullptr) {
            if (end + 1 < n) ok = Fail(OSAL_ERR_INVALID_SIZE);
            ended = true;
            break;
        }
    }
    if (!ended) ClearRecord(&records[end]);
    if (array != nullptr) return ok;

    array = static_cast<Param *>(Alloc(room * sizeof(Param)));
    if (array == nullptr) {
        for (size_t i = 0; i < end; ++i) ReleaseParam(&local[i]);
        return Fail(OSAL_ERR_NO_MEMORY);
    }
    std::memcpy(array, local, (end + 1) * sizeof(Param));
    DeleteParamList(*list);
    *list = array;
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
