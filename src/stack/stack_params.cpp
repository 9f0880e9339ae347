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
#include <cstdio>
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
        char level[zera::kRefusalTextSize], text[zera::kRefusalTextSize];
        zera::DescribeLevel(h, level, sizeof level);
        zera::FormatText(text, sizeof text, "%s has %s parameters: ask with the %s operations", level,
                      wide ? "narrow" : "wide", wide ? "A" : "W");
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, text);
        return nullptr;
    }
    return zera::FindParam(wide, h->pstStackParams, name);
}

// Stores 2048 with a text that says why the level byte is refused.
bool FailLevel(const char *why, uint32_t level) {
    char text[zera::kRefusalTextSize];
    zera::FormatText(text, sizeof text, "level byte 0x%02X: %s", static_cast<unsigned>(level & 0xFF), why);
    OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_LEVEL, OSAL_ARG_STRING, text);
    return false;
}

// The 2048 refusal of a wanted level for a request made on h; null when
// the level is one h may ask for.
const char *LevelRefusal(const StackHandle *h, uint32_t level, bool named) {
    const uint32_t wanted = level & kLevelBits;
    if (wanted == 0) return "level 0 has no stack parameters (the host's level owns none)";
    if (wanted < h->u8Level) return "a level below the handle's own: ask through a lower level's handle";
    if (wanted == kStackWide && !named) return "a stack-wide read names one parameter";
    return nullptr;
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
    if (const char *why = LevelRefusal(h, level, name != nullptr)) {
        FailLevel(why, level);
        return nullptr;
    }
    if (wanted == kStackWide) {
        // The first level from h up that has a parameter of that name answers.
        if (Param *p = FindOwnQuietly(wide, h, name)) {
            if (zera::IsStackWide(p)) return Refreshed(h, p);
            char level[zera::kRefusalTextSize], pname[zera::kRefusalTextSize], text[zera::kRefusalTextSize];
            zera::DescribeLevel(h, level, sizeof level);
            zera::NarrowText(wide, name, pname, sizeof pname);
            zera::FormatText(text, sizeof text, "'%s' on %s is not stack-wide (access class %u): ask for level %u",
                          pname, level, static_cast<unsigned>(p->dwAccess), static_cast<unsigned>(h->u8Level));
            OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, text);
            return nullptr;
        }
    }
    if (wanted > h->u8Level) {
        if (zera::NextLevelOf(h) == nullptr) {
            if (wanted != kStackWide) {
                zera::FailNoLevel(OSAL_ERR_INVALID_HANDLE, h, wanted);
                return nullptr;
            }
            char pname[zera::kRefusalTextSize], text[zera::kRefusalTextSize];
            zera::NarrowText(wide, name, pname, sizeof pname);
            zera::FormatText(text, sizeof text, "no level has a stack-wide parameter '%s'", pname);
            OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_HANDLE, OSAL_ARG_STRING, text);
            return nullptr;
        }
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
    if (p == nullptr) {
        if (name != nullptr && (h->boWide != 0) == wide) zera::FailNoParam(OSAL_ERR_INVALID_ARG, h, wide, name);
        return nullptr;
    }
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

const char *TypeWords(uint32_t type) {
    switch (type) {
        case ZERA_PARAM_STRING: return "a string";
        case ZERA_PARAM_DWORD: return "a dword";
        case ZERA_PARAM_DWORD2: return "a dword (type 2)";
        case ZERA_PARAM_REAL: return "a real";
        default: return "of no value type";
    }
}

// 1028 for a set that names another type than the parameter's, or a
// stack-wide parameter by its level (or the other way round).
bool FailOtherKind(const StackHandle *h, const Param *p, uint32_t type) {
    char level[zera::kRefusalTextSize], pname[zera::kRefusalTextSize], text[zera::kRefusalTextSize];
    zera::DescribeLevel(h, level, sizeof level);
    zera::NarrowText(h->boWide != 0, p->pName, pname, sizeof pname);
    if (p->dwType != type) {
        zera::FormatText(text, sizeof text, "'%s' on %s is %s, not %s", pname, level, TypeWords(p->dwType),
                      TypeWords(type));
    } else {
        zera::FormatText(text, sizeof text, "'%s' on %s is %sstack-wide: set it %s", pname, level,
                      zera::IsStackWide(p) ? "" : "not ",
                      zera::IsStackWide(p) ? "with level 63 or through a lower level" : "by its own level");
    }
    OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, text);
    return false;
}

// 1034 for a value the component's notification changed.
bool FailNotKept(const StackHandle *h, const Param *p, const SetRequest &r) {
    const bool wide = h->boWide != 0;
    char level[zera::kRefusalTextSize], pname[zera::kRefusalTextSize], given[zera::kRefusalTextSize / 2],
        kept[zera::kRefusalTextSize / 2], text[zera::kRefusalTextSize];
    zera::DescribeLevel(h, level, sizeof level);
    zera::NarrowText(wide, p->pName, pname, sizeof pname);
    zera::DescribeValue(wide, r.type, r.value, given, sizeof given);
    zera::DescribeValue(wide, p->dwType, p->uValue, kept, sizeof kept);
    zera::FormatText(text, sizeof text, "%s: its component kept '%s' at %s instead of %s", level, pname, kept, given);
    OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_SIZE, OSAL_ARG_STRING, text);
    return false;
}

// The set on h's own parameter. `stackWide` is a set of level 63, which
// passes over a level without a matching stack-wide parameter (true). False
// with the code of the refusal.
bool SetOwn(bool wide, StackHandle *h, bool stackWide, const void *name, const SetRequest &r) {
    const uint32_t oldStatus = zera::LoadRelaxed(h->dwStatus);
    if (h->u8Level == 0) {
        if (stackWide) return true;
        return zera::FailNoParam(OSAL_ERR_INVALID_ARG, h, wide, name);
    }
    Param *p = FindOwnQuietly(wide, h, name);
    // A set names the parameter's own type (types 1 and 2 apart as well), so
    // that a value is never stored in another type's representation.
    const bool counts = p != nullptr && p->dwType == r.type && zera::IsStackWide(p) == stackWide;
    if (!counts) {
        if (stackWide) return true;
        if (p == nullptr) {
            if ((h->boWide != 0) != wide) return FindOwn(wide, h, name) != nullptr;  // stores why
            return zera::FailNoParam(OSAL_ERR_INVALID_ARG, h, wide, name);
        }
        return FailOtherKind(h, p, r.type);
    }
    if (r.withAttributes) {
        const uint8_t before = p->u8Attributes;
        p->u8Attributes = static_cast<uint8_t>((before & ~kStateAttributes) | (r.attributes & kStateAttributes));
        zera::RefreshSettableBit(h, p);
        if (((before ^ p->u8Attributes) & kStateAttributes) != 0) p->u8ChangeFlags |= ZERA_CHANGE_VALUE;
    }
    if (!zera::ParamSettable(h, p)) return zera::FailNotSettable(OSAL_ERR_INVALID_SIZE, h, p);
    if (!StoreValue(wide, p, r)) return false;
    p->u8ChangeFlags |= ZERA_CHANGE_VALUE;
    auto notify = reinterpret_cast<ZERA_PFN_MODULE_NOTIFY>(
        h->apfnEntry[wide ? zera::kEntryModuleNotifyW : zera::kEntryModuleNotifyA]);
    if (notify != nullptr) notify(h);
    ZERA_vUpdateStackStatus(h, oldStatus);
    // The component may have adjusted the value: then the set did not stick.
    if (!SameValue(wide, r.type, p->uValue, r.value)) return FailNotKept(h, p, r);
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
        if (next == nullptr && !stackWide) return zera::FailNoLevel(OSAL_ERR_INVALID_HANDLE, h, wanted);
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
    if (const char *why = LevelRefusal(h, level, true)) return FailLevel(why, level);
    if (h->u8Level == 0 && (level & (ZERA_LEVEL_WITH_ATTRIBUTES | ZERA_LEVEL_WITH_TYPE)) != 0) {
        // The library's rule: through level 0 the type is always the
        // parameter's own, found by its name.
        return FailLevel("through level 0 a set names neither the type (ZERA_LEVEL_WITH_TYPE) nor attributes "
                         "(ZERA_LEVEL_WITH_ATTRIBUTES): the parameter's own type is used; the host kit's typed "
                         "setters check it",
                         level);
    }
    if (zera::IsEmptyName(wide, name)) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, "a set names its parameter");
        return false;
    }
    SetRequest r{};
    if ((level & ZERA_LEVEL_WITH_TYPE) == 0) {
        Param *p = GetStackParam(wide, h, level, name);
        if (p == nullptr) return false;
        if (h->u8Level == 0 && (p->u8Attributes & ZERA_ATTR_SETTABLE) == 0) {
            const StackHandle *owner = zera::OwnerOfParam(h, p);
            return zera::FailNotSettable(OSAL_ERR_INVALID_ARG, owner != nullptr ? owner : h, p);
        }
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

int FormatText(char *out, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(out, size, format, args);
    va_end(args);
    return n < 0 ? 0 : n;
}

void DescribeLevel(const StackHandle *h, char *out, size_t size) {
    const char *name = nullptr;
    {
        // Made on first use, like every request for a level's name.
        KeepLastError keep;
        name = ZERA_hsComponentNameA(const_cast<StackHandle *>(h), h->u8Level);
    }
    FormatText(out, size, "level %u (%s)", static_cast<unsigned>(h->u8Level), name != nullptr ? name : "unnamed");
}

void NarrowText(bool wide, const void *text, char *out, size_t size) {
    if (size == 0) return;
    if (text == nullptr) {
        out[0] = '\0';
    } else if (wide) {
        WideToNarrow(out, size, static_cast<const WCHAR16 *>(text));
    } else {
        FormatText(out, size, "%s", static_cast<const char *>(text));
    }
}

void DescribeValue(bool wide, uint32_t type, const ParamData &value, char *out, size_t size) {
    switch (type) {
        case ZERA_PARAM_STRING: {
            if (value.pv == nullptr) {
                FormatText(out, size, "(no string)");
                return;
            }
            char text[kRefusalTextSize / 2];
            NarrowText(wide, value.pv, text, sizeof text);
            FormatText(out, size, "\"%s\"", text);
            return;
        }
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2: FormatText(out, size, "%u", static_cast<unsigned>(value.dw)); return;
        case ZERA_PARAM_REAL: FormatText(out, size, "%.17g", value.r); return;
        default: FormatText(out, size, "(no value)"); return;
    }
}

const char *AccessWords(uint32_t access) {
    switch (access) {
        case ZERA_ACCESS_TOPMOST: return "settable only while its level is the topmost";
        case ZERA_ACCESS_BELOW_INCOMPLETE: return "settable only while a level is above it and the stack is not complete";
        case ZERA_ACCESS_INCOMPLETE: return "settable only while the stack is not complete";
        case ZERA_ACCESS_COMPLETE: return "settable only while the stack is complete";
        case ZERA_ACCESS_STOPPED: return "settable only while the stack is stopped";
        case ZERA_ACCESS_STARTED: return "settable only while the stack is started";
        case ZERA_ACCESS_NEVER: return "never settable";
        case ZERA_ACCESS_READY:
        case ZERA_ACCESS_WIDE_READY: return "settable only while the stack is complete and stopped";
        case ZERA_ACCESS_WIDE_RUNNING: return "settable only while the stack is complete and started";
        default: return "settable at any time";
    }
}

namespace {

bool ListHolds(const Param *list, const Param *p) {
    if (list == nullptr) return false;
    for (const Param *record = list; record->pName != nullptr; ++record) {
        if (record == p) return true;
    }
    return false;
}

// The lowest level of h's stack.
StackHandle *BottomOf(StackHandle *h) {
    while (h->pstPrevLevel != nullptr) h = h->pstPrevLevel;
    return h;
}

}  // namespace

StackHandle *OwnerOfParam(StackHandle *h, const Param *p) {
    for (StackHandle *level = BottomOf(h); level != nullptr; level = NextLevelOf(level)) {
        if (ListHolds(level->pstStackParams, p)) return level;
    }
    return nullptr;
}

bool FailNotSettable(uint32_t code, const StackHandle *owner, const Param *p) {
    const bool wide = owner->boWide != 0;
    char level[kRefusalTextSize], pname[kRefusalTextSize], text[kRefusalTextSize];
    DescribeLevel(owner, level, sizeof level);
    NarrowText(wide, p->pName, pname, sizeof pname);
    if (ParamSettable(owner, p)) {  // the attributes hold it back
        FormatText(text, sizeof text, "%s: '%s' is held unsettable by its attributes (bit 2 of 0x%02X)", level,
                      pname, static_cast<unsigned>(p->u8Attributes));
    } else {
        FormatText(text, sizeof text, "%s: '%s' is %s", level, pname, AccessWords(p->dwAccess));
    }
    OSAL_vSetLastErrorArgs(code, OSAL_ARG_STRING, text);
    return false;
}

bool FailNoParam(uint32_t code, StackHandle *owner, bool wide, const void *name) {
    char level[kRefusalTextSize], pname[kRefusalTextSize], text[kRefusalTextSize];
    DescribeLevel(owner, level, sizeof level);
    NarrowText(wide, name, pname, sizeof pname);
    // Where it is instead: the first other level of the request's width.
    const StackHandle *found = nullptr;
    for (StackHandle *other = BottomOf(owner); other != nullptr && found == nullptr; other = NextLevelOf(other)) {
        if (other == owner || (other->boWide != 0) != wide || other->pstStackParams == nullptr) continue;
        KeepLastError keep;
        if (FindParam(wide, other->pstStackParams, name) != nullptr) found = other;
    }
    if (found != nullptr) {
        char there[kRefusalTextSize];
        DescribeLevel(found, there, sizeof there);
        FormatText(text, sizeof text, "no parameter '%s' on %s; it is on %s", pname, level, there);
    } else {
        FormatText(text, sizeof text, "no parameter '%s' on %s; no level has it", pname, level);
    }
    OSAL_vSetLastErrorArgs(code, OSAL_ARG_STRING, text);
    return false;
}

bool FailNoLevel(uint32_t code, const StackHandle *top, uint32_t wanted) {
    char level[kRefusalTextSize], text[kRefusalTextSize];
    DescribeLevel(top, level, sizeof level);
    FormatText(text, sizeof text, "no level %u: the topmost is %s", static_cast<unsigned>(wanted), level);
    OSAL_vSetLastErrorArgs(code, OSAL_ARG_STRING, text);
    return false;
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
