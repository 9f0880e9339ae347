// tests/osal/module_test.cpp - loading modules: the search order for bare
// names, lookups that find only the module's own exports, load errors that
// say why, and bad handles. Uses the helper modules of tests/osal/modules,
// built next to this program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "support/refusal.h"

namespace {

// Taken before any test changes the directory (an emulator may answer
// /proc/self/exe relative to it).
const std::string &ProgramDir() {
    static const std::string dir = [] {
        char buf[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0) return std::string(".");
        std::string path(buf, static_cast<size_t>(n));
        return path.substr(0, path.rfind('/'));
    }();
    return dir;
}

const WCHAR16 *W(const std::u16string &s) { return reinterpret_cast<const WCHAR16 *>(s.c_str()); }

template <class T>
T Export(OSAL_HMODULE m, const char *name) {
    OSAL_PFN pfn = OSAL_pfnGetProcAddress(m, name);
    T result;
    static_assert(sizeof result == sizeof pfn, "");
    std::memcpy(&result, &pfn, sizeof result);
    return result;
}
using IntFn = int (*)(void);

// Which copy of the test module was loaded (1: the program's, 2: the
// stand-in, -1: none); releases it.
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
        ProgramDir();
        ASSERT_NE(getcwd(oldCwd, sizeof oldCwd), nullptr);
        char tmpl[] = "/tmp/osal_module_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(oldCwd), 0);
        ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
    }
    char oldCwd[PATH_MAX];
    std::string dir;
};

TEST_F(OsalModule, BareNameSearchesCurrentDirectoryThenProgramDirectory) {
    EXPECT_EQ(Where(OSAL_hLoadLibraryW(W(u"osal_test_top.so"))), 1);  // only in the program's directory

    // A file of that name in the current directory comes first.
    {
        std::ifstream in(ProgramDir() + "/osal_test_alt.so", std::ios::binary);
        std::ofstream out(dir + "/osal_test_top.so", std::ios::binary);
        out << in.rdbuf();
        ASSERT_TRUE(in.good() && out.good());
    }
    EXPECT_EQ(Where(OSAL_hLoadLibraryA("osal_test_top.so")), 2);
    // A name with a path separator is taken as given.
    EXPECT_EQ(Where(OSAL_hLoadLibraryA((ProgramDir() + "/osal_test_top.so").c_str())), 1);

    // Neither here nor there: the system loader's own search.
    OSAL_HMODULE system = OSAL_hLoadLibraryA("libm.so.6");
    ASSERT_NE(system, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_NE(OSAL_pfnGetProcAddress(system, "cos"), nullptr);
    EXPECT_TRUE(OSAL_boFreeLibrary(system));
}

TEST_F(OsalModule, LookupFindsOwnFunctionAndDataExportsOnly) {
    OSAL_HMODULE top = OSAL_hLoadLibraryA("osal_test_top.so");
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
    { std::ofstream(dir + "/bogus.so") << "not a module"; }
    // Missing, or there but no module (the loader's reason, not "missing").
    for (const char *name : {"osal_no_such_module.so", "bogus.so"}) {
        EXPECT_REFUSED(OSAL_hLoadLibraryA(name), OSAL_ERR_LOAD_FAILED);
        ASSERT_NE(OSAL_pszGetLastErrorArg(), nullptr);
        EXPECT_NE(std::strstr(OSAL_pszGetLastErrorArg(), name), nullptr);
        EXPECT_NE(std::strstr(OSAL_pszGetLastErrorText(), "Module cannot be loaded (1030): "), nullptr);
    }
    EXPECT_REFUSED(OSAL_hLoadLibraryW(W(u"none.so")), OSAL_ERR_LOAD_FAILED);
    EXPECT_REFUSED(OSAL_hLoadLibraryA(nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_hLoadLibraryA(""), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_hLoadLibraryW(nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_boFreeLibrary(nullptr), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(OSAL_pfnGetProcAddress(nullptr, "x"), OSAL_ERR_INVALID_HANDLE);

    OSAL_HMODULE m = OSAL_hLoadLibraryA("osal_test_top.so");
    ASSERT_NE(m, nullptr);
    EXPECT_REFUSED(OSAL_pfnGetProcAddress(m, nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(OSAL_pfnGetProcAddressW(m, nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_TRUE(OSAL_boFreeLibrary(m));
    EXPECT_REFUSED(OSAL_boFreeLibrary(m), OSAL_ERR_INVALID_HANDLE);  // released: refused, not used
    EXPECT_REFUSED(OSAL_pfnGetProcAddress(m, "OsalTestWhere"), OSAL_ERR_INVALID_HANDLE);
}

}  // namespace
