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

std::string Cut(const char *name) {
    const zera::NameSpan span = zera::ComponentNameSpan(name);
    return std::string(name + span.offset, span.length);
}

std::u16string Cut(const std::u16string &name) {
    const zera::NameSpan span = zera::ComponentNameSpan(reinterpret_cast<const WCHAR16 *>(name.c_str()));
    return name.substr(span.offset, span.length);
}

TEST(ComponentName, SeparatorAndSuffixRules) {
    const struct {
        const char *name;
        const char *component;
    } cases[] = {
        {"C:\\comp\\Filter.component", "Filter"},
        {"a.b.DLL", "a.b"},
        {"name.PLUGIN.DLL", "name.PLUGIN"},
        {".DLL", ".DLL"},           // the name must be longer than the suffix
        {"x.Dll", "x"},
        {"VOQ_ZERA.dll", "VOQ_ZERA"},
        {"VOQ_ZERA.component", "VOQ_ZERA"},
        {"tool.exe", "tool"},
        {"x.COMPONENT.plugin", "x.COMPONENT"},  // one suffix only
        {"x.dllx", "x.dllx"},
        {"dir/sub\\leaf.PLUGIN", "leaf"},
        {"dir\\sub/leaf", "leaf"},
        {"a/b:c.dll", "c"},          // after the last of the three separators
        {"C:", ""},
        {"", ""},
        {"dir/", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Cut(c.name), c.component) << c.name;
        EXPECT_TRUE(Cut(Wide(c.name)) == Wide(c.component)) << "wide " << c.name;
    }
}

TEST(ComponentName, BlockHoldsBothWidths) {
    void *narrowFirst = zera::BuildLevelName("C:\\comp\\Filter.component");
    ASSERT_NE(narrowFirst, nullptr);
    EXPECT_EQ(zera::LevelNameNarrow(narrowFirst, false), narrowFirst);  // the block is the level's string
    EXPECT_STREQ(zera::LevelNameNarrow(narrowFirst, false), "Filter");
    EXPECT_TRUE(std::u16string(reinterpret_cast<const char16_t *>(zera::LevelNameWide(narrowFirst, false))) ==
                u"Filter");
    ZERA_vFree(narrowFirst);

    // Odd and even lengths place the wide part differently.
    void *odd = zera::BuildLevelName("abc");
    ASSERT_NE(odd, nullptr);
    EXPECT_TRUE(std::u16string(reinterpret_cast<const char16_t *>(zera::LevelNameWide(odd, false))) == u"abc");
    ZERA_vFree(odd);

    const std::u16string source = u"dir/Sm\u263Aile.DLL";
    void *wideFirst = zera::BuildLevelName(reinterpret_cast<const WCHAR16 *>(source.c_str()));
    ASSERT_NE(wideFirst, nullptr);
    EXPECT_EQ(static_cast<const void *>(zera::LevelNameWide(wideFirst, true)), wideFirst);
    EXPECT_TRUE(std::u16string(reinterpret_cast<const char16_t *>(zera::LevelNameWide(wideFirst, true))) ==
                u"Sm\u263Aile");
    EXPECT_STREQ(zera::LevelNameNarrow(wideFirst, true), "Sm?ile");
    ZERA_vFree(wideFirst);

    EXPECT_EQ(zera::LevelNameNarrow(nullptr, false), nullptr);
    EXPECT_EQ(zera::LevelNameWide(nullptr, true), nullptr);

    AllocFailureGuard guard;
    ZERA_vTestFailAllocAfter(0);
    EXPECT_EQ(zera::BuildLevelName("x.DLL"), nullptr);
}

std::u16string WideResult(const WCHAR16 *s) {
    return s != nullptr ? std::u16string(reinterpret_cast<const char16_t *>(s)) : u"(null)";
}

TEST(ComponentName, LevelZeroIsNamedAfterTheLibrary) {
    TestStack stack;
    StackHandle *h0 = stack.h0();
    const char *narrow = ZERA_hsComponentNameA(h0, 0);
    ASSERT_NE(narrow, nullptr);
    EXPECT_STREQ(narrow, "VOQ_ZERA");
    EXPECT_EQ(narrow, h0->pvComponentName);
    EXPECT_TRUE(WideResult(ZERA_lsComponentNameW(h0, 0)) == u"VOQ_ZERA");
    EXPECT_EQ(ZERA_hsComponentNameA(h0, 64), narrow);  // only the low 6 bits count

    TestStack wide;
    wide.h0()->boWide = 1;
    EXPECT_TRUE(WideResult(ZERA_lsComponentNameW(wide.h0(), 0)) == u"VOQ_ZERA");
    EXPECT_EQ(static_cast<const void *>(ZERA_lsComponentNameW(wide.h0(), 0)), wide.h0()->pvComponentName);
    EXPECT_STREQ(ZERA_hsComponentNameA(wide.h0(), 0), "VOQ_ZERA");
}

TEST(ComponentName, RefusalsAndMemory) {
    TestStack stack;
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_hsComponentNameA(nullptr, 0), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));

    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_hsComponentNameA(stack.h0(), 1), nullptr);  // above the top
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_lsComponentNameW(stack.h0(), 5), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));

    {
        AllocFailureGuard guard;
        ZERA_vTestFailAllocAfter(0);
        EXPECT_EQ(ZERA_hsComponentNameA(stack.h0(), 0), nullptr);
        EXPECT_EQ(stack.h0()->pvComponentName, nullptr);
    }
    EXPECT_STREQ(ZERA_hsComponentNameA(stack.h0(), 0), "VOQ_ZERA");  // built on the next request

    // A level above whose entry table is not filled cannot answer.
    stack.Add();
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_hsComponentNameA(stack.h0(), 1), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
}

// Levels named from a component module, reached through the entry slots of
// the levels above.
class ModuleNames : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = OSAL_hLoadLibraryA("KitCheck.COMPONENT");
        ASSERT_NE(module_, nullptr) << OSAL_pszGetLastErrorText();
    }
    void TearDown() override {
        if (module_ != nullptr) {
            EXPECT_TRUE(OSAL_boFreeLibrary(module_));
        }
    }
    // A level of the stack with the test component's module and its name slots.
    StackHandle *AddComponentLevel(TestStack &stack, bool wide) {
        StackHandle *h = stack.Add();
        h->hModule = module_;
        h->boWide = wide ? 1 : 0;
        h->apfnEntry[zera::kEntryComponentNameA] = reinterpret_cast<ZERA_PFN>(ZERA_hsComponentNameA);
        h->apfnEntry[zera::kEntryComponentNameW] = reinterpret_cast<ZERA_PFN>(ZERA_lsComponentNameW);
        return h;
    }
    OSAL_HMODULE module_ = nullptr;
};

TEST_F(ModuleNames, NamedFromTheModulesExportOfItsWidth) {
    TestStack stack;
    StackHandle *h1 = AddComponentLevel(stack, false);
    StackHandle *h2 = AddComponentLevel(stack, true);

    EXPECT_STREQ(ZERA_hsComponentNameA(stack.h0(), 1), "KitCheck");
    EXPECT_EQ(static_cast<const void *>(ZERA_hsComponentNameA(stack.h0(), 1)), h1->pvComponentName);
    EXPECT_TRUE(WideResult(ZERA_lsComponentNameW(stack.h0(), 2)) == u"KitCheck");
    EXPECT_EQ(static_cast<const void *>(ZERA_lsComponentNameW(stack.h0(), 2)), h2->pvComponentName);
    EXPECT_STREQ(ZERA_hsComponentNameA(h1, 2), "KitCheck");

    // Levels below are not visited: level 2 answers for level 1 with its own name.
    h2->boWide = 0;
    ZERA_vFree(h2->pvComponentName);
    h2->pvComponentName = zera::BuildLevelName("Other.COMPONENT");
    EXPECT_STREQ(ZERA_hsComponentNameA(h2, 1), "Other");
    EXPECT_STREQ(ZERA_hsComponentNameA(h2, 66), "Other");  // 66 is level 2
    EXPECT_STREQ(ZERA_hsComponentNameA(h1, 1), "KitCheck");
    EXPECT_STREQ(ZERA_hsComponentNameA(stack.h0(), 0), "VOQ_ZERA");

    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_hsComponentNameA(h1, 3), nullptr);  // above the top
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
}

TEST_F(ModuleNames, ModuleWithoutNameExportGivesNull) {
#if defined(_WIN32)
    OSAL_HMODULE other = OSAL_hLoadLibraryA("VOQ_OSAL.dll");
#else
    OSAL_HMODULE other = OSAL_hLoadLibraryA("libVOQ_OSAL.so");
#endif
    ASSERT_NE(other, nullptr) << OSAL_pszGetLastErrorText();
    TestStack stack;
    StackHandle *h1 = AddComponentLevel(stack, false);
    h1->hModule = other;
    EXPECT_EQ(ZERA_hsComponentNameA(stack.h0(), 1), nullptr);
    EXPECT_EQ(h1->pvComponentName, nullptr);
    h1->boWide = 1;
    EXPECT_EQ(ZERA_lsComponentNameW(h1, 1), nullptr);
    EXPECT_EQ(h1->pvComponentName, nullptr);
    EXPECT_TRUE(OSAL_boFreeLibrary(other));
}

}  // namespace
