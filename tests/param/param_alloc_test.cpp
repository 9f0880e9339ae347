// param/param_alloc_test.cpp - every allocation of the parameter lists made
// to fail in turn: the documented code, the documented state, no leak.
#include "param/param.h"
#include "param/param_test_util.h"

namespace {

using zt::ForEachAllocFailure;
using zt::ListBuilder;
using zt::W;

TEST(ParamAllocFailure, CreateLeavesNullList) {
    ForEachAllocFailure([](long) {
        Param *list = reinterpret_cast<Param *>(&list);
        const bool ok = ZERA_boCreateParListA(&list);
        EXPECT_EQ(list == nullptr, !ok);
        ZERA_vDeleteParamListA(list);
        return ok;
    });
}

// A string parameter added at count 31: the name block (1028), the array's
// growth (1026, array and marks untouched), the string copy (1026, the
// array enlarged and the marks set); the record is undone each time.
TEST(ParamAllocFailure, AddParamUndoesTheRecord) {
    for (bool wide : {false, true}) {
        ListBuilder b(wide);
        while (b.count < 31) b.DWord("p", b.count);
        b.list[0].u8ChangeFlags = 0;
        const Param *arrayBefore = b.list;
        ForEachAllocFailure([&](long n) {
            ParamValue **cursor = nullptr;
            bool ok = wide ? ZERA_boAddParamW(1, 0, &b.list, &b.count, &cursor, ZERA_PARAM_STRING, 0, 0, 0, 0,
                                              W(u"Mode"), W(u"fast"))
                           : ZERA_boAddParamA(1, 0, &b.list, &b.count, &cursor, ZERA_PARAM_STRING, 0, 0, 0, 0,
                                              "Mode", "fast");
            if (ok) return true;
            EXPECT_EQ(OSAL_dwGetLastError(), n == 0 ? OSAL_ERR_INVALID_ARG : OSAL_ERR_NO_MEMORY);
            EXPECT_EQ(b.count, 31u);
            EXPECT_EQ(b.list[31].pName, nullptr);
            EXPECT_TRUE(n >= 2 || b.list == arrayBefore);
            EXPECT_EQ(b.list[0].u8ChangeFlags, n < 2 ? 0 : 3);
            return false;
        });
        EXPECT_EQ(b.count, 32u);
        EXPECT_EQ(wide ? zt::WStr(b.list[31].uValue.pv) : ListBuilder::Widen(b.list[31].uValue.hs, false), u"fast");
    }
}

TEST(ParamAllocFailure, AddValueLeavesTheSlotNull) {
    for (bool wide : {false, true}) {
        ListBuilder b(wide);
        b.Str("Mode", "x");
        ParamValue **start = b.cursor;
        ForEachAllocFailure([&](long) {
            b.cursor = start;
            bool ok = wide ? ZERA_boAddValueW(&b.cursor, ZERA_PARAM_STRING, 1, ZERA_VALUE_RANGE, W(u"a"), W(u"z"))
                           : ZERA_boAddValueA(&b.cursor, ZERA_PARAM_STRING, 1, ZERA_VALUE_RANGE, "a", "z");
            if (ok) return true;
            EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
            EXPECT_EQ(*start, nullptr);
            EXPECT_EQ(b.cursor, start);
            return false;
        });
        ASSERT_NE(b.list[0].pstValues, nullptr);
        EXPECT_EQ(b.list[0].pstValues->dwKind, 1u);
    }
}

TEST(ParamAllocFailure, CopiesLeaveNothingBehind) {
    for (bool wide : {false, true}) {
        ListBuilder b(wide);
        b.Str("Mode\0text", "fast", 0, true);
        b.StrValue(ZERA_VALUE_RANGE, "a", "m", 1);
        b.StrValue(ZERA_VALUE_SINGLE, "z", nullptr, 2);
        b.DWord("Gain", 5);
        b.DWordValue(ZERA_VALUE_SINGLE, 1, 0, 4);
        b.Str("Empty", nullptr);
        for (bool whole : {true, false}) {
            ForEachAllocFailure([&](long) {
                Param *copy = b.list;
                const bool ok = whole ? zera::CopyParamList(wide, b.list, &copy)
                                      : zera::CopyParamToNewList(wide, &b.list[0], &copy);
                EXPECT_EQ(zera::CountParams(copy), ok ? (whole ? 3u : 1u) : 0u);  // null after a failure
                EXPECT_TRUE(ok || OSAL_dwGetLastError() == OSAL_ERR_NO_MEMORY);
                ZERA_vDeleteParamListA(copy);
                return ok;
            });
        }
    }
}

}  // namespace
