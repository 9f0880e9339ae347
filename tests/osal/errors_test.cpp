// tests/osal/errors_test.cpp - error texts for every code and the per-thread
// last error with its argument, severity and message.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "VOQ_OSAL.h"
#include "osal/error_table.h"

namespace {

// Every code has a text of its own, and the codes have the numbers callers test for.
TEST(OsalErrors, EveryCodeHasItsOwnText) {
    std::vector<uint32_t> codes;
    std::set<std::string> texts;
#define CHECK_ENTRY(code, text)                              \
    EXPECT_STREQ(OSAL_pszGetErrorText(code), text) << code; \
    codes.push_back(code);                                   \
    texts.insert(text);
    OSAL_ERROR_TABLE(CHECK_ENTRY)
#undef CHECK_ENTRY
    EXPECT_EQ(codes, (std::vector<uint32_t>{0, 1024, 1025, 1026, 1027, 1028, 1029, 1030, 1031, 1032, 1033, 1034,
                                            1035, 1036, 1037, 1038, 1046, 2048, 2055, 2056, 2057, 2058, 2060, 2061, 2062}));
    EXPECT_EQ(texts.size(), codes.size());
    for (uint32_t unknown : {1u, 2059u, 0xFFFFFFFFu}) EXPECT_EQ(OSAL_pszGetErrorText(unknown), nullptr);
}

// The last error is the thread's own; its argument is a copy.
TEST(OsalErrors, PerThreadWithArgumentsCopiedFormattedAndCut) {
    char name[] = "ZERA_Sample.COMPONENT";
    OSAL_vSetLastErrorArgs(1030, OSAL_ARG_STRING, name);
    std::memset(name, 'x', sizeof name - 1);
    uint32_t inOther = 12345;
    std::thread([&] {
        inOther = OSAL_dwGetLastError();  // a new thread starts clean
        OSAL_vSetLastErrorArgs(2060, OSAL_ARG_STRING, "other");
    }).join();
    EXPECT_EQ(inOther, 0u);
    EXPECT_EQ(OSAL_dwGetLastError(), 1030u);
    EXPECT_STREQ(OSAL_pszGetLastErrorArg(), "ZERA_Sample.COMPONENT");
    EXPECT_STREQ(OSAL_pszGetLastErrorText(), "Module cannot be loaded (1030): ZERA_Sample.COMPONENT");
    EXPECT_EQ(OSAL_dwGetLastErrorSeverity(), 0u);
    // The stored argument may be passed in again, as message and argument.
    OSAL_vSetLastErrorText(2057, OSAL_SEVERITY_ERROR, OSAL_pszGetLastErrorArg(), OSAL_ARG_STRING,
                           OSAL_pszGetLastErrorArg());
    EXPECT_EQ(OSAL_dwGetLastError(), 2057u);
    EXPECT_EQ(OSAL_dwGetLastErrorSeverity(), 2u);
    EXPECT_STREQ(OSAL_pszGetLastErrorText(),
                 "Info block versions do not match (2057): ZERA_Sample.COMPONENT: ZERA_Sample.COMPONENT");

    OSAL_vSetLastError(1026);  // a plain code clears what the previous error carried
    EXPECT_EQ(OSAL_pszGetLastErrorArg(), nullptr);
    EXPECT_STREQ(OSAL_pszGetLastErrorText(), "Out of memory (1026)");
    OSAL_vSetLastErrorArgs(1034, OSAL_ARG_DWORD, reinterpret_cast<const void *>(uintptr_t{77}));
    EXPECT_EQ(OSAL_pszGetLastErrorArg(), nullptr);
    EXPECT_STREQ(OSAL_pszGetLastErrorText(), "Invalid size, length, identifier or range (1034): 77");
    OSAL_vSetLastErrorText(4242, OSAL_SEVERITY_ERROR, nullptr, OSAL_ARG_STRING, nullptr);
    EXPECT_STREQ(OSAL_pszGetLastErrorText(), "Unknown error (4242)");

    std::string huge(100000, 'a');  // cut, not refused
    OSAL_vSetLastErrorText(1030, OSAL_SEVERITY_ERROR, huge.c_str(), OSAL_ARG_STRING, huge.c_str());
    const std::string arg = OSAL_pszGetLastErrorArg() ? OSAL_pszGetLastErrorArg() : "";
    EXPECT_TRUE(arg.size() > 500 && arg.size() < huge.size() && arg == std::string(arg.size(), 'a')) << arg.size();
    EXPECT_EQ(std::strncmp(OSAL_pszGetLastErrorText(), "Module cannot be loaded (1030): aaa", 35), 0);
}

}  // namespace
