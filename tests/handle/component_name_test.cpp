// handle/component_name_test.cpp - cutting a component name out of a file or
// module name, and the name operations along a stack.
#include <string>

#include "handle/test_stack.h"

namespace {

std::u16string Wide(const char *s) {
    std::u16string w;
    for (; *s != 0; ++s) w.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
    return w;
}
std::u16string Wide(const WCHAR16 *s) {
    return s != nullptr ? std::u16string(reinterpret_cast<const char16_t *>(s)) : u"(null)";
}

TEST(ComponentName, SeparatorAndSuffixRules) {
    const struct {
        const char *name;
        const char *component;
    } cases[] = {
        {"C:\\comp\\Filter.component", "Filter"},
        {"a.b.DLL", "a.b"},
        {"name.PLUGIN.DLL", "name.PLUGIN"},
        {".DLL", ".DLL"},  // the name must be longer than the suffix
        {"x.Dll", "x"},
        {"VOQ_ZERA.dll", "VOQ_ZERA"},
        {"VOQ_ZERA.component", "VOQ_ZERA"},
        {"tool.exe", "tool"},
        {"x.COMPONENT.plugin", "x.COMPONENT"},  // one suffix only
        {"x.dllx", "x.dllx"},
        {"dir/sub\\leaf.PLUGIN", "leaf"},
        {"dir\\sub/leaf", "leaf"},
        {"a/b:c.dll", "c"},  // after the last of the three separators
        {"C:", ""},
        {"", ""},
        {"dir/", ""},
    };
    for (const auto &c : cases) {
        const zera::NameSpan narrow = zera::ComponentNameSpan(c.name);
        EXPECT_EQ(std::string(c.name + narrow.offset, narrow.length), c.component) << c.name;
        const std::u16string wide = Wide(c.name);
        const zera::NameSpan span = zera::ComponentNameSpan(reinterpret_cast<const WCHAR16 *>(wide.c_str()));
        EXPECT_TRUE(wide.substr(span.offset, span.length) == Wide(c.component)) << "wide " << c.name;
    }
}

// The level's name block is the string of the width it was built from, with
// the other width after it (an odd length places it differently).
TEST(ComponentName, BlockHoldsBothWidths) {
    void *narrowFirst = zera::BuildLevelName("C:\\comp\\abc.component");
    ASSERT_NE(narrowFirst, nullptr);
    EXPECT_EQ(zera::LevelNameNarrow(narrowFirst, false), narrowFirst);
    EXPECT_STREQ(zera::LevelNameNarrow(narrowFirst, false), "abc");
    EXPECT_TRUE(Wide(zera::LevelNameWide(narrowFirst, false)) == u"abc");
    ZERA_vFree(narrowFirst);
    const std::u16string source = u"dir/Sm\u263Aile.DLL";
    void *wideFirst = zera::BuildLevelName(reinterpret_cast<const WCHAR16 *>(source.c_str()));
    ASSERT_NE(wideFirst, nullptr);
    EXPECT_EQ(static_cast<const void *>(zera::LevelNameWide(wideFirst, true)), wideFirst);
    EXPECT_TRUE(Wide(zera::LevelNameWide(wideFirst, true)) == u"Sm\u263Aile");
    EXPECT_STREQ(zera::LevelNameNarrow(wideFirst, true), "Sm?ile");
    ZERA_vFree(wideFirst);
    EXPECT_EQ(zera::LevelNameNarrow(nullptr, false), nullptr);
    EXPECT_EQ(zera::LevelNameWide(nullptr, true), nullptr);
    AllocFailureGuard guard;
    ZERA_vTestFailAllocAfter(0);
    EXPECT_EQ(zera::BuildLevelName("x.DLL"), nullptr);
}

TEST(ComponentName, LevelZeroIsNamedAfterTheLibraryOnRequest) {
    TestStack stack, wide;
    StackHandle *h0 = stack.h0();
    {
        AllocFailureGuard guard;
        ZERA_vTestFailAllocAfter(0);
        EXPECT_EQ(ZERA_hsComponentNameA(h0, 0), nullptr);
        EXPECT_EQ(h0->pvComponentName, nullptr);
    }
    const char *narrow = ZERA_hsComponentNameA(h0, 0);  // built on the next request
    EXPECT_STREQ(narrow, "VOQ_ZERA");
    EXPECT_EQ(narrow, h0->pvComponentName);
    EXPECT_TRUE(Wide(ZERA_lsComponentNameW(h0, 0)) == u"VOQ_ZERA");
    EXPECT_EQ(ZERA_hsComponentNameA(h0, 64), narrow);  // only the low 6 bits count

    wide.h0()->boWide = 1;
    EXPECT_TRUE(Wide(ZERA_lsComponentNameW(wide.h0(), 0)) == u"VOQ_ZERA");
    EXPECT_EQ(static_cast<const void *>(ZERA_lsComponentNameW(wide.h0(), 0)), wide.h0()->pvComponentName);
    EXPECT_STREQ(ZERA_hsComponentNameA(wide.h0(), 0), "VOQ_ZERA");

    EXPECT_REFUSED(ZERA_hsComponentNameA(nullptr, 0), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(ZERA_hsComponentNameA(h0, 1), OSAL_ERR_INVALID_HANDLE);  // above the top
    EXPECT_REFUSED(ZERA_lsComponentNameW(h0, 5), OSAL_ERR_INVALID_HANDLE);
    stack.Add();  // a level whose entry table is not filled cannot answer
    EXPECT_REFUSED(ZERA_hsComponentNameA(h0, 1), OSAL_ERR_INVALID_HANDLE);
}

// A level with a module and the name slots in its entry table.
StackHandle *AddComponentLevel(TestStack &stack, OSAL_HMODULE module, bool wide) {
    StackHandle *h = stack.Add();
    h->hModule = module;
    h->boWide = wide ? 1 : 0;
    h->apfnEntry[zera::kEntryComponentNameA] = reinterpret_cast<ZERA_PFN>(ZERA_hsComponentNameA);
    h->apfnEntry[zera::kEntryComponentNameW] = reinterpret_cast<ZERA_PFN>(ZERA_lsComponentNameW);
    return h;
}

// Levels are named from their module's export of their width, reached
// through the entry slots of the levels above; a module without the export
// gives null.
TEST(ComponentName, ModuleLevelsAreNamedFromTheirModulesExport) {
    OSAL_HMODULE kit = OSAL_hLoadLibraryA("KitCheck.COMPONENT");
#if defined(_WIN32)
    OSAL_HMODULE plain = OSAL_hLoadLibraryA("VOQ_OSAL.dll");
#else
    OSAL_HMODULE plain = OSAL_hLoadLibraryA("libVOQ_OSAL.so");
#endif
    ASSERT_TRUE(kit && plain) << OSAL_pszGetLastErrorText();
    {
        TestStack stack;
        StackHandle *h1 = AddComponentLevel(stack, kit, false);
        StackHandle *h2 = AddComponentLevel(stack, kit, true);
        StackHandle *h3 = AddComponentLevel(stack, plain, false);
        EXPECT_STREQ(ZERA_hsComponentNameA(stack.h0(), 1), "KitCheck");
        EXPECT_EQ(static_cast<const void *>(ZERA_hsComponentNameA(stack.h0(), 1)), h1->pvComponentName);
        EXPECT_TRUE(Wide(ZERA_lsComponentNameW(stack.h0(), 2)) == u"KitCheck");
        EXPECT_EQ(static_cast<const void *>(ZERA_lsComponentNameW(stack.h0(), 2)), h2->pvComponentName);
        EXPECT_STREQ(ZERA_hsComponentNameA(h1, 2), "KitCheck");
        EXPECT_EQ(ZERA_hsComponentNameA(stack.h0(), 3), nullptr);
        h3->boWide = 1;
        EXPECT_EQ(ZERA_lsComponentNameW(h3, 3), nullptr);
        EXPECT_EQ(h3->pvComponentName, nullptr);

        // Levels below are not visited: level 2 answers for level 1 with its own name.
        h2->boWide = 0;
        ZERA_vFree(h2->pvComponentName);
        h2->pvComponentName = zera::BuildLevelName("Other.COMPONENT");
        EXPECT_STREQ(ZERA_hsComponentNameA(h2, 1), "Other");
        EXPECT_STREQ(ZERA_hsComponentNameA(h2, 66), "Other");  // 66 is level 2
        EXPECT_STREQ(ZERA_hsComponentNameA(h1, 1), "KitCheck");
        EXPECT_STREQ(ZERA_hsComponentNameA(stack.h0(), 0), "VOQ_ZERA");
        EXPECT_REFUSED(ZERA_hsComponentNameA(h1, 4), OSAL_ERR_INVALID_HANDLE);  // above the top
    }
    EXPECT_TRUE(OSAL_boFreeLibrary(kit));
    EXPECT_TRUE(OSAL_boFreeLibrary(plain));
}

}  // namespace
