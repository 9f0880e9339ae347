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
using ot::ModuleFile;

// An export found by its wide name, as type T.
template <class T>
T Export(OSAL_HMODULE m, const std::u16string &name) {
    OSAL_PFN pfn = OSAL_pfnGetProcAddressW(m, W(name));
    T result;
    static_assert(sizeof result == sizeof pfn, "");
    std::memcpy(&result, &pfn, sizeof result);
    return result;
}
using IntFn = int (*)(void);

// Which copy of the test module was loaded (1: the program's, 2: the stand-in); releases it.
int Where(OSAL_HMODULE m) {
    if (m == nullptr) return -1;
    IntFn where = Export<IntFn>(m, u"OsalTestWhere");
    int answer = where != nullptr ? where() : -1;
    EXPECT_TRUE(OSAL_boFreeLibrary(m));
    return answer;
}

// Runs each test in a directory of its own and returns to the old one.
class OsalModule : public ::testing::Test {
protected:
    void SetUp() override {
        oldCwd = std::filesystem::current_path();
        dir = (std::filesystem::temp_directory_path() / ("osal_module_" + std::to_string(ot::ProcessId()))).string();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
    }
    void TearDown() override {
        std::filesystem::current_path(oldCwd);
        std::filesystem::remove_all(dir);
    }
    std::filesystem::path oldCwd;
    std::string dir;
};

// A module's own function and data exports are found, by either width of
// name, and nothing else; a bare name is looked for in the current
// directory first, then in the program's.
TEST_F(OsalModule, OwnExportsOnlyAndBareNameSearchOrder) {
    const std::string top = ModuleFile("osal_test_top");
    OSAL_HMODULE m = OSAL_hLoadLibraryW(W(std::u16string(top.begin(), top.end())));  // in the program's directory
    ASSERT_NE(m, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(Export<IntFn>(m, u"OsalTestTopValue")(), 8);  // its dependency is loaded and bound
    const int *data = Export<const int *>(m, u"OsalTestTopData");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(*data, 42);
    // Exports of the dependency and of the C library are not the module's own.
    EXPECT_REFUSED(OSAL_pfnGetProcAddress(m, "OsalTestBaseValue"), OSAL_ERR_NAME_NOT_FOUND);
    EXPECT_STREQ(OSAL_pszGetLastErrorArg(), "OsalTestBaseValue");
    for (const char *name : {"OsalTestBaseData", "malloc", "NoSuchExport"})
        EXPECT_REFUSED(OSAL_pfnGetProcAddress(m, name), OSAL_ERR_NAME_NOT_FOUND);
    EXPECT_EQ(OSAL_pfnGetProcAddressW(m, W(u"Osal\u2603")), nullptr);  // one unit to one byte
    EXPECT_STREQ(OSAL_pszGetLastErrorArg(), "Osal?");
    EXPECT_REFUSED(OSAL_pfnGetProcAddress(m, nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_pfnGetProcAddressW(m, nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(Where(m), 1);
    EXPECT_REFUSED(OSAL_boFreeLibrary(m), OSAL_ERR_INVALID_HANDLE);  // released: refused, not used
    EXPECT_REFUSED(OSAL_pfnGetProcAddress(m, "OsalTestWhere"), OSAL_ERR_INVALID_HANDLE);

    // A file of that name in the current directory comes first.
    std::filesystem::copy_file(ot::ProgramDirectory() + "/" + ModuleFile("osal_test_alt"), dir + "/" + top);
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

TEST_F(OsalModule, RefusalsCarryTheirCodeAndSayWhy) {
    const std::string bogus = ModuleFile("bogus");
    { std::ofstream(dir + "/" + bogus) << "not a module"; }
    // Missing, or there but no module (the loader's reason, not "missing").
    std::vector<std::string> reasons;  // what follows the name
    for (const std::string &name : {ModuleFile("osal_no_such_module"), bogus}) {
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
}

}  // namespace
