// handle/host_params_test.cpp - the host kit's typed parameter calls and its
// statistics by level: what they refuse, with which code and text, and that
// a refusal changes nothing; the library's own vararg set beside them.
#include <cstring>
#include <string>

#include "stack/stack_test_util.h"

namespace {

using st::ExpectRefusals;
using st::LastArg;
using st::Stack;

// Params on level 1 (Clamp held at 100 by its notification), Limits on
// level 2 (permitted values, completes the stack).
class HostParams : public ::testing::Test {
protected:
    Stack stack_{"Params", "Limits"};
    StackHandle *h0() { return stack_.h0(); }
    uint32_t DWord(uint8_t level, const char *name) {
        uint32_t v = 0xDEADBEEFu;
        EXPECT_TRUE(ZERA_boHostGetParamDWord(h0(), level, name, &v)) << st::LastText();
        return v;
    }
};

// A string for a dword, 5000 for 1..1000, a start-only parameter while started: 1034 with the level, its
// component, the parameter, the value and what is permitted; nothing changes.
TEST_F(HostParams, TypedSetsRefuseWhatTheComponentDoesNotPermit) {
    StackHandle *h = h0();
    ExpectRefusals({
        {"a string for a dword", [h] { return ZERA_boHostSetParamString(h, 2, "Rate", "x"); }, OSAL_ERR_INVALID_SIZE,
         "level 2 (Limits): cannot set 'Rate' to \"x\": it is a dword, not a string"},
        {"a real for a dword", [h] { return ZERA_boHostSetParamReal(h, 2, "Rate", 2.5); }, OSAL_ERR_INVALID_SIZE,
         "level 2 (Limits): cannot set 'Rate' to 2.5: it is a dword, not a real"},
        {"above the range", [h] { return ZERA_boHostSetParamDWord(h, 2, "Rate", 5000); }, OSAL_ERR_INVALID_SIZE,
         "level 2 (Limits): cannot set 'Rate' to 5000: permitted are 1..1000"},
        {"below the range", [h] { return ZERA_boHostSetParamDWord(h, 2, "Rate", 0); }, OSAL_ERR_INVALID_SIZE,
         "level 2 (Limits): cannot set 'Rate' to 0: permitted are 1..1000"},
        {"a real out of range", [h] { return ZERA_boHostSetParamReal(h, 2, "Gain", 2.25); }, OSAL_ERR_INVALID_SIZE,
         "level 2 (Limits): cannot set 'Gain' to 2.25: permitted are 0.5..2"},
        {"a string not listed", [h] { return ZERA_boHostSetParamString(h, 2, "Mode", "medium"); },
         OSAL_ERR_INVALID_SIZE, "level 2 (Limits): cannot set 'Mode' to \"medium\": permitted are \"fast\", \"slow\""},
        {"a null string", [h] { return ZERA_boHostSetParamString(h, 2, "Mode", nullptr); }, OSAL_ERR_INVALID_SIZE,
         "level 2 (Limits): cannot set 'Mode' to (no string): a string parameter takes a string (an empty one clears "
         "it)"},
        {"never settable", [h] { return ZERA_boHostSetParamDWord(h, 2, "Fixed", 7); }, OSAL_ERR_INVALID_SIZE,
         "level 2 (Limits): cannot set 'Fixed' to 7: it is never settable (the stack is complete and stopped)"},
        {"on another level", [h] { return ZERA_boHostSetParamDWord(h, 1, "Rate", 5); }, OSAL_ERR_INVALID_ARG,
         "no parameter 'Rate' on level 1 (Params); it is on level 2 (Limits)"},
        {"on no level", [h] { return ZERA_boHostSetParamDWord(h, 2, "Nope", 5); }, OSAL_ERR_INVALID_ARG,
         "no parameter 'Nope' on level 2 (Limits); no level has it"},
        {"no such level", [h] { return ZERA_boHostSetParamDWord(h, 5, "Rate", 5); }, OSAL_ERR_INVALID_HANDLE,
         "no level 5: the topmost is level 2 (Limits)"},
        {"a type bit in the level", [h] { return ZERA_boHostSetParamDWord(h, 0x82, "Rate", 5); },
         OSAL_ERR_INVALID_LEVEL,
         "level byte 0x82: the typed calls take a level number 1 to 31 (the type comes from the call, so "
         "ZERA_LEVEL_WITH_TYPE is not needed; level 0 has no parameters)"},
        {"no name", [h] { return ZERA_boHostSetParamDWord(h, 2, "", 5); }, OSAL_ERR_INVALID_ARG,
         "a typed call names its parameter"},
        {"not kept by the component", [h] { return ZERA_boHostSetParamDWord(h, 1, "Clamp", 500); },
         OSAL_ERR_INVALID_SIZE, "level 1 (Params): its component kept 'Clamp' at 100 instead of 500"},
    });
    EXPECT_EQ(DWord(2, "Rate"), 100u);
    EXPECT_EQ(DWord(2, "Fixed"), 7u);
    EXPECT_EQ(DWord(1, "Clamp"), 100u);  // the component's value stays
    char mode[8];
    ASSERT_TRUE(ZERA_boHostGetParamString(h0(), 2, "Mode", mode, sizeof mode));
    EXPECT_STREQ(mode, "fast");
    // The library's own set stores the vararg value as the parameter's type; permitted values are not looked at.
    EXPECT_TRUE(ZERA_boSetStackParamA(h0(), 2, "Rate", 5000u));
    EXPECT_EQ(DWord(2, "Rate"), 5000u);
}

// A parameter settable while the stack is stopped is refused while it runs, and taken once it stopped.
TEST(HostParamsStarted, StartOnlyParameterWhileStarted) {
    Stack stack{"Limits"};  // starts (Params has no thread exports)
    StackHandle *h = stack.h0();
    uint32_t start = 1;
    ASSERT_TRUE(ZERA_boHostStartStack(h)) << st::LastText();
    ExpectRefusals({{"start-only while started", [h] { return ZERA_boHostSetParamDWord(h, 1, "Start", 5); },
                     OSAL_ERR_INVALID_SIZE,
                     "level 1 (Limits): cannot set 'Start' to 5: it is settable only while the stack is stopped (the "
                     "stack is complete and started)"}});
    EXPECT_TRUE(ZERA_boHostGetParamDWord(h, 1, "Start", &start) && start == 0u);
    EXPECT_TRUE(ZERA_boHostSetParamDWord(h, 1, "Rate", 1000)) << st::LastText();  // the ends are in
    ASSERT_TRUE(ZERA_boHostStopStack(h));
    EXPECT_TRUE(ZERA_boHostSetParamDWord(h, 1, "Start", 5)) << st::LastText();
    EXPECT_TRUE(ZERA_boHostGetParamDWord(h, 1, "Start", &start) && start == 5u);
}

// Accepted values land in the parameter in its own type; reads refuse another type and a short buffer.
TEST_F(HostParams, TypedSetsAndReadsOfEveryType) {
    EXPECT_TRUE(ZERA_boHostSetParamReal(h0(), 2, "Gain", 0.5));
    EXPECT_TRUE(ZERA_boHostSetParamString(h0(), 2, "Mode", "slow"));
    EXPECT_TRUE(ZERA_boHostSetParamDWord(h0(), 2, "Free", 0xFFFFFFFFu));
    double gain = 0;
    char mode[5];
    EXPECT_TRUE(ZERA_boHostGetParamReal(h0(), 2, "Gain", &gain));
    EXPECT_EQ(gain, 0.5);
    EXPECT_TRUE(ZERA_boHostGetParamString(h0(), 2, "Mode", mode, sizeof mode));
    EXPECT_STREQ(mode, "slow");
    EXPECT_EQ(DWord(2, "Free"), 0xFFFFFFFFu);
    StackHandle *h = h0();
    uint32_t dw = 0;
    char small[4];
    ExpectRefusals({
        {"a string read as a dword", [h, &dw] { return ZERA_boHostGetParamDWord(h, 2, "Mode", &dw); },
         OSAL_ERR_INVALID_SIZE, "level 2 (Limits): cannot read 'Mode' as a dword: it is a string, not a dword"},
        {"a short buffer", [h, &small] { return ZERA_boHostGetParamString(h, 2, "Mode", small, sizeof small); },
         OSAL_ERR_INVALID_SIZE, "the value of 'Mode' needs 5 bytes; the buffer has 4"},
        {"no output", [h] { return ZERA_boHostGetParamDWord(h, 2, "Rate", nullptr); }, OSAL_ERR_INVALID_ARG,
         "no room for the value"},
    });
}

// A wide level takes the narrow name and string as wide ones.
TEST(HostParamsWide, NarrowCallsReachAWideLevel) {
    Stack stack{"Params"};
    ASSERT_NE(stack.AddWide(u"Limits"), nullptr);
    EXPECT_TRUE(ZERA_boHostSetParamString(stack.h0(), 2, "Mode", "slow")) << st::LastText();
    EXPECT_REFUSED(ZERA_boHostSetParamDWord(stack.h0(), 2, "Rate", 5000), OSAL_ERR_INVALID_SIZE);
    EXPECT_EQ(LastArg(), "level 2 (Limits): cannot set 'Rate' to 5000: permitted are 1..1000");
    char mode[8];
    EXPECT_TRUE(ZERA_boHostGetParamString(stack.h0(), 2, "Mode", mode, sizeof mode));
    EXPECT_STREQ(mode, "slow");
    EXPECT_EQ(zt::WStr(stack[2]->pstStackParams[2].uValue.pv), u"slow");
}

// The kit refuses a level the stack does not have; the library answers it with the topmost level's figures.
TEST_F(HostParams, StatisticsByNamedFieldsAndMissingLevels) {
    ZERA_vUpdateStatistics(stack_[2], 1, 3, 4, 30, 40);
    ZERA_vUpdateLoad(stack_[2], 7, 9);
    ZERA_STATISTICS s;
    std::memset(&s, 0xFF, sizeof s);
    ASSERT_TRUE(ZERA_boHostGetStatistics(h0(), 2, &s));
    EXPECT_EQ(s.astKind[1].dwEventsA, 3u);
    EXPECT_EQ(s.astKind[1].dwBytesB, 40u);
    EXPECT_EQ(s.astKind[0].dwEventsA, 0u);
    EXPECT_EQ(ZERA_STATS_LOAD_A(s.dwLoad), 7u);
    EXPECT_EQ(ZERA_STATS_LOAD_B(s.dwLoadMax), 9u);
    uint32_t words[ZERA_STATS_WORDS];
    ASSERT_TRUE(ZERA_boGetStatistics(h0(), 9, words));
    EXPECT_EQ(std::memcmp(words, &s, sizeof words), 0);
    EXPECT_EQ(words[ZERA_STATS_KIND1_BYTES_A], 30u);
    EXPECT_EQ(words[ZERA_STATS_INDEX(1, 1)], 4u);
    StackHandle *h = h0();
    ExpectRefusals({
        {"no such level", [h, &s] { return ZERA_boHostGetStatistics(h, 9, &s); }, OSAL_ERR_INVALID_LEVEL,
         "no level 9: the topmost is level 2 (Limits)"},
        {"no output", [h] { return ZERA_boHostGetStatistics(h, 1, nullptr); }, OSAL_ERR_INVALID_ARG,
         "no address for the statistics"},
        {"the library's, no output", [h] { return ZERA_boGetStatistics(h, 1, nullptr); }, OSAL_ERR_INVALID_ARG,
         "no address for the 14 statistics words"},
    });
}

// Types a host may send are 0 to 4; others are refused with the reason.
TEST_F(HostParams, HostEventsOfTypesZeroToFourOnly) {
    EXPECT_REFUSED(ZERA_pstHostCreateEvent(h0(), 9, 1, 4), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(LastArg(), "event type 9: a host sends types 0 to 4");
    EXPECT_REFUSED(ZERA_pstHostCreateEvent(h0(), -1, 1, 4), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_pstHostCreateEvent(h0(), 0, 32, 4), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(LastArg(), "level 32: a stack has levels up to 31");
    for (int32_t type = ZERA_EVENT_DATA0; type <= ZERA_EVENT_INTERVAL; ++type) {
        Event *ev = ZERA_pstHostCreateEvent(h0(), type, 1, 4);
        ASSERT_NE(ev, nullptr) << type;
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }
}

}  // namespace
