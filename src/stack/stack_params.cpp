// stack/stack_params.cpp - reading and setting the stack parameters of any
// level from any level: a request climbs through the levels' entry tables
// (slots 7 to 10) to the level that owns the parameter; stack-wide
// parameters (access classes 10 and 11) are set on every level that has one,
// from the top down.
//
// A level's list is searched only in the level's own width (boWide): a
// request in the other width finds nothing there. No lock is taken; the
// owner of the stack serialises sets and reads of one level's parameters.
#include <cstdarg>
#include <cstring>

#include "ZERA_Component.h"
#include "param/param.h"
#include "stack/stack.h"

namespace {

constexpr uint32_t kLevelBits = 0x3F;
constexpr uint32_t kStackWide = ZERA_LEVEL_STACK_WIDE;
constexpr uint32_t kStateAttributes = 0x06;  // u8Attributes bits 1 and 2
constexpr uint8_t kAttrSettableBlocked = 0x04;

// The value of a set, taken off the trailing arguments once and passed on
// unchanged to every level the set reaches.
struct SetRequest {
    uint32_t type;
    bool withAttributes;
    uint32_t attributes;
    ParamData value;  // value.pv is a char * or a WCHAR16 * by the request's width
};

// The record of that name in h's own list (the list for a null name), or
// null with 1028; a list of the other width is not searched.
Param *FindOwn(bool wide, StackHandle *h, const void *name) {
    if ((h->boWide != 0) != wide) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    return zera::FindParam(wide, h->pstStackParams, name);
}

// FindOwn that leaves the caller's error code as it was.
Param *FindOwnQuietly(bool wide, StackHandle *h, const void *name) {
    zera::KeepLastError keep;
    return FindOwn(wide, h, name);
}

Param *Refreshed(StackHandle *h, Param *p) {
    zera::RefreshSettableBit(h, p);
    return p;
}

Param *GetStackParam(bool wide, StackHandle *h, uint32_t level, const void *name) {
    if (!ZERA_boHandleCheck(h, 1)) return nullptr;
    const uint32_t wanted = level & kLevelBits;
    if (wanted == 0 || wanted < h->u8Level || (wanted == kStackWide && name == nullptr)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_LEVEL);
        return nullptr;
    }
    if (wanted == kStackWide) {
        // The first level from h up that has a parameter of that name answers.
        if (Param *p = FindOwnQuietly(wide, h, name)) {
            if (zera::IsStackWide(p)) return Refreshed(h, p);
            OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
            return nullptr;
        }
    }
    if (wanted > h->u8Level) {
        StackHandle *next = zera::CheckedNextLevel(h);
        if (next == nullptr) return nullptr;
        if (wide) {
            auto get = zera::EntryOf<zera::PfnGetStackParamW>(next, zera::kEntryGetStackParamW);
            return get != nullptr ? get(next, level, static_cast<const WCHAR16 *>(name)) : nullptr;
        }
        auto get = zera::EntryOf<zera::PfnGetStackParamA>(next, zera::kEntryGetStackParamA);
        return get != nullptr ? get(next, level, static_cast<const char *>(name)) : nullptr;
    }
    Param *p = FindOwn(wide, h, name);
    if (p == nullptr) return nullptr;
    if (name != nullptr) return Refreshed(h, p);
    for (Param *record = p; record->pName != nullptr; ++record) zera::RefreshSettableBit(h, record);
    return p;
}

// Calls a neighbour's set slot with the request's trailing arguments.
template <typename Fn, typename Char>
BOOL8 CallSet(Fn set, StackHandle *next, uint32_t level, const Char *name, const SetRequest &r) {
    const uint32_t a = r.attributes;
    switch (r.type) {
        case ZERA_PARAM_STRING: {
            const auto *s = static_cast<const Char *>(r.value.pv);
            return r.withAttributes ? set(next, level, name, r.type, a, s) : set(next, level, name, r.type, s);
        }
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2:
            return r.withAttributes ? set(next, level, name, r.type, a, r.value.dw)
                                    : set(next, level, name, r.type, r.value.dw);
        case ZERA_PARAM_REAL:
            return r.withAttributes ? set(next, level, name, r.type, a, r.value.r)
                                    : set(next, level, name, r.type, r.value.r);
        default: return r.withAttributes ? set(next, level, name, r.type, a) : set(next, level, name, r.type);
    }
}

BOOL8 ForwardSet(bool wide, StackHandle *next, uint32_t level, const void *name, const SetRequest &r) {
    if (wide) {
        auto set = zera::EntryOf<zera::PfnSetStackParamW>(next, zera::kEntrySetStackParamW);
        return set != nullptr ? CallSet(set, next, level, static_cast<const WCHAR16 *>(name), r) : 0;
    }
    auto set = zera::EntryOf<zera::PfnSetStackParamA>(next, zera::kEntrySetStackParamA);
    return set != nullptr ? CallSet(set, next, level, static_cast<const char *>(name), r) : 0;
}

bool SameValue(bool wide, uint32_t type, const ParamData &now, const ParamData &given) {
    switch (type) {
        case ZERA_PARAM_STRING:
            if (now.pv == nullptr || given.pv == nullptr) return now.pv == given.pv;
            return wide ? zera::WCompare(now.ls, static_cast<const WCHAR16 *>(given.pv)) == 0
                        : std::strcmp(now.hs, static_cast<const char *>(given.pv)) == 0;
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2: return now.dw == given.dw;
        case ZERA_PARAM_REAL: return now.r == given.r || std::memcmp(&now.r, &given.r, sizeof now.r) == 0;
        default: return true;
    }
}

// Stores the request's value in p; false with 1026 (old value kept) when a
// string cannot be copied.
bool StoreValue(bool wide, Param *p, const SetRequest &r) {
    switch (r.type) {
        case ZERA_PARAM_STRING: {
            void *copy = nullptr;
            if (r.value.pv != nullptr) {
                copy = wide ? static_cast<void *>(zera::DupWide(static_cast<const WCHAR16 *>(r.value.pv)))
                            : static_cast<void *>(zera::DupNarrow(static_cast<const char *>(r.value.pv)));
                if (copy == nullptr) return zera::Fail(OSAL_ERR_NO_MEMORY);
            }
            zera::Free(p->uValue.pv);
            p->uValue.pv = copy;
            return true;
        }
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2: p->uValue.dw = r.value.dw; return true;
        case ZERA_PARAM_REAL: p->uValue.r = r.value.r; return true;
        default: return true;
    }
}

// The set on h's own parameter. `stackWide` is a set of level 63, which
// passes over a level without a matching stack-wide parameter (true). False
// with the code of the refusal.
bool SetOwn(bool wide, StackHandle *h, bool stackWide, const void *name, const SetRequest &r) {
    const uint32_t oldStatus = zera::LoadRelaxed(h->dwStatus);
    if (h->u8Level == 0) {
        if (stackWide) return true;
        return zera::Fail(OSAL_ERR_INVALID_ARG);
    }
    Param *p = FindOwnQuietly(wide, h, name);
    // A set names the parameter's own type (types 1 and 2 apart as well), so
    // that a value is never stored in another type's representation.
    const bool counts = p != nullptr && p->dwType == r.type && zera::IsStackWide(p) == stackWide;
    if (!counts) {
        if (stackWide) return true;
        return zera::Fail(OSAL_ERR_INVALID_ARG);
    }
    if (r.withAttributes) {
        const uint8_t before = p->u8Attributes;
        p->u8Attributes = static_cast<uint8_t>((before & ~kStateAttributes) | (r.attributes & kStateAttributes));
        zera::RefreshSettableBit(h, p);
        if (((before ^ p->u8Attributes) & kStateAttributes) != 0) p->u8ChangeFlags |= ZERA_CHANGE_VALUE;
    }
    if (!zera::ParamSettable(h, p)) return zera::Fail(OSAL_ERR_INVALID_SIZE);
    if (!StoreValue(wide, p, r)) return false;
    p->u8ChangeFlags |= ZERA_CHANGE_VALUE;
    auto notify = reinterpret_cast<ZERA_PFN_MODULE_NOTIFY>(
        h->apfnEntry[wide ? zera::kEntryModuleNotifyW : zera::kEntryModuleNotifyA]);
    if (notify != nullptr) notify(h);
    ZERA_vUpdateStackStatus(h, oldStatus);
    // The component may have adjusted the value: then the set did not stick.
    if (!SameValue(wide, r.type, p->uValue, r.value)) return zera::Fail(OSAL_ERR_INVALID_SIZE);
    return true;
}

// Steps a set through h: first up to the owning level (or, stack-wide, to
// the top), then on h itself.
bool SetThrough(bool wide, StackHandle *h, uint32_t level, const void *name, const SetRequest &r) {
    const uint32_t wanted = level & kLevelBits;
    const bool stackWide = wanted == kStackWide;
    bool result = true;
    if (wanted > h->u8Level) {
        StackHandle *next = zera::NextLevelOf(h);
        if (next == nullptr && !stackWide) {
            ZERA_boHandleCheck(next, 0);  // stores 1027: there is no such level
            return false;
        }
        if (next != nullptr) {
            if (ZERA_boHandleCheck(next, 0)) {
                result = ForwardSet(wide, next, level, name, r) != 0;
                zera::StoreRelaxed(h->dwStatus, (zera::LoadRelaxed(h->dwStatus) & ~ZERA_STATUS_STARTED) |
                                          (zera::LoadRelaxed(next->dwStatus) & ZERA_STATUS_STARTED));
            } else if (!stackWide) {
                return false;
            }
        }
        if (!stackWide) return result;
    }
    const bool own = SetOwn(wide, h, stackWide, name, r);
    if (!stackWide) return own;
    // A stack-wide set holds only when every level that has the parameter
    // took the value; the code of a refusal above stays stored.
    return result && own;
}

bool SetStackParam(bool wide, StackHandle *h, uint32_t level, const void *name, va_list &args) {
    if (!ZERA_boHandleCheck(h, 1)) return false;
    uint32_t wanted = level & kLevelBits;
    if (wanted == 0 || wanted < h->u8Level ||
        (h->u8Level == 0 && (level & (ZERA_LEVEL_WITH_ATTRIBUTES | ZERA_LEVEL_WITH_TYPE)) != 0)) {
        return zera::Fail(OSAL_ERR_INVALID_LEVEL);
    }
    if (zera::IsEmptyName(wide, name)) return zera::Fail(OSAL_ERR_INVALID_ARG);
    SetRequest r{};
    if ((level & ZERA_LEVEL_WITH_TYPE) == 0) {
        const Param *p = GetStackParam(wide, h, level, name);
        if (p == nullptr) return false;
        if (h->u8Level == 0 && (p->u8Attributes & ZERA_ATTR_SETTABLE) == 0) return zera::Fail(OSAL_ERR_INVALID_ARG);
        if (zera::IsStackWide(p)) wanted = kStackWide;
        r.type = p->dwType;
        level = (level & ~kLevelBits) | wanted | ZERA_LEVEL_WITH_TYPE;
    } else {
        r.type = va_arg(args, uint32_t);
    }
    r.withAttributes = (level & ZERA_LEVEL_WITH_ATTRIBUTES) != 0;
    if (r.withAttributes) r.attributes = va_arg(args, uint32_t);
    r.value.qw = 0;
    switch (r.type) {
        case ZERA_PARAM_STRING:
            if (wide) {
                r.value.pv = va_arg(args, WCHAR16 *);
            } else {
                r.value.pv = va_arg(args, char *);
            }
            break;
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2: r.value.dw = va_arg(args, uint32_t); break;
        case ZERA_PARAM_REAL: r.value.r = va_arg(args, double); break;
        default: break;
    }
    return SetThrough(wide, h, level, name, r);
}

}  // namespace

namespace zera {

bool ParamSettable(const StackHandle *h, const Param *p) {
    const uint32_t status = LoadRelaxed(h->dwStatus);
    const bool complete = (status & ZERA_STATUS_COMPLETE) != 0;
    const bool started = (status & ZERA_STATUS_STARTED) != 0;
    switch (p->dwAccess) {
        case ZERA_ACCESS_ALWAYS: return true;
        case ZERA_ACCESS_TOPMOST: return NextLevelOf(h) == nullptr;
        case ZERA_ACCESS_BELOW_INCOMPLETE: return NextLevelOf(h) != nullptr && !complete;
        case ZERA_ACCESS_INCOMPLETE: return !complete;
        case ZERA_ACCESS_COMPLETE: return complete;
        case ZERA_ACCESS_STOPPED: return !started;
        case ZERA_ACCESS_STARTED: return started;
        case ZERA_ACCESS_ANY_TIME: return true;
        case ZERA_ACCESS_NEVER: return false;
        case ZERA_ACCESS_READY:
        case ZERA_ACCESS_WIDE_READY: return complete && !started;
        case ZERA_ACCESS_WIDE_RUNNING: return complete && started;
        default: return true;
    }
}

void RefreshSettableBit(const StackHandle *h, Param *p) {
    const bool settable = ParamSettable(h, p) && (p->u8Attributes & kAttrSettableBlocked) == 0;
    const uint8_t others = p->u8Attributes & static_cast<uint8_t>(~ZERA_ATTR_SETTABLE);
    p->u8Attributes = static_cast<uint8_t>(others | (settable ? ZERA_ATTR_SETTABLE : 0));
}

void MarkLevelsChanged(StackHandle *h) {
    if (h->pstStackParams != nullptr) h->pstStackParams[0].u8ChangeFlags |= ZERA_CHANGE_LEVELS;
}

}  // namespace zera

extern "C" {

ZERA_API Param *ZERA_CALL ZERA_pstGetStackParamA(StackHandle *h, uint32_t dwLevel, const char *pszName) {
    return GetStackParam(false, h, dwLevel, pszName);
}

ZERA_API Param *ZERA_CALL ZERA_pstGetStackParamW(StackHandle *h, uint32_t dwLevel, const WCHAR16 *pwszName) {
    return GetStackParam(true, h, dwLevel, pwszName);
}

ZERA_API BOOL8 ZERA_CDECL ZERA_boSetStackParamA(StackHandle *h, uint32_t dwLevel, const char *pszName, ...) {
    va_list args;
    va_start(args, pszName);
    const bool set = SetStackParam(false, h, dwLevel, pszName, args);
    va_end(args);
    return set ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CDECL ZERA_boSetStackParamW(StackHandle *h, uint32_t dwLevel, const WCHAR16 *pwszName, ...) {
    va_list args;
    va_start(args, pwszName);
    const bool set = SetStackParam(true, h, dwLevel, pwszName, args);
    va_end(args);
    return set ? 1 : 0;
}

}  // extern "C"
