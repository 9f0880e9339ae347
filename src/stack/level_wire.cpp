// stack/level_wire.cpp - stack levels and statistics blocks on the wire,
// and the reading side of the stack description packet.
//
// A stack level is Byte u8Level and the level's stack parameters as a list.
// The record a reader makes from it is a plain container for a remote
// level: its dwMagic stays 0, so it never passes the handle check and can
// never be taken for a live level.
#include "marshal/marshal.h"
#include "marshal/wire_io.h"
#include "param/param.h"
#include "stack/stack.h"

namespace zera {
namespace {

constexpr uint32_t kStatsCounters = ZERA_STATS_KINDS * 4;
constexpr uint32_t kStatsLoadFigures = 4;

// The level's own read of all its parameters refreshes their settable bits.
// Its answer is not wanted, and neither is its code: level 0 answers a read
// of its own parameters with 2048, which is no failure of the writer.
void RefreshSettableBits(StackHandle *h) {
    KeepLastError keep;
    if (h->boWide) {
        auto read = reinterpret_cast<PfnGetStackParamW>(h->apfnEntry[kEntryGetStackParamW]);
        if (read != nullptr) read(h, h->u8Level, nullptr);
    } else {
        auto read = reinterpret_cast<PfnGetStackParamA>(h->apfnEntry[kEntryGetStackParamA]);
        if (read != nullptr) read(h, h->u8Level, nullptr);
    }
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
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    RefreshSettableBits(h);
    return Emit(p, [h, changedOnly](auto &out) {
        out.Unit(h->u8Level);
        return EncodeParamList(out, h->pstStackParams, changedOnly, h->boWide != 0);
    });
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

// The twelve counters as DWords, then the two load words as four Words, low
// half first. A null packet (1027) is refused before a null block (1028).
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalStatistics(ZERA_HPACKET hPacket, const uint32_t *pdwStatistics) {
    if (hPacket == nullptr) return zera::Fail(OSAL_ERR_INVALID_HANDLE);
    if (pdwStatistics == nullptr) return zera::Fail(OSAL_ERR_INVALID_ARG);
    return zera::Emit(ToPacket(hPacket), [pdwStatistics](auto &out) {
               for (uint32_t i = 0; i < zera::kStatsCounters; ++i) out.Unit(pdwStatistics[i]);
               for (uint32_t i = 0; i < zera::kStatsLoadFigures; ++i) {
                   const uint32_t word = pdwStatistics[zera::kStatsCounters + i / 2];
                   out.Unit(static_cast<uint16_t>(i % 2 == 0 ? word : word >> 16));
               }
               return true;
           })
               ? 1
               : 0;
}

// Stops at the first item that is not there; the items before it stay
// stored in the block.
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalStatistics(ZERA_HPACKET hPacket, uint32_t *pdwStatistics) {
    if (hPacket == nullptr) return zera::Fail(OSAL_ERR_INVALID_HANDLE);
    if (pdwStatistics == nullptr) return zera::Fail(OSAL_ERR_INVALID_ARG);
    constexpr uint32_t kBytes = zera::kStatsCounters * 4 + zera::kStatsLoadFigures * 2;
    return zera::ReadFixed(ToPacket(hPacket), kBytes, [pdwStatistics](auto &in) {
               for (uint32_t i = 0; i < zera::kStatsCounters; ++i) {
                   if (!in.Unit(pdwStatistics[i])) return false;
               }
               for (uint32_t i = 0; i < zera::kStatsLoadFigures; ++i) {
                   uint16_t figure = 0;
                   if (!in.Unit(figure)) return false;
                   uint32_t &word = pdwStatistics[zera::kStatsCounters + i / 2];
                   const uint32_t shift = i % 2 == 0 ? 0 : 16;
                   word = (word & ~(0xFFFFu << shift)) | uint32_t{figure} << shift;
               }
               return true;
           })
               ? 1
               : 0;
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
