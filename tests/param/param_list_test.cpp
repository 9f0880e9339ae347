// param/param_list_test.cpp - building, finding and removing parameters,
// value chains, growth and shrink points, change marks, copies, the two
// widths.
#include <tuple>

#include "param/param.h"
#include "param/param_test_util.h"

namespace {

using zt::ListBuilder;
using zt::W;

TEST(ParamList, CreateAndAddFillRecordsNameBlocksAndChangeMarks) {
    ListBuilder b;
    EXPECT_EQ(b.list[0].pName, nullptr);
    EXPECT_EQ(b.list[0].dwType, ZERA_PARAM_DWORD);
    EXPECT_EQ(b.list[0].u8ChangeFlags, 3);
    b.Str("Mode", "fast", 0xFF);
    const Param &p = b.list[0];
    EXPECT_EQ(b.cursor, &b.list[0].pstValues);
    EXPECT_EQ(0, std::memcmp(p.pName, "Mode\0\0", 6));  // without boTwoStrings: the name and two NULs
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
    EXPECT_EQ(zt::NText(b.list[2].pName), "default path");
    b.Real("Rate", 2.5);
    EXPECT_EQ(b.list[3].uValue.r, 2.5);
    ASSERT_TRUE(ZERA_boAddParamA(1, 0, &b.list, &b.count, &b.cursor, 9, 0, 0, 0, 0, "odd"));  // takes no value
    EXPECT_EQ(b.list[4].uValue.qw, 0u);
    EXPECT_EQ(b.count, 5u);
}

TEST(ParamList, SettableBitFollowsAccessClassAndOption) {
    const int expected[2][12] = {
        {1, 1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0},  // option bit 3 clear
        {1, 1, 0, 0, 1, 1, 0, 1, 0, 0, 0, 0},  // option bit 3 set
    };
    for (int opt = 0; opt < 2; ++opt) {
        ListBuilder b;
        for (uint32_t access = 0; access < 12; ++access) {
            ASSERT_TRUE(ZERA_boAddParamA(1, static_cast<uint8_t>(opt ? 0x08 : 0xF7), &b.list, &b.count, &b.cursor,
                                         ZERA_PARAM_DWORD, access, 0x0E, 0, 0, "p", 0u));
            EXPECT_EQ(b.list[access].u8Attributes, expected[opt][access]) << "access " << access << " opt " << opt;
        }
    }
}

TEST(ParamList, AddRefusesANullNameAndAMissingList) {
    ListBuilder b;
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boAddParamA(1, 0, &b.list, &b.count, &b.cursor, 1, 0, 0, 0, 0, nullptr, 1u));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(b.count, 0u);
    EXPECT_EQ(b.list[0].pName, nullptr);
    Param *none = nullptr;
    EXPECT_FALSE(ZERA_boAddParamA(1, 0, &none, &b.count, &b.cursor, 1, 0, 0, 0, 0, "x", 1u));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
    EXPECT_EQ(none, nullptr);
}

// The allocation hook's count tells whether the array was reallocated: it
// grows when the 32nd and the 64th parameter arrive, and shrinks when 31
// remain. A failed shrink keeps the larger array and still removes.
TEST(ParamList, GrowsAndShrinksInStepsOf32) {
    ListBuilder b;
    for (uint32_t i = 0; i < 65; ++i) {
        ZERA_vTestFailAllocAfter(-1);
        b.DWord("p", i);
        EXPECT_EQ(ZERA_lTestAllocCount(), i == 31 || i == 63 ? 2 : 1) << i;  // the name block, maybe the array
    }
    auto deleteFirst = [&b](long failAfter) {
        ZERA_vTestFailAllocAfter(failAfter);
        EXPECT_TRUE(ZERA_boDeleteParamA(1, &b.list, nullptr));
        --b.count;
        const long count = ZERA_lTestAllocCount();
        ZERA_vTestFailAllocAfter(-1);
        return count;
    };
    while (b.count > 32) {
        const long allocations = deleteFirst(-1);
        EXPECT_EQ(allocations, b.count == 63 ? 1 : 0) << b.count;
    }
    const Param *before = b.list;
    EXPECT_EQ(deleteFirst(0), 1);  // 31 remain: the shrink is tried and fails
    EXPECT_EQ(b.list, before);
    EXPECT_EQ(b.list[0].uValue.dw, 34u);
    EXPECT_EQ(b.list[31].pName, nullptr);
    for (uint32_t i = 0; i < b.count; ++i) EXPECT_EQ(b.list[i].uValue.dw, 34 + i);
}

TEST(ParamList, FindAndDeleteCompareWholeNamesExactly) {
    ListBuilder b;
    b.Str("Gain\0first", "1", 0, true);
    b.Str("gain", "2");
    b.Str("Gain\0second", "3", 0, true);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, nullptr), b.list);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "Gain"), &b.list[0]);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "gain"), &b.list[1]);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "GAIN"), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "Gainfirst"), nullptr);

    b.list[0].u8ChangeFlags = 0;
    ASSERT_TRUE(ZERA_boDeleteParamA(0, &b.list, "Gain"));  // the first of the two; later records move down
    EXPECT_EQ(b.list[0].u8ChangeFlags & ZERA_CHANGE_SHAPE, ZERA_CHANGE_SHAPE);
    EXPECT_EQ(zt::NText(ZERA_pastFindParamA(b.list, "Gain")->pName), "second");
    EXPECT_EQ(b.list[2].pName, nullptr);
    ASSERT_TRUE(ZERA_boDeleteParamA(0, &b.list, "Gain"));
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boDeleteParamA(0, &b.list, "Gain"));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    ASSERT_TRUE(ZERA_boDeleteParamA(0, &b.list, nullptr));
    OSAL_vSetLastError(OSAL_ERR_SYSTEM);  // a code no operation here stores
    EXPECT_FALSE(ZERA_boDeleteParamA(0, &b.list, nullptr));  // empty: false, no code
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_SYSTEM);
    b.count = 0;

    ListBuilder w(true);
    w.Str("Name\0text", "value", 0, true);
    w.DWord("Count", 3);
    const Param *p = ZERA_pastFindParamW(w.list, W(u"Name"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(zt::WText(p->pName), u"text");
    EXPECT_EQ(zt::WStr(p->uValue.ls), u"value");
    const char16_t unitAbove255[] = {u'C', 0x0141, 0};
    for (const char16_t *name : {u"count", unitAbove255}) EXPECT_EQ(ZERA_pastFindParamW(w.list, W(name)), nullptr);
    ASSERT_TRUE(ZERA_boDeleteParamW(1, &w.list, W(u"Name")));
    EXPECT_EQ(zt::WStr(w.list[0].pName), u"Count");
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
        SCOPED_TRACE(wide);
        ListBuilder b(wide);
        b.Str("Mode\0how it runs", "fast", 0x30, true);
        b.StrValue(ZERA_VALUE_RANGE, "a", "m", 1);
        b.StrValue(ZERA_VALUE_SINGLE, "z", nullptr, 2);
        b.DWord("Gain", 5);
        b.DWordValue(ZERA_VALUE_RANGE, 1, 9, 4);
        b.Real("Rate", 1.5);
        b.list[1].u8ChangeFlags = 0;

        Param *copy = nullptr, *single = nullptr;
        ASSERT_TRUE(zera::CopyParamList(wide, b.list, &copy));
        auto fields = [](const Param &p) {
            return std::make_tuple(p.dwType, p.dwAccess, p.u8Attributes, p.u8ChangeFlags, p.u8Tag, p.pName == nullptr);
        };
        for (uint32_t i = 0; i <= b.count; ++i) EXPECT_EQ(fields(copy[i]), fields(b.list[i])) << i;
        EXPECT_NE(copy[0].pName, b.list[0].pName);
        EXPECT_NE(copy[0].uValue.pv, b.list[0].uValue.pv);
        EXPECT_EQ(wide ? zt::WText(copy[0].pName) : ListBuilder::Widen(zt::NText(copy[0].pName).c_str(), false),
                  u"how it runs");
        EXPECT_EQ(wide ? zt::WStr(copy[0].pstValues->uTo.pv) : ListBuilder::Widen(copy[0].pstValues->uTo.hs, false),
                  u"m");
        EXPECT_EQ(copy[1].pstValues->uTo.dw, 9u);
        EXPECT_EQ(copy[2].uValue.r, 1.5);

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
