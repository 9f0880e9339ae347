// stack/stack_levels_test.cpp - adding and removing levels; refusals leave the stack as it was.
#include <cstdio>
#include <fstream>

#include "handle/handle.h"
#include "stack/stack_test_util.h"

namespace {

using st::ComponentTrace;
using st::ShapeOf;
using st::Stack;
using st::Traced;
using Levels = std::vector<uint32_t>;

uint8_t LevelsChangedMark(const StackHandle *h) { return h->pstStackParams[0].u8ChangeFlags & ZERA_CHANGE_LEVELS; }

TEST(AddToStack, LevelsBuiltThroughLevelZeroAndThroughAMiddleLevel) {
    ComponentTrace layer("Layer");
    Stack stack{"Layer", "Layer", "Params"};
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x0Fu);
    // Through level 2 the new level lands on top; only requests through level 0 keep its mask.
    StackHandle *h2 = stack[2];
    h2->pstStackParams[0].u8ChangeFlags = 0;
    EXPECT_EQ(ZERA_bAddToStackA(h2, "HalfThreads"), 4);
    EXPECT_EQ(LevelsChangedMark(h2) & LevelsChangedMark(stack[4]), ZERA_CHANGE_LEVELS);
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Layer"), 5);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x2Fu);
    for (uint32_t n = 1; n <= 5; ++n) {  // the chain and the masks each level got from its parent
        StackHandle *h = stack[n], *below = stack[n - 1];
        EXPECT_EQ(h->pstPrevLevel, below);  // lower wanted: the bits 1..n that levels 0..n-1 want
        const Levels got = {h->u8Level, below->dwWantedLevels, h->dwLowerWantedLevels};
        EXPECT_EQ(got, (Levels{n, 1u << n, (2u << n) - 2}));
    }
    EXPECT_EQ(stack[1]->pstNextLevel, h2);  // levels 1 and up link in plain
    EXPECT_EQ(layer.Levels(st::kInit), (Levels{1, 2, 5}));
}

TEST(AddToStack, FileNameGetsTheSuffixUnlessItHasOne) {
    if (!std::ifstream("Layer.COMPONENT").good()) GTEST_SKIP() << "run from the components' folder";
    // The third copy is found only if a name wrongly got the suffix.
    const char *copies[] = {"stack_test_Odd.component", ".COMPONENT.COMPONENT", "stack_test_Even.Component.COMPONENT"};
    for (const char *to : copies) {
        std::ofstream(to, std::ios::binary) << std::ifstream("Layer.COMPONENT", std::ios::binary).rdbuf();
    }
    Stack stack;
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "stack_test_Odd.component"), 1) << st::LastText();
    EXPECT_REFUSED(ZERA_bAddToStackW(stack.h0(), st::W(u"stack_test_Even.Component")), OSAL_ERR_LOAD_FAILED);  // used as is
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), ".COMPONENT"), 2) << st::LastText();  // not longer than the suffix
    EXPECT_EQ(ZERA_bAddToStackW(stack.h0(), st::W(u"Layer")), 3) << st::LastText();
    for (const char *to : copies) std::remove(to);
}

// Every refused add: the code, its argument, and a stack exactly as it was.
class RefusedAdd : public ::testing::Test {
protected:
    Stack stack_{"Layer"};
    st::StackShape before_ = ShapeOf(stack_);
};

TEST_F(RefusedAdd, ComponentsNamesAndHandlesThatCannotBeAdded) {
    const struct {
        const char *name;
        uint32_t code;
        const char *arg, *text;
        size_t ran;  // how far the component got: info, init, the release of its level context
    } cases[] = {
        {"NotComponent", OSAL_ERR_MODULE_REFUSED, "NotComponent.COMPONENT", "ZERA_boDeleteStack", 0},
        {"NoBinding", OSAL_ERR_MODULE_REFUSED, "NoBinding.COMPONENT", "ZERA_boModuleInitAPIA", 0},
        {"NoInit", OSAL_ERR_MODULE_REFUSED, "NoInit.COMPONENT", "\"ZERA_boModuleInit\"", 0},
        {"SetupFails", OSAL_ERR_MODULE_REFUSED, "SetupFails.COMPONENT", "ZERA_boSetupParListA failed", 1},
        // The level was linked when its init ran, and deinit never runs.
        {"InitFailsSilent", OSAL_ERR_INIT_FAILED, "InitFailsSilent.COMPONENT", "", 2},
        {"InitFailsCode", OSAL_ERR_TYPE_RANGE, "", "", 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ComponentTrace trace(c.name);
        EXPECT_REFUSED(ZERA_bAddToStackA(stack_.h0(), c.name), c.code);
        EXPECT_EQ(st::LastArg(), c.arg);
        EXPECT_NE(st::LastText().find(c.text), std::string::npos) << st::LastText();
        EXPECT_TRUE(c.code != OSAL_ERR_MODULE_REFUSED || OSAL_dwGetLastErrorSeverity() == OSAL_SEVERITY_ERROR);
        const Levels ran = {Traced(st::kInfo, 0), Traced(st::kInit, 2), Traced(st::kRelease, 2)};
        EXPECT_EQ(trace.Entries(), Levels(ran.begin(), ran.begin() + c.ran));
        EXPECT_TRUE(ShapeOf(stack_) == before_);
    }
    EXPECT_REFUSED(ZERA_bAddToStackA(stack_.h0(), "NoSuchComponent"), OSAL_ERR_LOAD_FAILED);
    EXPECT_NE(st::LastArg().find("NoSuchComponent.COMPONENT"), std::string::npos) << st::LastArg();
    EXPECT_REFUSED(ZERA_bAddToStackA(stack_.h0(), nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(st::LastArg(), "");
    EXPECT_REFUSED(ZERA_bAddToStackW(stack_.h0(), st::W(u"")), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_bAddToStackW(nullptr, st::W(u"L\u0100yer")), OSAL_ERR_INVALID_HANDLE);
    EXPECT_EQ(st::LastArg(), "L?yer");  // a narrow copy of the wide name
    stack_[1]->dwMagic = 0;  // a level above that fails the check stops the request on its way
    EXPECT_REFUSED(ZERA_bAddToStackA(stack_.h0(), "Layer"), OSAL_ERR_INVALID_HANDLE);
    stack_[1]->dwMagic = ZERA_HANDLE_MAGIC;
    EXPECT_TRUE(ShapeOf(stack_) == before_);
}

TEST_F(RefusedAdd, AllocationFailuresAnywhereLeaveTheStackAsItWas) {
    zt::SweepAllocFailures([&] { return ZERA_bAddToStackA(stack_.h0(), "Completer"); }, [&] { return ShapeOf(stack_); },
                           [&](uint8_t) {
                               ASSERT_TRUE(ZERA_boRemoveFromStackA(stack_.h0(), 2));
                               before_ = ShapeOf(stack_);  // level 1 keeps wanting level 2's events
                           },
                           5, zt::kAnyCode);
}

// Info blocks that do not suit level 0 are refused (the new level's bit is taken back too); a
// completing level completes the stack.
TEST(AddToStack, InfoBlocksThatDoNotSuitAndACompletingLevel) {
    ComponentTrace completer("Completer");
    Stack stack;
    const st::StackShape before = ShapeOf(stack);
    EXPECT_REFUSED(ZERA_bAddToStackA(stack.h0(), "Major1"), OSAL_ERR_VERSION_MISMATCH);
    EXPECT_REFUSED(ZERA_bAddToStackA(stack.h0(), "Picky"), OSAL_ERR_INFO_MISMATCH);
    EXPECT_EQ(st::LastArg(), "range A: Picky.COMPONENT takes range A 5..6 below it; level 0 (VOQ_ZERA) offers 0..0");
    EXPECT_TRUE(ShapeOf(stack) == before);
    StackHandle *h1 = stack.Add("Layer");
    const size_t blocksBefore = st::TakenIdBlocks();
    StackHandle *h2 = stack.Add("Completer");
    ASSERT_NE(h2, nullptr);
    // Complete and told so, down to every level; level 1 queued a copy for the host.
    for (StackHandle *h : {stack.h0(), h1, h2}) EXPECT_EQ(h->dwStatus, ZERA_STATUS_COMPLETE);
    EXPECT_EQ(completer.Entries(), (Levels{Traced(st::kInfo, 0), Traced(st::kInit, 2), Traced(st::kNotify, 2)}));
    auto *copy = static_cast<Event *>(OSAL_pvQueueGet(h1->hRecvQueue, 0, OSAL_stTimeNoWait));
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(st::StatusOf(copy) == ZERA_STATUS_COMPLETE && copy->u8Level == 1);
    EXPECT_TRUE(ZERA_boDeleteEvent(copy));
    // The status's identifier came from the top's runs, which it keeps while the event travels.
    EXPECT_EQ(st::TakenIdBlocks(), blocksBefore + h2->stEvIdManager.u8NumBlocks);
    // A second completing level finds the stack complete: notified, no status event.
    completer.Clear();
    EXPECT_EQ(stack.Add("Completer")->dwStatus, ZERA_STATUS_COMPLETE);
    EXPECT_EQ(completer.Levels(st::kNotify), (Levels{3}));
    EXPECT_EQ(OSAL_pvQueuePeek(h1->hRecvQueue, 0, OSAL_stTimeNoWait), nullptr);
    EXPECT_EQ(stack.Add("Layer")->dwStatus, ZERA_STATUS_COMPLETE);  // the status of the level below
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Picky"), 5);  // a level that takes anything on top takes it
}

Levels g_released;
void ZERA_CALL RecordRelease(void *pv) { g_released.push_back(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pv))); }

// Level 3 tries an add and a removal from inside its deinit: refused, the running removal goes on.
TEST(RemoveFromStack, RemovesFromTheTopDownAfterTheStatusEvent) {
    ComponentTrace layer("Layer"), completer("Completer"), nested("RemovesInDeinit");
    uint32_t *results = nested.Data("TestNested");
    ASSERT_NE(results, nullptr);
    g_released.clear();
    Stack stack{"Layer", "Layer", "RemovesInDeinit", "Completer"};
    for (uint32_t n = 1; n <= 4; ++n) {
        stack[n]->pvLevelContext = reinterpret_cast<void *>(uintptr_t{n});
        stack[n]->pfnLevelContextRelease = RecordRelease;
    }
    st::StartStack(stack);
    StackHandle *h1 = stack[1];
    EXPECT_EQ(completer.Levels(st::kStart), (Levels{4}));
    EXPECT_EQ(stack.h0()->dwStatus, ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED);
    EXPECT_EQ(h1->dwStatus, ZERA_STATUS_COMPLETE);  // Layer has no threads to start
    stack.h0()->pstStackParams[0].u8ChangeFlags = 0;
    completer.Clear();
    EXPECT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 2));
    EXPECT_EQ(g_released, (Levels{4, 3, 2}));
    EXPECT_EQ(layer.Levels(st::kDeinit), (Levels{2}));
    EXPECT_EQ(nested.Levels(st::kDeinit), (Levels{3}));
    EXPECT_EQ(Levels(results, results + 4), (Levels{0, OSAL_ERR_INVALID_HANDLE, 0, OSAL_ERR_INVALID_HANDLE}));
    // The stop came first, with the status already taken over.
    EXPECT_EQ(completer.Entries(), (Levels{Traced(st::kStop, 4), Traced(st::kDeinit, 4)}));
    EXPECT_TRUE(stack.Top() == h1 && h1->pstNextLevel == nullptr && stack.desc()->dwLevelMask == 0x3u);
    EXPECT_EQ(h1->dwStatus | stack.h0()->dwStatus, 0u);
    EXPECT_EQ(LevelsChangedMark(stack.h0()), ZERA_CHANGE_LEVELS);
}

// Identifier blocks go back on each stop and on removal: cycling reserves nothing for good. Without
// memory for the status event every level still stops before the first deinit (a component joining its
// threads there would hang).
TEST(RemoveFromStack, IdentifierBlocksComeBackAndEveryLevelStopsBeforeTheFirstDeinit) {
    ComponentTrace completer("Completer");
    const size_t before = st::TakenIdBlocks();
    Stack stack{"Completer", "Completer", "Completer"};
    auto drawAtEveryLevel = [&] {
        for (StackHandle *h = stack[1]; h != nullptr; h = h->pstNextLevel) {
            Event *ev = ZERA_pstCreateEventEx(h, ZERA_EVENT_DATA, 3, 0, 0, 0);
            ASSERT_NE(ev, nullptr) << st::LastText();
            ZERA_boDeleteEvent(ev);
        }
    };
    for (int cycle = 0; cycle < 3; ++cycle) {
        st::StartStack(stack);
        drawAtEveryLevel();
        ASSERT_GE(st::TakenIdBlocks(), before + 9);
        st::StopStack(stack);
        ASSERT_EQ(st::TakenIdBlocks(), before) << "cycle " << cycle;
    }
    drawAtEveryLevel();  // stopped, still complete: the levels draw again
    ASSERT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 2));
    EXPECT_EQ(st::TakenIdBlocks(), before);
    ASSERT_TRUE(stack.Add("Completer") && stack.Add("Completer"));
    completer.Clear();
    st::StartStack(stack);
    ASSERT_EQ(completer.Levels(st::kStart), (Levels{3, 2, 1}));
    drawAtEveryLevel();
    completer.Clear();
    {
        st::AllocFailureGuard guard;
        OSAL_vTestFailAllocAfter(0);
        EXPECT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 1));
    }
    EXPECT_EQ(completer.Entries(), (Levels{Traced(st::kStop, 3), Traced(st::kStop, 2), Traced(st::kStop, 1),
                                           Traced(st::kDeinit, 3), Traced(st::kDeinit, 2), Traced(st::kDeinit, 1)}));
    EXPECT_EQ(stack.h0()->dwStatus, 0u);
    EXPECT_EQ(st::TakenIdBlocks(), before);
}

TEST(RemoveFromStack, RefusalsRemoveNothingAndAMiddleLevelKeepsLevelZerosMask) {
    Stack stack{"Layer", "Layer", "Layer", "Layer"};
    const st::StackShape before = ShapeOf(stack);
    for (uint8_t level : {0, 192, 6}) {  // 192 is level 0; 6 lies above the top
        EXPECT_REFUSED(ZERA_boRemoveFromStackA(stack.h0(), level), OSAL_ERR_INVALID_LEVEL);
    }
    EXPECT_REFUSED(ZERA_boRemoveFromStackA(nullptr, 0), OSAL_ERR_INVALID_HANDLE);  // the handle is checked first
    EXPECT_REFUSED(ZERA_boRemoveFromStackW(stack[2], 5), OSAL_ERR_INVALID_LEVEL);
    EXPECT_TRUE(ShapeOf(stack) == before);
    EXPECT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 68));  // level 4: only the low 6 bits count
    // Through level 2, level 2 removes what is above it and keeps itself.
    StackHandle *h2 = stack[2];
    EXPECT_TRUE(ZERA_boRemoveFromStackA(h2, 2));
    EXPECT_TRUE(stack.Top() == h2 && stack.desc()->dwLevelMask == 0xFu);
    EXPECT_TRUE(ZERA_boRemoveFromStackW(stack.h0(), 1));
    EXPECT_TRUE(stack.Top() == stack.h0() && stack.desc()->dwLevelMask == 0x1u);
}

}  // namespace
