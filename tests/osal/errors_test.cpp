// tests/osal/errors_test.cpp - error texts for every code and the per-thread
// last error with its argument, severity and message.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "VOQ_OSAL.h"
#include "osal/error_table.h"

namespace {

TEST(OsalErrors, EveryCodeHasItsOwnText) {
    // The codes the library stores, and the ones the platform layer adds.
    const uint32_t codes[] = {0,    1024, 1025, 1026, 1027, 1028, 1029, 1030, 1031, 1032, 1033, 1034,
                              1035, 1036, 1037, 1046, 2048, 2055, 2056, 2057, 2058, 2060, 2061, 2062};
    for (uint32_t code : codes) {
        const char *text = OSAL_pszGetErrorText(code);
        ASSERT_NE(text, nullptr) << code;
        EXPECT_GT(std::strlen(text), 3u) << code;
    }
    // The table and the header agree: every table entry answers with its text.
#define CHECK_ENTRY(code, text) EXPECT_STREQ(OSAL_pszGetErrorText(code), text);
    OSAL_ERROR_TABLE(CHECK_ENTRY)
#undef CHECK_ENTRY
    EXPECT_STREQ(OSAL_pszGetErrorText(2048), "Invalid stack level");
    EXPECT_EQ(OSAL_pszGetErrorText(1), nullptr);
    EXPECT_EQ(OSAL_pszGetErrorText(2059), nullptr);
    EXPECT_EQ(OSAL_pszGetErrorText(0xFFFFFFFFu), nullptr);
}

TEST(OsalErrors, LastErrorIsPerThread) {
    OSAL_vSetLastError(1027);
    uint32_t inOther = 12345;
    std::thread t([&] {
        inOther = OSAL_dwGetLastError();  // a new thread starts clean
        OSAL_vSetLastError(2060);
    });
    t.join();
    EXPECT_EQ(inOther, 0u);
    EXPECT_EQ(OSAL_dwGetLastError(), 1027u);
}

TEST(OsalErrors, StringArgumentIsCopied) {
    char name[] = "ZERA_Sample.COMPONENT";
    OSAL_vSetLastErrorArgs(1030, OSAL_ARG_STRING, name);
    std::memset(name, 'x', sizeof name - 1);
    EXPECT_EQ(OSAL_dwGetLastError(), 1030u);
    ASSERT_NE(OSAL_pszGetLastErrorArg(), nullptr);
    EXPECT_STREQ(OSAL_pszGetLastErrorArg(), "ZERA_Sample.COMPONENT");
    EXPECT_STREQ(OSAL_pszGetLastErrorText(), "Module cannot be loaded (1030): ZERA_Sample.COMPONENT");
    EXPECT_EQ(OSAL_dwGetLastErrorSeverity(), 0u);

    // A plain code clears what the previous error carried.
    OSAL_vSetLastError(1026);
    EXPECT_EQ(OSAL_pszGetLastErrorArg(), nullptr);
    EXPECT_STREQ(OSAL_pszGetLastErrorText(), "Out of memory (1026)");
}

TEST(OsalErrors, TextWithSeverityMessageAndArgument) {
    OSAL_vSetLastErrorText(2057, OSAL_SEVERITY_ERROR, "minor version", OSAL_ARG_STRING, "Level 2");
    EXPECT_EQ(OSAL_dwGetLastError(), 2057u);
    EXPECT_EQ(OSAL_dwGetLastErrorSeverity(), 2u);
    EXPECT_STREQ(OSAL_pszGetLastErrorText(), "Info block versions do not match (2057): minor version: Level 2");

    OSAL_vSetLastErrorArgs(1034, OSAL_ARG_DWORD, reinterpret_cast<const void *>(uintptr_t{77}));
    EXPECT_EQ(OSAL_pszGetLastErrorArg(), nullptr);
    EXPECT_STREQ(OSAL_pszGetLastErrorText(), "Invalid size, length, identifier or range (1034): 77");

    OSAL_vSetLastErrorText(4242, OSAL_SEVERITY_ERROR, nullptr, OSAL_ARG_STRING, nullptr);
    EXPECT_STREQ(OSAL_pszGetLastErrorText(), "Unknown error (4242)");
}

TEST(OsalErrors, OwnArgumentCanBeStoredAgainAndLongOnesAreCut) {
    OSAL_vSetLastErrorArgs(1029, OSAL_ARG_STRING, "ZERA_boModuleInitAPIA");
    OSAL_vSetLastErrorText(1035, OSAL_SEVERITY_ERROR, OSAL_pszGetLastErrorArg(), OSAL_ARG_STRING,
                           OSAL_pszGetLastErrorArg());
    EXPECT_STREQ(OSAL_pszGetLastErrorArg(), "ZERA_boModuleInitAPIA");
    EXPECT_STREQ(OSAL_pszGetLastErrorText(),
                 "Component module refused (1035): ZERA_boModuleInitAPIA: ZERA_boModuleInitAPIA");

    std::string huge(100000, 'a');
    OSAL_vSetLastErrorText(1030, OSAL_SEVERITY_ERROR, huge.c_str(), OSAL_ARG_STRING, huge.c_str());
    const char *arg = OSAL_pszGetLastErrorArg();
    ASSERT_NE(arg, nullptr);
    EXPECT_GT(std::strlen(arg), 500u);
    EXPECT_LT(std::strlen(arg), huge.size());
    EXPECT_EQ(std::string(arg), std::string(std::strlen(arg), 'a'));
    EXPECT_EQ(std::strncmp(OSAL_pszGetLastErrorText(), "Module cannot be loaded (1030): aaa", 35), 0);
}

}  // namespace
