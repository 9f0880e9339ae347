// evid/evid_manager_test.cpp - a level's identifier manager: configuration,
// the order of identifiers and the ring of runs, filling, freeing and
// deinitialising, refusals and the state they leave, and two threads on one
// manager.
#include <algorithm>
#include <thread>

#include "evid/evid_test_util.h"
#include "stack/stack_test_util.h"
#include "support/soak.h"

namespace {

using zt::LevelChain;

constexpr uint32_t kBlock = zera::kIdBlockSize;

uint32_t Next(EvIdManager *m) { return ZERA_dwEvIdManagerGetNextId(m, 0); }

bool AllSlotsEmpty(const EvIdManager *m) {
    return m->dwNextId == ZERA_EVID_NONE &&
           std::all_of(m->padwBlocks, m->padwBlocks + m->u8NumBlocks, [](uint32_t b) { return b == ZERA_EVID_NONE; });
}

bool IsZero(const EvIdManager *m) {
    const EvIdManager zero{};
    return std::memcmp(m, &zero, sizeof zero) == 0;
}

TEST(EvIdManager, InitDefaultsAndRefusalsLeaveTheManagerAsItWas) {
    LevelChain chain;
    StackHandle *h = chain[0];
    EvIdManager *m = &h->stEvIdManager, zero{};
    for (EvIdManagerConfig config : {EvIdManagerConfig{0, 5, 0}, EvIdManagerConfig{100, 0, 0}}) {
        ASSERT_TRUE(ZERA_boEvIdManagerInit(h, m, &config));  // a zero selects 3 slots of 16384
        EXPECT_TRUE(m->u8NumBlocks == 3 && m->u16BlockSize == 16384 && m->pstLevel == h && AllSlotsEmpty(m));
        ASSERT_TRUE(ZERA_boEvIdManagerDeinit(m));
    }
    const EvIdManagerConfig config{0, 0, 0};
    EXPECT_REFUSED(ZERA_boEvIdManagerInit(nullptr, m, &config), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(ZERA_boEvIdManagerInit(h, m, nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_dwEvIdManagerGetNextId(&zero, 0), OSAL_ERR_INVALID_ARG);  // no level
    EXPECT_REFUSED(ZERA_dwEvIdManagerGetNextId(&zero, 1) != ZERA_EVID_NONE, OSAL_ERR_NOT_AVAILABLE);  // flag never set
    EXPECT_REFUSED(ZERA_boEvIdManagerPreAllocIdBlocks(&zero), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boEvIdManagerDeinit(&zero), OSAL_ERR_INVALID_ARG);
    zt::SweepAllocFailures([&] { return ZERA_boEvIdManagerInit(h, m, &config); }, [&] { return IsZero(m); },
                           [&](BOOL8) { EXPECT_TRUE(ZERA_boEvIdManagerDeinit(m)); }, 2);  // the slot table, the lock
    EXPECT_TRUE(IsZero(m) && IsZero(&zero));
    chain.Manager(0, EvIdManagerConfig{100, 5, 0});
    const EvIdManager before = *m;
    EXPECT_REFUSED(ZERA_boEvIdManagerInit(h, m, &config), OSAL_ERR_INVALID_ARG);  // initialised already
    EXPECT_EQ(std::memcmp(m, &before, sizeof before), 0);
    const uint32_t magic = h->dwMagic;
    h->dwMagic = 0;  // a level that stopped being valid
    EXPECT_REFUSED(Next(m), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(ZERA_boEvIdManagerDeinit(m), OSAL_ERR_INVALID_HANDLE);
    h->dwMagic = magic;
}

// Even identifiers of a run, then the next slot, whose old run goes back for
// a fresh one; the spent run waits for the ring to come round. Identifier 0
// (the failure value of a manager without level) is never handed out.
TEST(EvIdManager, HandsOutRunsAroundTheRingOfSlots) {
    zt::ResetSegment();
    LevelChain chain;
    EvIdManager *m = chain.Manager(0);
    for (uint32_t i = 1; i < kBlock / 2; ++i) ASSERT_EQ(Next(m), 2 * i);
    EXPECT_EQ(m->u8CurBlock, 1);
    EXPECT_EQ(Next(m), 3 * kBlock);
    ASSERT_TRUE(ZERA_boEvIdManagerDeinit(m));

    // Two identifiers per run, on a level that passes its requests along the
    // chain, then on the level that works on the segment itself.
    for (bool alongChain : {true, false}) {
        zt::ResetSegment();
        LevelChain two(1);
        m = alongChain ? two.Manager(1, EvIdManagerConfig{4, 2, 0}) : chain.Manager(0, EvIdManagerConfig{4, 2, 0});
        for (uint32_t expected : {2u, 2 * kBlock, 2 * kBlock + 2, 3 * kBlock}) EXPECT_EQ(Next(m), expected);
        EXPECT_EQ(m->u8CurBlock, 0);
        std::vector<uint32_t> seg = zt::SegmentSnapshot();
        EXPECT_EQ(zt::TakenBlocks(seg), 2u);
        EXPECT_TRUE(zt::Taken(seg.data(), 2) && zt::Taken(seg.data(), 3));
    }

    // With no fresh run to be had, the spent run of slot 1 is not handed out
    // again: the requests fail with a code until a run comes free.
    zt::ResetSegment(true);
    EXPECT_EQ(Next(m), 3 * kBlock + 2);
    for (int i = 0; i < 2; ++i) EXPECT_REFUSED(Next(m) != ZERA_EVID_NONE, OSAL_ERR_NOT_AVAILABLE);
    EXPECT_EQ(m->padwBlocks[1], 2 * kBlock);  // still reserved by the slot
    zt::ResetSegment();
    EXPECT_EQ(Next(m), 2u);  // a fresh run, without its identifier 0
    zt::ResetSegment();
}

// An incomplete stack leaves the manager empty; once complete, a pre-allocation
// fills every slot, through level 0.
TEST(EvIdManager, PreAllocFreeAndRefillAcrossLevels) {
    zt::ResetSegment();
    LevelChain chain(1, false);
    EvIdManager *m = chain.Manager(1);
    EXPECT_REFUSED(Next(m) != ZERA_EVID_NONE, OSAL_ERR_NOT_COMPLETE);
    EXPECT_REFUSED(ZERA_boEvIdManagerPreAllocIdBlocks(m), OSAL_ERR_NOT_COMPLETE);
    EXPECT_TRUE(AllSlotsEmpty(m));
    chain.SetComplete(true);
    ASSERT_TRUE(ZERA_boEvIdManagerPreAllocIdBlocks(m));
    EXPECT_EQ(m->u8CurBlock, 0);
    EXPECT_EQ(m->dwNextId, m->padwBlocks[0]);
    EXPECT_EQ(zt::TakenBlocks(zt::SegmentSnapshot()), 3u);
    for (int i = 0; i < 10; ++i) Next(m);

    ASSERT_TRUE(ZERA_boEvIdManagerFreeIdBlocks(m));
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
    EXPECT_TRUE(AllSlotsEmpty(m));

    EXPECT_EQ(Next(m), m->padwBlocks[0]);  // every slot filled anew, from slot 0
    EXPECT_EQ(m->u8CurBlock, 0);
    EXPECT_EQ(zt::TakenBlocks(zt::SegmentSnapshot()), 3u);
    ASSERT_TRUE(ZERA_boEvIdManagerDeinit(m));
    EXPECT_TRUE(IsZero(m));
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
}

// Slot 30 of the level above, taking a caller's break mutex: ranked before
// the manager's lock, under which a block request comes here.
uint32_t ZERA_CALL GetBlockTakingABreakMutex(StackHandle *, uint32_t) {
    ZERA_vBreakSendEventWait(nullptr, nullptr, OSAL_hMutexCreate());
    return ZERA_EVID_NONE;
}

TEST(EvIdManager, ALockTakenAgainstTheOrderUnderTheManagersLockStops) {
    LevelChain chain(1);
    chain[1]->apfnEntry[zera::kEntryEvIdGetBlock] = reinterpret_cast<ZERA_PFN>(&GetBlockTakingABreakMutex);
    EXPECT_DEATH(Next(chain.Manager(0)), "lock order broken: taking a caller's break mutex .* holding a level's id");
}

// Two threads share one manager, with tiny runs (both keep exchanging runs
// under the lock) and with the default ones (both swap identifiers without
// it, and meet the lock at each run's end): no identifier twice, all even.
// Few enough runs are used that the search never comes round to a returned
// block again.
TEST(EvIdManager, TwoThreadsOnOneManagerNeverGetTheSameIdentifier) {
    for (EvIdManagerConfig config : {EvIdManagerConfig{16, 3, 0}, EvIdManagerConfig{0, 0, 0}}) {
        zt::ResetSegment();
        LevelChain chain;
        EvIdManager *m = chain.Manager(0, config);
        std::vector<uint32_t> drawn[2];
        std::vector<std::thread> threads;
        for (auto &mine : drawn) {
            threads.emplace_back([m, &mine] {
                for (int i = 0; i < 40000; ++i) mine.push_back(Next(m));  // 5000 tiny runs
            });
        }
        for (std::thread &t : threads) t.join();
        std::vector<uint32_t> all(drawn[0]);
        all.insert(all.end(), drawn[1].begin(), drawn[1].end());
        std::sort(all.begin(), all.end());
        EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
        EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](uint32_t id) { return id % 2 == 0 && id != 0; }));
        ASSERT_TRUE(ZERA_boEvIdManagerDeinit(m));
        EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
    }
}

// On a real stack: the status event that announces completion draws its
// identifier from the top level's run, which stays reserved while the event
// travels; a status that changes neither keeps the runs too. Stopping and
// removing give them back: start/stop and add/remove cycles end where they
// began.
TEST(EvIdManager, CompletionKeepsTheTopsRunsStopAndRemovalGiveThemBack) {
    zt::ResetSegment();
    st::Stack stack{"Starter", "Completer"};
    auto taken = [] { return zt::TakenBlocks(zt::SegmentSnapshot()); };
    const uint32_t complete = taken();
    EXPECT_FALSE(AllSlotsEmpty(&stack[2]->stEvIdManager)) << "completion gave back its announcement's run";
    EXPECT_EQ(complete, stack[2]->stEvIdManager.u8NumBlocks);
    ZERA_vInputFilter(stack[2], st::StatusEvent(2, stack[2]->dwStatus));  // changes nothing
    EXPECT_EQ(taken(), complete);
    // A stop gives back even the runs of its own announcement; a removal
    // takes the whole stack out of completion, level 1 included.
    for (int i = 0; i < zt::SoakRounds(10000); ++i) {
        ASSERT_TRUE(ZERA_boHostStartStack(stack.h0()) && ZERA_boHostStopStack(stack.h0())) << i << st::LastText();
        ASSERT_EQ(taken(), 0u) << "cycle " << i;
    }
    for (int i = 0; i < zt::SoakRounds(1000); ++i) {
        ASSERT_TRUE(ZERA_boRemoveFromStackA(stack.h0(), 2)) << "cycle " << i << ": " << st::LastText();
        ASSERT_EQ(taken(), 0u) << "cycle " << i;
        ASSERT_EQ(ZERA_bAddToStackA(stack.h0(), "Completer"), 2) << "cycle " << i << ": " << st::LastText();
        ASSERT_EQ(taken(), complete) << "cycle " << i;
    }
}

}  // namespace
