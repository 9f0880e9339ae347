// description/description_test.cpp - stack description packets: full and
// changed-only, and failures that leave nothing behind.
#include "param/param.h"
#include "stack/stack_test_util.h"

namespace {

using Counts = std::vector<uint32_t>;

ZERA_HPACKET Describe(StackHandle *h, uint32_t changedOnly, uint8_t count = 1) {
    return reinterpret_cast<ZERA_PFN_MARSHAL_LEVEL>(h->apfnEntry[ZERA_ENTRY_MARSHAL_LEVEL])(h, changedOnly, count);
}

// A description read back with the public readers; takes the packet, releases the records.
struct Decoded {
    struct Entry {
        StackHandle *level;
        uint32_t status;
        std::string name;
    };
    uint8_t count = 0;
    std::vector<Entry> entries;

    explicit Decoded(ZERA_HPACKET h, bool wide = false) {
        EXPECT_NE(h, nullptr) << st::LastText();
        EXPECT_TRUE(h != nullptr && ZERA_boUnmarshalByte(h, &count));
        while (h != nullptr && ZERA_i32MarshalGetCurReadPos(h) < ZERA_i32MarshalGetDataSize(h)) {
            Entry e{};
            void *name = nullptr;
            const bool read =
                wide ? ZERA_boUnmarshalStackDescriptionEntryW(h, &e.level, &e.status, reinterpret_cast<WCHAR16 **>(&name))
                     : ZERA_boUnmarshalStackDescriptionEntryA(h, &e.level, &e.status, reinterpret_cast<char **>(&name));
            EXPECT_TRUE(read) << st::LastText();
            if (!read) break;
            const std::u16string w = st::WStr(wide ? name : nullptr);
            e.name = wide ? std::string(w.begin(), w.end()) : st::NStr(name);
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
    st::Stack stack{"Layer"};
    StackHandle *h1 = stack[1], *h2 = stack.AddWide(u"WideOnly"), *h3 = stack.Add("Params");
    ASSERT_TRUE(h1 && h2 && h3);
    h1->dwStatus = 0x11, h2->dwStatus = 0x22, h3->dwStatus = 0x80000033;
    {
        Decoded d(Describe(h1, 0));
        EXPECT_EQ(d.count, 3);  // the caller's 1 plus the two levels above
        ASSERT_EQ(d.Levels(), (std::vector<int>{3, 2, 1}));
        EXPECT_EQ(d.ParamCounts(), (Counts{18, 2, 2}));
        const std::string names[] = {"Params", "WideOnly", "Layer"};
        const uint32_t statuses[] = {h3->dwStatus, h2->dwStatus, h1->dwStatus};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_TRUE(d.entries[i].status == statuses[i] && d.entries[i].name == names[i]) << names[i];
        }
        EXPECT_EQ(st::NStr(d.entries[1].level->pstStackParams[0].uValue.hs), "wide");  // read narrow
        Decoded all(Describe(stack.h0(), 0, 7), true);
        EXPECT_EQ(all.count, 10);
        ASSERT_EQ(all.Levels(), (std::vector<int>{3, 2, 1, 0}));
        EXPECT_EQ(all.entries[3].name, "VOQ_ZERA");
        EXPECT_EQ(st::WStr(all.entries[1].level->pstStackParams[0].uValue.ls), u"wide");
    }
    // Each level refreshes its settable bits before it is written; levels below h are not visited.
    for (StackHandle *h : {h1, h2, h3}) h->pstStackParams[0].u8Attributes &= static_cast<uint8_t>(~ZERA_ATTR_SETTABLE);
    Decoded d(Describe(h2, 0));
    for (const Decoded::Entry &e : d.entries) EXPECT_TRUE(e.level->pstStackParams[0].u8Attributes & ZERA_ATTR_SETTABLE);
    EXPECT_EQ(h1->pstStackParams[0].u8Attributes & ZERA_ATTR_SETTABLE, 0);
}

// Changed-only and full descriptions as levels and values change; failures leave nothing behind.
TEST(StackDescription, ChangedOnlyFullAfterLevelsChangeAndFailures) {
    st::Stack stack{"Layer", "Layer", "Params"};
    StackHandle *h0 = stack.h0();
    const Counts full = {18, 2, 2, 0}, none = {0, 0, 0, 0};
    EXPECT_EQ(Decoded(Describe(h0, 1)).ParamCounts(), full);  // the adds marked the levels
    ZERA_HPACKET unchanged = Describe(h0, 1);
    ASSERT_NE(unchanged, nullptr);  // each entry: level byte, N = 1, terminator, status, name
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(unchanged), 1 + 4 * (11 + 4 + 4) + 7 + 6 + 6 + 9);
    EXPECT_EQ(Decoded(unchanged).ParamCounts(), none);
    ASSERT_TRUE(ZERA_boSetStackParamA(h0, 2, "Gain", 7u)) << st::LastText();
    EXPECT_EQ(Decoded(Describe(h0, 0x100)).ParamCounts(), full);  // only the low byte counts
    ASSERT_TRUE(ZERA_boSetStackParamA(h0, 2, "Gain", 8u));
    EXPECT_EQ(Decoded(Describe(h0, 1)).ParamCounts(), (Counts{0, 1, 0, 0}));
    // An add through level 2 makes the description full from there up.
    ASSERT_EQ(ZERA_bAddToStackA(stack[2], "Layer"), 4);
    EXPECT_EQ(Decoded(Describe(h0, 1)).ParamCounts(), (Counts{2, 18, 2, 0, 0}));
    ASSERT_TRUE(ZERA_boRemoveFromStackA(h0, 4));
    EXPECT_EQ(Decoded(Describe(h0, 1)).ParamCounts(), full);
    for (StackHandle *h = h0; h != nullptr; h = ZERA_hHandleGetNextLevel(h)) {
        EXPECT_EQ(h->pstStackParams[0].u8ChangeFlags & ZERA_CHANGE_LEVELS, 0) << int{h->u8Level};
    }
    StackHandle *h1 = stack[1], *h3 = stack[3];
    EXPECT_REFUSED(reinterpret_cast<ZERA_PFN_MARSHAL_LEVEL>(h1->apfnEntry[ZERA_ENTRY_MARSHAL_LEVEL])(nullptr, 0, 1),
                   OSAL_ERR_INVALID_ARG);
    h3->dwMagic ^= 1;  // a level above that fails the check ends every description below it
    for (StackHandle *h : {h0, h1}) EXPECT_REFUSED(Describe(h, 0), OSAL_ERR_INVALID_HANDLE);
    h3->dwMagic ^= 1;
    // Memory running out anywhere (packet, growth, wide conversions) on any level leaks nothing.
    ASSERT_NE(stack.AddWide(u"WideOnly"), nullptr);
    zt::SweepAllocFailures([&] { return Describe(h0, 0); }, [] { return 0; },
                           [](ZERA_HPACKET h) { EXPECT_TRUE(ZERA_boMarshalPacketDelete(h)); }, 0);
}

}  // namespace
