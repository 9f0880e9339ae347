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
    for (uint32_t code : {0u, 1024u, 1025u, 1026u, 1027u, 1028u, 1029u, 1030u, 1031u, 1032u, 1033u, 1034u,
                          1035u, 1036u, 1037u, 1046u, 2048u, 2055u, 2056u, 2057u, 2058u, 2060u, 2061u, 2062u}) {
        const char *text = OSAL_pszGetErrorText(code);
        EXPECT_TRUE(text != nullptr && std::strlen(text) > 3) << code;
    }
#define CHECK_ENTRY(code, text) EXPECT_STREQ(OSAL_pszGetErrorText(code), text);
    OSAL_ERROR_TABLE(CHECK_ENTRY)
#undef CHECK_ENTRY
    EXPECT_STREQ(OSAL_pszGetErrorText(2048), "Invalid stack level");
    for (uint32_t unknown : {1u, 2059u, 0xFFFFFFFFu}) EXPECT_EQ(OSAL_pszGetErrorText(unknown), nullptr);
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

TEST(OsalErrors, ArgumentsAreCopiedAndFormatted) {
    char name[] = "ZERA_Sample.COMPONENT";
    OSAL_vSetLastErrorArgs(1030, OSAL_ARG_STRING, name);
    std::memset(name, 'x', sizeof name - 1);
    EXPECT_EQ(OSAL_dwGetLastError(), 1030u);
    EXPECT_STREQ(OSAL_pszGetLastErrorArg(), "ZERA_Sample.COMPONENT");
    EXPECT_STREQ(OSAL_pszGetLastErrorText(), "Module cannot be loaded (1030): ZERA_Sample.COMPONENT");
    EXPECT_EQ(OSAL_dwGetLastErrorSeverity(), 0u);

    OSAL_vSetLastError(1026);  // a plain code clears what the previous error carried
    EXPECT_EQ(OSAL_pszGetLastErrorArg(), nullptr);
    EXPECT_STREQ(OSAL_pszGetLastErrorText(), "Out of memory (1026)");

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
    const std::string arg = OSAL_pszGetLastErrorArg() ? OSAL_pszGetLastErrorArg() : "";
    EXPECT_GT(arg.size(), 500u);
    EXPECT_LT(arg.size(), huge.size());
    EXPECT_EQ(arg, std::string(arg.size(), 'a'));
    EXPECT_EQ(std::strncmp(OSAL_pszGetLastErrorText(), "Module cannot be loaded (1030): aaa", 35), 0);
}

}  // namespace
