// handle/info_block_test.cpp - info blocks and the match of a level's block against the one below.
#include <cstring>
#include <string>

#include "handle/test_stack.h"

namespace {

TEST(InfoBlock, CreateCheckDeleteStoreNoCode) {
    AllocFailureGuard guard;
    OSAL_vSetLastError(0);
    InfoBlock *b = ZERA_pstInfoBlockCreate();
    const InfoBlock zero{0x56127834u, 36, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(sizeof(InfoBlock), 36u);
    ASSERT_TRUE(b != nullptr && std::memcmp(b, &zero, sizeof zero) == 0);
    EXPECT_TRUE(ZERA_boInfoBlockCheck(b) && !ZERA_boInfoBlockCheck(nullptr) && !ZERA_boInfoBlockDelete(nullptr));
    b->dwSize = 40;
    EXPECT_FALSE(ZERA_boInfoBlockCheck(b) || ZERA_boInfoBlockDelete(b));  // refused, still ours
    b->dwSize = 36;
    EXPECT_TRUE(ZERA_boInfoBlockDelete(b));
    OSAL_vTestFailAllocAfter(0);
    EXPECT_REFUSED(ZERA_pstInfoBlockCreate(), 0u);
}

// P is the block of the level to be placed on top, Q the block it must suit.
struct Blocks {
    InfoBlock p{ZERA_INFOBLOCK_MAGIC, 36, 0, 0x00010000u, 0, 0, 0, 0, 0, 0}, q = p;
};

// The match's verdict: "" when P suits Q, else "<code> <rule>".
std::string Verdict(const Blocks &b) {
    OSAL_vSetLastError(0);
    if (ZERA_boInfoBlockMatch(&b.p, &b.q)) return OSAL_dwGetLastError() == 0 ? "" : "code stored on success";
    const char *arg = OSAL_pszGetLastErrorArg();
    return std::to_string(OSAL_dwGetLastError()) + " " + (arg != nullptr ? arg : "(no argument)");
}

// Range A of Q must lie within P's; range B of P must lie within Q's.
void RangeA(Blocks &b, uint32_t pLow, uint32_t pHigh, uint32_t qLow, uint32_t qHigh) {
    b.p.dwRangeALow = pLow, b.p.dwRangeAHigh = pHigh, b.q.dwRangeALow = qLow, b.q.dwRangeAHigh = qHigh;
}
void RangeB(Blocks &b, uint32_t pLow, uint32_t pHigh, uint32_t qLow, uint32_t qHigh) {
    b.p.dwRangeBLow = pLow, b.p.dwRangeBHigh = pHigh, b.q.dwRangeBLow = qLow, b.q.dwRangeBHigh = qHigh;
}

void BothRangesFail(Blocks &b) {
    RangeA(b, 10, 20, 30, 40);
    RangeB(b, 0, 0, 1, 2);  // P has no range B
}

// Versions and the lowest minor each asks of the other; Q's bit 0 accepts any P whose version suits.
void Versions(Blocks &b, uint32_t p, uint32_t q, uint16_t pMinMinor, uint16_t qMinMinor) {
    b.q.dwFlags = 0x01;
    b.p.dwVersion = p, b.q.dwVersion = q, b.p.u16MinPartnerMinor = pMinMinor, b.q.u16MinPartnerMinor = qMinMinor;
}

TEST(InfoBlockMatch, ValidityVersionFlagAndRangeRulesInTheirOrder) {
    const Blocks good;
    EXPECT_REFUSED(ZERA_boInfoBlockMatch(nullptr, &good.q), OSAL_ERR_INFO_MISMATCH);
    EXPECT_REFUSED(ZERA_boInfoBlockMatch(&good.p, nullptr), OSAL_ERR_INFO_MISMATCH);
    const struct {
        const char *what;
        void (*set)(Blocks &);
        const char *verdict;
    } cases[] = {
        {"major", [](Blocks &b) { Versions(b, 0x00020005, 0x00030005, 0, 0); }, "2057 version"},
        {"Q wants minor 4", [](Blocks &b) { Versions(b, 0x00020003, 0x00020009, 0, 4); }, "2057 minor version"},
        {"Q wants minor 3", [](Blocks &b) { Versions(b, 0x00020003, 0x00020009, 0, 3); }, ""},
        {"P wants minor 10", [](Blocks &b) { Versions(b, 0x00020003, 0x00020009, 10, 3); }, "2057 minor version"},
        {"P wants minor 9", [](Blocks &b) { Versions(b, 0x00020003, 0x00020009, 9, 3); }, ""},
        {"Q invalid", [](Blocks &b) { b.q.dwSize = 32; }, "2055 info block"},
        {"validity first", [](Blocks &b) { b.p.dwMagic = ZERA_HANDLE_MAGIC; b.q.dwFlags = 0x01; }, "2055 info block"},
        // Q's bit 0 accepts any P: flags and ranges of P are not looked at.
        {"Q accepts any",
         [](Blocks &b) { b.q.dwFlags = 0x01; b.p.dwFlags = 0x20; b.p.dwRangeALow = 50; b.p.dwRangeAHigh = 10; }, ""},
        {"Q bit 3", [](Blocks &b) { b.q.dwFlags = 0x08; }, "2055 flags"},
        {"Q bit 2", [](Blocks &b) { b.q.dwFlags = 0x04; }, "2055 flags"},
        {"P fits any", [](Blocks &b) { b.q.dwFlags = 0x04; b.p.dwFlags = 0x04; }, ""},
        {"bit 1 lifts it", [](Blocks &b) { b.q.dwFlags = 0x0A; }, ""},
        {"Q never", [](Blocks &b) { b.q.dwFlags = 0x20; }, "2055 flags"},
        {"P never", [](Blocks &b) { b.p.dwFlags = 0x20; }, "2055 flags"},
        {"only the exact value", [](Blocks &b) { b.p.dwFlags = 0x22; }, ""},
        {"range A before B", BothRangesFail, "2055 range A"},
        {"P fits any: no range looked at", [](Blocks &b) { BothRangesFail(b); b.p.dwFlags = 0x04; }, ""},
        {"A: Q starts below P", [](Blocks &b) { RangeA(b, 10, 20, 9, 20); }, "2055 range A"},
        {"A: the top value", [](Blocks &b) { RangeA(b, 0xFFFFFFFFu, 0xFFFFFFFFu, 5, 1); }, ""},
        {"A: Q without one", [](Blocks &b) { RangeA(b, 10, 20, 0, 0); }, "2055 range A"},
        {"A: Q's not ordered", [](Blocks &b) { RangeA(b, 10, 20, 15, 12); }, "2055 range A"},
        {"A: P's not ordered", [](Blocks &b) { RangeA(b, 20, 10, 15, 15); }, "2055 range A"},
        {"A: P [0, 0] has none", [](Blocks &b) { RangeA(b, 0, 0, 99, 1); }, ""},
        {"B: equal", [](Blocks &b) { RangeB(b, 1, 10, 1, 10); }, ""},
        {"B: P passes Q", [](Blocks &b) { RangeB(b, 0, 11, 1, 10); }, "2055 range B"},
        {"B: P without one", [](Blocks &b) { RangeB(b, 0, 0, 1, 10); }, "2055 range B"},
        {"B: P's not ordered", [](Blocks &b) { RangeB(b, 6, 5, 1, 10); }, "2055 range B"},
        {"B: Q's not ordered", [](Blocks &b) { RangeB(b, 5, 6, 10, 1); }, "2055 range B"},
        {"B: Q [0, 0] takes any P", [](Blocks &b) { RangeB(b, 7, 3, 0, 0); }, ""},
    };
    for (const auto &c : cases) {
        Blocks blocks;
        c.set(blocks);
        EXPECT_EQ(Verdict(blocks), c.verdict) << c.what;
    }
}

}  // namespace
