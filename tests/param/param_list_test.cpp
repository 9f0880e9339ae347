// param/param_list_test.cpp - building, finding and removing parameters,
// value chains, growth and shrink points, change marks, the two widths.
#include <cstring>
#include <string>

#include "param/param.h"
#include "param/param_test_util.h"

namespace {

using zt::ListBuilder;
using zt::W;

constexpr uint32_t kSentinelCode = OSAL_ERR_SYSTEM;  // a code no operation here stores

TEST(ParamList, CreateGivesTerminatorOnly) {
    Param *list = nullptr;
    ASSERT_TRUE(ZERA_boCreateParListW(&list));
    EXPECT_EQ(list[0].pName, nullptr);
    EXPECT_EQ(list[0].dwType, ZERA_PARAM_DWORD);
    EXPECT_EQ(list[0].u8ChangeFlags, 3);
    EXPECT_EQ(ZERA_pastFindParamA(list, nullptr), list);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pastFindParamA(list, "x"), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    ZERA_vDeleteParamListA(list);
}

TEST(ParamList, AliasesShareOneAddress) {
    EXPECT_EQ(reinterpret_cast<void *>(&ZERA_boCreateParListA), reinterpret_cast<void *>(&ZERA_boCreateParListW));
    EXPECT_EQ(reinterpret_cast<void *>(&ZERA_vDeleteValListA), reinterpret_cast<void *>(&ZERA_vDeleteValListW));
}

TEST(ParamList, AddFillsRecordNameBlockAndCursor) {
    ListBuilder b;
    b.Str("Mode", "fast", 0xFF);
    const Param &p = b.list[0];
    EXPECT_EQ(b.count, 1u);
    EXPECT_EQ(b.cursor, &b.list[0].pstValues);
    // Without boTwoStrings the block is the name and two NULs.
    EXPECT_EQ(0, std::memcmp(p.pName, "Mode\0\0", 6));
    EXPECT_EQ(p.dwType, ZERA_PARAM_STRING);
    EXPECT_EQ(p.u8Attributes, 0xF1);  // high nibble kept, bit 0 by access 1
    EXPECT_EQ(p.u8ChangeFlags, 1);    // the first record: its own mark, the OR 3 overwritten
    EXPECT_STREQ(p.uValue.hs, "fast");
    EXPECT_EQ(b.list[1].pName, nullptr);
    EXPECT_EQ(b.list[1].u8ChangeFlags, 3);

    b.list[0].u8ChangeFlags = 0;
    b.DWord("Gain", 5);
    EXPECT_EQ(b.list[0].u8ChangeFlags, 3);  // a second add marks value and shape on the first record
    EXPECT_EQ(b.list[1].u8ChangeFlags, 1);
    EXPECT_EQ(b.list[1].uValue.dw, 5u);
    EXPECT_EQ(b.list[1].u8Tag, 7);

    b.Str("Path\0default path", "/tmp", 0, true);
    EXPECT_EQ(zt::NStr(b.list[2].pName), "Path");
    EXPECT_EQ(zt::NText(b.list[2].pName), "default path");
    b.Real("Rate", 2.5);
    EXPECT_EQ(b.list[3].uValue.r, 2.5);
    EXPECT_EQ(b.count, 4u);
}

TEST(ParamList, SettableBitFollowsAccessClassAndOption) {
    const int expected[2][12] = {
        {1, 1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0},  // option bit 3 clear
        {1, 1, 0, 0, 1, 1, 0, 1, 0, 0, 0, 0},  // option bit 3 set
    };
    for (int opt = 0; opt < 2; ++opt) {
        Param *list = nullptr;
        uint32_t count = 0;
        ParamValue **cursor = nullptr;
        ASSERT_TRUE(ZERA_boCreateParListA(&list));
        for (uint32_t access = 0; access < 12; ++access) {
            ASSERT_TRUE(ZERA_boAddParamA(1, static_cast<uint8_t>(opt ? 0x08 : 0xF7), &list, &count, &cursor,
                                         ZERA_PARAM_DWORD, access, 0x0E, 0, 0, "p", 0u));
            EXPECT_EQ(list[access].u8Attributes, expected[opt][access]) << "access " << access << " opt " << opt;
        }
        ZERA_vDeleteParamListA(list);
    }
}

TEST(ParamList, AddRejectsNullNameAndMissingList) {
    Param *list = nullptr;
    uint32_t count = 0;
    ParamValue **cursor = nullptr;
    ASSERT_TRUE(ZERA_boCreateParListA(&list));
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boAddParamA(1, 0, &list, &count, &cursor, 1, 0, 0, 0, 0, nullptr, 1u));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(list[0].pName, nullptr);
    ZERA_vDeleteParamListA(list);

    Param *none = nullptr;
    EXPECT_FALSE(ZERA_boAddParamA(1, 0, &none, &count, &cursor, 1, 0, 0, 0, 0, "x", 1u));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
    EXPECT_EQ(none, nullptr);
}

TEST(ParamList, UnknownTypeStoresNoValueAndTakesNoArgument) {
    ListBuilder b;
    ParamValue **cursor = nullptr;
    ASSERT_TRUE(ZERA_boAddParamA(1, 0, &b.list, &b.count, &cursor, 9, 0, 0, 0, 0, "odd"));
    EXPECT_EQ(b.list[0].uValue.qw, 0u);
    EXPECT_EQ(b.list[0].dwType, 9u);
}

// Allocations counted by the test hook tell whether the array was reallocated.
long AllocationsOfAdd(ListBuilder &b) {
    ZERA_vTestFailAllocAfter(-1);
    b.DWord("p", b.count);
    return ZERA_lTestAllocCount();
}

TEST(ParamList, GrowsOnlyWhenThe32ndParameterArrives) {
    ListBuilder b;
    while (b.count < 30) b.DWord("p", b.count);
    EXPECT_EQ(AllocationsOfAdd(b), 1);  // the 31st: name block only
    EXPECT_EQ(AllocationsOfAdd(b), 2);  // the 32nd (count 31): name block and the array
    while (b.count < 63) EXPECT_EQ(AllocationsOfAdd(b), 1);
    EXPECT_EQ(AllocationsOfAdd(b), 2);  // count 63: grows to 96 records
    for (uint32_t i = 0; i < b.count; ++i) EXPECT_EQ(b.list[i].uValue.dw, i);
    EXPECT_EQ(b.list[b.count].pName, nullptr);
}

TEST(ParamList, WithoutGrowTheCallerProvidesRoom) {
    Param *list = static_cast<Param *>(ZERA_pvCalloc(40, sizeof(Param)));
    list[0].dwType = ZERA_PARAM_DWORD;
    uint32_t count = 0;
    ParamValue **cursor = nullptr;
    for (int i = 0; i < 39; ++i) ASSERT_TRUE(ZERA_boAddParamA(0, 0, &list, &count, &cursor, 1, 0, 0, 0, 0, "p", 1u));
    EXPECT_EQ(count, 39u);
    ZERA_vDeleteParamListA(list);
}

TEST(ParamList, ShrinksWhen31Remain) {
    ListBuilder b;
    while (b.count < 33) b.DWord("p", b.count);
    auto deleteFirst = [&b](bool shrink) {
        ZERA_vTestFailAllocAfter(-1);
        EXPECT_TRUE(ZERA_boDeleteParamA(shrink, &b.list, nullptr));
        --b.count;
        return ZERA_lTestAllocCount();
    };
    EXPECT_EQ(deleteFirst(true), 0);  // 32 remain
    EXPECT_EQ(deleteFirst(true), 1);  // 31 remain: reduced to 32 records
    EXPECT_EQ(deleteFirst(true), 0);  // 30 remain
    EXPECT_EQ(b.list[0].uValue.dw, 3u);
    EXPECT_EQ(b.list[30].pName, nullptr);

    // A failed shrink keeps the larger array and still removes the parameter.
    ListBuilder c;
    while (c.count < 32) c.DWord("p", c.count);
    Param *before = c.list;
    ZERA_vTestFailAllocAfter(0);
    EXPECT_TRUE(ZERA_boDeleteParamA(1, &c.list, nullptr));
    ZERA_vTestFailAllocAfter(-1);
    c.count--;
    EXPECT_EQ(c.list, before);
    EXPECT_EQ(c.list[0].uValue.dw, 1u);
    EXPECT_EQ(c.list[31].pName, nullptr);
}

TEST(ParamList, DeleteMarksShapeAndMovesLaterRecordsDown) {
    ListBuilder b;
    b.DWord("a", 1);
    b.DWord("b", 2);
    b.DWord("c", 3);
    b.list[0].u8ChangeFlags = 0;
    ASSERT_TRUE(ZERA_boDeleteParamA(0, &b.list, "b"));
    EXPECT_EQ(b.list[0].u8ChangeFlags & ZERA_CHANGE_SHAPE, ZERA_CHANGE_SHAPE);
    EXPECT_EQ(zt::NStr(b.list[1].pName), "c");
    EXPECT_EQ(b.list[2].pName, nullptr);

    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boDeleteParamA(0, &b.list, "b"));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    ASSERT_TRUE(ZERA_boDeleteParamA(0, &b.list, nullptr));
    ASSERT_TRUE(ZERA_boDeleteParamA(0, &b.list, nullptr));
    OSAL_vSetLastError(kSentinelCode);
    EXPECT_FALSE(ZERA_boDeleteParamA(0, &b.list, nullptr));  // empty: false, no code
    EXPECT_EQ(OSAL_dwGetLastError(), kSentinelCode);
    b.count = 0;
}

TEST(ParamList, NamesCompareExactlyAndOnlyUpToTheirNul) {
    ListBuilder b;
    b.Str("Gain\0first", "1", 0, true);
    b.Str("gain", "2");
    b.Str("Gain\0second", "3", 0, true);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "Gain"), &b.list[0]);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "gain"), &b.list[1]);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "GAIN"), nullptr);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "Gainfirst"), nullptr);
    ASSERT_TRUE(ZERA_boDeleteParamA(0, &b.list, "Gain"));  // the first of the two
    EXPECT_EQ(zt::NText(ZERA_pastFindParamA(b.list, "Gain")->pName), "second");
    ASSERT_TRUE(ZERA_boDeleteParamA(0, &b.list, "Gain"));
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "Gain"), nullptr);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "gain"), &b.list[0]);
}

TEST(ParamList, WideListsCompareSixteenBitNames) {
    ListBuilder b(true);
    b.Str("Name\0text", "value", 0, true);
    b.DWord("Count", 3);
    const Param *p = ZERA_pastFindParamW(b.list, W(u"Name"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(zt::WStr(p->pName), u"Name");
    EXPECT_EQ(zt::WText(p->pName), u"text");
    EXPECT_EQ(zt::WStr(p->uValue.ls), u"value");
    EXPECT_EQ(ZERA_pastFindParamW(b.list, W(u"count")), nullptr);
    const char16_t unitAbove255[] = {u'C', 0x0141, 0};
    EXPECT_EQ(ZERA_pastFindParamW(b.list, W(unitAbove255)), nullptr);
    ASSERT_TRUE(ZERA_boDeleteParamW(1, &b.list, W(u"Name")));
    EXPECT_EQ(zt::WStr(b.list[0].pName), u"Count");
}

TEST(ParamList, ValueChainsGrowAtTheCursorAndOwnTheirStrings) {
    ListBuilder b;
    b.Str("Mode", "a");
    b.StrValue(ZERA_VALUE_RANGE, "a", "m", 1);
    b.StrValue(ZERA_VALUE_SINGLE, "z", "ignored", 2);
    b.StrValue(ZERA_VALUE_SINGLE, nullptr, nullptr, 3);  // a null string stays null
    const ParamValue *v = b.list[0].pstValues;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->dwKind, 1u);
    EXPECT_STREQ(v->uFrom.hs, "a");
    EXPECT_STREQ(v->uTo.hs, "m");
    v = v->pstNext;
    EXPECT_STREQ(v->uFrom.hs, "z");
    EXPECT_EQ(v->uTo.pv, nullptr);  // only uFrom is copied for a single value
    EXPECT_EQ(v->dwTag, 2u);
    v = v->pstNext;
    EXPECT_EQ(v->uFrom.pv, nullptr);
    EXPECT_EQ(v->pstNext, nullptr);
    EXPECT_EQ(b.cursor, &v->pstNext);

    ZERA_vDeleteValListW(&b.list[0]);
    EXPECT_EQ(b.list[0].pstValues, nullptr);

    b.Real("Rate", 1.0);
    b.RealValue(ZERA_VALUE_RANGE, 0.5, 4.5, 9);
    EXPECT_EQ(b.list[1].pstValues->uFrom.r, 0.5);
    EXPECT_EQ(b.list[1].pstValues->uTo.r, 4.5);
}

TEST(ParamList, CopiesAreDeepAndComplete) {
    for (bool wide : {false, true}) {
        ListBuilder b(wide);
        b.Str("Mode\0how it runs", "fast", 0x30, true);
        b.StrValue(ZERA_VALUE_RANGE, "a", "m", 1);
        b.StrValue(ZERA_VALUE_SINGLE, "z", nullptr, 2);
        b.DWord("Gain", 5);
        b.DWordValue(ZERA_VALUE_RANGE, 1, 9, 4);
        b.Real("Rate", 1.5);
        b.list[1].u8ChangeFlags = 0;

        Param *copy = nullptr;
        ASSERT_TRUE(zera::CopyParamList(wide, b.list, &copy));
        ASSERT_NE(copy, b.list);
        for (uint32_t i = 0; i <= b.count; ++i) {
            EXPECT_EQ(copy[i].dwType, b.list[i].dwType);
            EXPECT_EQ(copy[i].u8Attributes, b.list[i].u8Attributes);
            EXPECT_EQ(copy[i].u8ChangeFlags, b.list[i].u8ChangeFlags);
            EXPECT_EQ(copy[i].u8Tag, b.list[i].u8Tag);
            EXPECT_EQ(copy[i].pName == nullptr, b.list[i].pName == nullptr);
        }
        EXPECT_NE(copy[0].pName, b.list[0].pName);
        EXPECT_NE(copy[0].uValue.pv, b.list[0].uValue.pv);
        if (wide) {
            EXPECT_EQ(zt::WText(copy[0].pName), u"how it runs");
            EXPECT_EQ(zt::WStr(copy[0].pstValues->uTo.ls), u"m");
        } else {
            EXPECT_EQ(zt::NText(copy[0].pName), "how it runs");
            EXPECT_STREQ(copy[0].pstValues->uTo.hs, "m");
        }
        EXPECT_EQ(copy[1].pstValues->uTo.dw, 9u);
        EXPECT_EQ(copy[2].uValue.r, 1.5);

        Param *single = nullptr;
        ASSERT_TRUE(zera::CopyParamToNewList(wide, &b.list[0], &single));
        EXPECT_EQ(zera::CountParams(single), 1u);
        EXPECT_EQ(single[0].pstValues->pstNext->dwTag, 2u);
        ZERA_vDeleteParamListA(single);
        ZERA_vDeleteParamListA(copy);  // the source is still whole: the builder frees it
    }
    Param *none = nullptr;
    EXPECT_FALSE(zera::CopyParamList(false, nullptr, &none));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
}

}  // namespace
