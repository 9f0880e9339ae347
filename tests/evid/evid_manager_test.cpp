// evid/evid_manager_test.cpp - a level's identifier manager: configuration,
// the order of identifiers and the ring of runs, filling, freeing and
// deinitialising, failures and their state, and two threads on one manager.
#include <algorithm>
#include <set>
#include <thread>

#include "evid/evid_test_util.h"

namespace {

using zt::ExpectCode;
using zt::LevelChain;

constexpr uint32_t kBlock = zera::kIdBlockSize;

uint32_t Next(EvIdManager *m) { return ZERA_dwEvIdManagerGetNextId(m, 0); }

TEST(EvIdManager, ZeroInTheConfigurationSelectsThreeSlotsOf16384) {
    LevelChain chain;
    StackHandle *h = chain[0];
    for (EvIdManagerConfig config : {EvIdManagerConfig{0, 5, 0}, EvIdManagerConfig{100, 0, 0}}) {
        ASSERT_TRUE(ZERA_boEvIdManagerInit(h, &h->stEvIdManager, &config));
        EXPECT_EQ(h->stEvIdManager.u8NumBlocks, 3);
        EXPECT_EQ(h->stEvIdManager.u16BlockSize, 16384);
        EXPECT_EQ(h->stEvIdManager.pstLevel, h);
        EXPECT_EQ(h->stEvIdManager.dwNextId, ZERA_EVID_NONE);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(h->stEvIdManager.padwBlocks[i], ZERA_EVID_NONE);
        ASSERT_TRUE(ZERA_boEvIdManagerDeinit(&h->stEvIdManager));
    }
    EvIdManager *m = chain.Manager(0, EvIdManagerConfig{100, 5, 0});
    EXPECT_EQ(m->u8NumBlocks, 5);
    EXPECT_EQ(m->u16BlockSize, 100);
}

TEST(EvIdManager, InitRefusesBadArgumentsAndChangesNothing) {
    LevelChain chain;
    StackHandle *h = chain[0];
    const EvIdManagerConfig config{0, 0, 0};
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boEvIdManagerInit(nullptr, &h->stEvIdManager, &config));
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_FALSE(ZERA_boEvIdManagerInit(h, nullptr, &config));
    ExpectCode(OSAL_ERR_INVALID_ARG);
    EXPECT_FALSE(ZERA_boEvIdManagerInit(h, &h->stEvIdManager, nullptr));
    ExpectCode(OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(h->stEvIdManager.hMutex, nullptr);

    zt::AllocFailureGuard guard;
    ZERA_vTestFailAllocAfter(0);  // the slot table
    EXPECT_FALSE(ZERA_boEvIdManagerInit(h, &h->stEvIdManager, &config));
    ExpectCode(OSAL_ERR_NO_MEMORY);
    ZERA_vTestFailAllocAfter(-1);
    OSAL_vTestFailAllocAfter(0);  // the lock
    EXPECT_FALSE(ZERA_boEvIdManagerInit(h, &h->stEvIdManager, &config));
    OSAL_vTestFailAllocAfter(-1);
    const EvIdManager zero{};
    EXPECT_EQ(std::memcmp(&h->stEvIdManager, &zero, sizeof zero), 0);

    chain.Manager(0);
    EvIdManager before = h->stEvIdManager;
    EXPECT_FALSE(ZERA_boEvIdManagerInit(h, &h->stEvIdManager, &config));  // initialised already
    ExpectCode(OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(std::memcmp(&h->stEvIdManager, &before, sizeof before), 0);
}

TEST(EvIdManager, HandsOutTheEvenIdentifiersOfARunThenTheNextSlot) {
    zt::ResetSegment();
    LevelChain chain;
    EvIdManager *m = chain.Manager(0);
    const uint32_t start = Next(m);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(m->padwBlocks[0], 0u);
    EXPECT_EQ(m->padwBlocks[1], kBlock);
    EXPECT_EQ(m->padwBlocks[2], 2 * kBlock);
    for (uint32_t i = 1; i < kBlock / 2; ++i) ASSERT_EQ(Next(m), start + 2 * i);

    // The run of slot 0 is spent: slot 1's old run went back, a fresh one came.
    EXPECT_EQ(m->u8CurBlock, 1);
    EXPECT_EQ(m->padwBlocks[1], 3 * kBlock);
    EXPECT_EQ(Next(m), 3 * kBlock);
    std::vector<uint32_t> seg = zt::SegmentSnapshot();
    EXPECT_EQ(zt::TakenBlocks(seg), 3u);
    EXPECT_TRUE(zt::Taken(seg.data(), 0));  // the used run waits for the ring to come round
    EXPECT_FALSE(zt::Taken(seg.data(), 1));
}

TEST(EvIdManager, TheRingExchangesEachSlotsRunWhenItComesRound) {
    zt::ResetSegment();
    LevelChain chain;
    EvIdManager *m = chain.Manager(0, EvIdManagerConfig{4, 2, 0});  // two identifiers per run
    EXPECT_EQ(Next(m), 0u);
    EXPECT_EQ(Next(m), 2u);  // run of slot 0 spent: slot 1 (block 1) is exchanged for block 2
    EXPECT_EQ(m->u8CurBlock, 1);
    EXPECT_EQ(Next(m), 2 * kBlock);
    EXPECT_EQ(Next(m), 2 * kBlock + 2);  // back to slot 0: block 0 is exchanged for block 3
    EXPECT_EQ(m->u8CurBlock, 0);
    EXPECT_EQ(Next(m), 3 * kBlock);
    std::vector<uint32_t> seg = zt::SegmentSnapshot();
    EXPECT_EQ(zt::TakenBlocks(seg), 2u);
    EXPECT_TRUE(zt::Taken(seg.data(), 2) && zt::Taken(seg.data(), 3));

    // With no fresh run to be had, the slot keeps its run.
    zt::FillSegment(true);
    EXPECT_EQ(Next(m), 3 * kBlock + 2);
    EXPECT_EQ(Next(m), 2 * kBlock);  // slot 1 again, its old run
    zt::FillSegment(false);
    ASSERT_TRUE(ZERA_boEvIdManagerDeinit(m));
    zt::ResetSegment();
}

TEST(EvIdManager, IncompleteStackLeavesTheManagerEmptyUntilComplete) {
    zt::ResetSegment();
    LevelChain chain(0, false);
    EvIdManager *m = chain.Manager(0);
    OSAL_vSetLastError(0);
    EXPECT_EQ(Next(m), ZERA_EVID_NONE);
    ExpectCode(OSAL_ERR_NOT_COMPLETE);
    EXPECT_EQ(m->dwNextId, ZERA_EVID_NONE);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(m->padwBlocks[i], ZERA_EVID_NONE);
    EXPECT_FALSE(ZERA_boEvIdManagerPreAllocIdBlocks(m));
    ExpectCode(OSAL_ERR_NOT_COMPLETE);

    chain.SetComplete(true);
    EXPECT_EQ(Next(m), 0u);
    EXPECT_EQ(Next(m), 2u);
}

TEST(EvIdManager, NoFreeRunLeavesTheManagerEmptyAndTheNextRequestFillsAgain) {
    zt::ResetSegment();
    LevelChain chain;
    EvIdManager *m = chain.Manager(0);
    zt::FillSegment(true);
    EXPECT_EQ(Next(m), ZERA_EVID_NONE);
    EXPECT_EQ(m->dwNextId, ZERA_EVID_NONE);
    zt::FillSegment(false);
    EXPECT_NE(Next(m), ZERA_EVID_NONE);
}

TEST(EvIdManager, PreAllocFreeAndRefill) {
    zt::ResetSegment();
    LevelChain chain;
    EvIdManager *m = chain.Manager(0);
    ASSERT_TRUE(ZERA_boEvIdManagerPreAllocIdBlocks(m));
    EXPECT_EQ(m->u8CurBlock, 0);
    EXPECT_EQ(m->dwNextId, m->padwBlocks[0]);
    EXPECT_EQ(zt::TakenBlocks(zt::SegmentSnapshot()), 3u);
    for (int i = 0; i < 10; ++i) Next(m);

    ASSERT_TRUE(ZERA_boEvIdManagerFreeIdBlocks(m));
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
    EXPECT_EQ(m->dwNextId, ZERA_EVID_NONE);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(m->padwBlocks[i], ZERA_EVID_NONE);
    EXPECT_NE(m->hMutex, nullptr);

    // The next request fills every slot anew, from slot 0.
    const uint32_t id = Next(m);
    EXPECT_EQ(id, m->padwBlocks[0]);
    EXPECT_EQ(m->u8CurBlock, 0);
    EXPECT_EQ(zt::TakenBlocks(zt::SegmentSnapshot()), 3u);

    ASSERT_TRUE(ZERA_boEvIdManagerDeinit(m));
    const EvIdManager zero{};
    EXPECT_EQ(std::memcmp(m, &zero, sizeof zero), 0);
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
}

TEST(EvIdManager, OperationsRefuseAManagerWithoutLevel) {
    EvIdManager zero{};
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_dwEvIdManagerGetNextId(nullptr, 0), 0u);
    ExpectCode(OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(ZERA_dwEvIdManagerGetNextId(&zero, 0), 0u);
    EXPECT_FALSE(ZERA_boEvIdManagerPreAllocIdBlocks(&zero));
    EXPECT_FALSE(ZERA_boEvIdManagerFreeIdBlocks(nullptr));
    EXPECT_FALSE(ZERA_boEvIdManagerDeinit(&zero));
    ExpectCode(OSAL_ERR_INVALID_ARG);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_dwEvIdManagerGetNextId(&zero, 1), ZERA_EVID_NONE);  // the flag is never set
    ExpectCode(OSAL_ERR_NOT_AVAILABLE);

    // A level that stopped being valid.
    LevelChain chain;
    EvIdManager *m = chain.Manager(0);
    const uint32_t magic = chain[0]->dwMagic;
    chain[0]->dwMagic = 0;
    OSAL_vSetLastError(0);
    EXPECT_EQ(Next(m), 0u);
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_FALSE(ZERA_boEvIdManagerDeinit(m));
    chain[0]->dwMagic = magic;
}

TEST(EvIdManager, LevelsBelowTheTopDrawThroughTheChain) {
    zt::ResetSegment();
    LevelChain chain(2);
    EvIdManager *m1 = chain.Manager(1);
    EvIdManager *m2 = chain.Manager(2);
    std::set<uint32_t> blocks;
    for (int i = 0; i < 5; ++i) {
        blocks.insert(Next(m1) / kBlock);
        blocks.insert(Next(m2) / kBlock);
    }
    EXPECT_EQ(blocks.size(), 2u);
    EXPECT_EQ(zt::TakenBlocks(zt::SegmentSnapshot()), 6u);
}

// Two threads share one manager whose runs are tiny, so that both keep
// exchanging runs: no identifier twice, all even. Few enough runs are used
// that the search never comes round to a returned block again.
TEST(EvIdManager, TwoThreadsOnOneManagerNeverGetTheSameIdentifier) {
    zt::ResetSegment();
    LevelChain chain;
    EvIdManager *m = chain.Manager(0, EvIdManagerConfig{16, 3, 0});
    constexpr int kPerThread = 40000;  // 5000 runs each
    std::vector<uint32_t> drawn[2];
    std::vector<std::thread> threads;
    for (auto &mine : drawn) {
        threads.emplace_back([m, &mine] {
            mine.reserve(kPerThread);
            for (int i = 0; i < kPerThread; ++i) mine.push_back(Next(m));
        });
    }
    for (std::thread &t : threads) t.join();
    std::vector<uint32_t> all(drawn[0]);
    all.insert(all.end(), drawn[1].begin(), drawn[1].end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](uint32_t id) { return id % 2 == 0 && id < ZERA_EVID_RESERVED_FIRST; }));
    ASSERT_TRUE(ZERA_boEvIdManagerDeinit(m));
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
}

}  // namespace
