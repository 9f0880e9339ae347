// handle/info_block.cpp - info blocks: what a level is and what it accepts
// on top of it, and the match that decides whether a new level suits the
// level below.
#include "handle/handle.h"

namespace {

constexpr uint32_t kInfoBlockSize = sizeof(InfoBlock);

// Flag bits that the match reads. On the lower block (Q) bit 0 accepts any
// new level, and bits 2 and 3 refuse every new level unless bit 1 lifts
// that; on the new level's block (P) bit 2 fits any lower level. The value
// 0x20 on its own never matches, on either side.
constexpr uint32_t kQAcceptsAny = 0x01;
constexpr uint32_t kQRestrictionLifted = 0x02;
constexpr uint32_t kQRestricted = 0x0C;
constexpr uint32_t kPFitsAny = 0x04;
constexpr uint32_t kNeverMatches = 0x20;

struct Range {
    uint32_t low;
    uint32_t high;
    bool Is(uint32_t l, uint32_t h) const { return low == l && high == h; }
    bool Ordered() const { return low <= high; }
    bool Within(const Range &outer) const { return outer.low <= low && high <= outer.high; }
};

struct Refusal {
    uint32_t code;
    const char *rule;  // the error's argument: which rule refused
};

// The rule that refuses P on Q, in rule order; a null rule means P suits Q.
Refusal RefusingRule(const InfoBlock &p, const InfoBlock &q) {
    if ((p.dwVersion >> 16) != (q.dwVersion >> 16)) return {OSAL_ERR_VERSION_MISMATCH, "version"};
    if (q.u16MinPartnerMinor > (p.dwVersion & 0xFFFFu) || p.u16MinPartnerMinor > (q.dwVersion & 0xFFFFu)) {
        return {OSAL_ERR_VERSION_MISMATCH, "minor version"};
    }
    if ((q.dwFlags & kQAcceptsAny) != 0) return {0, nullptr};
    if ((p.dwFlags & kPFitsAny) != 0) return {0, nullptr};
    if ((q.dwFlags & kQRestricted) != 0 && (q.dwFlags & kQRestrictionLifted) == 0) {
        return {OSAL_ERR_INFO_MISMATCH, "flags"};
    }
    if (q.dwFlags == kNeverMatches || p.dwFlags == kNeverMatches) return {OSAL_ERR_INFO_MISMATCH, "flags"};

    // Range A: Q's must lie within P's, unless P's range A is one of the two
    // "no range" values.
    const Range pa{p.dwRangeALow, p.dwRangeAHigh}, qa{q.dwRangeALow, q.dwRangeAHigh};
    if (!pa.Is(0, 0) && !pa.Is(0xFFFFFFFFu, 0xFFFFFFFFu)) {
        if (qa.Is(0, 0) || !pa.Ordered() || !qa.Ordered() || !qa.Within(pa)) {
            return {OSAL_ERR_INFO_MISMATCH, "range A"};
        }
    }
    // Range B: the other way round, P's must lie within Q's.
    const Range pb{p.dwRangeBLow, p.dwRangeBHigh}, qb{q.dwRangeBLow, q.dwRangeBHigh};
    if (pb.Is(0xFFFFFFFFu, 0xFFFFFFFFu) || qb.Is(0, 0)) return {0, nullptr};
    if (pb.Is(0, 0) || !pb.Ordered() || !qb.Ordered() || !pb.Within(qb)) {
        return {OSAL_ERR_INFO_MISMATCH, "range B"};
    }
    return {0, nullptr};
}

}  // namespace

extern "C" {

ZERA_API InfoBlock *ZERA_CALL ZERA_pstInfoBlockCreate(void) {
    // Read by every check of its handle, from every thread: on lines of its own.
    auto *block = static_cast<InfoBlock *>(zera::AllocZeroLineAligned(sizeof(InfoBlock)));
    if (block != nullptr) {
        block->dwMagic = ZERA_INFOBLOCK_MAGIC;
        block->dwSize = kInfoBlockSize;
    }
    return block;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boInfoBlockCheck(const InfoBlock *pstBlock) {
    return zera::InfoBlockValid(pstBlock) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boInfoBlockDelete(InfoBlock *pstBlock) {
    if (!ZERA_boInfoBlockCheck(pstBlock)) return 0;
    pstBlock->dwMagic = 0;
    zera::FreeLineAligned(pstBlock);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boInfoBlockMatch(const InfoBlock *pstUpper, const InfoBlock *pstLower) {
    if (!ZERA_boInfoBlockCheck(pstUpper) || !ZERA_boInfoBlockCheck(pstLower)) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_INFO_MISMATCH, OSAL_ARG_STRING, "info block");
        return 0;
    }
    const Refusal refusal = RefusingRule(*pstUpper, *pstLower);
    if (refusal.rule == nullptr) return 1;
    OSAL_vSetLastErrorArgs(refusal.code, OSAL_ARG_STRING, refusal.rule);
    return 0;
}

}  // extern "C"
