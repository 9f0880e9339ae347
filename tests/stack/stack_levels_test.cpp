// stack/stack_levels_test.cpp - adding components on top of a stack and
// removing levels from the top down, with every refusal leaving the stack as
// it was.
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "handle/handle.h"
#include "stack/stack_test_util.h"

namespace {

using st::ComponentTrace;
using st::Stack;
using st::Traced;

uint8_t LevelsChangedMark(const StackHandle *h) { return h->pstStackParams[0].u8ChangeFlags & ZERA_CHANGE_LEVELS; }

TEST(AddToStack, LevelsBuiltThroughLevelZeroAndThroughAMiddleLevel) {
    ComponentTrace layer("Layer");
    Stack stack{"Layer", "Layer", "Params"};
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x0Fu);

    // Through level 2 the new level lands on top; level 0's mask is kept
    // only by requests that pass through level 0.
    StackHandle *h2 = stack[2];
    h2->pstStackParams[0].u8ChangeFlags = 0;
    EXPECT_EQ(ZERA_bAddToStackA(h2, "KitCheck"), 4);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x0Fu);
    EXPECT_EQ(LevelsChangedMark(h2), ZERA_CHANGE_LEVELS);
    EXPECT_EQ(LevelsChangedMark(stack[4]), ZERA_CHANGE_LEVELS);
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Layer"), 5);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x2Fu);

    // The chain, the masks each new level got from its parent, the modules.
    for (uint32_t n = 1; n <= 5; ++n) {
        StackHandle *h = stack[n], *below = stack[n - 1];
        EXPECT_EQ(h->u8Level, n);
        EXPECT_EQ(h->pstPrevLevel, below);
        EXPECT_EQ(ZERA_hHandleGetNextLevel(below), h);
        EXPECT_NE(h->hModule, nullptr);
        EXPECT_EQ(h->boWide, 0);
        EXPECT_EQ(below->dwWantedLevels, 1u << n);
        EXPECT_EQ(h->dwLowerWantedLevels, (2u << n) - 2u);  // the wanted bits of levels 0..n-1: 1..n
        EXPECT_EQ(h->dwStatus, 0u);
    }
    EXPECT_EQ(stack[1]->pstNextLevel, h2);  // levels 1 and up link in plain
    EXPECT_STREQ(ZERA_hsComponentNameA(stack.h0(), 3), "Params");
    EXPECT_STREQ(ZERA_hsComponentNameA(stack.h0(), 4), "KitCheck");
    EXPECT_EQ(layer.Levels(st::kInit), (std::vector<uint32_t>{1, 2, 5}));

    // Each level runs an identifier manager of its component's size.
    EXPECT_EQ(stack[1]->stEvIdManager.pstLevel, stack[1]);
    EXPECT_EQ(stack[1]->stEvIdManager.u8NumBlocks, 2);
    EXPECT_EQ(stack[1]->stEvIdManager.u16BlockSize, 64);
    EXPECT_EQ(stack[3]->stEvIdManager.u8NumBlocks, 3);
    EXPECT_EQ(stack[3]->stEvIdManager.u16BlockSize, 16384);
}

TEST(AddToStack, WideComponentsAreBoundThroughTheirWideExports) {
    ComponentTrace wideOnly("WideOnly");
    Stack stack;
    StackHandle *h1 = stack.AddWide(u"WideOnly");
    ASSERT_NE(h1, nullptr);
    EXPECT_EQ(h1->boWide, 1);
    EXPECT_EQ(h1->apfnEntry[zera::kEntryModuleNotifyA], nullptr);  // the component has only the W one
    EXPECT_NE(h1->apfnEntry[zera::kEntryModuleNotifyW], nullptr);
    EXPECT_EQ(st::U16(ZERA_lsComponentNameW(stack.h0(), 1)), u"WideOnly");
    EXPECT_EQ(h1->pstStackParams[0].dwType, ZERA_PARAM_STRING);
    EXPECT_EQ(st::U16(h1->pstStackParams[0].uValue.ls), u"wide");

    // A wide add through level 1 forwards through slot 4.
    EXPECT_EQ(ZERA_bAddToStackW(h1, st::W(u"Layer")), 2);
    EXPECT_EQ(stack[2]->boWide, 1);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x03u);  // not through level 0
    EXPECT_TRUE(ZERA_boRemoveFromStackW(stack.h0(), 1));
    EXPECT_EQ(wideOnly.Levels(st::kDeinit), (std::vector<uint32_t>{1}));
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x01u);
}

// A copy of Layer under another file name in the current folder, where the
// loader looks first; removed again at the end.
struct LayerCopy {
    std::string to;
    explicit LayerCopy(const char *name) : to(name) {
        std::ofstream(to, std::ios::binary) << std::ifstream("Layer.COMPONENT", std::ios::binary).rdbuf();
    }
    ~LayerCopy() { std::remove(to.c_str()); }
};

TEST(AddToStack, FileNameGetsTheSuffixUnlessItHasOne) {
    if (!std::ifstream("Layer.COMPONENT").good()) GTEST_SKIP() << "needs the folder of the components as working folder";
    LayerCopy odd("stack_test_Odd.component"), bare(".COMPONENT.COMPONENT");
    Stack stack;
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "stack_test_Odd.component"), 1) << st::LastText();
    // Used as given: no such file.
    EXPECT_REFUSED(ZERA_bAddToStackW(stack.h0(), st::W(u"stack_test_odd.Component")), OSAL_ERR_LOAD_FAILED);
    // Ten characters are not longer than the suffix: it is added.
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), ".COMPONENT"), 2) << st::LastText();
    EXPECT_EQ(ZERA_bAddToStackW(stack.h0(), st::W(u"Layer")), 3) << st::LastText();
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Layer.COMPONENT"), 4) << st::LastText();
}

// Every refused add: the code, its argument, and a stack exactly as it was.
class RefusedAdd : public ::testing::Test {
protected:
    void SetUp() override { before_ = st::ShapeOf(stack_); }
    void ExpectRefused(const char *name, uint32_t code, const std::string &arg, const char *text = nullptr) {
        EXPECT_REFUSED(ZERA_bAddToStackA(stack_.h0(), name), code);
        EXPECT_EQ(st::LastArg(), arg);
        EXPECT_TRUE(text == nullptr || st::LastText().find(text) != std::string::npos) << st::LastText();
        EXPECT_TRUE(st::ShapeOf(stack_) == before_);
    }
    Stack stack_{"Layer"};
    st::StackShape before_;
};

TEST_F(RefusedAdd, ComponentsThatCannotBeAdded) {
    const struct {
        const char *name;
        uint32_t code;
        const char *arg, *text;
        bool infoRan, initRan;  // whether the component got that far
    } cases[] = {
        {"NotComponent", OSAL_ERR_MODULE_REFUSED, "NotComponent.COMPONENT", "ZERA_boDeleteStack", false, false},
        {"NoBinding", OSAL_ERR_MODULE_REFUSED, "NoBinding.COMPONENT", "ZERA_boModuleInitAPIA", false, false},
        {"NoInfoInit", OSAL_ERR_MODULE_REFUSED, "NoInfoInit.COMPONENT", "ZERA_vInfoBlockInitialize", false, false},
        {"NoInit", OSAL_ERR_MODULE_REFUSED, "NoInit.COMPONENT", "\"ZERA_boModuleInit\"", false, false},
        {"NoDeinit", OSAL_ERR_MODULE_REFUSED, "NoDeinit.COMPONENT", "ZERA_boModuleDeinit", false, false},
        {"WideOnly", OSAL_ERR_MODULE_REFUSED, "WideOnly.COMPONENT", "ZERA_boSetupParListA", false, false},
        {"SetupFails", OSAL_ERR_MODULE_REFUSED, "SetupFails.COMPONENT", "ZERA_boSetupParListA failed", true, false},
        // The level was linked when its init ran, and deinit never runs.
        {"InitFailsSilent", OSAL_ERR_INIT_FAILED, "InitFailsSilent.COMPONENT", nullptr, true, true},
        {"InitFailsCode", OSAL_ERR_TYPE_RANGE, "", nullptr, true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ComponentTrace trace(c.name);
        ExpectRefused(c.name, c.code, c.arg, c.text);
        EXPECT_TRUE(c.code != OSAL_ERR_MODULE_REFUSED || OSAL_dwGetLastErrorSeverity() == OSAL_SEVERITY_ERROR);
        std::vector<uint32_t> traced;
        if (c.infoRan) traced.push_back(Traced(st::kInfo, 0));
        if (c.initRan) traced.push_back(Traced(st::kInit, 2));
        EXPECT_EQ(trace.Entries(), traced);
    }
    EXPECT_REFUSED(ZERA_bAddToStackA(stack_.h0(), "NoSuchComponent"), OSAL_ERR_LOAD_FAILED);
    EXPECT_NE(st::LastArg().find("NoSuchComponent.COMPONENT"), std::string::npos) << st::LastArg();
    EXPECT_TRUE(st::ShapeOf(stack_) == before_);
}

TEST_F(RefusedAdd, BadNamesAndHandles) {
    ExpectRefused(nullptr, OSAL_ERR_INVALID_ARG, "");
    ExpectRefused("", OSAL_ERR_INVALID_ARG, "");
    EXPECT_REFUSED(ZERA_bAddToStackW(stack_.h0(), nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_bAddToStackW(stack_.h0(), st::W(u"")), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_bAddToStackA(nullptr, "Layer"), OSAL_ERR_INVALID_HANDLE);
    EXPECT_EQ(st::LastArg(), "Layer");
    EXPECT_REFUSED(ZERA_bAddToStackW(nullptr, st::W(u"L\u0100yer")), OSAL_ERR_INVALID_HANDLE);
    EXPECT_EQ(st::LastArg(), "L?yer");  // a narrow copy of the wide name

    // A level above that fails the check stops the request on its way.
    stack_[1]->dwMagic = 0;
    EXPECT_REFUSED(ZERA_bAddToStackA(stack_.h0(), "Layer"), OSAL_ERR_INVALID_HANDLE);
    stack_[1]->dwMagic = ZERA_HANDLE_MAGIC;
    EXPECT_TRUE(st::ShapeOf(stack_) == before_);
}

TEST(AddToStack, InfoBlocksThatDoNotSuitLevelZero) {
    Stack stack;
    EXPECT_REFUSED(ZERA_bAddToStackA(stack.h0(), "Major1"), OSAL_ERR_VERSION_MISMATCH);
    EXPECT_EQ(st::LastArg(), "version");
    EXPECT_REFUSED(ZERA_bAddToStackA(stack.h0(), "Picky"), OSAL_ERR_INFO_MISMATCH);
    EXPECT_EQ(st::LastArg(), "range A");
    EXPECT_EQ(stack.Top(), stack.h0());
    EXPECT_EQ(stack.h0()->dwWantedLevels, 0u);  // the new level's bit is taken back
    EXPECT_EQ(stack.desc()->dwNextLevelLink, zera::PointerKey());
    EXPECT_EQ(stack.desc()->dwLevelMask, 1u);
    // A level that takes anything on top takes it.
    ASSERT_NE(stack.Add("Layer"), nullptr);
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Picky"), 2);
}

TEST_F(RefusedAdd, LevelThirtyOneIsTheHighest) {
    for (uint32_t n = 2; n <= ZERA_MAX_LEVEL; ++n) ASSERT_EQ(ZERA_bAddToStackA(stack_.Top(), "Layer"), n);
    EXPECT_EQ(stack_.desc()->dwLevelMask, 0x3u);  // added through the top, not level 0
    before_ = st::ShapeOf(stack_);
    ExpectRefused("Layer", OSAL_ERR_INVALID_LEVEL, "Layer", "Invalid stack level");
    EXPECT_EQ(OSAL_dwGetLastErrorSeverity(), OSAL_SEVERITY_ERROR);
    EXPECT_REFUSED(ZERA_bAddToStackW(stack_[7], st::W(u"Layer")), OSAL_ERR_INVALID_LEVEL);
    EXPECT_EQ(st::LastArg(), "Layer");
}

TEST_F(RefusedAdd, AllocationFailuresAnywhereLeaveTheStackAsItWas) {
    st::AllocFailureGuard guard;
    for (auto failAfter : {ZERA_vTestFailAllocAfter, OSAL_vTestFailAllocAfter}) {
        uint8_t added = 0;
        long failures = 0;
        for (long n = 0; n < 400 && added == 0; ++n) {
            failAfter(n);
            added = ZERA_bAddToStackA(stack_.h0(), "Completer");
            failAfter(-1);
            if (added == 0) {
                ++failures;
                EXPECT_NE(OSAL_dwGetLastError(), 0u);
                ASSERT_TRUE(st::ShapeOf(stack_) == before_) << "after " << n << " allocations";
            }
        }
        ASSERT_EQ(added, 2);
        EXPECT_GE(failures, 5);
        ASSERT_TRUE(ZERA_boRemoveFromStackA(stack_.h0(), 2));
        EXPECT_EQ(stack_.Top(), stack_[1]);
        before_ = st::ShapeOf(stack_);  // level 1 keeps wanting level 2's events
    }
}

TEST(AddToStack, ACompletingLevelCompletesTheStack) {
    ComponentTrace completer("Completer");
    Stack stack{"Layer"};
    StackHandle *h1 = stack[1];
    const size_t blocksBefore = st::TakenIdBlocks();
    StackHandle *h2 = stack.Add("Completer");
    ASSERT_NE(h2, nullptr);
    // The new level is complete and told so; the status event carried the
    // status down to every level, and level 1 queued a copy for the host.
    for (StackHandle *h : {stack.h0(), h1, h2}) EXPECT_EQ(h->dwStatus, ZERA_STATUS_COMPLETE);
    EXPECT_EQ(completer.Entries(),
              (std::vector<uint32_t>{Traced(st::kInfo, 0), Traced(st::kInit, 2), Traced(st::kNotify, 2)}));
    auto *copy = static_cast<Event *>(OSAL_pvQueueGet(h1->hRecvQueue, 0, OSAL_stTimeNoWait));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(st::StatusOf(copy), ZERA_STATUS_COMPLETE);
    EXPECT_EQ(copy->u8Level, 1);
    EXPECT_TRUE(ZERA_boDeleteEvent(copy));
    // The status event drew its identifier from the top's manager, which
    // reserved its three blocks.
    EXPECT_EQ(st::TakenIdBlocks(), blocksBefore + 3);

    // A second completing level finds the stack complete already: notified,
    // but no status event.
    completer.Clear();
    EXPECT_EQ(stack.Add("Completer")->dwStatus, ZERA_STATUS_COMPLETE);
    EXPECT_EQ(completer.Levels(st::kNotify), (std::vector<uint32_t>{3}));
    EXPECT_EQ(OSAL_pvQueuePeek(h1->hRecvQueue, 0, OSAL_stTimeNoWait), nullptr);
    // A level that does not complete the stack takes the status of the level below.
    EXPECT_EQ(stack.Add("Layer")->dwStatus, ZERA_STATUS_COMPLETE);
}

TEST(AddToStack, WithoutIdentifierManagementNoManagersStart) {
    const size_t blocksBefore = st::TakenIdBlocks();
    Stack stack({"Layer", "Completer"}, ZERA_STATUS_NO_EVID);
    for (StackHandle *h : {stack[1], stack[2]}) {
        EXPECT_EQ(h->stEvIdManager.pstLevel, nullptr);
        EXPECT_EQ(h->stEvIdManager.padwBlocks, nullptr);
        EXPECT_EQ(h->dwStatus, ZERA_STATUS_NO_EVID | ZERA_STATUS_COMPLETE);
    }
    EXPECT_EQ(st::TakenIdBlocks(), blocksBefore);
    Event *ev = ZERA_pstCreateEventEx(stack[1], 1, 1, 0, 0, 0);  // its own identifier, no owner
    ASSERT_NE(ev, nullptr);
    EXPECT_EQ(ev->pstOwner, nullptr);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    EXPECT_EQ(st::TakenIdBlocks(), blocksBefore);
}

std::vector<uint32_t> g_released;
void ZERA_CALL RecordRelease(void *pv) { g_released.push_back(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pv))); }

TEST(RemoveFromStack, RemovesFromTheTopDownAfterTheStatusEvent) {
    ComponentTrace layer("Layer"), completer("Completer");
    g_released.clear();
    Stack stack{"Layer", "Layer", "Layer", "Completer"};
    for (uint32_t n = 1; n <= 4; ++n) {
        stack[n]->pvLevelContext = reinterpret_cast<void *>(uintptr_t{n});
        stack[n]->pfnLevelContextRelease = RecordRelease;
    }
    st::StartStack(stack);
    EXPECT_EQ(completer.Levels(st::kStart), (std::vector<uint32_t>{4}));
    EXPECT_EQ(stack[4]->dwStatus, ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED);
    EXPECT_EQ(stack.h0()->dwStatus, ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED);
    EXPECT_EQ(stack[1]->dwStatus, ZERA_STATUS_COMPLETE);  // Layer has no threads to start
    StackHandle *h1 = stack[1];

    stack.h0()->pstStackParams[0].u8ChangeFlags = 0;
    completer.Clear();
    EXPECT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 2));
    EXPECT_EQ(g_released, (std::vector<uint32_t>{4, 3, 2}));
    EXPECT_EQ(layer.Levels(st::kDeinit), (std::vector<uint32_t>{3, 2}));
    // The stop came first, with the status already taken over.
    EXPECT_EQ(completer.Entries(), (std::vector<uint32_t>{Traced(st::kStop, 4), Traced(st::kDeinit, 4)}));
    EXPECT_EQ(stack.Top(), h1);
    EXPECT_EQ(h1->pstNextLevel, nullptr);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x3u);
    EXPECT_EQ(h1->dwStatus, 0u);
    EXPECT_EQ(stack.h0()->dwStatus, 0u);
    EXPECT_EQ(stack.h0()->pstStackParams[0].u8ChangeFlags, ZERA_CHANGE_LEVELS);
}

TEST(RemoveFromStack, RefusalsRemoveNothingAndAMiddleLevelKeepsLevelZerosMask) {
    Stack stack{"Layer", "Layer", "Layer", "Layer"};
    const st::StackShape before = st::ShapeOf(stack);
    for (uint8_t level : {0, 64, 128, 192, 6}) {  // 6 lies above the top
        EXPECT_REFUSED(ZERA_boRemoveFromStackA(stack.h0(), level), OSAL_ERR_INVALID_LEVEL);
    }
    EXPECT_REFUSED(ZERA_boRemoveFromStackA(nullptr, 0), OSAL_ERR_INVALID_HANDLE);  // the handle is checked first
    EXPECT_REFUSED(ZERA_boRemoveFromStackW(nullptr, 1), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(ZERA_boRemoveFromStackW(stack[2], 5), OSAL_ERR_INVALID_LEVEL);
    EXPECT_TRUE(st::ShapeOf(stack) == before);

    // 68 is level 4: only the low 6 bits count.
    EXPECT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 68));
    EXPECT_EQ(stack.Top(), stack[3]);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0xFu);
    // Removing level 2 through level 2 removes what is above it; the handle
    // the caller holds stays, and only requests through level 0 keep the mask.
    StackHandle *h2 = stack[2];
    EXPECT_TRUE(ZERA_boRemoveFromStackA(h2, 2));
    EXPECT_EQ(stack.Top(), h2);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0xFu);
    EXPECT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 1));
    EXPECT_EQ(stack.Top(), stack.h0());
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x1u);
}

// Add and remove cycles free everything: the heap (the leak checkers see
// it) and the identifier blocks that the stop path returns. Stopping returns
// only the top level's blocks (a lower level's return passes through the
// top, which is no longer complete), so a lower level that drew identifiers
// leaves exactly its own blocks behind; the segment drops them when its last
// user ends.
TEST(RemoveFromStack, AddRemoveCyclesReturnWhatTheStopPathReturns) {
    Stack stack;
    const size_t baseline = st::TakenIdBlocks();
    for (int cycle = 0; cycle < 45; ++cycle) {
        ASSERT_EQ(ZERA_bAddToStackA(stack.h0(), "Layer"), 1);
        ASSERT_EQ(ZERA_bAddToStackW(stack.h0(), st::W(u"Completer")), 2);
        ASSERT_EQ(st::TakenIdBlocks(), baseline + 3 + 2 * std::max(cycle - 40, 0));  // the top's three blocks
        if (cycle >= 40) {  // level 1 draws: 2 blocks of its own
            ASSERT_TRUE(ZERA_boDeleteEvent(ZERA_pstCreateEventEx(stack[1], 0, 1, 4, 0, 0))) << st::LastText();
        }
        ASSERT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 1));
        ASSERT_EQ(st::TakenIdBlocks(), baseline + 2 * std::max(cycle - 39, 0));
    }
}

}  // namespace
