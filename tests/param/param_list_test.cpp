// param/param_list_test.cpp - building, finding and removing parameters,
// value chains, growth and shrink points, change marks, the two widths.
#include "param/param.h"
#include "param/param_test_util.h"
#include "support/refusal.h"

namespace {

using zt::ListBuilder;
using zt::W;

TEST(ParamList, AddFillsRecordsNameBlocksValueChainsAndChangeMarks) {
    ListBuilder b;
    b.Str("Mode", "fast", 0xFF);
    EXPECT_EQ(0, std::memcmp(b.list[0].pName, "Mode\0\0", 6));  // without boTwoStrings: the name and two NULs
    EXPECT_EQ(b.list[0].u8ChangeFlags, 1);    // the first record: its own mark, the OR 3 overwritten
    b.StrValue(ZERA_VALUE_RANGE, "a", "m", 1);
    b.StrValue(ZERA_VALUE_SINGLE, "z", "ignored", 2);  // only uFrom is copied for a single value
    b.StrValue(ZERA_VALUE_SINGLE, nullptr, nullptr, 3);  // a null string stays null
    const ParamValue *v = b.list[0].pstValues;
    ASSERT_TRUE(v && v->pstNext && v->pstNext->pstNext);
    const ParamValue *last = v->pstNext->pstNext;
    EXPECT_EQ(zt::NStr(v->uFrom.hs) + zt::NStr(v->uTo.hs) + zt::NStr(v->pstNext->uFrom.hs), "amz");
    EXPECT_TRUE(v->dwKind == 1u && v->pstNext->uTo.pv == nullptr && last->uFrom.pv == nullptr && last->dwTag == 3u);
    EXPECT_TRUE(b.cursor == &last->pstNext && last->pstNext == nullptr);
    ZERA_vDeleteValListW(&b.list[0]);
    EXPECT_EQ(b.list[0].pstValues, nullptr);

    b.list[0].u8ChangeFlags = 0;
    b.Str("Path\0default path", "/tmp", 0, true);
    EXPECT_EQ(b.list[0].u8ChangeFlags, 3);  // a later add marks value and shape on the first record
    EXPECT_EQ(zt::Text16(b.list[1].pName, false), u"default path");
    ASSERT_TRUE(ZERA_boAddParamA(1, 0, &b.list, &b.count, &b.cursor, 9, 0, 0, 0, 0, "odd"));  // takes no value
    EXPECT_EQ(b.list[2].uValue.qw, 0u);
    EXPECT_REFUSED(ZERA_boAddParamA(1, 0, &b.list, &b.count, &b.cursor, 1, 0, 0, 0, 0, nullptr, 1u),
                   OSAL_ERR_INVALID_ARG);
    EXPECT_TRUE(b.count == 3u && b.list[3].pName == nullptr);
    Param *none = nullptr;
    EXPECT_REFUSED(ZERA_boAddParamA(1, 0, &none, &b.count, &b.cursor, 1, 0, 0, 0, 0, "x", 1u), OSAL_ERR_NO_MEMORY);
}

// The settable bit follows the access class, and for classes 3 and 4 the
// creator's option bit 3. The allocation hook's count tells whether the
// array was reallocated: it grows when the 32nd and the 64th parameter
// arrive, and shrinks when 31 remain. A failed shrink keeps the larger array
// and still removes.
TEST(ParamList, SettableBitAndGrowthAndShrinkInStepsOf32) {
    const int settable[2][12] = {{1, 1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0},   // option bit 3 clear
                                 {1, 1, 0, 0, 1, 1, 0, 1, 0, 0, 0, 0}};  // option bit 3 set
    ListBuilder b;
    auto allocations = [](auto step, long failAfter = -1) {
        OSAL_vTestFailAllocAfter(failAfter);
        step();
        const long count = OSAL_lTestAllocCount();
        OSAL_vTestFailAllocAfter(-1);
        return count;
    };
    for (uint32_t i = 0; i < 65; ++i) {  // the name block, maybe the array
        const uint32_t access = i % 12, option = i / 12 % 2;
        auto add = [&] {
            EXPECT_TRUE(ZERA_boAddParamA(1, option ? 0x08 : 0xF7, &b.list, &b.count, &b.cursor, ZERA_PARAM_DWORD,
                                         access, 0x0E, 0, 0, "p", i));
        };
        EXPECT_EQ(allocations(add), i == 31 || i == 63 ? 2 : 1) << i;
        EXPECT_EQ(b.list[i].u8Attributes, settable[option][access]) << "access " << access << " option " << option;
    }
    auto deleteFirst = [&] { EXPECT_TRUE(ZERA_boDeleteParamA(1, &b.list, nullptr)); };
    for (uint32_t left = 64; left >= 32; --left) EXPECT_EQ(allocations(deleteFirst), left == 63 ? 1 : 0) << left;
    const Param *before = b.list;
    EXPECT_EQ(allocations(deleteFirst, 0), 1);  // 31 remain: the shrink is tried and fails
    EXPECT_TRUE(b.list == before && b.list[31].pName == nullptr);
    for (uint32_t i = 0; i < 31; ++i) EXPECT_EQ(b.list[i].uValue.dw, 34 + i);
}

TEST(ParamList, FindAndDeleteCompareWholeNamesExactly) {
    ListBuilder b;
    b.Str("Gain\0first", "1", 0, true);
    b.Str("gain", "2");
    b.Str("Gain\0second", "3", 0, true);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, nullptr), b.list);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "gain"), &b.list[1]);
    EXPECT_REFUSED(ZERA_pastFindParamA(b.list, "GAIN"), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(ZERA_pastFindParamA(b.list, "Gainfirst"), nullptr);

    b.list[0].u8ChangeFlags = 0;
    ASSERT_TRUE(ZERA_boDeleteParamA(0, &b.list, "Gain"));  // the first of the two; later records move down
    EXPECT_EQ(b.list[0].u8ChangeFlags & ZERA_CHANGE_SHAPE, ZERA_CHANGE_SHAPE);
    EXPECT_EQ(zt::Text16(ZERA_pastFindParamA(b.list, "Gain")->pName, false), u"second");
    ASSERT_TRUE(ZERA_boDeleteParamA(0, &b.list, "Gain"));
    EXPECT_REFUSED(ZERA_boDeleteParamA(0, &b.list, "Gain"), OSAL_ERR_INVALID_ARG);
    ASSERT_TRUE(ZERA_boDeleteParamA(0, &b.list, nullptr));
    OSAL_vSetLastError(OSAL_ERR_SYSTEM);  // a code no operation here stores
    EXPECT_FALSE(ZERA_boDeleteParamA(0, &b.list, nullptr));  // empty: false, no code
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_SYSTEM);

    ListBuilder w(true);
    w.Str("Name\0text", "value", 0, true);
    w.DWord("Count", 3);
    EXPECT_EQ(zt::Text16(ZERA_pastFindParamW(w.list, W(u"Name"))->pName, true), u"text");
    const char16_t unitAbove255[] = {u'C', 0x0141, 0};
    for (const char16_t *name : {u"count", unitAbove255}) EXPECT_EQ(ZERA_pastFindParamW(w.list, W(name)), nullptr);
    ASSERT_TRUE(ZERA_boDeleteParamW(1, &w.list, W(u"Name")));
    EXPECT_EQ(zt::WStr(w.list[0].pName), u"Count");
}

}  // namespace
