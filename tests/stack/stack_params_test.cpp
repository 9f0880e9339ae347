// stack/stack_params_test.cpp - stack parameters: access classes, sets through the chain, stack-wide ones.
#include <string>

#include "stack/stack_test_util.h"

namespace {

using st::Stack;
constexpr uint32_t kComplete = ZERA_STATUS_COMPLETE, kStarted = ZERA_STATUS_STARTED;

// May a parameter of that class be set on a level with or without a next level and that status?
bool MaySet(uint32_t access, bool hasNext, uint32_t status) {
    const bool complete = (status & kComplete) != 0, started = (status & kStarted) != 0;
    const bool byClass[12] = {true,     !hasNext, hasNext && !complete, !complete, complete, !started, started,
                              true,     false,    complete && !started, complete && !started, complete && started};
    return access >= 12 || byClass[access];
}

TEST(StackParamAccess, EveryClassAgainstTheCompleteAndStartedBits) {
    Stack stack{"Params", "Params"};  // level 1 has a level above, level 2 is the top
    StackHandle *h1 = stack[1], *h2 = stack[2];
    ASSERT_NE(h2, nullptr);
    for (uint32_t status : {0u, kComplete, kStarted, kComplete | kStarted}) {
        h1->dwStatus = h2->dwStatus = status;
        for (StackHandle *h : {h1, h2}) {
            for (uint32_t access = 0; access <= 12; ++access) {
                const std::string name = "A" + std::to_string(access);
                SCOPED_TRACE(name + " level " + std::to_string(h->u8Level) + " status " + std::to_string(status));
                const bool expected = MaySet(access, h == h1, status);
                Param *p = ZERA_pstGetStackParamA(stack.h0(), h->u8Level, name.c_str());
                ASSERT_NE(p, nullptr);
                EXPECT_EQ(p->u8Attributes & ZERA_ATTR_SETTABLE, expected ? 1 : 0);
                // Through the level the class refuses (1034), through level 0 the refreshed bit (1028).
                const uint32_t value = access + 100 * status + 1000 * h->u8Level;
                if (expected) {
                    EXPECT_TRUE(ZERA_boSetStackParamA(h, h->u8Level, name.c_str(), value));
                    EXPECT_EQ(p->uValue.dw, value);
                    continue;
                }
                EXPECT_REFUSED(ZERA_boSetStackParamA(h, h->u8Level, name.c_str(), value), OSAL_ERR_INVALID_SIZE);
                EXPECT_NE(p->uValue.dw, value);
                EXPECT_REFUSED(ZERA_boSetStackParamA(stack.h0(), h->u8Level, name.c_str(), 0u), OSAL_ERR_INVALID_ARG);
            }
        }
    }
}

// Refused sets leave the value; type and attributes may come with the value (bit 2 keeps settable clear).
TEST(StackParamRefusals, LevelsNamesHandlesAndAttributes) {
    Stack stack{"Params", "HalfThreads"};
    StackHandle *h0 = stack.h0(), *h1 = stack[1], *h2 = stack[2];
    ASSERT_NE(h2, nullptr);
    EXPECT_REFUSED(ZERA_boSetStackParamA(h2, 1, "A0", 1u), OSAL_ERR_INVALID_LEVEL);  // below the handle
    EXPECT_REFUSED(ZERA_pstGetStackParamA(h0, 1, "a0"), OSAL_ERR_INVALID_ARG);
    Param *p = ZERA_pstGetStackParamA(h1, 1, "A0");
    // Whole lists (an empty one: its terminator); bits above 7 and bit 6 of the level are carried along.
    EXPECT_EQ(ZERA_pstGetStackParamA(h0, 1, nullptr), h1->pstStackParams);
    EXPECT_EQ(ZERA_pstGetStackParamA(h0, 2, nullptr)->pName, nullptr);
    EXPECT_EQ(ZERA_pstGetStackParamA(h0, 0x41, "A0"), p);
    EXPECT_TRUE(ZERA_boSetStackParamA(h0, 0x101, "A0", 9u) && p->uValue.dw == 9u);
    EXPECT_TRUE(ZERA_boSetStackParamA(h1, 1 | ZERA_LEVEL_WITH_TYPE | ZERA_LEVEL_WITH_ATTRIBUTES, "A0", 1u, 0x06u, 7u));
    EXPECT_EQ(p->u8Attributes & 0x07u, 0x06u);
    EXPECT_REFUSED(ZERA_boSetStackParamA(h0, 1 | ZERA_LEVEL_WITH_ATTRIBUTES, "A0", 0u, 6u), OSAL_ERR_INVALID_LEVEL);
    EXPECT_REFUSED(ZERA_boSetStackParamA(h0, 1, "A0", 6u), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boSetStackParamA(h1, 1 | ZERA_LEVEL_WITH_TYPE, "A0", ZERA_PARAM_STRING, "text"),
                   OSAL_ERR_INVALID_ARG);  // not the parameter's type
    EXPECT_EQ(p->uValue.dw, 7u);
}

// "Wide10": stack-wide numbers on levels 1 and 3, a string on 2, none on 4 (which completes).
class StackWide : public ::testing::Test {
protected:
    uint32_t Wide(uint32_t level, const char *name = "Wide10") {
        return ZERA_pstGetStackParamA(stack_[level], level, name)->uValue.dw;
    }
    st::ComponentTrace params_{"Params"};
    Stack stack_{"Params", "Layer", "Params", "Completer"};
};

// Set from the top down on every level that has it; read, the first level that has the name answers.
TEST_F(StackWide, SetOnEveryLevelThatHasItReadFromTheFirst) {
    StackHandle *h0 = stack_.h0(), *h2 = stack_[2];
    params_.Clear();
    EXPECT_TRUE(ZERA_boSetStackParamA(h0, 1, "Wide10", 42u)) << st::LastText();
    EXPECT_EQ(Wide(1) + Wide(3), 84u);
    EXPECT_STREQ(ZERA_pstGetStackParamA(h2, 2, "Wide10")->uValue.hs, "text");  // passed over
    EXPECT_EQ(params_.Levels(st::kNotify), (std::vector<uint32_t>{3, 1}));  // from the top down
    // Named through level 3's number, or as stack-wide, it is the same set.
    EXPECT_TRUE(ZERA_boSetStackParamA(h2, 3, "Wide10", 43u));
    EXPECT_EQ(Wide(1) * 100 + Wide(3), 4243u);  // level 1 lies below the handle
    EXPECT_TRUE(ZERA_boSetStackParamA(h0, ZERA_LEVEL_STACK_WIDE, "Wide10", 44u));
    EXPECT_EQ(Wide(1) + Wide(3), 88u);
    // Through level 0 (none of that name) level 1 answers; level 2's own is a string.
    EXPECT_EQ(ZERA_pstGetStackParamA(h0, ZERA_LEVEL_STACK_WIDE, "Wide10"), ZERA_pstGetStackParamA(h0, 1, "Wide10"));
    EXPECT_EQ(ZERA_pstGetStackParamA(h2, ZERA_LEVEL_STACK_WIDE, "Wide10")->dwType, ZERA_PARAM_STRING);
    // Level 2's "Gain" is not stack-wide: the search stops there.
    EXPECT_REFUSED(ZERA_pstGetStackParamA(h2, ZERA_LEVEL_STACK_WIDE, "Gain"), OSAL_ERR_INVALID_ARG);
    // A name that no level has: the top answers that it lacks it.
    EXPECT_REFUSED(ZERA_pstGetStackParamA(h0, ZERA_LEVEL_STACK_WIDE, "Nowhere"), OSAL_ERR_INVALID_HANDLE);
}

TEST_F(StackWide, RefusedWhileNotCompleteAndTheStartedBitComesDown) {
    for (uint32_t n = 2; n <= 4; ++n) stack_[n]->dwStatus = 0;
    params_.Clear();
    // Level 3, not complete, refuses and fails the whole set; level 1 takes the value.
    EXPECT_REFUSED(ZERA_boSetStackParamA(stack_[1], 1, "Wide10", 8u), OSAL_ERR_INVALID_SIZE);
    EXPECT_EQ(Wide(1) * 100 + Wide(3), 800u);
    EXPECT_EQ(params_.Levels(st::kNotify), (std::vector<uint32_t>{1}));
    // Levels 1 and 2 take the started bit of the level above before they set their own.
    stack_[2]->dwStatus = kComplete;
    stack_[4]->dwStatus = stack_[3]->dwStatus = kComplete | kStarted;
    EXPECT_TRUE(ZERA_boSetStackParamA(stack_[1], 1, "Wide11", 6u));
    EXPECT_EQ(stack_[2]->dwStatus & stack_[1]->dwStatus, kComplete | kStarted);
    EXPECT_EQ(Wide(1, "Wide11") + Wide(3, "Wide11"), 12u);
}

// Values through the chain; a string that cannot be copied, or a value the notification changes, fails the
// set; wide levels take wide names and values, a narrow name finds nothing there.
TEST_F(StackWide, ValuesThroughTheChainAndSetsThatFail) {
    StackHandle *h0 = stack_.h0(), *h3 = stack_[3];
    Param *text = ZERA_pstGetStackParamA(h3, 3, "Text");
    text->u8ChangeFlags = 0;
    params_.Clear();
    EXPECT_TRUE(ZERA_boSetStackParamA(h0, 3, "Text", "changed"));
    EXPECT_TRUE(std::string(text->uValue.hs) == "changed" && text->u8ChangeFlags == ZERA_CHANGE_VALUE);
    EXPECT_EQ(params_.Levels(st::kNotify), (std::vector<uint32_t>{3}));
    EXPECT_TRUE(ZERA_boSetStackParamA(h3, 3, "Text", "kept"));
    {
        st::AllocFailureGuard guard;
        OSAL_vTestFailAllocAfter(0);
        EXPECT_REFUSED(ZERA_boSetStackParamA(h3, 3, "Text", "lost"), OSAL_ERR_NO_MEMORY);
    }
    EXPECT_STREQ(text->uValue.hs, "kept");
    EXPECT_REFUSED(ZERA_boSetStackParamA(h0, 3, "Clamp", 150u), OSAL_ERR_INVALID_SIZE);
    EXPECT_EQ(ZERA_pstGetStackParamA(h3, 3, "Clamp")->uValue.dw, 100u);  // the component's value stays
    StackHandle *h5 = stack_.AddWide(u"Params");
    EXPECT_REFUSED(ZERA_boSetStackParamA(h0, 5, "Text", "narrow"), OSAL_ERR_INVALID_ARG);
    EXPECT_TRUE(ZERA_boSetStackParamW(h0, 5, st::W(u"Text"), st::W(u"wide value")));
    EXPECT_EQ(st::WStr(ZERA_pstGetStackParamW(h5, 5, st::W(u"Text"))->uValue.ls), u"wide value");
}

// Every refusal of the parameter, statistics and add operations says what it refuses: the codes are the
// library's, the argument names the parameter, the levels and their components.
TEST(RefusalTexts, ParametersStatisticsAndAdds) {
    Stack stack{"Params", "Limits"};
    StackHandle *h0 = stack.h0(), *h1 = stack[1], *h2 = stack[2];
    ASSERT_NE(h2, nullptr);
    uint32_t words[ZERA_STATS_WORDS];
    st::ExpectRefusals({
        {"read on another level", [&] { return ZERA_pstGetStackParamA(h0, 1, "Rate") != nullptr; },
         OSAL_ERR_INVALID_ARG, "no parameter 'Rate' on level 1 (Params); it is on level 2 (Limits)"},
        {"set on another level", [&] { return ZERA_boSetStackParamA(h1, 1, "Rate", 5u) != 0; }, OSAL_ERR_INVALID_ARG,
         "no parameter 'Rate' on level 1 (Params); it is on level 2 (Limits)"},
        {"read on no level", [&] { return ZERA_pstGetStackParamA(h0, 2, "Nope") != nullptr; }, OSAL_ERR_INVALID_ARG,
         "no parameter 'Nope' on level 2 (Limits); no level has it"},
        {"read of a missing level", [&] { return ZERA_pstGetStackParamA(h0, 3, "A0") != nullptr; },
         OSAL_ERR_INVALID_HANDLE, "no level 3: the topmost is level 2 (Limits)"},
        {"set of a missing level", [&] { return ZERA_boSetStackParamA(h1, 4 | ZERA_LEVEL_WITH_TYPE, "A0", 1u, 1u) != 0; },
         OSAL_ERR_INVALID_HANDLE, "no level 4: the topmost is level 2 (Limits)"},
        {"not settable, on its level", [&] { return ZERA_boSetStackParamA(h2, 2, "Fixed", 1u) != 0; },
         OSAL_ERR_INVALID_SIZE, "level 2 (Limits): 'Fixed' is never settable"},
        {"not settable, through level 0", [&] { return ZERA_boSetStackParamA(h0, 1, "A6", 1u) != 0; },
         OSAL_ERR_INVALID_ARG, "level 1 (Params): 'A6' is settable only while the stack is started"},
        {"not kept", [&] { return ZERA_boSetStackParamA(h0, 1, "Clamp", 500u) != 0; }, OSAL_ERR_INVALID_SIZE,
         "level 1 (Params): its component kept 'Clamp' at 100 instead of 500"},
        {"another type", [&] { return ZERA_boSetStackParamA(h1, 1 | ZERA_LEVEL_WITH_TYPE, "A0", 0u, "x") != 0; },
         OSAL_ERR_INVALID_ARG, "'A0' on level 1 (Params) is a dword, not a string"},
        {"stack-wide by its level", [&] { return ZERA_boSetStackParamA(h1, 1 | ZERA_LEVEL_WITH_TYPE, "Wide10", 1u, 1u) != 0; },
         OSAL_ERR_INVALID_ARG, "'Wide10' on level 1 (Params) is stack-wide: set it with level 63 or through a lower level"},
        {"stack-wide read of a level's own", [&] { return ZERA_pstGetStackParamA(h0, 63, "A0") != nullptr; },
         OSAL_ERR_INVALID_ARG, "'A0' on level 1 (Params) is not stack-wide (access class 0): ask for level 1"},
        {"stack-wide read of none", [&] { return ZERA_pstGetStackParamA(h0, 63, "Nope") != nullptr; },
         OSAL_ERR_INVALID_HANDLE, "no level has a stack-wide parameter 'Nope'"},
        {"no name", [&] { return ZERA_boSetStackParamA(h0, 1, "", 1u) != 0; }, OSAL_ERR_INVALID_ARG,
         "a set names its parameter"},
        {"level 0", [&] { return ZERA_boSetStackParamA(h0, 0, "A0", 1u) != 0; }, OSAL_ERR_INVALID_LEVEL,
         "level byte 0x00: level 0 has no stack parameters (the host's level owns none)"},
        {"below the handle", [&] { return ZERA_pstGetStackParamA(h2, 1, "A0") != nullptr; }, OSAL_ERR_INVALID_LEVEL,
         "level byte 0x01: a level below the handle's own: ask through a lower level's handle"},
        {"a type through level 0", [&] { return ZERA_boSetStackParamA(h0, 2 | ZERA_LEVEL_WITH_TYPE, "Rate", 1u, 5u) != 0; },
         OSAL_ERR_INVALID_LEVEL,
         "level byte 0x82: through level 0 a set names neither the type (ZERA_LEVEL_WITH_TYPE) nor attributes "
         "(ZERA_LEVEL_WITH_ATTRIBUTES): the parameter's own type is used; the host kit's typed setters check it"},
        {"stack-wide read without a name", [&] { return ZERA_pstGetStackParamA(h0, 63, nullptr) != nullptr; },
         OSAL_ERR_INVALID_LEVEL, "level byte 0x3F: a stack-wide read names one parameter"},
        {"statistics without output", [&] { return ZERA_boGetStatistics(h0, 1, nullptr) != 0; }, OSAL_ERR_INVALID_ARG,
         "no address for the 14 statistics words"},
        {"time without output", [&] { return ZERA_boGetTime(h0, 1, nullptr) != 0; }, OSAL_ERR_INVALID_ARG,
         "no address for the time"},
        {"a wide level asked narrow", [&] { return ZERA_pstGetStackParamW(h0, 1, st::W(u"A0")) != nullptr; },
         OSAL_ERR_INVALID_ARG, "level 1 (Params) has narrow parameters: ask with the A operations"},
    });
    // A level above the topmost answers with the topmost level's figures, as the library has it.
    ZERA_vUpdateLoad(h2, 5, 6);
    ASSERT_TRUE(ZERA_boGetStatistics(h0, 9, words));
    EXPECT_EQ(words[ZERA_STATS_LOAD], 5u | 6u << 16);
}

// Refused adds name the rule, both components and their figures.
TEST(RefusalTexts, InfoBlocksThatDoNotSuit) {
    const struct {
        std::vector<const char *> below;
        const char *added;
        uint32_t code;
        const char *arg;
    } cases[] = {
        {{"Counter"}, "Ticker", OSAL_ERR_INFO_MISMATCH,
         "range B: Ticker needs range B 3..3 below it; level 1 (Counter) offers 2..2"},
        {{"Ticker"}, "Counter", OSAL_ERR_INFO_MISMATCH,
         "flags: level 1 (Ticker) takes nothing on top (its upper flags 0x08); Counter has flags 0x00"},
        {{}, "Major1", OSAL_ERR_VERSION_MISMATCH,
         "version: Major1.COMPONENT is version 1.0; level 0 (VOQ_ZERA) takes version 0.x on top"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.added);
        Stack stack;
        for (const char *name : c.below) stack.Add(name);
        EXPECT_REFUSED(ZERA_bAddToStackA(stack.h0(), c.added), c.code);
        EXPECT_EQ(st::LastArg(), c.arg);
        EXPECT_EQ(ZERA_hHandleGetNextLevel(stack.Top()), nullptr);
    }
}

}  // namespace
