// tests/osal/module_test.cpp - loading modules (tests/osal/modules, built next
// to this program): bare-name search order, own exports only, load errors that say why.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "osal/os_support.h"
#include "support/refusal.h"

namespace {

const WCHAR16 *W(const std::u16string &s) { return reinterpret_cast<const WCHAR16 *>(s.c_str()); }
// A test module's file name, narrow and wide.
std::string File(const char *base) { return ot::ModuleFile(base); }
std::u16string WideFile(const char *base) {
    const std::string narrow = File(base);
    return std::u16string(narrow.begin(), narrow.end());
}

template <class T>
T Export(OSAL_HMODULE m, const char *name) {
    OSAL_PFN pfn = OSAL_pfnGetProcAddress(m, name);
    T result;
    static_assert(sizeof result == sizeof pfn, "");
    std::memcpy(&result, &pfn, sizeof result);
    return result;
}
using IntFn = int (*)(void);

// Which copy of the test module was loaded (1: the program's, 2: the stand-in); releases it.
int Where(OSAL_HMODULE m) {
    if (m == nullptr) return -1;
    IntFn where = Export<IntFn>(m, "OsalTestWhere");
    int answer = where != nullptr ? where() : -1;
    EXPECT_TRUE(OSAL_boFreeLibrary(m));
    return answer;
}

// Runs each test in a directory of its own and returns to the old one.
class OsalModule : public ::testing::Test {
protected:
    void SetUp() override {
        oldCwd = std::filesystem::current_path();
        dir = ot::MakeTempFolder("module");
        std::filesystem::current_path(dir);
    }
    void TearDown() override {
        std::filesystem::current_path(oldCwd);
        std::filesystem::remove_all(dir);
    }
    std::filesystem::path oldCwd;
    std::string dir;
};

TEST_F(OsalModule, BareNameSearchesCurrentDirectoryThenProgramDirectory) {
    const std::string top = File("osal_test_top");
    EXPECT_EQ(Where(OSAL_hLoadLibraryW(W(WideFile("osal_test_top")))), 1);  // only in the program's directory

    // A file of that name in the current directory comes first.
    std::filesystem::copy_file(ot::ProgramDirectory() + "/" + File("osal_test_alt"), dir + "/" + top);
    EXPECT_EQ(Where(OSAL_hLoadLibraryA(top.c_str())), 2);
    // A name with a path separator is taken as given.
    EXPECT_EQ(Where(OSAL_hLoadLibraryA((ot::ProgramDirectory() + "/" + top).c_str())), 1);
    EXPECT_EQ(Where(OSAL_hLoadLibraryA(("./" + top).c_str())), 2);

    // Neither here nor there: the system loader's own search.
    OSAL_HMODULE system = OSAL_hLoadLibraryA(ot::kSystemModule);
    ASSERT_NE(system, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_NE(OSAL_pfnGetProcAddress(system, ot::kSystemModuleExport), nullptr);
    EXPECT_REFUSED(OSAL_pfnGetProcAddress(system, ot::kSystemModuleForeign), OSAL_ERR_NAME_NOT_FOUND);
    EXPECT_TRUE(OSAL_boFreeLibrary(system));
}

TEST_F(OsalModule, LookupFindsOwnFunctionAndDataExportsOnly) {
    OSAL_HMODULE top = OSAL_hLoadLibraryA(File("osal_test_top").c_str());
    ASSERT_NE(top, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(Export<IntFn>(top, "OsalTestTopValue")(), 8);  // its dependency is loaded and bound
    const int *data = Export<const int *>(top, "OsalTestTopData");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(*data, 42);
    // Exports of the dependency and of the C library are not the module's own.
    EXPECT_REFUSED(OSAL_pfnGetProcAddress(top, "OsalTestBaseValue"), OSAL_ERR_NAME_NOT_FOUND);
    EXPECT_STREQ(OSAL_pszGetLastErrorArg(), "OsalTestBaseValue");
    for (const char *name : {"OsalTestBaseData", "malloc", "NoSuchExport"})
        EXPECT_REFUSED(OSAL_pfnGetProcAddress(top, name), OSAL_ERR_NAME_NOT_FOUND);
    // Wide names convert one unit to one byte.
    EXPECT_NE(OSAL_pfnGetProcAddressW(top, W(u"OsalTestWhere")), nullptr);
    EXPECT_EQ(OSAL_pfnGetProcAddressW(top, W(u"Osal\u2603")), nullptr);
    EXPECT_STREQ(OSAL_pszGetLastErrorArg(), "Osal?");
    EXPECT_TRUE(OSAL_boFreeLibrary(top));
}

TEST_F(OsalModule, RefusalsCarryTheirCodeAndSayWhy) {
    const std::string bogus = File("bogus");
    { std::ofstream(dir + "/" + bogus) << "not a module"; }
    // Missing, or there but no module (the loader's reason, not "missing").
    std::vector<std::string> reasons;  // what follows the name
    for (const std::string &name : {File("osal_no_such_module"), bogus}) {
        EXPECT_REFUSED(OSAL_hLoadLibraryA(name.c_str()), OSAL_ERR_LOAD_FAILED);
        ASSERT_NE(OSAL_pszGetLastErrorArg(), nullptr);
        EXPECT_NE(std::strstr(OSAL_pszGetLastErrorArg(), name.c_str()), nullptr) << OSAL_pszGetLastErrorArg();
        EXPECT_NE(std::strstr(OSAL_pszGetLastErrorText(), "Module cannot be loaded (1030): "), nullptr);
        reasons.push_back(std::strstr(OSAL_pszGetLastErrorArg(), name.c_str()) + name.size());
    }
    EXPECT_NE(reasons[0], reasons[1]);
    EXPECT_REFUSED(OSAL_hLoadLibraryA(nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_hLoadLibraryA(""), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_hLoadLibraryW(nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_boFreeLibrary(nullptr), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(OSAL_pfnGetProcAddress(nullptr, "x"), OSAL_ERR_INVALID_HANDLE);

    OSAL_HMODULE m = OSAL_hLoadLibraryA(File("osal_test_top").c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_REFUSED(OSAL_pfnGetProcAddress(m, nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_pfnGetProcAddressW(m, nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_TRUE(OSAL_boFreeLibrary(m));
    EXPECT_REFUSED(OSAL_boFreeLibrary(m), OSAL_ERR_INVALID_HANDLE);  // released: refused, not used
    EXPECT_REFUSED(OSAL_pfnGetProcAddress(m, "OsalTestWhere"), OSAL_ERR_INVALID_HANDLE);
}

}  // namespace
