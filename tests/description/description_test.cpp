// description/description_test.cpp - the stack description packet of real
// stacks: entries from the top down decoded level by level, changed-only
// descriptions, full ones after levels came or went, and failures at any
// level that leave nothing behind.
#include <string>
#include <vector>

#include "param/param.h"
#include "param/param_test_util.h"
#include "stack/stack_test_util.h"

namespace {

using st::HostStack;

ZERA_HPACKET Describe(StackHandle *h, uint32_t changedOnly, uint8_t count = 1) {
    auto hook = reinterpret_cast<ZERA_PFN_MARSHAL_LEVEL>(h->apfnEntry[ZERA_ENTRY_MARSHAL_LEVEL]);
    return hook(h, changedOnly, count);
}

struct Entry {
    StackHandle *level;
    uint32_t status;
    std::string name;
};

// A description packet read back level by level with the public readers;
// releases the packet and, when it goes, the records.
struct Decoded {
    uint8_t count = 0;
    std::vector<Entry> entries;
    explicit Decoded(ZERA_HPACKET h, bool wide = false) {
        EXPECT_NE(h, nullptr) << OSAL_pszGetLastErrorText();
        if (h == nullptr) return;
        EXPECT_TRUE(ZERA_boUnmarshalByte(h, &count));
        while (ZERA_i32MarshalGetCurReadPos(h) < ZERA_i32MarshalGetDataSize(h)) {
            Entry e{};
            if (wide) {
                WCHAR16 *name = nullptr;
                if (!ZERA_boUnmarshalStackDescriptionEntryW(h, &e.level, &e.status, &name)) break;
                for (const WCHAR16 *u = name; u != nullptr && *u != 0; ++u) e.name += static_cast<char>(*u);
                ZERA_vFree(name);
            } else {
                char *name = nullptr;
                if (!ZERA_boUnmarshalStackDescriptionEntryA(h, &e.level, &e.status, &name)) break;
                e.name = name != nullptr ? name : "";
                ZERA_vFree(name);
            }
            entries.push_back(e);
        }
        EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(h), ZERA_i32MarshalGetDataSize(h)) << "undecoded bytes";
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
    // Parameters carried per entry, top down.
    std::vector<uint32_t> ParamCounts() const {
        std::vector<uint32_t> counts;
        for (const Entry &e : entries) counts.push_back(zera::CountParams(e.level->pstStackParams));
        return counts;
    }
};

uint32_t LiveCount(const StackHandle *h) { return zera::CountParams(h->pstStackParams); }

TEST(StackDescription, ThreeLevelsTopDownDecodedLevelByLevel) {
    HostStack stack;
    StackHandle *h1 = stack.Add("Layer");
    StackHandle *h2 = stack.AddWide(u"WideOnly");
    StackHandle *h3 = stack.Add("Params");
    ASSERT_TRUE(h1 && h2 && h3);
    const uint32_t saved[3] = {h1->dwStatus, h2->dwStatus, h3->dwStatus};
    h1->dwStatus = 0x11, h2->dwStatus = 0x22, h3->dwStatus = 0x80000033;

    {
        Decoded d(Describe(h1, 0));
        EXPECT_EQ(d.count, 3);  // the caller's 1 plus the two levels above
        ASSERT_EQ(d.Levels(), (std::vector<int>{3, 2, 1}));
        const StackHandle *live[] = {h3, h2, h1};
        const char *names[] = {"Params", "WideOnly", "Layer"};
        for (size_t i = 0; i < 3; ++i) {
            const Entry &e = d.entries[i];
            EXPECT_EQ(e.status, live[i]->dwStatus);
            EXPECT_EQ(e.name, names[i]);
            EXPECT_EQ(e.level->boWide, 0);  // the reader's width, not the level's
            ASSERT_EQ(zera::CountParams(e.level->pstStackParams), LiveCount(live[i]));
        }
        EXPECT_EQ(zt::NStr(d.entries[1].level->pstStackParams[0].pName), "Label");
        EXPECT_EQ(zt::NStr(d.entries[1].level->pstStackParams[0].uValue.hs), "wide");
        EXPECT_EQ(zt::NStr(d.entries[2].level->pstStackParams[0].pName), "Gain");
    }
    {
        Decoded top(Describe(h3, 0));
        EXPECT_EQ(top.count, 1);
        EXPECT_EQ(top.Levels(), (std::vector<int>{3}));
        Decoded all(Describe(stack.h0(), 0, 7), true);  // any count; wide reader
        EXPECT_EQ(all.count, 10);
        ASSERT_EQ(all.Levels(), (std::vector<int>{3, 2, 1, 0}));
        EXPECT_EQ(all.entries[1].name, "WideOnly");
        EXPECT_EQ(all.entries[3].name, "VOQ_ZERA");
        EXPECT_EQ(all.entries[3].level->boWide, 1);
        EXPECT_EQ(zt::WStr(all.entries[1].level->pstStackParams[0].uValue.ls), u"wide");
        EXPECT_EQ(all.ParamCounts().back(), 0u);
    }
    // Each level's own read refreshes its settable bits before it is written
    // (slot 9 narrow, slot 10 wide).
    for (StackHandle *h : {h1, h2, h3}) h->pstStackParams[0].u8Attributes &= static_cast<uint8_t>(~ZERA_ATTR_SETTABLE);
    {
        Decoded d(Describe(h2, 0));
        ASSERT_EQ(d.Levels(), (std::vector<int>{3, 2}));
        for (const Entry &e : d.entries) {
            EXPECT_EQ(e.level->pstStackParams[0].u8Attributes & ZERA_ATTR_SETTABLE, ZERA_ATTR_SETTABLE);
        }
        EXPECT_EQ(h1->pstStackParams[0].u8Attributes & ZERA_ATTR_SETTABLE, 0);  // below h: not visited
    }
    h1->dwStatus = saved[0], h2->dwStatus = saved[1], h3->dwStatus = saved[2];
}

TEST(StackDescription, ChangedOnlyAndFullAfterLevelsChange) {
    HostStack stack;
    StackHandle *h2 = nullptr;
    ASSERT_NE(stack.Add("Layer"), nullptr);
    ASSERT_NE(h2 = stack.Add("Layer"), nullptr);
    ASSERT_NE(stack.Add("Params"), nullptr);
    const std::vector<uint32_t> full = {18, 2, 2, 0};
    const std::vector<uint32_t> none = {0, 0, 0, 0};
    {
        Decoded d(Describe(stack.h0(), 1));  // the adds marked level 0: full
        EXPECT_EQ(d.ParamCounts(), full);
    }
    {  // nothing changed: each entry is its level byte, N = 1 and the terminator
        ZERA_HPACKET h = Describe(stack.h0(), 1);
        ASSERT_NE(h, nullptr);
        const int32_t names = 7 + 6 + 6 + 9;  // "Params", "Layer", "Layer", "VOQ_ZERA" with NULs, 4-byte lengths
        EXPECT_EQ(ZERA_i32MarshalGetDataSize(h), 1 + 4 * (11 + 4 + 4) + names);
        Decoded d(h);
        EXPECT_EQ(d.ParamCounts(), none);
    }
    ASSERT_TRUE(ZERA_boSetStackParamA(stack.h0(), 2, "Gain", 7u)) << OSAL_pszGetLastErrorText();
    {
        Decoded d(Describe(stack.h0(), 0x100));  // only the low byte counts: full
        EXPECT_EQ(d.ParamCounts(), full);
    }
    ASSERT_TRUE(ZERA_boSetStackParamA(stack.h0(), 2, "Gain", 8u));
    {
        Decoded d(Describe(stack.h0(), 1));
        EXPECT_EQ(d.ParamCounts(), (std::vector<uint32_t>{0, 1, 0, 0}));
        EXPECT_EQ(d.entries[1].level->pstStackParams[0].uValue.dw, 8u);
    }

    // An add through level 2 marks level 2 (and the new level): from level 2
    // up the description is full even when changed-only is asked for, and
    // the mark is handed up; the levels below stay changed-only.
    ASSERT_EQ(ZERA_bAddToStackA(h2, "Layer"), 4);
    {
        Decoded d(Describe(stack.h0(), 1));
        EXPECT_EQ(d.ParamCounts(), (std::vector<uint32_t>{2, 18, 2, 0, 0}));
    }
    {
        Decoded d(Describe(stack.h0(), 1));
        EXPECT_EQ(d.ParamCounts(), (std::vector<uint32_t>{0, 0, 0, 0, 0}));
    }
    ASSERT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 4));
    {
        Decoded d(Describe(stack.h0(), 1));
        EXPECT_EQ(d.count, 4);
        EXPECT_EQ(d.ParamCounts(), full);
        for (StackHandle *h = stack.h0(); h != nullptr; h = ZERA_hHandleGetNextLevel(h)) {
            EXPECT_EQ(h->pstStackParams[0].u8ChangeFlags & ZERA_CHANGE_LEVELS, 0) << int{h->u8Level};
        }
    }
}

TEST(StackDescription, FailuresLeaveNothingBehind) {
    HostStack stack;
    StackHandle *h1 = stack.Add("Layer");
    StackHandle *h2 = stack.AddWide(u"WideOnly");
    ASSERT_NE(stack.Add("Params"), nullptr);
    ASSERT_TRUE(h1 && h2);

    auto hook = reinterpret_cast<ZERA_PFN_MARSHAL_LEVEL>(h1->apfnEntry[ZERA_ENTRY_MARSHAL_LEVEL]);
    EXPECT_EQ(hook(nullptr, 0, 1), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));

    // A level above that fails the check ends the description at every level
    // below it.
    h2->dwMagic ^= 1;
    for (StackHandle *h : {stack.h0(), h1}) {
        OSAL_vSetLastError(0);
        EXPECT_EQ(Describe(h, 0), nullptr);
        EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    }
    h2->dwMagic ^= 1;

    // Memory running out at any point of any level (the packet, its growth,
    // the wide name and parameter conversions) leaks nothing.
    st::AllocFailureGuard guard;
    zt::ForEachAllocFailure([&](long) {
        ZERA_HPACKET h = Describe(stack.h0(), 0);
        if (h == nullptr) {
            EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_NO_MEMORY));
            return false;
        }
        ZERA_boMarshalPacketDelete(h);
        return true;
    });
}

}  // namespace
