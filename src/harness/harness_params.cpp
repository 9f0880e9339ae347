// harness/harness_params.cpp - the component's stack parameters by type with
// their permitted values checked, its statistics, and the test clock.
#include <cstring>

#include "harness/harness.h"

namespace harness {
namespace {

enum class Kind { kDWord, kReal, kString };

bool OfKind(const Param *p, Kind kind) {
    switch (kind) {
        case Kind::kDWord:
            return p->dwType == ZERA_PARAM_DWORD || p->dwType == ZERA_PARAM_DWORD2;
        case Kind::kReal:
            return p->dwType == ZERA_PARAM_REAL;
        case Kind::kString:
            return p->dwType == ZERA_PARAM_STRING;
    }
    return false;
}

// The component level's parameter of that name and kind; null with 1028.
Param *Find(ZERA_Harness *h, const char *name, Kind kind) {
    if (name == nullptr || *name == '\0') {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    Param *p = ZERA_pstGetStackParamA(h->h1, h->h1->u8Level, name);
    if (p == nullptr) return nullptr;
    if (!OfKind(p, kind)) {
        Refuse(OSAL_ERR_INVALID_ARG, name);
        return nullptr;
    }
    return p;
}

// -1, 0, 1 as a is below, equal to, above b.
int Compare(uint32_t a, uint32_t b) { return a < b ? -1 : a > b; }
int Compare(double a, double b) { return a < b ? -1 : a > b; }
int Compare(const char *a, const char *b) {
    const int c = std::strcmp(a ? a : "", b ? b : "");
    return c < 0 ? -1 : c > 0;
}
uint32_t ValueOf(const ParamData &d, uint32_t) { return d.dw; }
double ValueOf(const ParamData &d, double) { return d.r; }
const char *ValueOf(const ParamData &d, const char *) { return d.hs; }

// Whether v is among p's permitted values or ranges (any, when it has none).
template <typename T>
bool Permitted(const Param *p, T v) {
    if (p->pstValues == nullptr) return true;
    for (const ParamValue *allowed = p->pstValues; allowed != nullptr; allowed = allowed->pstNext) {
        const int fromLow = Compare(v, ValueOf(allowed->uFrom, v));
        if (allowed->dwKind == ZERA_VALUE_RANGE) {
            if (fromLow >= 0 && Compare(v, ValueOf(allowed->uTo, v)) <= 0) return true;
        } else if (fromLow == 0) {
            return true;
        }
    }
    return false;
}

template <typename T>
BOOL8 Set(ZERA_HHARNESS hHarness, const char *name, Kind kind, T value) {
    ZERA_Harness *h = Checked(hHarness);
    if (h == nullptr) return 0;
    const Param *p = Find(h, name, kind);
    if (p == nullptr) return 0;
    if (!Permitted(p, value)) return Refuse(OSAL_ERR_INVALID_SIZE, name);
    return ZERA_boSetStackParamA(h->h1, h->h1->u8Level, name, value);
}

template <typename T>
BOOL8 Get(ZERA_HHARNESS hHarness, const char *name, Kind kind, T *out) {
    ZERA_Harness *h = Checked(hHarness);
    if (h == nullptr) return 0;
    if (out == nullptr) return Refuse(OSAL_ERR_INVALID_ARG, "a null address");
    const Param *p = Find(h, name, kind);
    if (p == nullptr) return 0;
    *out = ValueOf(p->uValue, *out);
    return 1;
}

// The harness when it runs the test clock; else null with 1025 or 1027.
ZERA_Harness *WithClock(ZERA_HHARNESS hHarness) {
    ZERA_Harness *h = Checked(hHarness);
    if (h != nullptr && !h->clock) {
        Refuse(OSAL_ERR_NOT_AVAILABLE, "the harness runs without the test clock");
        return nullptr;
    }
    return h;
}

int64_t Micros(const TimeVal &t) {
    return static_cast<int64_t>(t.i32Seconds) * 1000000 + (t.dwMicroseconds & OSAL_TIME_USEC_MASK);
}

}  // namespace
}  // namespace harness

using harness::Kind;

extern "C" {

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessSetDWord(ZERA_HHARNESS hHarness, const char *pszName,
                                                        uint32_t dwValue) {
    return harness::Set(hHarness, pszName, Kind::kDWord, dwValue);
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessSetReal(ZERA_HHARNESS hHarness, const char *pszName, double rValue) {
    return harness::Set(hHarness, pszName, Kind::kReal, rValue);
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessSetString(ZERA_HHARNESS hHarness, const char *pszName,
                                                         const char *pszValue) {
    if (pszValue == nullptr) return harness::Refuse(OSAL_ERR_INVALID_ARG, "a null string");
    return harness::Set(hHarness, pszName, Kind::kString, pszValue);
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessGetDWord(ZERA_HHARNESS hHarness, const char *pszName,
                                                        uint32_t *pdwValue) {
    return harness::Get(hHarness, pszName, Kind::kDWord, pdwValue);
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessGetReal(ZERA_HHARNESS hHarness, const char *pszName,
                                                       double *prValue) {
    return harness::Get(hHarness, pszName, Kind::kReal, prValue);
}

ZERA_HARNESS_API const char *ZERA_CALL ZERA_hsHarnessGetString(ZERA_HHARNESS hHarness, const char *pszName) {
    const char *value = nullptr;
    return harness::Get(hHarness, pszName, Kind::kString, &value) ? value : nullptr;
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessGetStatistics(ZERA_HHARNESS hHarness,
                                                             ZERA_HarnessStatistics *pstStatistics) {
    ZERA_Harness *h = harness::Checked(hHarness);
    if (h == nullptr) return 0;
    if (pstStatistics == nullptr) return harness::Refuse(OSAL_ERR_INVALID_ARG, "a null address");
    uint32_t words[ZERA_STATS_WORDS];
    if (!ZERA_boGetStatistics(h->h1, h->h1->u8Level, words)) return 0;
    for (uint32_t i = 0; i < 12; ++i) pstStatistics->adwCounters[i / 4][i % 4] = words[i];
    pstStatistics->u16LoadA = static_cast<uint16_t>(words[12]);
    pstStatistics->u16LoadB = static_cast<uint16_t>(words[12] >> 16);
    pstStatistics->u16LoadAMax = static_cast<uint16_t>(words[13]);
    pstStatistics->u16LoadBMax = static_cast<uint16_t>(words[13] >> 16);
    return 1;
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessResetStatistics(ZERA_HHARNESS hHarness) {
    ZERA_Harness *h = harness::Checked(hHarness);
    return h != nullptr ? ZERA_boResetStatistics(h->h1, h->h1->u8Level) : 0;
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessClockNow(ZERA_HHARNESS hHarness, TimeVal *pstNow) {
    if (harness::WithClock(hHarness) == nullptr) return 0;
    if (pstNow == nullptr) return harness::Refuse(OSAL_ERR_INVALID_ARG, "a null address");
    OSAL_vGetSystemTime(pstNow);
    return 1;
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessClockSet(ZERA_HHARNESS hHarness, const TimeVal *pstNow) {
    return harness::WithClock(hHarness) != nullptr ? OSAL_boManualClockSet(pstNow) : 0;
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessClockAdvance(ZERA_HHARNESS hHarness, const TimeVal *pstBy) {
    if (harness::WithClock(hHarness) == nullptr) return 0;
    if (pstBy == nullptr) return harness::Refuse(OSAL_ERR_INVALID_ARG, "a null duration");
    TimeVal now;
    OSAL_vGetSystemTime(&now);
    const int64_t then = harness::Micros(now) + harness::Micros(*pstBy);
    int64_t seconds = then / 1000000, rest = then % 1000000;
    if (rest < 0) {
        rest += 1000000;
        --seconds;
    }
    const TimeVal next = {static_cast<uint32_t>(rest), static_cast<int32_t>(seconds)};
    return OSAL_boManualClockSet(&next);
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessClockCrank(ZERA_HHARNESS hHarness, uint32_t dwWaits,
                                                          uint32_t dwRealLimitMs) {
    return harness::WithClock(hHarness) != nullptr ? OSAL_boManualClockCrank(dwWaits, dwRealLimitMs, 1, nullptr) : 0;
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessClockWaitPending(ZERA_HHARNESS hHarness, uint32_t dwWaits,
                                                                uint32_t dwRealLimitMs) {
    return harness::WithClock(hHarness) != nullptr ? OSAL_boManualClockCrank(dwWaits, dwRealLimitMs, 0, nullptr) : 0;
}

ZERA_HARNESS_API uint32_t ZERA_CALL ZERA_dwHarnessClockPending(ZERA_HHARNESS hHarness, TimeVal *pstNext) {
    return harness::WithClock(hHarness) != nullptr ? OSAL_dwManualClockPending(pstNext) : 0;
}

}  // extern "C"
