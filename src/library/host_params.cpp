// library/host_params.cpp - the host kit's typed parameter calls
// (ZERA_boHostSetParam*, ZERA_boHostGetParam*), which check a value's type,
// access class and permitted values before it reaches the level, and its
// statistics and drop-count reads.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ZERA_Host.h"
#include "event/event.h"
#include "handle/handle.h"
#include "library/library.h"
#include "param/param.h"
#include "stack/stack.h"

namespace {

using zera::IsHostLevel;

// ---- Typed parameters ---------------------------------------------------------------

// The level numbers the typed calls take.
constexpr uint32_t kHighestTypedLevel = ZERA_MAX_LEVEL;
constexpr size_t kNameUnits = 256;

// A value of a typed call, with its type as the caller gave it.
struct TypedValue {
    uint32_t type;
    ParamData data;  // data.hs: a narrow string of the caller's
};

// The parameter a typed call names: its level, its record, and its name in
// the level's width.
struct Target {
    StackHandle *owner = nullptr;
    Param *p = nullptr;
    WCHAR16 wideName[kNameUnits];
};

bool TypeFits(uint32_t paramType, uint32_t given) {
    if (given == ZERA_PARAM_DWORD) return paramType == ZERA_PARAM_DWORD || paramType == ZERA_PARAM_DWORD2;
    return paramType == given;
}

const char *TypeNoun(uint32_t type) {
    switch (type) {
        case ZERA_PARAM_STRING: return "a string";
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2: return "a dword";
        case ZERA_PARAM_REAL: return "a real";
        default: return "of no value type";
    }
}

// The value given as text ("5000", "\"x\"").
void GivenText(const TypedValue &v, char *out, size_t size) { zera::DescribeValue(false, v.type, v.data, out, size); }

// Stores 1034 with "level 2 (Counter): cannot set 'Rate' to 5000: <why>".
bool RefuseSet(const Target &t, const TypedValue &v, const char *why) {
    char level[zera::kRefusalTextSize], name[zera::kRefusalTextSize], given[zera::kRefusalTextSize / 2],
        text[zera::kRefusalTextSize * 2];
    zera::DescribeLevel(t.owner, level, sizeof level);
    zera::NarrowText(t.owner->boWide != 0, t.p->pName, name, sizeof name);
    GivenText(v, given, sizeof given);
    zera::FormatText(text, sizeof text, "%s: cannot set '%s' to %s: %s", level, name, given, why);
    OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_SIZE, OSAL_ARG_STRING, text);
    return false;
}

// Finds the parameter pszName of level u8Level for a typed call of `type`:
// 1027 (h0, or no such level), 1028 (no name, no such parameter), 2048
// (a level byte other than 1 to 31), 1034 (another type). All with texts.
bool FindTyped(StackHandle *h0, uint8_t u8Level, const char *pszName, const TypedValue *given, uint32_t type,
               Target *t) {
    if (!IsHostLevel(h0)) return false;
    if (pszName == nullptr || *pszName == '\0') {
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, "a typed call names its parameter");
        return false;
    }
    if (u8Level == 0 || u8Level > kHighestTypedLevel) {
        char text[zera::kRefusalTextSize];
        zera::FormatText(text, sizeof text,
                      "level byte 0x%02X: the typed calls take a level number 1 to %u (the type comes from the "
                      "call, so ZERA_LEVEL_WITH_TYPE is not needed; level 0 has no parameters)",
                      static_cast<unsigned>(u8Level), static_cast<unsigned>(kHighestTypedLevel));
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_LEVEL, OSAL_ARG_STRING, text);
        return false;
    }
    StackHandle *owner = h0;
    while (owner->u8Level < u8Level) {
        StackHandle *next = zera::NextLevelOf(owner);
        if (next == nullptr) return zera::FailNoLevel(OSAL_ERR_INVALID_HANDLE, owner, u8Level);
        owner = next;
    }
    t->owner = owner;
    const bool wide = owner->boWide != 0;
    if (wide) {
        if (std::strlen(pszName) >= kNameUnits) return zera::FailNoParam(OSAL_ERR_INVALID_ARG, owner, false, pszName);
        zera::NarrowToWide(t->wideName, kNameUnits, pszName);
    }
    {
        zera::KeepLastError keep;
        t->p = zera::FindParam(wide, owner->pstStackParams, wide ? static_cast<const void *>(t->wideName) : pszName);
    }
    if (t->p == nullptr) return zera::FailNoParam(OSAL_ERR_INVALID_ARG, owner, wide, wide ? static_cast<const void *>(t->wideName) : pszName);
    if (TypeFits(t->p->dwType, type)) return true;
    char why[zera::kRefusalTextSize];
    zera::FormatText(why, sizeof why, "it is %s, not %s", TypeNoun(t->p->dwType), TypeNoun(type));
    if (given != nullptr) return RefuseSet(*t, *given, why);
    char level[zera::kRefusalTextSize], text[zera::kRefusalTextSize * 2];
    zera::DescribeLevel(owner, level, sizeof level);
    zera::FormatText(text, sizeof text, "%s: cannot read '%s' as %s: %s", level, pszName, TypeNoun(type), why);
    OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_SIZE, OSAL_ARG_STRING, text);
    return false;
}

// Whether a permitted value or range of the parameter takes v.
bool PermittedOne(bool wide, const ParamValue &allowed, const TypedValue &v) {
    const bool range = allowed.dwKind == ZERA_VALUE_RANGE;
    switch (v.type) {
        case ZERA_PARAM_DWORD:
            return range ? allowed.uFrom.dw <= v.data.dw && v.data.dw <= allowed.uTo.dw : allowed.uFrom.dw == v.data.dw;
        case ZERA_PARAM_REAL:
            return range ? allowed.uFrom.r <= v.data.r && v.data.r <= allowed.uTo.r : allowed.uFrom.r == v.data.r;
        default: {
            if (allowed.uFrom.pv == nullptr) return false;
            char text[zera::kRefusalTextSize];
            zera::NarrowText(wide, allowed.uFrom.pv, text, sizeof text);
            const int low = std::strcmp(v.data.hs, text);
            if (!range) return low == 0;
            zera::NarrowText(wide, allowed.uTo.pv, text, sizeof text);
            return low >= 0 && std::strcmp(v.data.hs, text) <= 0;
        }
    }
}

// "permitted are 1..1000" or "permitted are \"fast\", \"slow\"".
void PermittedText(bool wide, const Param &p, char *out, size_t size) {
    size_t used = static_cast<size_t>(zera::FormatText(out, size, "permitted are "));
    for (const ParamValue *v = p.pstValues; v != nullptr && used < size; v = v->pstNext) {
        char from[zera::kRefusalTextSize / 4], to[zera::kRefusalTextSize / 4];
        zera::DescribeValue(wide, p.dwType, v->uFrom, from, sizeof from);
        zera::DescribeValue(wide, p.dwType, v->uTo, to, sizeof to);
        used += static_cast<size_t>(zera::FormatText(out + used, size - used, "%s%s%s%s", v == p.pstValues ? "" : ", ",
                                                  from, v->dwKind == ZERA_VALUE_RANGE ? ".." : "",
                                                  v->dwKind == ZERA_VALUE_RANGE ? to : ""));
    }
}

// The checks of a typed set: access class for the stack's state, then the
// permitted values. False with 1034 and a text.
bool MaySet(const Target &t, const TypedValue &v) {
    const bool wide = t.owner->boWide != 0;
    if (!zera::ParamSettable(t.owner, t.p)) {
        char why[zera::kRefusalTextSize];
        const uint32_t status = zera::LoadRelaxed(t.owner->dwStatus);
        zera::FormatText(why, sizeof why, "it is %s (the stack is %s%s)", zera::AccessWords(t.p->dwAccess),
                      (status & ZERA_STATUS_COMPLETE) != 0 ? "complete" : "not complete",
                      (status & ZERA_STATUS_STARTED) != 0 ? " and started" : " and stopped");
        return RefuseSet(t, v, why);
    }
    if ((t.p->u8Attributes & 0x04u) != 0) return RefuseSet(t, v, "its attributes hold it unsettable (bit 2)");
    if (t.p->pstValues == nullptr) return true;
    for (const ParamValue *allowed = t.p->pstValues; allowed != nullptr; allowed = allowed->pstNext) {
        if (PermittedOne(wide, *allowed, v)) return true;
    }
    char why[zera::kRefusalTextSize];
    PermittedText(wide, *t.p, why, sizeof why);
    return RefuseSet(t, v, why);
}

// The typed set: found, checked, then set through level 0 by the library,
// whose own refusals (a value the component did not keep) stand.
bool SetTyped(StackHandle *h0, uint8_t u8Level, const char *pszName, const TypedValue &v) {
    Target t;
    if (!FindTyped(h0, u8Level, pszName, &v, v.type, &t)) return false;
    if (v.type == ZERA_PARAM_STRING && v.data.hs == nullptr) {
        return RefuseSet(t, v, "a string parameter takes a string (an empty one clears it)");
    }
    if (!MaySet(t, v)) return false;
    if (t.owner->boWide == 0) {
        switch (v.type) {
            case ZERA_PARAM_STRING: return ZERA_boSetStackParamA(h0, u8Level, pszName, v.data.hs) != 0;
            case ZERA_PARAM_REAL: return ZERA_boSetStackParamA(h0, u8Level, pszName, v.data.r) != 0;
            default: return ZERA_boSetStackParamA(h0, u8Level, pszName, v.data.dw) != 0;
        }
    }
    switch (v.type) {
        case ZERA_PARAM_STRING: {
            const size_t units = std::strlen(v.data.hs) + 1;
            auto *wideValue = static_cast<WCHAR16 *>(zera::Alloc(units * sizeof(WCHAR16)));
            if (wideValue == nullptr) return zera::Fail(OSAL_ERR_NO_MEMORY);
            zera::NarrowToWide(wideValue, units, v.data.hs);
            const bool set = ZERA_boSetStackParamW(h0, u8Level, t.wideName, wideValue) != 0;
            zera::Free(wideValue);
            return set;
        }
        case ZERA_PARAM_REAL: return ZERA_boSetStackParamW(h0, u8Level, t.wideName, v.data.r) != 0;
        default: return ZERA_boSetStackParamW(h0, u8Level, t.wideName, v.data.dw) != 0;
    }
}

// The parameter a typed read names, refused as FindTyped refuses, and with
// 1028 when there is no room for the value (hasOutput false).
bool FindRead(StackHandle *h0, uint8_t u8Level, const char *pszName, uint32_t type, bool hasOutput, Target *t) {
    if (!FindTyped(h0, u8Level, pszName, nullptr, type, t)) return false;
    if (hasOutput) return true;
    OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, "no room for the value");
    return false;
}

// ---- Statistics ----------------------------------------------------------------------

// The level numbered u8Level of h0's stack, or null with 2048 and a text.
StackHandle *LevelOf(StackHandle *h0, uint8_t u8Level) {
    StackHandle *h = h0;
    while (h->u8Level < u8Level) {
        StackHandle *next = zera::NextLevelOf(h);
        if (next == nullptr) {
            zera::FailNoLevel(OSAL_ERR_INVALID_LEVEL, h, u8Level);
            return nullptr;
        }
        h = next;
    }
    return h;
}

}  // namespace

extern "C" {

ZERA_API BOOL8 ZERA_CALL ZERA_boHostSetParamDWord(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                 uint32_t dwValue) {
    TypedValue v{ZERA_PARAM_DWORD, {}};
    v.data.dw = dwValue;
    return SetTyped(h0, u8Level, pszName, v) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostSetParamReal(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                double rValue) {
    TypedValue v{ZERA_PARAM_REAL, {}};
    v.data.r = rValue;
    return SetTyped(h0, u8Level, pszName, v) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostSetParamString(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                  const char *pszValue) {
    TypedValue v{ZERA_PARAM_STRING, {}};
    v.data.hs = const_cast<char *>(pszValue);
    return SetTyped(h0, u8Level, pszName, v) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostGetParamDWord(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                 uint32_t *pdwValue) {
    Target t;
    if (!FindRead(h0, u8Level, pszName, ZERA_PARAM_DWORD, pdwValue != nullptr, &t)) return 0;
    *pdwValue = t.p->uValue.dw;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostGetParamReal(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                double *prValue) {
    Target t;
    if (!FindRead(h0, u8Level, pszName, ZERA_PARAM_REAL, prValue != nullptr, &t)) return 0;
    *prValue = t.p->uValue.r;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostGetParamString(StackHandle *h0, uint8_t u8Level, const char *pszName,
                                                  char *pszOut, uint32_t dwOutSize) {
    Target t;
    if (!FindRead(h0, u8Level, pszName, ZERA_PARAM_STRING, pszOut != nullptr && dwOutSize != 0, &t)) return 0;
    const bool wide = t.owner->boWide != 0;
    const void *value = t.p->uValue.pv;
    const size_t needed = (value == nullptr ? 0 : zera::NameUnits(wide, value)) + 1;
    if (needed > dwOutSize) {
        char text[zera::kRefusalTextSize];
        zera::FormatText(text, sizeof text, "the value of '%s' needs %u bytes; the buffer has %u", pszName,
                      static_cast<unsigned>(needed), static_cast<unsigned>(dwOutSize));
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_SIZE, OSAL_ARG_STRING, text);
        return 0;
    }
    zera::NarrowText(wide, value, pszOut, dwOutSize);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostGetStatistics(StackHandle *h0, uint8_t u8Level, ZERA_STATISTICS *pstOut) {
    if (!IsHostLevel(h0)) return 0;
    if (pstOut == nullptr) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, "no address for the statistics");
        return 0;
    }
    if (LevelOf(h0, u8Level) == nullptr) return 0;
    uint32_t words[ZERA_STATS_WORDS];
    if (!ZERA_boGetStatistics(h0, u8Level, words)) return 0;
    std::memcpy(pstOut, words, sizeof words);
    return 1;
}

}  // extern "C"

// ---- Drop count ----------------------------------------------------------------

extern "C" {

ZERA_API BOOL8 ZERA_CALL ZERA_boHostGetDropCount(StackHandle *h0, uint8_t u8Level, uint64_t *pu64Dropped) {
    if (!IsHostLevel(h0)) return 0;
    if (pu64Dropped == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    StackHandle *h = h0;
    while (h != nullptr && h->u8Level < u8Level) h = zera::NextLevelOf(h);
    if (h == nullptr || h->u8Level != u8Level) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_LEVEL);
        return 0;
    }
    *pu64Dropped = zera::ExtrasOf(h)->dropped.load(std::memory_order_relaxed);
    return 1;
}

}  // extern "C"
