// handle/component_name_test.cpp - component names cut out of file names, and
// the name requests along a stack.
#include <string>

#include "handle/test_stack.h"

namespace {

using zt::Widen;
using zt::WStr;

TEST(ComponentName, SeparatorAndSuffixRules) {
    const struct {
        const char *name;
        const char *component;
    } cases[] = {
        {"C:\\comp\\Filter.component", "Filter"}, {"a.b.DLL", "a.b"}, {"tool.exe", "tool"},
        {".DLL", ".DLL"},  // the name must be longer than the suffix
        {"x.COMPONENT.plugin", "x.COMPONENT"},  // one suffix only
        {"x.dllx", "x.dllx"}, {"dir/sub\\leaf.PLUGIN", "leaf"},
        {"a/b:c.dll", "c"},  // after the last of the three separators
        {"C:", ""}, {"", ""},
    };
    for (const auto &c : cases) {
        const zera::NameSpan narrow = zera::ComponentNameSpan(c.name);
        EXPECT_EQ(std::string(c.name + narrow.offset, narrow.length), c.component) << c.name;
        const std::u16string wide = Widen(c.name);
        const zera::NameSpan span = zera::ComponentNameSpan(reinterpret_cast<const WCHAR16 *>(wide.c_str()));
        EXPECT_TRUE(wide.substr(span.offset, span.length) == Widen(c.component)) << "wide " << c.name;
    }
}

// Level 0 is named after the library on request; levels above from their module's export of their
// width; a module without one gives null.
TEST(ComponentName, LevelsAreNamedOnRequest) {
    OSAL_HMODULE named = OSAL_hLoadLibraryA("WideOnly.COMPONENT");
#if defined(_WIN32)
    OSAL_HMODULE plain = OSAL_hLoadLibraryA("VOQ_OSAL.dll");
#else
    OSAL_HMODULE plain = OSAL_hLoadLibraryA("libVOQ_OSAL.so");
#endif
    ASSERT_TRUE(named && plain) << OSAL_pszGetLastErrorText();
    {
        TestStack stack, wide;
        StackHandle *h[4] = {stack.h0()};
        const char *narrow = nullptr;  // built on the first request that has the memory
        SweepAllocFailures([&] { return narrow = ZERA_hsComponentNameA(h[0], 0); },
                           [&] { return h[0]->pvComponentName; }, [](const char *) {}, 1, 0u);  // no code
        EXPECT_TRUE(narrow == h[0]->pvComponentName && std::string(narrow) == "VOQ_ZERA");
        EXPECT_EQ(ZERA_hsComponentNameA(h[0], 64), narrow);  // only the low 6 bits count
        wide.h0()->boWide = 1;  // built wide first
        SweepAllocFailures([&] { return ZERA_lsComponentNameW(wide.h0(), 0); },
                           [&] { return wide.h0()->pvComponentName; }, [](const WCHAR16 *) {}, 1, 0u);
        EXPECT_TRUE(WStr(ZERA_lsComponentNameW(wide.h0(), 0)) == u"VOQ_ZERA");
        EXPECT_STREQ(ZERA_hsComponentNameA(wide.h0(), 0), "VOQ_ZERA");
        EXPECT_REFUSED(ZERA_lsComponentNameW(h[0], 5), OSAL_ERR_INVALID_HANDLE);  // above the top
        for (int n = 1; n <= 3; ++n) {
            h[n] = stack.Add();
            h[n]->hModule = n < 3 ? named : plain;
            h[n]->boWide = n == 2 ? 1 : 0;
            h[n]->apfnEntry[zera::kEntryComponentNameA] = reinterpret_cast<ZERA_PFN>(ZERA_hsComponentNameA);
            h[n]->apfnEntry[zera::kEntryComponentNameW] = reinterpret_cast<ZERA_PFN>(ZERA_lsComponentNameW);
        }
        EXPECT_STREQ(ZERA_hsComponentNameA(h[0], 1), "WideOnly");
        EXPECT_TRUE(WStr(ZERA_lsComponentNameW(h[0], 2)) == u"WideOnly");
        EXPECT_TRUE(h[1]->pvComponentName != nullptr && h[2]->pvComponentName != nullptr);  // kept by the level
        EXPECT_TRUE(ZERA_hsComponentNameA(h[0], 3) == nullptr && h[3]->pvComponentName == nullptr);
        // Levels below are not visited: level 2 answers for level 1 with its own name.
        h[2]->boWide = 0;
        ZERA_vFree(h[2]->pvComponentName);
        h[2]->pvComponentName = zera::BuildLevelName("Other.COMPONENT");
        EXPECT_STREQ(ZERA_hsComponentNameA(h[2], 1), "Other");
        EXPECT_STREQ(ZERA_hsComponentNameA(h[1], 66), "Other");  // 66 is level 2
        EXPECT_REFUSED(ZERA_hsComponentNameA(h[1], 4), OSAL_ERR_INVALID_HANDLE);  // above the top
        stack.Add();  // a level whose entry table is not filled cannot answer
        EXPECT_REFUSED(ZERA_hsComponentNameA(h[0], 4), OSAL_ERR_INVALID_HANDLE);
    }
    EXPECT_TRUE(OSAL_boFreeLibrary(named));
    EXPECT_TRUE(OSAL_boFreeLibrary(plain));
}

}  // namespace
