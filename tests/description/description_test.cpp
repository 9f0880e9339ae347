// description/description_test.cpp - the stack description packet of real
// stacks: entries from the top down decoded level by level, changed-only
// descriptions, full ones after levels came or went, and failures at any
// level that leave nothing behind.
#include <string>
#include <vector>

#include "ZERA_Host.h"
#include "param/param.h"
#include "param/param_test_util.h"

namespace {

using Counts = std::vector<uint32_t>;

// A host level 0 with test components added on top, taken down at the end.
struct Stack {
    StackHandle *h0 = ZERA_hHostStackCreate(nullptr);
    ~Stack() { EXPECT_TRUE(ZERA_boHostStackDestroy(h0)); }
    StackHandle *Level(uint8_t n) const {
        StackHandle *h = h0;
        while (h != nullptr && h->u8Level < n) h = ZERA_hHandleGetNextLevel(h);
        return n != 0 ? h : nullptr;
    }
    StackHandle *Add(const char *name) { return Level(ZERA_bAddToStackA(h0, name)); }
    StackHandle *AddWide(const char16_t *name) { return Level(ZERA_bAddToStackW(h0, zt::W(name))); }
};

ZERA_HPACKET Describe(StackHandle *h, uint32_t changedOnly, uint8_t count = 1) {
    return reinterpret_cast<ZERA_PFN_MARSHAL_LEVEL>(h->apfnEntry[ZERA_ENTRY_MARSHAL_LEVEL])(h, changedOnly, count);
}

// A description read back entry by entry with the public readers (narrow or
// wide); takes the packet, and releases the records when it goes.
struct Decoded {
    struct Entry {
        StackHandle *level;
        uint32_t status;
        std::string name;
    };
    uint8_t count = 0;
    std::vector<Entry> entries;

    explicit Decoded(ZERA_HPACKET h, bool wide = false) {
        EXPECT_NE(h, nullptr) << OSAL_pszGetLastErrorText();
        if (h == nullptr) return;
        EXPECT_TRUE(ZERA_boUnmarshalByte(h, &count));
        while (ZERA_i32MarshalGetCurReadPos(h) < ZERA_i32MarshalGetDataSize(h)) {
            Entry e{};
            void *name = nullptr;
            const bool read = wide ? ZERA_boUnmarshalStackDescriptionEntryW(h, &e.level, &e.status, reinterpret_cast<WCHAR16 **>(&name))
                                   : ZERA_boUnmarshalStackDescriptionEntryA(h, &e.level, &e.status, reinterpret_cast<char **>(&name));
            EXPECT_TRUE(read) << OSAL_pszGetLastErrorText();
            if (!read) break;
            const std::u16string w = wide ? zt::WStr(name) : u"";
            e.name = wide ? std::string(w.begin(), w.end()) : zt::NStr(name);
            ZERA_vFree(name);
            entries.push_back(e);
        }
        ZERA_boMarshalPacketDelete(h);
    }
    ~Decoded() {
        for (Entry &e : entries) ZERA_vDeleteStackHandleLevel(e.level);
    }
    std::vector<int> Levels() const {
        std::vector<int> levels;
        for (const Entry &e : entries) levels.push_back(e.level->u8Level);
        return levels;
    }
    Counts ParamCounts() const {  // parameters carried per entry, top down
        Counts counts;
        for (const Entry &e : entries) counts.push_back(zera::CountParams(e.level->pstStackParams));
        return counts;
    }
};

TEST(StackDescription, ThreeLevelsTopDownDecodedLevelByLevel) {
    Stack stack;
    StackHandle *h1 = stack.Add("Layer"), *h2 = stack.AddWide(u"WideOnly"), *h3 = stack.Add("Params");
    ASSERT_TRUE(h1 && h2 && h3);
    h1->dwStatus = 0x11, h2->dwStatus = 0x22, h3->dwStatus = 0x80000033;
    {
        Decoded d(Describe(h1, 0));
        EXPECT_EQ(d.count, 3);  // the caller's 1 plus the two levels above
        ASSERT_EQ(d.Levels(), (std::vector<int>{3, 2, 1}));
        const StackHandle *live[] = {h3, h2, h1};
        const char *names[] = {"Params", "WideOnly", "Layer"};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(d.entries[i].status, live[i]->dwStatus);
            EXPECT_EQ(d.entries[i].name, names[i]);
            EXPECT_EQ(zera::CountParams(d.entries[i].level->pstStackParams), zera::CountParams(live[i]->pstStackParams));
        }
        EXPECT_EQ(zt::NStr(d.entries[1].level->pstStackParams[0].uValue.hs), "wide");  // read narrow

        EXPECT_EQ(Decoded(Describe(h3, 0)).Levels(), (std::vector<int>{3}));  // the top alone
        Decoded all(Describe(stack.h0, 0, 7), true);
        EXPECT_EQ(all.count, 10);
        ASSERT_EQ(all.Levels(), (std::vector<int>{3, 2, 1, 0}));
        EXPECT_EQ(all.entries[3].name, "VOQ_ZERA");
        EXPECT_EQ(zt::WStr(all.entries[1].level->pstStackParams[0].uValue.ls), u"wide");
    }
    // Each level refreshes its settable bits through its own slot 9 (10 when
    // wide) before it is written; levels below h are not visited.
    for (StackHandle *h : {h1, h2, h3}) h->pstStackParams[0].u8Attributes &= static_cast<uint8_t>(~ZERA_ATTR_SETTABLE);
    {
        Decoded d(Describe(h2, 0));
        for (const Decoded::Entry &e : d.entries) {
            EXPECT_EQ(e.level->pstStackParams[0].u8Attributes & ZERA_ATTR_SETTABLE, ZERA_ATTR_SETTABLE);
        }
        EXPECT_EQ(h1->pstStackParams[0].u8Attributes & ZERA_ATTR_SETTABLE, 0);
    }
}

TEST(StackDescription, ChangedOnlyAndFullAfterLevelsChange) {
    Stack stack;
    StackHandle *h0 = stack.h0, *h2 = nullptr;
    ASSERT_TRUE(stack.Add("Layer") && (h2 = stack.Add("Layer")) && stack.Add("Params"));
    const Counts full = {18, 2, 2, 0}, none = {0, 0, 0, 0};
    EXPECT_EQ(Decoded(Describe(h0, 1)).ParamCounts(), full);  // the adds marked the levels
    ZERA_HPACKET unchanged = Describe(h0, 1);
    ASSERT_NE(unchanged, nullptr);  // each entry: level byte, N = 1, terminator, status, name
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(unchanged), 1 + 4 * (11 + 4 + 4) + 7 + 6 + 6 + 9);
    EXPECT_EQ(Decoded(unchanged).ParamCounts(), none);

    ASSERT_TRUE(ZERA_boSetStackParamA(h0, 2, "Gain", 7u)) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(Decoded(Describe(h0, 0x100)).ParamCounts(), full);  // only the low byte counts
    ASSERT_TRUE(ZERA_boSetStackParamA(h0, 2, "Gain", 8u));
    {
        Decoded d(Describe(h0, 1));
        EXPECT_EQ(d.ParamCounts(), (Counts{0, 1, 0, 0}));
        EXPECT_EQ(d.entries[1].level->pstStackParams[0].uValue.dw, 8u);
    }
    // An add through level 2 marks it: from there up the description is
    // full although changed-only is asked for; the levels below are not.
    ASSERT_EQ(ZERA_bAddToStackA(h2, "Layer"), 4);
    EXPECT_EQ(Decoded(Describe(h0, 1)).ParamCounts(), (Counts{2, 18, 2, 0, 0}));
    EXPECT_EQ(Decoded(Describe(h0, 1)).ParamCounts(), (Counts{0, 0, 0, 0, 0}));
    ASSERT_TRUE(ZERA_boRemoveFromStackA(h0, 4));
    EXPECT_EQ(Decoded(Describe(h0, 1)).ParamCounts(), full);
    for (StackHandle *h = h0; h != nullptr; h = ZERA_hHandleGetNextLevel(h)) {
        EXPECT_EQ(h->pstStackParams[0].u8ChangeFlags & ZERA_CHANGE_LEVELS, 0) << int{h->u8Level};
    }
}

TEST(StackDescription, FailuresLeaveNothingBehind) {
    Stack stack;
    StackHandle *h1 = stack.Add("Layer"), *h2 = stack.AddWide(u"WideOnly");
    ASSERT_TRUE(h1 && h2 && stack.Add("Params"));
    auto hook = reinterpret_cast<ZERA_PFN_MARSHAL_LEVEL>(h1->apfnEntry[ZERA_ENTRY_MARSHAL_LEVEL]);
    EXPECT_EQ(hook(nullptr, 0, 1), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
    h2->dwMagic ^= 1;  // a level above that fails the check ends every description below it
    for (StackHandle *h : {stack.h0, h1}) {
        OSAL_vSetLastError(0);
        EXPECT_EQ(Describe(h, 0), nullptr);
        EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    }
    h2->dwMagic ^= 1;

    // Memory running out anywhere (packet, growth, wide conversions) on any
    // level leaks nothing.
    zt::ForEachAllocFailure([&](long) {
        ZERA_HPACKET h = Describe(stack.h0, 0);
        if (h != nullptr) return ZERA_boMarshalPacketDelete(h) != 0;
        EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_NO_MEMORY));
        return false;
    });
}

}  // namespace
