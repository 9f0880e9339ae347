// marshal/level_wire.cpp - stack levels and statistics blocks on the wire,
// and the reading side of the stack description packet.
//
// A stack level is Byte u8Level and the level's stack parameters as a list.
// The record a reader makes from it is a plain container for a remote
// level: its dwMagic stays 0, so it never passes the handle check and can
// never be taken for a live level.
#include "marshal/marshal.h"
#include "param/param.h"
#include "stack/stack.h"

namespace zera {
namespace {

constexpr uint32_t kStatsCounters = ZERA_STATS_KINDS * 4;
constexpr uint32_t kStatsLoadFigures = 4;

bool Fail(uint32_t code) {
    OSAL_vSetLastError(code);
    return false;
}

// The level's own read of all its parameters refreshes their settable bits.
// Its answer is not wanted, and neither is its code: level 0 answers a read
// of its own parameters with 2048, which is no failure of the writer.
void RefreshSettableBits(StackHandle *h) {
    const uint32_t saved = OSAL_dwGetLastError();
    if (h->boWide) {
        auto read = reinterpret_cast<PfnGetStackParamW>(h->apfnEntry[kEntryGetStackParamW]);
        if (read != nullptr) read(h, h->u8Level, nullptr);
    } else {
        auto read = reinterpret_cast<PfnGetStackParamA>(h->apfnEntry[kEntryGetStackParamA]);
        if (read != nullptr) read(h, h->u8Level, nullptr);
    }
    if (OSAL_dwGetLastError() != saved) OSAL_vSetLastError(saved);
}

void DeleteLevelRecord(StackHandle *record) {
    DeleteParamList(record->pstStackParams);
    Free(record);
}

// One entry of a description packet into the caller's three outputs, which
// change only when the whole entry was read.
template <typename Char, typename ReadName>
bool ReadDescriptionEntry(MarshalPacket *p, StackHandle **level, uint32_t *status, Char **name, bool wide,
                          ReadName readName) {
    if (level == nullptr || status == nullptr || name == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    StackHandle *record = nullptr;
    if (!UnmarshalStackLevel(p, &record, wide)) return false;
    uint32_t word = 0;
    Char *text = nullptr;
    if (!GetUnit(p, &word, 4) || readName(p, &text) < 0) {
        DeleteLevelRecord(record);
        return false;
    }
    *level = record;
    *status = word;
    *name = text;
    return true;
}

}  // namespace

bool MarshalStackLevel(MarshalPacket *p, StackHandle *h, bool changedOnly) {
    // Refused before anything is written: the list writer would find no list
    // only after the level byte.
    if (h == nullptr || h->pstStackParams == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    if (!PutUnit(p, &h->u8Level, 1)) return false;
    RefreshSettableBits(h);
    return MarshalParamList(p, h->pstStackParams, changedOnly, h->boWide != 0);
}

bool UnmarshalStackLevel(MarshalPacket *p, StackHandle **level, bool wide) {
    if (level == nullptr) return false;
    auto *record = static_cast<StackHandle *>(AllocZero(1, sizeof(StackHandle)));
    if (record == nullptr) return Fail(OSAL_ERR_NO_MEMORY);
    if (!GetUnit(p, &record->u8Level, 1) || !UnmarshalParamList(p, &record->pstStackParams, wide)) {
        DeleteLevelRecord(record);
        return false;
    }
    record->boWide = wide ? 1 : 0;
    *level = record;
    return true;
}

}  // namespace zera

using zera::ToPacket;

extern "C" {

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalStackHandleLevel(ZERA_HPACKET hPacket, StackHandle *h, BOOL8 boChangedOnly) {
    return zera::MarshalStackLevel(ToPacket(hPacket), h, boChangedOnly != 0) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalStackHandleLevel(ZERA_HPACKET hPacket, StackHandle **ppstLevel,
                                                          BOOL8 boWide) {
    return zera::UnmarshalStackLevel(ToPacket(hPacket), ppstLevel, boWide != 0) ? 1 : 0;
}

// A live level carries the handle magic; releasing it here would tear it out
// of its stack, so only the readers' containers (magic 0) are released.
ZERA_API void ZERA_CALL ZERA_vDeleteStackHandleLevel(StackHandle *pstLevel) {
    if (pstLevel == nullptr) return;
    if (pstLevel->dwMagic != 0) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return;
    }
    zera::DeleteLevelRecord(pstLevel);
}

// Each item goes through the scalar operations, so that a null packet
// (1027) or block (1028) fails at the first one.
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalStatistics(ZERA_HPACKET hPacket, const uint32_t *pdwStatistics) {
    if (!ZERA_boMarshalDWord(hPacket, pdwStatistics)) return 0;
    for (uint32_t i = 1; i < zera::kStatsCounters; ++i) {
        if (!ZERA_boMarshalDWord(hPacket, &pdwStatistics[i])) return 0;
    }
    for (uint32_t i = 0; i < zera::kStatsLoadFigures; ++i) {
        const uint32_t word = pdwStatistics[zera::kStatsCounters + i / 2];
        const uint16_t figure = static_cast<uint16_t>(i % 2 == 0 ? word : word >> 16);
        if (!ZERA_boMarshalWord(hPacket, &figure)) return 0;
    }
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalStatistics(ZERA_HPACKET hPacket, uint32_t *pdwStatistics) {
    if (!ZERA_boUnmarshalDWord(hPacket, pdwStatistics)) return 0;
    for (uint32_t i = 1; i < zera::kStatsCounters; ++i) {
        if (!ZERA_boUnmarshalDWord(hPacket, &pdwStatistics[i])) return 0;
    }
    for (uint32_t i = 0; i < zera::kStatsLoadFigures; ++i) {
        uint16_t figure = 0;
        if (!ZERA_boUnmarshalWord(hPacket, &figure)) return 0;
        uint32_t &word = pdwStatistics[zera::kStatsCounters + i / 2];
        const uint32_t shift = i % 2 == 0 ? 0 : 16;
        word = (word & ~(0xFFFFu << shift)) | uint32_t{figure} << shift;
    }
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalStackDescriptionEntryA(ZERA_HPACKET hPacket, StackHandle **ppstLevel,
                                                                uint32_t *pdwStatus, char **ppszName) {
    return zera::ReadDescriptionEntry(ToPacket(hPacket), ppstLevel, pdwStatus, ppszName, false,
                                      zera::UnmarshalString)
               ? 1
               : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalStackDescriptionEntryW(ZERA_HPACKET hPacket, StackHandle **ppstLevel,
                                                                uint32_t *pdwStatus, WCHAR16 **ppwszName) {
    return zera::ReadDescriptionEntry(ToPacket(hPacket), ppstLevel, pdwStatus, ppwszName, true,
                                      zera::UnmarshalWideString)
               ? 1
               : 0;
}

}  // extern "C"
