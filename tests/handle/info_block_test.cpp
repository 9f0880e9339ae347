// handle/info_block_test.cpp - info blocks and the match that decides whether
// a level may sit on another: each rule with its code and the rule's name in
// the error's argument.
#include <string>

#include "handle/test_stack.h"

namespace {

TEST(InfoBlock, CreateCheckDelete) {
    InfoBlock *b = ZERA_pstInfoBlockCreate();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->dwMagic, 0x56127834u);
    EXPECT_EQ(b->dwSize, 36u);
    EXPECT_EQ(b->dwFlags | b->dwVersion | b->u16MinPartnerMinor | b->dwRangeALow | b->dwRangeAHigh |
                  b->dwRangeBLow | b->dwRangeBHigh,
              0u);

    // Check and delete never store a code.
    OSAL_vSetLastError(0);
    EXPECT_TRUE(ZERA_boInfoBlockCheck(b));
    EXPECT_FALSE(ZERA_boInfoBlockCheck(nullptr));
    b->dwSize = 40;
    EXPECT_FALSE(ZERA_boInfoBlockCheck(b));
    EXPECT_FALSE(ZERA_boInfoBlockDelete(b));  // refused, still ours
    b->dwSize = 36;
    EXPECT_FALSE(ZERA_boInfoBlockDelete(nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), 0u);
    EXPECT_TRUE(ZERA_boInfoBlockDelete(b));
}

TEST(InfoBlock, CreateFailsWithoutCode) {
    AllocFailureGuard guard;
    OSAL_vSetLastError(0);
    ZERA_vTestFailAllocAfter(0);
    EXPECT_EQ(ZERA_pstInfoBlockCreate(), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 0u);
}

// P is the block of the level to be placed on top, Q the block it must suit.
struct Blocks {
    InfoBlock p{ZERA_INFOBLOCK_MAGIC, 36, 0, 0x00010000u, 0, 0, 0, 0, 0, 0};
    InfoBlock q{ZERA_INFOBLOCK_MAGIC, 36, 0, 0x00010000u, 0, 0, 0, 0, 0, 0};
};

// The match's verdict: "" when P suits Q, else "<code> <rule>".
std::string Verdict(const Blocks &b) {
    OSAL_vSetLastError(0);
    if (ZERA_boInfoBlockMatch(&b.p, &b.q)) return OSAL_dwGetLastError() == 0 ? "" : "code stored on success";
    const char *arg = OSAL_pszGetLastErrorArg();
    return std::to_string(OSAL_dwGetLastError()) + " " + (arg != nullptr ? arg : "(no argument)");
}

TEST(InfoBlockMatch, InvalidBlocks) {
    Blocks b;
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boInfoBlockMatch(nullptr, &b.q));
    EXPECT_EQ(OSAL_dwGetLastError(), 2055u);
    EXPECT_FALSE(ZERA_boInfoBlockMatch(&b.p, nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), 2055u);
    b.q.dwSize = 32;
    EXPECT_EQ(Verdict(b), "2055 info block");
    b.q.dwSize = 36;
    b.p.dwMagic = ZERA_HANDLE_MAGIC;
    b.q.dwFlags = 0x01;  // the validity test comes before every other rule
    EXPECT_EQ(Verdict(b), "2055 info block");
}

TEST(InfoBlockMatch, Versions) {
    Blocks b;
    b.q.dwFlags = 0x01;  // would accept anything once the versions suit
    b.p.dwVersion = 0x00020005;
    b.q.dwVersion = 0x00030005;
    EXPECT_EQ(Verdict(b), "2057 version");

    b.p.dwVersion = 0x00020003;
    b.q.dwVersion = 0x00020009;
    b.q.u16MinPartnerMinor = 4;
    EXPECT_EQ(Verdict(b), "2057 minor version");
    b.q.u16MinPartnerMinor = 3;
    EXPECT_EQ(Verdict(b), "");

    b.p.u16MinPartnerMinor = 10;  // P asks more of Q than Q's minor 9
    EXPECT_EQ(Verdict(b), "2057 minor version");
    b.p.u16MinPartnerMinor = 9;
    EXPECT_EQ(Verdict(b), "");
}

TEST(InfoBlockMatch, FlagRules) {
    Blocks b;
    // Q's bit 0 accepts any P: flags and ranges of P are not looked at.
    b.q.dwFlags = 0x01;
    b.p.dwFlags = 0x20;
    b.p.dwRangeALow = 50;
    b.p.dwRangeAHigh = 10;
    b.q.dwRangeALow = 99;
    b.q.dwRangeAHigh = 99;
    EXPECT_EQ(Verdict(b), "");

    b = Blocks{};
    b.q.dwFlags = 0x08;
    EXPECT_EQ(Verdict(b), "2055 flags");
    b.q.dwFlags = 0x04;
    EXPECT_EQ(Verdict(b), "2055 flags");
    b.p.dwFlags = 0x04;  // P that fits any lower level
    EXPECT_EQ(Verdict(b), "");
    b.p.dwFlags = 0;
    b.q.dwFlags = 0x0A;  // bit 1 lifts the restriction
    EXPECT_EQ(Verdict(b), "");

    b.q.dwFlags = 0x20;
    EXPECT_EQ(Verdict(b), "2055 flags");
    b.q.dwFlags = 0;
    b.p.dwFlags = 0x20;
    EXPECT_EQ(Verdict(b), "2055 flags");
    b.p.dwFlags = 0x22;  // only the exact value never matches
    EXPECT_EQ(Verdict(b), "");
}

// Range A of Q must lie within P's; range B of P must lie within Q's.
TEST(InfoBlockMatch, Ranges) {
    struct Case {
        char range;
        uint32_t pLow, pHigh, qLow, qHigh;
        const char *verdict;
    };
    const Case cases[] = {
        {'A', 10, 20, 12, 20, ""},
        {'A', 10, 20, 9, 20, "2055 range A"},
        {'A', 10, 20, 12, 21, "2055 range A"},
        {'A', 10, 20, 0, 0, "2055 range A"},    // Q without a range A
        {'A', 10, 20, 15, 12, "2055 range A"},  // Q's range not ordered
        {'A', 20, 10, 15, 15, "2055 range A"},  // P's range not ordered
        {'A', 0, 0, 99, 1, ""},                 // P [0, 0]: no range A
        {'A', 0xFFFFFFFFu, 0xFFFFFFFFu, 5, 1, ""},
        {'B', 5, 6, 1, 10, ""},
        {'B', 1, 10, 1, 10, ""},
        {'B', 0, 0, 1, 10, "2055 range B"},     // P without a range B
        {'B', 0, 11, 1, 10, "2055 range B"},
        {'B', 6, 5, 1, 10, "2055 range B"},     // P's range not ordered
        {'B', 5, 6, 10, 1, "2055 range B"},     // Q's range not ordered
        {'B', 7, 3, 0, 0, ""},                  // Q [0, 0] takes any P
        {'B', 0xFFFFFFFFu, 0xFFFFFFFFu, 1, 10, ""},
    };
    for (const Case &c : cases) {
        Blocks b;
        uint32_t InfoBlock::*low = c.range == 'A' ? &InfoBlock::dwRangeALow : &InfoBlock::dwRangeBLow;
        uint32_t InfoBlock::*high = c.range == 'A' ? &InfoBlock::dwRangeAHigh : &InfoBlock::dwRangeBHigh;
        b.p.*low = c.pLow;
        b.p.*high = c.pHigh;
        b.q.*low = c.qLow;
        b.q.*high = c.qHigh;
        EXPECT_EQ(Verdict(b), c.verdict) << c.range << ": P [" << c.pLow << ", " << c.pHigh << "] Q [" << c.qLow
                                         << ", " << c.qHigh << "]";
    }
}

TEST(InfoBlockMatch, RangeAIsDecidedBeforeRangeB) {
    Blocks b;
    b.p.dwRangeALow = 10;
    b.p.dwRangeAHigh = 20;
    b.q.dwRangeALow = 30;
    b.q.dwRangeAHigh = 40;
    b.p.dwRangeBLow = 0;
    b.p.dwRangeBHigh = 0;
    b.q.dwRangeBLow = 1;
    b.q.dwRangeBHigh = 2;
    EXPECT_EQ(Verdict(b), "2055 range A");
    b.p.dwFlags = 0x04;  // P fits anything: neither range is looked at
    EXPECT_EQ(Verdict(b), "");
}

TEST(Heap, OperationsUseTheLibraryAllocator) {
    AllocFailureGuard guard;
    auto *p = static_cast<unsigned char *>(ZERA_pvCalloc(4, 8));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(p[i], 0);
    p = static_cast<unsigned char *>(ZERA_pvRealloc(p, 64));
    ASSERT_NE(p, nullptr);
    ZERA_vFree(p);
    ZERA_vFree(nullptr);

    ZERA_vTestFailAllocAfter(0);
    EXPECT_EQ(ZERA_pvMalloc(8), nullptr);
    EXPECT_EQ(ZERA_pvCalloc(1, 8), nullptr);
    EXPECT_EQ(ZERA_pvRealloc(nullptr, 8), nullptr);
}

}  // namespace
