// param/param_alloc_test.cpp - every allocation of the parameter lists made
// to fail in turn: the documented code, the documented state, no leak.
#include <tuple>

#include "param/param.h"
#include "param/param_test_util.h"
#include "support/refusal.h"

namespace {

using zt::ListBuilder;
using zt::SweepAllocFailures;

// A string parameter added at count 31: the name block (1028), the array's
// growth (1026, array and marks untouched), the string copy (1026, the
// array enlarged and the marks set); the record is undone each time. Then a
// value range, whose slot stays null.
TEST(ParamAllocFailure, AddParamAndAddValueUndoTheirRecord) {
    for (bool wide : {false, true}) {
        ListBuilder b(wide);
        while (b.count < 31) b.DWord("p", b.count);
        b.list[0].u8ChangeFlags = 0;
        const Param *arrayBefore = b.list;
        b.expectOk = false;
        long tries = 0;  // n + 1 after the try at failure point n
        SweepAllocFailures([&] { return ++tries, b.Str("Mode", "fast"); },
                           [&] {
                               return b.count == 31u && b.list[31].pName == nullptr &&
                                      (tries > 2 || b.list == arrayBefore) &&
                                      b.list[0].u8ChangeFlags == (tries <= 2 ? 0 : 3);
                           },
                           [](bool) {}, 1, [](long n) { return n == 0 ? OSAL_ERR_INVALID_ARG : OSAL_ERR_NO_MEMORY; });
        EXPECT_EQ(zt::Str16(b.list[31].uValue.pv, wide), u"fast");

        ParamValue **start = b.cursor;
        SweepAllocFailures([&] { return b.cursor = start, b.StrValue(ZERA_VALUE_RANGE, "a", "z", 1); },
                           [&] { return *start == nullptr && b.cursor == start; }, [](bool) {});
        EXPECT_EQ(zt::Str16(b.list[31].pstValues->uTo.pv, wide), u"z");
    }
}

// A copy is deep and complete; a failed one leaves the caller's pointer null.
TEST(ParamAllocFailure, CopiesAreWholeOrNothing) {
    auto fields = [](const Param &p) {
        return std::make_tuple(p.dwType, p.dwAccess, p.u8Attributes, p.u8ChangeFlags, p.u8Tag, p.pName == nullptr,
                               p.dwType == ZERA_PARAM_STRING ? 0 : p.uValue.qw);
    };
    for (bool wide : {false, true}) {
        ListBuilder b(wide);
        b.FillEveryKind();
        b.list[1].u8ChangeFlags = 0;
        for (bool whole : {true, false}) {
            Param *copy = nullptr;
            auto make = [&] {
                copy = b.list;
                return whole ? zera::CopyParamList(wide, b.list, &copy) : zera::CopyParamToNewList(wide, &b.list[0], &copy);
            };
            SweepAllocFailures(make, [&] { return copy == nullptr; }, [&](bool) {
                EXPECT_EQ(zera::CountParams(copy), whole ? 5u : 1u);
                for (uint32_t i = 0; i < (whole ? 6u : 1u); ++i) EXPECT_EQ(fields(copy[i]), fields(b.list[i])) << i;
                EXPECT_TRUE(copy[0].pName != b.list[0].pName && copy[0].uValue.pv != b.list[0].uValue.pv);
                const ParamValue *v = copy[0].pstValues;
                EXPECT_EQ(zt::Text16(copy[0].pName, wide) + zt::Str16(v->uTo.pv, wide) +
                              zt::Str16(v->pstNext->uFrom.pv, wide),
                          u"how it runsmz");
                EXPECT_TRUE(v->pstNext->dwTag == 2u && (!whole || copy[1].pstValues->uTo.dw == 9u));
                ZERA_vDeleteParamListA(copy);
            });
        }
    }
    Param *none = nullptr;
    EXPECT_REFUSED(zera::CopyParamList(false, nullptr, &none), OSAL_ERR_INVALID_ARG);
}

}  // namespace
