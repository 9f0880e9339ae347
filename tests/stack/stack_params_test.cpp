// stack/stack_params_test.cpp - reading and setting stack parameters through
// the chain: the access classes against the complete and started bits,
// stack-wide sets from the top down, notifications that change the value,
// and attaching real stack parameters to events.
#include <cmath>
#include <string>

#include "stack/stack_test_util.h"

namespace {

using st::ComponentTrace;
using st::Stack;

constexpr uint32_t kComplete = ZERA_STATUS_COMPLETE;
constexpr uint32_t kStarted = ZERA_STATUS_STARTED;

// The access-class table, row by row: may a parameter of that class be set
// on a level with a next level (`hasNext`) and that status?
bool MaySet(uint32_t access, bool hasNext, uint32_t status) {
    const bool complete = (status & kComplete) != 0, started = (status & kStarted) != 0;
    switch (access) {
        case 1: return !hasNext;
        case 2: return hasNext && !complete;
        case 3: return !complete;
        case 4: return complete;
        case 5: return !started;
        case 6: return started;
        case 8: return false;
        case 9:
        case 10: return complete && !started;
        case 11: return complete && started;
        default: return true;  // 0, 7, 12 and up
    }
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
                // Through the level itself the class decides (1034); through
                // level 0 the refreshed bit refuses first (1028). Classes 10
                // and 11 are stack-wide: both levels take the value.
                const uint32_t value = access + 100 * status + 1000 * h->u8Level;
                if (expected) {
                    EXPECT_TRUE(ZERA_boSetStackParamA(h, h->u8Level, name.c_str(), value));
                    EXPECT_EQ(p->uValue.dw, value);
                } else {
                    EXPECT_REFUSED(ZERA_boSetStackParamA(h, h->u8Level, name.c_str(), value), OSAL_ERR_INVALID_SIZE);
                    EXPECT_NE(p->uValue.dw, value);
                    EXPECT_REFUSED(ZERA_boSetStackParamA(stack.h0(), h->u8Level, name.c_str(), value),
                                   OSAL_ERR_INVALID_ARG);
                }
            }
        }
    }
}

TEST(StackParamAccess, AttributeBitsReplacedOnRequest) {
    Stack stack{"Params"};
    StackHandle *h0 = stack.h0(), *h1 = stack[1];
    Param *p = ZERA_pstGetStackParamA(h1, 1, "A0");
    ASSERT_NE(p, nullptr);
    p->u8ChangeFlags = 0;
    // Bit 2 keeps the settable bit clear; the set itself still goes by the class.
    EXPECT_TRUE(ZERA_boSetStackParamA(h1, 1 | ZERA_LEVEL_WITH_ATTRIBUTES, "A0", 0x04u, 5u));
    EXPECT_EQ(p->u8Attributes & 0x07, 0x04);
    EXPECT_EQ(p->uValue.dw, 5u);
    EXPECT_EQ(p->u8ChangeFlags & ZERA_CHANGE_VALUE, ZERA_CHANGE_VALUE);
    EXPECT_EQ(ZERA_pstGetStackParamA(h0, 1, "A0")->u8Attributes & ZERA_ATTR_SETTABLE, 0);
    // Through level 0 neither bit 6 nor bit 7 is allowed, and a parameter
    // that reads as not settable is refused.
    EXPECT_REFUSED(ZERA_boSetStackParamA(h0, 1 | ZERA_LEVEL_WITH_ATTRIBUTES, "A0", 0u, 6u), OSAL_ERR_INVALID_LEVEL);
    EXPECT_REFUSED(ZERA_boSetStackParamA(h0, 1 | ZERA_LEVEL_WITH_TYPE, "A0", 1u, 6u), OSAL_ERR_INVALID_LEVEL);
    EXPECT_REFUSED(ZERA_boSetStackParamA(h0, 1, "A0", 6u), OSAL_ERR_INVALID_ARG);
    // Both bits given with the type first, then the attribute byte.
    EXPECT_TRUE(ZERA_boSetStackParamA(h1, 1 | ZERA_LEVEL_WITH_TYPE | ZERA_LEVEL_WITH_ATTRIBUTES, "A0", 1u, 0x02u, 7u));
    EXPECT_EQ(p->u8Attributes & 0x07, 0x03);
    // A type that is not the parameter's is refused, the value kept.
    EXPECT_REFUSED(ZERA_boSetStackParamA(h1, 1 | ZERA_LEVEL_WITH_TYPE, "A0", ZERA_PARAM_STRING, "text"),
                   OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(p->uValue.dw, 7u);
}

TEST(StackParamSet, LevelsAndNamesRefused) {
    Stack stack{"Params", "Layer"};
    StackHandle *h1 = stack[1];
    EXPECT_REFUSED(ZERA_boSetStackParamA(stack.h0(), 0, "A0", 1u), OSAL_ERR_INVALID_LEVEL);
    EXPECT_REFUSED(ZERA_boSetStackParamA(stack[2], 1, "A0", 1u), OSAL_ERR_INVALID_LEVEL);  // below the handle
    EXPECT_REFUSED(ZERA_boSetStackParamA(h1, 1, nullptr, 1u), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boSetStackParamA(h1, 1, "", 1u), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boSetStackParamA(h1, 1, "Missing", 1u), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boSetStackParamA(h1, 1 | ZERA_LEVEL_WITH_TYPE, "Missing", 1u, 1u), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boSetStackParamA(h1, 5, "A0", 1u), OSAL_ERR_INVALID_HANDLE);  // no level 5
    EXPECT_REFUSED(ZERA_boSetStackParamA(nullptr, 1, "A0", 1u), OSAL_ERR_INVALID_HANDLE);
    // Stack-wide parameters cannot be set as a level's own.
    EXPECT_REFUSED(ZERA_boSetStackParamA(h1, 1 | ZERA_LEVEL_WITH_TYPE, "Wide10", 1u, 1u), OSAL_ERR_INVALID_ARG);
    // A narrow request finds nothing in a wide level's list.
    StackHandle *h3 = stack.AddWide(u"Params");
    EXPECT_REFUSED(ZERA_boSetStackParamA(h3, 3, "A0", 1u), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(ZERA_pstGetStackParamA(stack.h0(), 3, "A0"), nullptr);
    EXPECT_NE(ZERA_pstGetStackParamW(stack.h0(), 3, st::W(u"A0")), nullptr);
    // Bits above 7 are carried along: 0x101 is level 1 (65 would carry bit 6).
    EXPECT_TRUE(ZERA_boSetStackParamA(stack.h0(), 0x101, "A0", 9u));
    EXPECT_EQ(ZERA_pstGetStackParamA(h1, 1, "A0")->uValue.dw, 9u);
}

TEST(StackParamSet, ValuesOfEveryTypeThroughTheChain) {
    ComponentTrace params("Params");
    Stack stack{"Layer", "Params"};
    StackHandle *h1 = stack[1], *h2 = stack[2];
    ASSERT_NE(h2, nullptr);
    Param *text = ZERA_pstGetStackParamA(h1, 2, "Text");
    ASSERT_NE(text, nullptr);
    text->u8ChangeFlags = 0;
    EXPECT_TRUE(ZERA_boSetStackParamA(stack.h0(), 2, "Text", "changed"));
    EXPECT_STREQ(text->uValue.hs, "changed");
    EXPECT_EQ(text->u8ChangeFlags, ZERA_CHANGE_VALUE);
    EXPECT_EQ(params.Levels(st::kNotify), (std::vector<uint32_t>{2}));
    EXPECT_TRUE(ZERA_boSetStackParamA(h1, 2, "Ratio", 0.25));
    EXPECT_EQ(ZERA_pstGetStackParamA(h2, 2, "Ratio")->uValue.r, 0.25);
    EXPECT_TRUE(ZERA_boSetStackParamA(h2, 2, "Ratio", std::nan("")));  // the same bits stick
    EXPECT_TRUE(ZERA_boSetStackParamA(stack.h0(), 1, "Gain", 17u));
    EXPECT_EQ(ZERA_pstGetStackParamA(h1, 1, "Gain")->uValue.dw, 17u);
    EXPECT_TRUE(ZERA_boSetStackParamA(stack.h0(), 2, "Text", static_cast<const char *>(nullptr)));
    EXPECT_EQ(text->uValue.hs, nullptr);

    // A string that cannot be copied leaves the old value.
    EXPECT_TRUE(ZERA_boSetStackParamA(h2, 2, "Text", "kept"));
    {
        st::AllocFailureGuard guard;
        ZERA_vTestFailAllocAfter(0);
        EXPECT_REFUSED(ZERA_boSetStackParamA(h2, 2, "Text", "lost"), OSAL_ERR_NO_MEMORY);
    }
    EXPECT_STREQ(text->uValue.hs, "kept");

    // Wide levels take wide names and values.
    StackHandle *h3 = stack.AddWide(u"Params");
    EXPECT_TRUE(ZERA_boSetStackParamW(stack.h0(), 3, st::W(u"Text"), st::W(u"wide value")));
    EXPECT_EQ(st::U16(ZERA_pstGetStackParamW(h3, 3, st::W(u"Text"))->uValue.ls), u"wide value");
    EXPECT_EQ(params.Levels(st::kNotify).back(), 3u);
}

TEST(StackParamSet, ANotificationThatChangesTheValueFailsTheSet) {
    Stack stack{"Params"};
    EXPECT_TRUE(ZERA_boSetStackParamA(stack.h0(), 1, "Clamp", 60u));
    EXPECT_REFUSED(ZERA_boSetStackParamA(stack.h0(), 1, "Clamp", 150u), OSAL_ERR_INVALID_SIZE);
    EXPECT_EQ(ZERA_pstGetStackParamA(stack[1], 1, "Clamp")->uValue.dw, 100u);  // the component's value stays
}

// Levels 1 and 3 have the stack-wide number "Wide10", level 2 a stack-wide
// string of that name, level 4 none; level 4 completes the stack.
class StackWide : public ::testing::Test {
protected:
    uint32_t Wide(uint32_t level, const char *name = "Wide10") {
        return ZERA_pstGetStackParamA(stack_[level], level, name)->uValue.dw;
    }
    ComponentTrace params_{"Params"};
    Stack stack_{"Params", "Layer", "Params", "Completer"};
};

TEST_F(StackWide, SetFromTheTopDownOnEveryLevelThatHasIt) {
    EXPECT_EQ(stack_[1]->dwStatus, kComplete);
    params_.Clear();
    EXPECT_TRUE(ZERA_boSetStackParamA(stack_.h0(), 1, "Wide10", 42u)) << st::LastText();
    EXPECT_EQ(Wide(1), 42u);
    EXPECT_EQ(Wide(3), 42u);
    EXPECT_STREQ(ZERA_pstGetStackParamA(stack_[2], 2, "Wide10")->uValue.hs, "text");  // passed over
    EXPECT_EQ(params_.Levels(st::kNotify), (std::vector<uint32_t>{3, 1}));

    // Named through level 3's number, or as stack-wide, it is the same set.
    EXPECT_TRUE(ZERA_boSetStackParamA(stack_[2], 3, "Wide10", 43u));
    EXPECT_EQ(Wide(1), 42u);  // level 1 lies below the handle
    EXPECT_EQ(Wide(3), 43u);
    EXPECT_TRUE(ZERA_boSetStackParamA(stack_.h0(), ZERA_LEVEL_STACK_WIDE, "Wide10", 44u));
    EXPECT_EQ(Wide(1), 44u);
    EXPECT_EQ(Wide(3), 44u);
}

TEST_F(StackWide, RefusedWhileNotCompleteAndTheStartedBitComesDown) {
    for (uint32_t n = 1; n <= 4; ++n) stack_[n]->dwStatus = 0;
    params_.Clear();
    EXPECT_REFUSED(ZERA_boSetStackParamA(stack_[1], 1, "Wide10", 7u), OSAL_ERR_INVALID_SIZE);
    EXPECT_EQ(Wide(1), 0u);
    EXPECT_EQ(Wide(3), 0u);
    EXPECT_TRUE(params_.Levels(st::kNotify).empty());
    // One level that refuses fails the whole set; the others take the value.
    stack_[1]->dwStatus = kComplete;
    EXPECT_REFUSED(ZERA_boSetStackParamA(stack_[1], 1, "Wide10", 8u), OSAL_ERR_INVALID_SIZE);
    EXPECT_EQ(Wide(1), 8u);
    EXPECT_EQ(Wide(3), 0u);

    // Levels 1 and 2 are not started, but each takes the started bit of the
    // level above it before it sets its own.
    stack_[2]->dwStatus = kComplete;
    stack_[4]->dwStatus = stack_[3]->dwStatus = kComplete | kStarted;
    EXPECT_TRUE(ZERA_boSetStackParamA(stack_[1], 1, "Wide11", 6u));
    EXPECT_EQ(stack_[2]->dwStatus, kComplete | kStarted);
    EXPECT_EQ(stack_[1]->dwStatus, kComplete | kStarted);
    EXPECT_EQ(Wide(1, "Wide11"), 6u);
    EXPECT_EQ(Wide(3, "Wide11"), 6u);
}

TEST_F(StackWide, ReadAsStackWideFindsTheFirstLevelThatHasTheName) {
    // Through level 0 (none of that name) level 1 answers.
    EXPECT_EQ(ZERA_pstGetStackParamA(stack_.h0(), ZERA_LEVEL_STACK_WIDE, "Wide10"),
              ZERA_pstGetStackParamA(stack_[1], 1, "Wide10"));
    // Level 2's own is stack-wide too (a string).
    EXPECT_EQ(ZERA_pstGetStackParamA(stack_[2], ZERA_LEVEL_STACK_WIDE, "Wide10")->dwType, ZERA_PARAM_STRING);
    // Level 2's "Gain" is not stack-wide: the search stops there.
    EXPECT_REFUSED(ZERA_pstGetStackParamA(stack_[2], ZERA_LEVEL_STACK_WIDE, "Gain"), OSAL_ERR_INVALID_ARG);
    // A name that no level has: the top answers that it lacks it.
    EXPECT_REFUSED(ZERA_pstGetStackParamA(stack_.h0(), ZERA_LEVEL_STACK_WIDE, "Nowhere"), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(ZERA_pstGetStackParamA(stack_.h0(), ZERA_LEVEL_STACK_WIDE, nullptr), OSAL_ERR_INVALID_LEVEL);
}

TEST(StackParamGet, WholeListsAndRefusals) {
    Stack stack{"Params", "KitCheck"};
    StackHandle *h1 = stack[1], *h2 = stack[2];
    ASSERT_NE(h2, nullptr);
    EXPECT_EQ(ZERA_pstGetStackParamA(stack.h0(), 1, nullptr), h1->pstStackParams);
    Param *empty = ZERA_pstGetStackParamA(stack.h0(), 2, nullptr);  // an empty list: its terminator
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->pName, nullptr);

    EXPECT_REFUSED(ZERA_pstGetStackParamA(stack.h0(), 0, "A0"), OSAL_ERR_INVALID_LEVEL);
    EXPECT_REFUSED(ZERA_pstGetStackParamA(h2, 1, "A0"), OSAL_ERR_INVALID_LEVEL);
    EXPECT_REFUSED(ZERA_pstGetStackParamA(stack.h0(), 3, "A0"), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(ZERA_pstGetStackParamA(stack.h0(), 1, "a0"), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(ZERA_pstGetStackParamA(stack.h0(), 0x41, "A0"), ZERA_pstGetStackParamA(h1, 1, "A0"));
}

TEST(AttachStackParam, ValuesOfRealStackParameters) {
    Stack stack{"Layer"};
    StackHandle *h0 = stack.h0(), *h1 = stack[1];
    ASSERT_NE(stack.AddWide(u"Params"), nullptr);
    Event *ev = ZERA_pstCreateEvent(1, 1, 0);
    EXPECT_TRUE(ZERA_boAttachParamA(h0, ev, 1, 0, "Gain", 5u)) << st::LastText();
    Attachment *node = *ZERA_ppstCheckParListA(ev, 1, 0, 0, 0);
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(static_cast<const char *>(node->pParList[0].pName), "Gain");
    EXPECT_EQ(node->pParList[0].uValue.dw, 5u);
    EXPECT_EQ(node->pParList[0].dwAccess, ZERA_pstGetStackParamA(h1, 1, "Gain")->dwAccess);
    // Not attachable ("Wide10" of level 1 has no attach bit), not there, or
    // the other width: refused.
    EXPECT_REFUSED(ZERA_boAttachParamA(h0, ev, 1, 0, "Wide10", "x"), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boAttachParamA(h0, ev, 3, 0, "Gain", 1u), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(ZERA_boAttachParamA(h1, ev, 2, 0, "Text", "narrow"), OSAL_ERR_INVALID_ARG);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));

    // A wide event carries the wide level's values; a stack-wide one is
    // found from the level it is attached for.
    ev = ZERA_pstCreateEvent(1, 2, 0);
    EXPECT_TRUE(ZERA_boAttachParamW(h1, ev, 2, 1, st::W(u"Text"), st::W(u"sent")));
    EXPECT_TRUE(ZERA_boAttachParamW(h1, ev, ZERA_LEVEL_STACK_WIDE, 0, st::W(u"Wide10"), 9u));
    EXPECT_EQ(ev->boWideAttach, 1);
    node = *ZERA_ppstCheckParListA(ev, ZERA_LEVEL_STACK_WIDE, 0, 0, 0);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->pParList[0].dwAccess, ZERA_ACCESS_WIDE_READY);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

}  // namespace
