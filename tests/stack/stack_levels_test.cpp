// stack/stack_levels_test.cpp - adding components on top of a stack and
// removing levels from the top down, with every refusal leaving the stack as
// it was.
#include <cstdio>
#include <fstream>

#include "handle/handle.h"
#include "stack/stack_test_util.h"

namespace {

using st::ComponentTrace;
using st::HostStack;
using st::Traced;

uint8_t LevelsChangedMark(const StackHandle *h) { return h->pstStackParams[0].u8ChangeFlags & ZERA_CHANGE_LEVELS; }

TEST(AddToStack, LevelsBuiltThroughLevelZeroAndThroughAMiddleLevel) {
    ComponentTrace layer("Layer");
    HostStack stack;
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Layer"), 1);
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Layer"), 2);
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Params"), 3);
    StackHandle *h1 = stack.Level(1), *h2 = stack.Level(2), *h3 = stack.Level(3);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x0Fu);

    // Through level 2 the new level lands on top; level 0's mask is kept
    // only by requests that pass through level 0.
    h2->pstStackParams[0].u8ChangeFlags = 0;
    EXPECT_EQ(ZERA_bAddToStackA(h2, "KitCheck"), 4);
    StackHandle *h4 = stack.Level(4);
    ASSERT_NE(h4, nullptr);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x0Fu);
    EXPECT_EQ(LevelsChangedMark(h2), ZERA_CHANGE_LEVELS);
    EXPECT_EQ(LevelsChangedMark(h4), ZERA_CHANGE_LEVELS);
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Layer"), 5);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x2Fu);

    // The chain, the masks each new level got from its parent, the modules.
    const StackHandle *levels[] = {stack.h0(), h1, h2, h3, h4, stack.Level(5)};
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(levels[n]->u8Level, n);
        EXPECT_EQ(levels[n]->pstPrevLevel, levels[n - 1]);
        EXPECT_EQ(ZERA_hHandleGetNextLevel(const_cast<StackHandle *>(levels[n - 1])), levels[n]);
        EXPECT_NE(levels[n]->hModule, nullptr);
        EXPECT_EQ(levels[n]->boWide, 0);
        EXPECT_EQ(levels[n - 1]->dwWantedLevels, 1u << n);
        EXPECT_EQ(levels[n]->dwLowerWantedLevels, (2u << n) - 2u);  // the wanted bits of levels 0..n-1: 1..n
        EXPECT_EQ(levels[n]->dwStatus, 0u);
    }
    EXPECT_EQ(h1->pstNextLevel, h2);  // levels 1 and up link in plain
    EXPECT_STREQ(ZERA_hsComponentNameA(stack.h0(), 3), "Params");
    EXPECT_STREQ(ZERA_hsComponentNameA(stack.h0(), 4), "KitCheck");
    EXPECT_EQ(layer.Levels(st::kInit), (std::vector<uint32_t>{1, 2, 5}));
    EXPECT_EQ(layer.Levels(st::kInfo).size(), 3u);

    // Each level runs an identifier manager of its component's size.
    EXPECT_EQ(h1->stEvIdManager.pstLevel, h1);
    EXPECT_EQ(h1->stEvIdManager.u8NumBlocks, 2);
    EXPECT_EQ(h1->stEvIdManager.u16BlockSize, 64);
    EXPECT_EQ(h3->stEvIdManager.u8NumBlocks, 3);
    EXPECT_EQ(h3->stEvIdManager.u16BlockSize, 16384);
}

TEST(AddToStack, WideComponentsAreBoundThroughTheirWideExports) {
    ComponentTrace wideOnly("WideOnly");
    HostStack stack;
    StackHandle *h1 = stack.AddWide(u"WideOnly");
    ASSERT_NE(h1, nullptr);
    EXPECT_EQ(h1->boWide, 1);
    EXPECT_TRUE(std::u16string(reinterpret_cast<const char16_t *>(ZERA_lsComponentNameW(stack.h0(), 1))) ==
                u"WideOnly");
    EXPECT_EQ(h1->pstStackParams[0].dwType, ZERA_PARAM_STRING);
    EXPECT_TRUE(std::u16string(reinterpret_cast<const char16_t *>(h1->pstStackParams[0].uValue.ls)) == u"wide");
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x03u);

    // Without the narrow setup the narrow add is refused, naming the export
    // and the file.
    const st::StackShape before = st::ShapeOf(stack);
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "WideOnly"), 0);
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_MODULE_REFUSED));
    EXPECT_EQ(st::LastArg(), "WideOnly.COMPONENT");
    EXPECT_NE(st::LastText().find("ZERA_boSetupParListA"), std::string::npos) << st::LastText();
    EXPECT_EQ(OSAL_dwGetLastErrorSeverity(), OSAL_SEVERITY_ERROR);
    EXPECT_TRUE(st::ShapeOf(stack) == before);

    // A wide add through level 1 forwards through slot 4.
    EXPECT_EQ(ZERA_bAddToStackW(h1, st::W(u"Layer")), 2);
    EXPECT_EQ(stack.Level(2)->boWide, 1);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x03u);  // not through level 0
    EXPECT_TRUE(ZERA_boRemoveFromStackW(stack.h0(), 1));
    EXPECT_EQ(wideOnly.Levels(st::kDeinit), (std::vector<uint32_t>{1}));
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x01u);
}

// Copies a built component module to another file name in the current
// folder, where the loader looks first; removed again at the end.
class ComponentCopy {
public:
    ComponentCopy(const char *from, const char *to) : to_(to) {
        std::ifstream in(from, std::ios::binary);
        std::ofstream out(to, std::ios::binary);
        out << in.rdbuf();
        ok_ = in.good() && out.good();
    }
    ~ComponentCopy() { std::remove(to_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string to_;
    bool ok_ = false;
};

TEST(AddToStack, FileNameGetsTheSuffixUnlessItHasOne) {
    if (!std::ifstream("Layer.COMPONENT").good()) GTEST_SKIP() << "needs the folder of the components as working folder";
    ComponentCopy odd("Layer.COMPONENT", "stack_test_Odd.component");
    ComponentCopy bare("Layer.COMPONENT", ".COMPONENT.COMPONENT");
    ASSERT_TRUE(odd.ok() && bare.ok());
    HostStack stack;
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "stack_test_Odd.component"), 1) << st::LastText();
    EXPECT_EQ(ZERA_bAddToStackW(stack.h0(), st::W(u"stack_test_odd.Component")), 0);  // used as given: no such file
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_LOAD_FAILED));
    // Ten characters are not longer than the suffix: it is added.
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), ".COMPONENT"), 2) << st::LastText();
    EXPECT_EQ(ZERA_bAddToStackW(stack.h0(), st::W(u"Layer")), 3) << st::LastText();
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Layer.COMPONENT"), 4) << st::LastText();
}

// Every refused add: the code, its argument, and a stack exactly as it was.
class RefusedAdd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(stack_.Add("Layer"), nullptr);
        before_ = st::ShapeOf(stack_);
    }
    void ExpectRefused(const char *name, uint32_t code, const std::string &arg, const char *text = nullptr) {
        OSAL_vSetLastError(0);
        EXPECT_EQ(ZERA_bAddToStackA(stack_.h0(), name), 0) << name;
        EXPECT_EQ(st::LastError(), code) << name << ": " << st::LastText();
        EXPECT_EQ(st::LastArg(), arg) << name;
        if (text != nullptr) {
            EXPECT_NE(st::LastText().find(text), std::string::npos) << st::LastText();
        }
        EXPECT_TRUE(st::ShapeOf(stack_) == before_) << name;
    }
    HostStack stack_;
    st::StackShape before_;
};

TEST_F(RefusedAdd, ModulesThatAreNoUsableComponents) {
    ComponentTrace notComponent("NotComponent");
    ExpectRefused("NotComponent", OSAL_ERR_MODULE_REFUSED, "NotComponent.COMPONENT", "ZERA_boDeleteStack");
    EXPECT_TRUE(notComponent.Entries().empty());  // refused before its binding ran

    ExpectRefused("NoBinding", OSAL_ERR_MODULE_REFUSED, "NoBinding.COMPONENT", "ZERA_boModuleInitAPIA");
    ExpectRefused("NoInfoInit", OSAL_ERR_MODULE_REFUSED, "NoInfoInit.COMPONENT", "ZERA_vInfoBlockInitialize");

    ComponentTrace noInit("NoInit");
    ExpectRefused("NoInit", OSAL_ERR_MODULE_REFUSED, "NoInit.COMPONENT", "\"ZERA_boModuleInit\"");
    EXPECT_TRUE(noInit.Entries().empty());  // refused before the component filled anything
    ExpectRefused("NoDeinit", OSAL_ERR_MODULE_REFUSED, "NoDeinit.COMPONENT", "ZERA_boModuleDeinit");

    ComponentTrace setupFails("SetupFails");
    ExpectRefused("SetupFails", OSAL_ERR_MODULE_REFUSED, "SetupFails.COMPONENT", "ZERA_boSetupParListA failed");
    EXPECT_EQ(setupFails.Levels(st::kInit).size(), 0u);
}

TEST_F(RefusedAdd, LoadFailureKeepsTheLoadersReason) {
    EXPECT_EQ(ZERA_bAddToStackA(stack_.h0(), "NoSuchComponent"), 0);
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_LOAD_FAILED));
    EXPECT_NE(st::LastArg().find("NoSuchComponent.COMPONENT"), std::string::npos) << st::LastArg();
    EXPECT_TRUE(st::ShapeOf(stack_) == before_);
}

TEST(AddToStack, InfoBlocksThatDoNotSuitLevelZero) {
    HostStack stack;
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Major1"), 0);
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_VERSION_MISMATCH));
    EXPECT_EQ(st::LastArg(), "version");
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Picky"), 0);
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INFO_MISMATCH));
    EXPECT_EQ(st::LastArg(), "range A");
    EXPECT_EQ(stack.Top(), stack.h0());
    EXPECT_EQ(stack.h0()->dwWantedLevels, 0u);  // the new level's bit is taken back
    EXPECT_EQ(stack.desc()->dwNextLevelLink, zera::PointerKey());
    EXPECT_EQ(stack.desc()->dwLevelMask, 1u);
    // A level that takes anything on top takes it.
    ASSERT_NE(stack.Add("Layer"), nullptr);
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Picky"), 2);
}

TEST_F(RefusedAdd, FailingInitialisation) {
    ComponentTrace silent("InitFailsSilent"), coded("InitFailsCode");
    ExpectRefused("InitFailsSilent", OSAL_ERR_INIT_FAILED, "InitFailsSilent.COMPONENT");
    ExpectRefused("InitFailsCode", OSAL_ERR_TYPE_RANGE, "");
    // The level was linked when its init ran, and deinit never runs.
    EXPECT_EQ(silent.Entries(), (std::vector<uint32_t>{Traced(st::kInfo, 0), Traced(st::kInit, 2)}));
    EXPECT_EQ(coded.Levels(st::kDeinit).size(), 0u);
}

TEST_F(RefusedAdd, BadNamesAndHandles) {
    ExpectRefused(nullptr, OSAL_ERR_INVALID_ARG, "");
    ExpectRefused("", OSAL_ERR_INVALID_ARG, "");
    EXPECT_EQ(ZERA_bAddToStackW(stack_.h0(), nullptr), 0);
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
    EXPECT_EQ(ZERA_bAddToStackW(stack_.h0(), st::W(u"")), 0);
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));

    EXPECT_EQ(ZERA_bAddToStackA(nullptr, "Layer"), 0);
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    EXPECT_EQ(st::LastArg(), "Layer");
    EXPECT_EQ(ZERA_bAddToStackW(nullptr, st::W(u"L\u0100yer")), 0);
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    EXPECT_EQ(st::LastArg(), "L?yer");  // a narrow copy of the wide name

    // A level above that fails the check stops the request on its way.
    StackHandle *h1 = stack_.Level(1);
    h1->dwMagic = 0;
    EXPECT_EQ(ZERA_bAddToStackA(stack_.h0(), "Layer"), 0);
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    h1->dwMagic = ZERA_HANDLE_MAGIC;
    EXPECT_TRUE(st::ShapeOf(stack_) == before_);
}

TEST_F(RefusedAdd, LevelThirtyOneIsTheHighest) {
    for (uint32_t n = 2; n <= ZERA_MAX_LEVEL; ++n) ASSERT_EQ(ZERA_bAddToStackA(stack_.Top(), "Layer"), n);
    EXPECT_EQ(stack_.desc()->dwLevelMask, 0x3u);  // added through the top, not level 0
    before_ = st::ShapeOf(stack_);
    ExpectRefused("Layer", OSAL_ERR_INVALID_LEVEL, "Layer", "Invalid stack level");
    EXPECT_EQ(OSAL_dwGetLastErrorSeverity(), OSAL_SEVERITY_ERROR);
    EXPECT_EQ(ZERA_bAddToStackW(stack_.Level(7), st::W(u"Layer")), 0);
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_LEVEL));
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
                EXPECT_NE(st::LastError(), 0u);
                ASSERT_TRUE(st::ShapeOf(stack_) == before_) << "after " << n << " allocations";
            }
        }
        ASSERT_EQ(added, 2);
        EXPECT_GE(failures, 5);
        ASSERT_TRUE(ZERA_boRemoveFromStackA(stack_.h0(), 2));
        EXPECT_EQ(stack_.Top(), stack_.Level(1));
        before_ = st::ShapeOf(stack_);  // level 1 keeps wanting level 2's events
    }
}

TEST(AddToStack, ACompletingLevelCompletesTheStack) {
    ComponentTrace completer("Completer");
    HostStack stack;
    StackHandle *h1 = stack.Add("Layer");
    const size_t blocksBefore = st::TakenIdBlocks();
    StackHandle *h2 = stack.Add("Completer");
    ASSERT_NE(h2, nullptr);
    // The new level is complete and told so; the status event carried the
    // status down to every level, and level 1 queued a copy for the host.
    EXPECT_EQ(h2->dwStatus, ZERA_STATUS_COMPLETE);
    EXPECT_EQ(h1->dwStatus, ZERA_STATUS_COMPLETE);
    EXPECT_EQ(stack.h0()->dwStatus, ZERA_STATUS_COMPLETE);
    EXPECT_EQ(completer.Entries(),
              (std::vector<uint32_t>{Traced(st::kInfo, 0), Traced(st::kInit, 2), Traced(st::kNotify, 2)}));
    auto *copy = static_cast<Event *>(OSAL_pvQueueGet(h1->hRecvQueue, 0, OSAL_stTimeNoWait));
    ASSERT_NE(copy, nullptr);
    uint32_t status = 0;
    EXPECT_TRUE(zera::ReadStackStatusEvent(copy, &status));
    EXPECT_EQ(status, ZERA_STATUS_COMPLETE);
    EXPECT_EQ(copy->u8Level, 1);
    EXPECT_TRUE(ZERA_boDeleteEvent(copy));
    // The status event drew its identifier from the top's manager, which
    // reserved its three blocks.
    EXPECT_EQ(st::TakenIdBlocks(), blocksBefore + 3);

    // A second completing level finds the stack complete already: notified,
    // but no status event.
    completer.Clear();
    StackHandle *h3 = stack.Add("Completer");
    EXPECT_EQ(h3->dwStatus, ZERA_STATUS_COMPLETE);
    EXPECT_EQ(completer.Levels(st::kNotify), (std::vector<uint32_t>{3}));
    EXPECT_EQ(OSAL_pvQueuePeek(h1->hRecvQueue, 0, OSAL_stTimeNoWait), nullptr);

    // A level that does not complete the stack takes the status of the level below.
    StackHandle *h4 = stack.Add("Layer");
    EXPECT_EQ(h4->dwStatus, ZERA_STATUS_COMPLETE);
}

TEST(AddToStack, WithoutIdentifierManagementNoManagersStart) {
    HostStack stack;
    stack.h0()->dwStatus = ZERA_STATUS_NO_EVID;
    const size_t blocksBefore = st::TakenIdBlocks();
    StackHandle *h1 = stack.Add("Layer");
    StackHandle *h2 = stack.Add("Completer");
    ASSERT_NE(h2, nullptr);
    for (StackHandle *h : {h1, h2}) {
        EXPECT_EQ(h->stEvIdManager.pstLevel, nullptr);
        EXPECT_EQ(h->stEvIdManager.padwBlocks, nullptr);
    }
    EXPECT_EQ(h1->dwStatus, ZERA_STATUS_NO_EVID | ZERA_STATUS_COMPLETE);
    EXPECT_EQ(h2->dwStatus, ZERA_STATUS_NO_EVID | ZERA_STATUS_COMPLETE);
    EXPECT_EQ(st::TakenIdBlocks(), blocksBefore);
    Event *ev = ZERA_pstCreateEventEx(h1, 1, 1, 0, 0, 0);  // its own identifier, no owner
    ASSERT_NE(ev, nullptr);
    EXPECT_EQ(ev->pstOwner, nullptr);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    EXPECT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 1));
    EXPECT_EQ(st::TakenIdBlocks(), blocksBefore);
}

// ---- Removing ----------------------------------------------------------------

struct ReleaseLog {
    std::vector<uint32_t> levels;
};
struct LevelContext {
    ReleaseLog *log;
    uint32_t level;
};
void ZERA_CALL RecordRelease(void *pv) {
    auto *context = static_cast<LevelContext *>(pv);
    context->log->levels.push_back(context->level);
}

TEST(RemoveFromStack, RemovesFromTheTopDownAfterTheStatusEvent) {
    ComponentTrace layer("Layer"), completer("Completer");
    ReleaseLog log;  // outlives the stack: level 1 is released when the test ends
    LevelContext contexts[5];
    HostStack stack;
    for (const char *name : {"Layer", "Layer", "Layer", "Completer"}) ASSERT_NE(stack.Add(name), nullptr);
    for (uint32_t n = 1; n <= 4; ++n) {
        contexts[n] = {&log, n};
        stack.Level(n)->pvLevelContext = &contexts[n];
        stack.Level(n)->pfnLevelContextRelease = RecordRelease;
    }
    st::StartStack(stack);
    EXPECT_EQ(completer.Levels(st::kStart), (std::vector<uint32_t>{4}));
    EXPECT_EQ(stack.Level(4)->dwStatus, ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED);
    EXPECT_EQ(stack.h0()->dwStatus, ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED);
    EXPECT_EQ(stack.Level(1)->dwStatus, ZERA_STATUS_COMPLETE);  // Layer has no threads to start
    StackHandle *h1 = stack.Level(1);

    stack.h0()->pstStackParams[0].u8ChangeFlags = 0;
    completer.Clear();
    EXPECT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 2));
    EXPECT_EQ(log.levels, (std::vector<uint32_t>{4, 3, 2}));
    EXPECT_EQ(layer.Levels(st::kDeinit), (std::vector<uint32_t>{3, 2}));
    // The stop came first, with the status already taken over.
    EXPECT_EQ(completer.Entries(), (std::vector<uint32_t>{Traced(st::kStop, 4), Traced(st::kDeinit, 4)}));
    EXPECT_EQ(stack.Top(), h1);
    EXPECT_EQ(ZERA_hHandleGetNextLevel(h1), nullptr);
    EXPECT_EQ(h1->pstNextLevel, nullptr);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x3u);
    EXPECT_EQ(h1->dwStatus, 0u);
    EXPECT_EQ(stack.h0()->dwStatus, 0u);
    EXPECT_EQ(stack.h0()->pstStackParams[0].u8ChangeFlags, ZERA_CHANGE_LEVELS);
    EXPECT_EQ(layer.Levels(st::kDeinit), (std::vector<uint32_t>{3, 2}));
}

TEST(RemoveFromStack, RefusalsRemoveNothing) {
    HostStack stack;
    for (int n = 0; n < 4; ++n) ASSERT_NE(stack.Add("Layer"), nullptr);
    const st::StackShape before = st::ShapeOf(stack);
    for (uint8_t level : {0, 64, 128, 192}) {
        EXPECT_FALSE(ZERA_boRemoveFromStackA(stack.h0(), level)) << int(level);
        EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_LEVEL));
    }
    EXPECT_FALSE(ZERA_boRemoveFromStackA(nullptr, 0));  // the handle is checked first
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    EXPECT_FALSE(ZERA_boRemoveFromStackW(nullptr, 1));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    EXPECT_FALSE(ZERA_boRemoveFromStackA(stack.h0(), 6));  // above the top
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_LEVEL));
    EXPECT_FALSE(ZERA_boRemoveFromStackW(stack.Level(2), 5));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_LEVEL));
    EXPECT_TRUE(st::ShapeOf(stack) == before);

    // 66 is level 2: only the low 6 bits count.
    EXPECT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 66));
    EXPECT_EQ(stack.Height(), 1u);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x3u);
}

TEST(RemoveFromStack, ThroughAMiddleLevelLeavesThatLevelAndLevelZerosMask) {
    HostStack stack;
    for (int n = 0; n < 4; ++n) ASSERT_NE(stack.Add("Layer"), nullptr);
    StackHandle *h2 = stack.Level(2);
    // Removing level 2 through level 2 removes what is above it; the
    // handle the caller holds stays.
    EXPECT_TRUE(ZERA_boRemoveFromStackA(h2, 2));
    EXPECT_EQ(stack.Top(), h2);
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x1Fu);  // only requests through level 0 keep the mask
    EXPECT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 1));
    EXPECT_EQ(stack.Top(), stack.h0());
    EXPECT_EQ(stack.desc()->dwLevelMask, 0x1u);
}

TEST(RemoveFromStack, HostKitDestroyRemovesEveryLevel) {
    ComponentTrace layer("Layer");
    StackHandle *h0 = ZERA_hHostStackCreate(nullptr);
    ASSERT_NE(h0, nullptr);
    for (uint8_t n = 1; n <= 3; ++n) ASSERT_EQ(ZERA_bAddToStackA(h0, "Layer"), n);
    ASSERT_EQ(ZERA_bAddToStackW(h0, st::W(u"Completer")), 4);
    EXPECT_TRUE(ZERA_boHostStackDestroy(h0));
    EXPECT_EQ(layer.Levels(st::kDeinit), (std::vector<uint32_t>{3, 2, 1}));
}

// Add and remove cycles free everything: the heap (the leak checkers see
// it) and the identifier blocks that the stop path returns. Stopping returns
// only the top level's blocks (a lower level's return passes through the
// top, which is no longer complete), so a lower level that drew identifiers
// leaves exactly its own blocks behind; the segment drops them when its last
// user ends.
TEST(RemoveFromStack, AddRemoveCyclesReturnWhatTheStopPathReturns) {
    HostStack stack;
    const size_t baseline = st::TakenIdBlocks();
    for (int cycle = 0; cycle < 40; ++cycle) {
        ASSERT_EQ(ZERA_bAddToStackA(stack.h0(), "Layer"), 1);
        ASSERT_EQ(ZERA_bAddToStackW(stack.h0(), st::W(u"Completer")), 2);
        ASSERT_EQ(st::TakenIdBlocks(), baseline + 3);  // the top's three blocks
        ASSERT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 1));
        ASSERT_EQ(st::TakenIdBlocks(), baseline);
    }
    const int cycles = 5;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        ASSERT_EQ(ZERA_bAddToStackA(stack.h0(), "Layer"), 1);
        ASSERT_EQ(ZERA_bAddToStackA(stack.h0(), "Completer"), 2);
        Event *ev = ZERA_pstCreateEventEx(stack.Level(1), 0, 1, 4, 0, 0);  // level 1 draws: 2 blocks
        ASSERT_NE(ev, nullptr) << st::LastText();
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
        ASSERT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 1));
    }
    EXPECT_EQ(st::TakenIdBlocks(), baseline + 2 * cycles);
}

}  // namespace
