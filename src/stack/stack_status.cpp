// stack/stack_status.cpp - each level's status word and the stack status
// event that announces its changes, the statistics block and load figures
// (guarded by the level's hMutex), the order of event queues, and the
// stack's time.
#include <cstring>

#include "event/event.h"

namespace {

constexpr uint16_t kLoadUnchanged = 0xFFFF;

// The level a request for level u8Level is answered by, as seen from h: h
// itself for h's level or below, else the next level (checked). Null with
// 1027 when the next level is invalid.
StackHandle *RouteUp(StackHandle *h, uint8_t u8Level, bool *forward) {
    *forward = false;
    if (u8Level <= h->u8Level || zera::NextLevelOf(h) == nullptr) return h;
    *forward = true;
    return zera::CheckedNextLevel(h);
}

}  // namespace

namespace zera {

}  // namespace zera

extern "C" {

ZERA_API void ZERA_CALL ZERA_vUpdateStackStatus(StackHandle *h, uint32_t dwOldStatus) {
    const uint32_t status = zera::LoadRelaxed(h->dwStatus);
    if (status == dwOldStatus || (status & ZERA_STATUS_COMPLETE) == 0) return;
    Event *ev = zera::NewStackStatusEvent(h, status);
    if (ev == nullptr) return;
    auto filter = zera::EntryOf<zera::PfnInputFilter>(h, zera::kEntryInputFilter);
    if (filter == nullptr) {
        ZERA_boDeleteEvent(ev);
        return;
    }
    filter(h, ev);
}

ZERA_API void ZERA_CALL ZERA_vUpdateStatistics(StackHandle *h, uint32_t dwKind, uint32_t dwEventsA,
                                               uint32_t dwEventsB, uint32_t dwBytesA, uint32_t dwBytesB) {
    zera::MutexHold hold(h->hMutex, zera::LockRank::kLevelStatistics);
    if (dwKind < ZERA_STATS_KINDS) {
        const uint32_t increments[4] = {dwEventsA, dwEventsB, dwBytesA, dwBytesB};
        uint32_t *counters = h->astStatistics[dwKind];
        bool wouldPass = false;
        for (int i = 0; i < 4; ++i) wouldPass = wouldPass || counters[i] > 0xFFFFFFFFu - increments[i];
        if (wouldPass) {
            for (auto &kind : h->astStatistics) {
                for (uint32_t &counter : kind) counter >>= 1;
            }
        }
        for (int i = 0; i < 4; ++i) counters[i] += increments[i];
    }
}

ZERA_API void ZERA_CALL ZERA_vUpdateLoad(StackHandle *h, uint16_t u16LoadA, uint16_t u16LoadB) {
    zera::LockMutex(h->hMutex, zera::LockRank::kLevelStatistics);
    if (u16LoadA != kLoadUnchanged) {
        if (u16LoadA > h->u16LoadAMax) h->u16LoadAMax = u16LoadA;
        h->u16LoadA = u16LoadA;
    }
    if (u16LoadB != kLoadUnchanged) {
        if (u16LoadB > h->u16LoadBMax) h->u16LoadBMax = u16LoadB;
        h->u16LoadB = u16LoadB;
    }
    const uint64_t load = static_cast<uint64_t>(h->u16LoadA) << 16 | h->u16LoadB;
    zera::UnlockMutex(h->hMutex);
    if (zera::trace::Hooked(zera::trace::kStack)) zera::WatchMark(h, nullptr, zera::trace::kLoad, load);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boGetStatistics(StackHandle *h, uint8_t u8Level, uint32_t *pdwOut) {
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    if (pdwOut == nullptr) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, "no address for the 14 statistics words");
        return 0;
    }
    bool forward = false;
    StackHandle *at = RouteUp(h, u8Level, &forward);
    if (at == nullptr) return 0;
    if (forward) {
        auto get = zera::EntryOf<zera::PfnGetStatistics>(at, zera::kEntryGetStatistics);
        return get != nullptr ? get(at, u8Level, pdwOut) : 0;
    }
    if (!zera::LockMutex(h->hMutex, zera::LockRank::kLevelStatistics)) return 0;
    uint32_t words[ZERA_STATS_WORDS];
    std::memcpy(words, h->astStatistics, sizeof h->astStatistics);
    words[12] = static_cast<uint32_t>(h->u16LoadA) | static_cast<uint32_t>(h->u16LoadB) << 16;
    words[13] = static_cast<uint32_t>(h->u16LoadAMax) | static_cast<uint32_t>(h->u16LoadBMax) << 16;
    zera::UnlockMutex(h->hMutex);
    std::memcpy(pdwOut, words, sizeof words);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boResetStatistics(StackHandle *h, uint8_t u8Level) {
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    bool forward = false;
    StackHandle *at = RouteUp(h, u8Level, &forward);
    if (at == nullptr) return 0;
    if (forward) {
        auto reset = zera::EntryOf<zera::PfnResetStatistics>(at, zera::kEntryResetStatistics);
        return reset != nullptr ? reset(at, u8Level) : 0;
    }
    if (!zera::LockMutex(h->hMutex, zera::LockRank::kLevelStatistics)) return 0;
    std::memset(h->astStatistics, 0, sizeof h->astStatistics);
    h->u16LoadA = h->u16LoadB = h->u16LoadAMax = h->u16LoadBMax = 0;
    zera::UnlockMutex(h->hMutex);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boTimeStampCompare(const void *pstFirst, const void *pstSecond) {
    const TimeVal &first = static_cast<const Event *>(pstFirst)->stTimeStamp;
    const TimeVal &second = static_cast<const Event *>(pstSecond)->stTimeStamp;
    const auto seconds = static_cast<int32_t>(static_cast<uint32_t>(second.i32Seconds) -
                                              static_cast<uint32_t>(first.i32Seconds));
    if (seconds > 0) return 1;
    if (seconds != 0) return 0;
    const uint32_t micros = second.dwMicroseconds - first.dwMicroseconds;
    return (micros & 0x40000000u) == 0 ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boGetTime(StackHandle *h, uint8_t /*u8Level*/, TimeVal *pstTime) {
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    if (pstTime == nullptr) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, "no address for the time");
        return 0;
    }
    if (zera::NextLevelOf(h) != nullptr) {
        StackHandle *next = zera::CheckedNextLevel(h);
        if (next == nullptr) return 0;
        auto getTime = zera::EntryOf<zera::PfnGetTime>(next, zera::kEntryGetTime);
        return getTime != nullptr ? getTime(next, 0, pstTime) : 0;
    }
    OSAL_vGetSystemTime(pstTime);
    return 1;
}

}  // extern "C"
