// tests/osal/module_test.cpp - loading modules: the search order for bare
// names, lookups that find only the module's own exports, load errors that
// say why, and bad handles. Uses the helper modules of tests/osal/modules,
// built next to this program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "VOQ_OSAL.h"

namespace {

// Taken before any test changes the directory (an emulator may answer
// /proc/self/exe relative to it).
const std::string &ProgramDir() {
    static const std::string dir = [] {
        char buf[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0) return std::string(".");
        buf[n] = '\0';
        std::string path(buf);
        return path.substr(0, path.rfind('/'));
    }();
    return dir;
}

std::string MakeTempDir() {
    char tmpl[] = "/tmp/osal_module_XXXXXX";
    char *dir = mkdtemp(tmpl);
    return dir ? dir : "";
}

bool CopyFile(const std::string &from, const std::string &to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
    return in.good() && out.good();
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

// Runs each test in a directory of its own and returns to the old one.
class OsalModule : public ::testing::Test {
protected:
    void SetUp() override {
        ProgramDir();
        ASSERT_NE(getcwd(oldCwd, sizeof oldCwd), nullptr);
        dir = MakeTempDir();
        ASSERT_FALSE(dir.empty());
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(oldCwd), 0);
        std::string cleanup = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(cleanup.c_str()), 0);
    }
    char oldCwd[PATH_MAX];
    std::string dir;
};

TEST_F(OsalModule, BareNameSearchesCurrentDirectoryThenProgramDirectory) {
    // Only in the program's directory (the wide name converts one unit to one byte).
    const WCHAR16 wideName[] = {'o', 's', 'a', 'l', '_', 't', 'e', 's', 't', '_', 't', 'o', 'p', '.', 's', 'o', 0};
    OSAL_HMODULE fromProgramDir = OSAL_hLoadLibraryW(wideName);
    ASSERT_NE(fromProgramDir, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(Export<IntFn>(fromProgramDir, "OsalTestWhere")(), 1);
    EXPECT_TRUE(OSAL_boFreeLibrary(fromProgramDir));

    // A file of that name in the current directory comes first.
    ASSERT_TRUE(CopyFile(ProgramDir() + "/osal_test_alt.so", dir + "/osal_test_top.so"));
    OSAL_HMODULE fromCwd = OSAL_hLoadLibraryA("osal_test_top.so");
    ASSERT_NE(fromCwd, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(Export<IntFn>(fromCwd, "OsalTestWhere")(), 2);
    EXPECT_TRUE(OSAL_boFreeLibrary(fromCwd));

    // A name with a path separator is taken as given.
    std::string full = ProgramDir() + "/osal_test_top.so";
    OSAL_HMODULE byPath = OSAL_hLoadLibraryA(full.c_str());
    ASSERT_NE(byPath, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(Export<IntFn>(byPath, "OsalTestWhere")(), 1);
    EXPECT_TRUE(OSAL_boFreeLibrary(byPath));

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

    // Exports of the dependency are not the module's own.
    OSAL_vSetLastError(0);
    EXPECT_EQ(OSAL_pfnGetProcAddress(top, "OsalTestBaseValue"), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_NAME_NOT_FOUND));
    EXPECT_STREQ(OSAL_pszGetLastErrorArg(), "OsalTestBaseValue");
    EXPECT_EQ(OSAL_pfnGetProcAddress(top, "OsalTestBaseData"), nullptr);
    EXPECT_EQ(OSAL_pfnGetProcAddress(top, "malloc"), nullptr);  // nor the C library's
    EXPECT_EQ(OSAL_pfnGetProcAddress(top, "NoSuchExport"), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1029u);

    // Loaded on its own, the dependency answers for itself.
    OSAL_HMODULE base = OSAL_hLoadLibraryA("libosal_test_base.so");
    ASSERT_NE(base, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(Export<IntFn>(base, "OsalTestBaseValue")(), 7);
    EXPECT_EQ(*Export<const int *>(base, "OsalTestBaseData"), 5);
    EXPECT_EQ(OSAL_pfnGetProcAddress(base, "OsalTestTopValue"), nullptr);
    EXPECT_TRUE(OSAL_boFreeLibrary(base));

    // Wide names convert one unit to one byte.
    const WCHAR16 wide[] = {'O', 's', 'a', 'l', 'T', 'e', 's', 't', 'W', 'h', 'e', 'r', 'e', 0};
    EXPECT_NE(OSAL_pfnGetProcAddressW(top, wide), nullptr);
    const WCHAR16 odd[] = {'O', 's', 'a', 'l', 0x2603, 0};
    EXPECT_EQ(OSAL_pfnGetProcAddressW(top, odd), nullptr);
    EXPECT_STREQ(OSAL_pszGetLastErrorArg(), "Osal?");
    EXPECT_TRUE(OSAL_boFreeLibrary(top));
}

TEST_F(OsalModule, FailedLoadSaysWhy) {
    OSAL_vSetLastError(0);
    EXPECT_EQ(OSAL_hLoadLibraryA("osal_no_such_module.so"), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_LOAD_FAILED));
    ASSERT_NE(OSAL_pszGetLastErrorArg(), nullptr);
    EXPECT_NE(std::strstr(OSAL_pszGetLastErrorArg(), "osal_no_such_module.so"), nullptr);
    EXPECT_NE(std::strstr(OSAL_pszGetLastErrorText(), "Module cannot be loaded (1030): "), nullptr);

    // A file that is there but is no module: the loader's reason, not "missing".
    { std::ofstream(dir + "/bogus.so") << "not a module"; }
    EXPECT_EQ(OSAL_hLoadLibraryA("bogus.so"), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1030u);
    ASSERT_NE(OSAL_pszGetLastErrorArg(), nullptr);
    EXPECT_NE(std::strstr(OSAL_pszGetLastErrorArg(), "bogus.so"), nullptr);

    const WCHAR16 wide[] = {'n', 'o', 'n', 'e', '.', 's', 'o', 0};
    EXPECT_EQ(OSAL_hLoadLibraryW(wide), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1030u);
}

TEST_F(OsalModule, BadInput) {
    EXPECT_EQ(OSAL_hLoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1028u);
    EXPECT_EQ(OSAL_hLoadLibraryA(""), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1028u);
    EXPECT_EQ(OSAL_hLoadLibraryW(nullptr), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1028u);

    EXPECT_FALSE(OSAL_boFreeLibrary(nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), 1027u);
    EXPECT_EQ(OSAL_pfnGetProcAddress(nullptr, "x"), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1027u);

    OSAL_HMODULE m = OSAL_hLoadLibraryA("osal_test_top.so");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(OSAL_pfnGetProcAddress(m, nullptr), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1028u);
    EXPECT_EQ(OSAL_pfnGetProcAddressW(m, nullptr), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1028u);
    EXPECT_TRUE(OSAL_boFreeLibrary(m));
    // A released handle is refused, not used.
    EXPECT_FALSE(OSAL_boFreeLibrary(m));
    EXPECT_EQ(OSAL_dwGetLastError(), 1027u);
    EXPECT_EQ(OSAL_pfnGetProcAddress(m, "OsalTestWhere"), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1027u);
}

}  // namespace
