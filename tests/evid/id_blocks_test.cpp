// evid/id_blocks_test.cpp - runs of identifier blocks: the next-fit search
// with its search position and wrap-around, continuation bits, returns of
// whole runs only, and requests that climb the chain of levels to the top.
#include <algorithm>

#include "evid/evid_test_util.h"
#include "handle/handle.h"

namespace {

using zt::Continues;
using zt::ExpectCode;
using zt::Taken;

constexpr uint32_t kBlock = zera::kIdBlockSize;
constexpr uint32_t kLast = zera::kIdBlockCount - 1;

// A private copy of the segment's words, for the search alone.
struct Words {
    std::vector<uint32_t> w = std::vector<uint32_t>(zera::kIdSearchWord + 1, 0);
    uint32_t *data() { return w.data(); }
    uint32_t &position() { return w[zera::kIdSearchWord]; }
    void Take(uint32_t block) { w[block / 32] |= 1u << (block % 32); }
    bool taken(uint32_t block) const { return Taken(w.data(), block); }
    bool continues(uint32_t block) const { return Continues(w.data(), block); }
};

TEST(IdRuns, BlocksAreNumberedInOrderAndRunsMarkTheirContinuation) {
    Words s;
    EXPECT_EQ(zera::ReserveIdRun(s.data(), 1), 0u);
    EXPECT_EQ(zera::ReserveIdRun(s.data(), kBlock), kBlock);
    EXPECT_EQ(s.position(), 2u);
    EXPECT_FALSE(s.continues(0));
    EXPECT_FALSE(s.continues(1));

    // 16385 identifiers need two blocks: one run, the first marked as going on.
    EXPECT_EQ(zera::ReserveIdRun(s.data(), kBlock + 1), 2 * kBlock);
    EXPECT_TRUE(s.taken(2) && s.taken(3));
    EXPECT_TRUE(s.continues(2));
    EXPECT_FALSE(s.continues(3));
    EXPECT_EQ(s.position(), 4u);

    // A count of 0 reports the next free block without taking it.
    EXPECT_EQ(zera::ReserveIdRun(s.data(), 0), 4 * kBlock);
    EXPECT_FALSE(s.taken(4));
    EXPECT_EQ(s.position(), 4u);
}

TEST(IdRuns, OnlyTheFirstBlockOfARunCanBeReturned) {
    Words s;
    ASSERT_EQ(zera::ReserveIdRun(s.data(), 3 * kBlock), 0u);
    const std::vector<uint32_t> before = s.w;

    OSAL_vSetLastError(0);
    EXPECT_FALSE(zera::ReturnIdRun(s.data(), kBlock));  // the second block of the run
    ExpectCode(OSAL_ERR_INVALID_SIZE);
    EXPECT_FALSE(zera::ReturnIdRun(s.data(), 3 * kBlock));  // a free block
    EXPECT_FALSE(zera::ReturnIdRun(s.data(), zera::kIdBlockCount * kBlock));  // beyond the last block
    EXPECT_FALSE(zera::ReturnIdRun(s.data(), 0xFFFFFFFFu));
    EXPECT_EQ(s.w, before);

    // The low 14 bits do not matter; the whole run goes.
    EXPECT_TRUE(zera::ReturnIdRun(s.data(), 0x3FFFu));
    for (uint32_t b = 0; b < 3; ++b) EXPECT_FALSE(s.taken(b) || s.continues(b)) << b;
    EXPECT_FALSE(zera::ReturnIdRun(s.data(), 0));
}

TEST(IdRuns, SearchSkipsTakenBlocksAndCountsInterruptedRuns) {
    Words s;
    for (uint32_t b = 0; b < 10; ++b) s.Take(b);
    EXPECT_EQ(zera::ReserveIdRun(s.data(), 1), 10 * kBlock);
    EXPECT_EQ(s.position(), 11u);  // 10 steps + 1 block

    // A two-block run from 20 is cut by block 21: one step for the free block,
    // one for the cut, one more when block 21 is passed; the run lands on 22.
    Words t;
    t.position() = 20;
    t.Take(21);
    EXPECT_EQ(zera::ReserveIdRun(t.data(), 2 * kBlock), 22 * kBlock);
    EXPECT_EQ(t.position(), 20u + 3 + 2);
}

TEST(IdRuns, SearchAndRunsWrapAroundTheLastBlock) {
    Words s;
    s.position() = kLast - 1;
    EXPECT_EQ(zera::ReserveIdRun(s.data(), 3 * kBlock), (kLast - 1) * kBlock);
    EXPECT_TRUE(s.taken(kLast - 1) && s.taken(kLast) && s.taken(0));
    EXPECT_TRUE(s.continues(kLast - 1));
    EXPECT_TRUE(s.continues(kLast));
    EXPECT_FALSE(s.continues(0));
    EXPECT_EQ(s.position(), 1u);

    // Block 0 continues the run from block 262111: not a first block.
    EXPECT_FALSE(zera::ReturnIdRun(s.data(), 0));
    EXPECT_TRUE(zera::ReturnIdRun(s.data(), (kLast - 1) * kBlock));
    EXPECT_TRUE(zt::TakenBlocks(s.w) == 0 && zt::NoBitSet(s.w));

    // A search that starts at the last, taken block goes on at block 0.
    Words t;
    t.position() = kLast;
    t.Take(kLast);
    EXPECT_EQ(zera::ReserveIdRun(t.data(), 1), 0u);
    EXPECT_EQ(t.position(), 1u);
}

TEST(IdRuns, NoFreeRunLeavesTheSegmentUnchanged) {
    Words full;
    std::fill(full.w.begin(), full.w.begin() + zera::kIdBitmapWords, 0xFFFFFFFFu);
    full.position() = 77;
    const std::vector<uint32_t> before = full.w;
    OSAL_vSetLastError(0);
    EXPECT_EQ(zera::ReserveIdRun(full.data(), 1), zera::kNoIdRun);
    ExpectCode(0);
    EXPECT_EQ(full.w, before);

    // Every other block free: no run of two anywhere.
    Words holes;
    std::fill(holes.w.begin(), holes.w.begin() + zera::kIdBitmapWords, 0xAAAAAAAAu);
    const std::vector<uint32_t> holesBefore = holes.w;
    EXPECT_EQ(zera::ReserveIdRun(holes.data(), 2 * kBlock), zera::kNoIdRun);
    EXPECT_EQ(holes.w, holesBefore);
    EXPECT_EQ(zera::ReserveIdRun(holes.data(), kBlock), 0u);
}

TEST(IdRuns, CountsBeyondTheSegmentAreRefused) {
    Words s;
    s.position() = 0xFFFFFFFFu;  // out of range: taken modulo the block count
    // 0xFFF80000 identifiers are exactly every block.
    EXPECT_EQ(zera::ReserveIdRun(s.data(), zera::kIdBlockCount * kBlock), (0xFFFFFFFFu % zera::kIdBlockCount) * kBlock);
    EXPECT_EQ(zt::TakenBlocks(s.w), zera::kIdBlockCount);
    EXPECT_TRUE(zera::ReturnIdRun(s.data(), (0xFFFFFFFFu % zera::kIdBlockCount) * kBlock));
    EXPECT_EQ(zt::TakenBlocks(s.w), 0u);

    OSAL_vSetLastError(0);
    EXPECT_EQ(zera::ReserveIdRun(s.data(), zera::kIdBlockCount * kBlock + 1), zera::kNoIdRun);
    ExpectCode(OSAL_ERR_INVALID_SIZE);
    EXPECT_EQ(zera::ReserveIdRun(s.data(), 0xFFFFFFFFu), zera::kNoIdRun);
    EXPECT_EQ(zt::TakenBlocks(s.w), 0u);
}

// ---- The exported operations on this program's segment ------------------------------

TEST(IdBlocks, TopLevelWorksOnTheSegment) {
    zt::ResetSegment();
    zt::LevelChain chain;
    EXPECT_EQ(ZERA_dwEvIdGetBlockSize(nullptr), kBlock);
    EXPECT_EQ(ZERA_dwEvIdGetBlockSize(chain[0]), kBlock);

    EXPECT_EQ(ZERA_dwEvIdGetBlock(chain[0], 1), 0u);
    EXPECT_EQ(ZERA_dwEvIdGetBlock(chain[0], kBlock), kBlock);
    EXPECT_EQ(ZERA_dwEvIdGetBlock(chain[0], kBlock + 1), 2 * kBlock);
    std::vector<uint32_t> seg = zt::SegmentSnapshot();
    EXPECT_EQ(seg[zera::kIdSearchWord], 4u);
    EXPECT_TRUE(Continues(seg.data(), 2));

    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boEvIdFreeBlock(chain[0], 3 * kBlock));
    ExpectCode(OSAL_ERR_INVALID_SIZE);
    for (uint32_t first : {0u, kBlock, 2 * kBlock + 5}) EXPECT_TRUE(ZERA_boEvIdFreeBlock(chain[0], first));
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
}

TEST(IdBlocks, RefusedOnAnIncompleteStackOrAnInvalidHandle) {
    zt::ResetSegment();
    zt::LevelChain chain(0, false);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_dwEvIdGetBlock(chain[0], 1), ZERA_EVID_NONE);
    ExpectCode(OSAL_ERR_NOT_COMPLETE);
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boEvIdFreeBlock(chain[0], 0));
    ExpectCode(OSAL_ERR_NOT_COMPLETE);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_dwEvIdGetBlock(nullptr, 1), ZERA_EVID_NONE);
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_FALSE(ZERA_boEvIdFreeBlock(nullptr, 0));
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));

    chain.SetComplete(true);
    const uint32_t first = ZERA_dwEvIdGetBlock(chain[0], 1);
    EXPECT_EQ(first, 0u);
    EXPECT_TRUE(ZERA_boEvIdFreeBlock(chain[0], first));
}

// Slot 30 of the topmost level, counting the requests that reach it.
int g_topRequests = 0;
uint32_t ZERA_CALL CountingGetBlock(StackHandle *h, uint32_t count) {
    ++g_topRequests;
    return ZERA_dwEvIdGetBlock(h, count);
}

TEST(IdBlocks, RequestsClimbTheChainThroughTheEntrySlots) {
    zt::ResetSegment();
    zt::LevelChain chain(2);
    chain[2]->apfnEntry[zera::kEntryEvIdGetBlock] = reinterpret_cast<ZERA_PFN>(&CountingGetBlock);
    g_topRequests = 0;
    const uint32_t first = ZERA_dwEvIdGetBlock(chain[0], 2 * kBlock);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(g_topRequests, 1);
    EXPECT_EQ(ZERA_dwEvIdGetBlock(chain[1], 1), 2 * kBlock);
    EXPECT_EQ(g_topRequests, 2);

    // Each level on the way must be complete.
    chain[1]->dwStatus &= ~ZERA_STATUS_COMPLETE;
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_dwEvIdGetBlock(chain[0], 1), ZERA_EVID_NONE);
    ExpectCode(OSAL_ERR_NOT_COMPLETE);
    EXPECT_FALSE(ZERA_boEvIdFreeBlock(chain[0], first));
    ExpectCode(OSAL_ERR_NOT_COMPLETE);
    chain[1]->dwStatus |= ZERA_STATUS_COMPLETE;

    // A level above that is not bound yet (empty slot) refuses with 1027.
    ZERA_PFN saved = chain[1]->apfnEntry[zera::kEntryEvIdFreeBlock];
    chain[1]->apfnEntry[zera::kEntryEvIdFreeBlock] = nullptr;
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boEvIdFreeBlock(chain[0], first));
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    chain[1]->apfnEntry[zera::kEntryEvIdFreeBlock] = saved;

    // The second block of the run is refused from any level.
    EXPECT_FALSE(ZERA_boEvIdFreeBlock(chain[0], kBlock));
    ExpectCode(OSAL_ERR_INVALID_SIZE);
    EXPECT_TRUE(ZERA_boEvIdFreeBlock(chain[0], first));
    EXPECT_TRUE(ZERA_boEvIdFreeBlock(chain[2], 2 * kBlock));
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
}

}  // namespace
