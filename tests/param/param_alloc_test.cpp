// param/param_alloc_test.cpp - every allocation of the parameter lists made
// to fail in turn: the documented code, the documented state, no leak.
#include <cstring>

#include "param/param.h"
#include "param/param_test_util.h"

namespace {

using zt::ForEachAllocFailure;
using zt::ListBuilder;
using zt::W;

TEST(ParamAllocFailure, CreateLeavesNullList) {
    ForEachAllocFailure([](long) {
        Param *list = reinterpret_cast<Param *>(&list);
        if (!ZERA_boCreateParListA(&list)) {
            EXPECT_EQ(list, nullptr);
            return false;
        }
        ZERA_vDeleteParamListA(list);
        return true;
    });
}

// A string parameter added at count 31: name block, array growth, string copy.
TEST(ParamAllocFailure, AddParamUndoesEverything) {
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
            const uint32_t code = OSAL_dwGetLastError();
            EXPECT_EQ(b.count, 31u);
            EXPECT_EQ(b.list[31].pName, nullptr);
            if (n == 0) {
                EXPECT_EQ(code, OSAL_ERR_INVALID_ARG);  // the name block
                EXPECT_EQ(b.list, arrayBefore);
                EXPECT_EQ(b.list[0].u8ChangeFlags, 0);
            } else if (n == 1) {
                EXPECT_EQ(code, OSAL_ERR_NO_MEMORY);  // the array cannot grow
                EXPECT_EQ(b.list, arrayBefore);
                EXPECT_EQ(b.list[0].u8ChangeFlags, 0);
            } else {
                EXPECT_EQ(code, OSAL_ERR_NO_MEMORY);  // the string value: array enlarged, marks kept
                EXPECT_EQ(b.list[0].u8ChangeFlags, 3);
            }
            return false;
        });
        EXPECT_EQ(b.count, 32u);
        if (wide) {
            EXPECT_EQ(zt::WStr(b.list[31].uValue.pv), u"fast");
        } else {
            EXPECT_EQ(zt::NStr(b.list[31].uValue.pv), "fast");
        }
    }
}

TEST(ParamAllocFailure, AddValueLeavesSlotNull) {
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
        ForEachAllocFailure([&](long) {
            Param *copy = b.list;
            if (!zera::CopyParamList(wide, b.list, &copy)) {
                EXPECT_EQ(copy, nullptr);
                EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
                return false;
            }
            EXPECT_EQ(zera::CountParams(copy), 3u);
            ZERA_vDeleteParamListA(copy);
            return true;
        });
        ForEachAllocFailure([&](long) {
            Param *copy = b.list;
            if (!zera::CopyParamToNewList(wide, &b.list[0], &copy)) {
                EXPECT_EQ(copy, nullptr);
                EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
                return false;
            }
            EXPECT_EQ(zera::CountParams(copy), 1u);
            ZERA_vDeleteParamListW(copy);
            return true;
        });
    }
}

}  // namespace
