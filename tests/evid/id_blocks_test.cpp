// evid/id_blocks_test.cpp - runs of identifier blocks: the next-fit search
// with its search position and wrap-around, continuation bits, returns of
// whole runs only, and requests that climb the chain of levels to the top.
#include <algorithm>

#include "evid/evid_test_util.h"
#include "handle/handle.h"

namespace {

constexpr uint32_t kBlock = zera::kIdBlockSize;
constexpr uint32_t kLast = zera::kIdBlockCount - 1;

// A private copy of the segment's words, for the search alone.
struct Words {
    explicit Words(uint32_t position = 0, uint32_t fill = 0) {
        std::fill(w.begin(), w.begin() + zera::kIdBitmapWords, fill);
        w[zera::kIdSearchWord] = position;
    }
    std::vector<uint32_t> w = std::vector<uint32_t>(zera::kIdSearchWord + 1, 0);
    uint32_t *data() { return w.data(); }
    void Take(uint32_t block) { w[block / 32] |= 1u << (block % 32); }
    bool continues(uint32_t block) const { return zt::Continues(w.data(), block); }
};

// Next-fit search: the run's first block and the search position after it;
// a request that cannot be met (kNone) leaves the words as they were.
TEST(IdRuns, SearchGoesOnFromThePositionSkipsTakenBlocksAndWraps) {
    const uint32_t outOfRange = 0xFFFFFFFFu % zera::kIdBlockCount, kNone = zera::kNoIdRun;
    // fill: every word of the taken bitmap; taken: blocks taken besides.
    const struct { uint32_t position, fill; std::vector<uint32_t> taken; uint32_t count, first, after, code; } cases[] = {
        {0, 0, {}, 0, 0, 0, 0},  // a count of 0 reports the next free block without taking it
        {0, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 1, 10, 11, 0},  // 10 steps + 1 block
        // A two-block run from 20 is cut by block 21: one step for the free
        // block, one for the cut, one more when block 21 is passed.
        {20, 0, {21}, 2 * kBlock, 22, 20 + 3 + 2, 0},
        {kLast, 0, {kLast}, 1, 0, 1, 0},  // from the last, taken block on at block 0
        {0xFFFFFFFFu, 0, {}, 1, outOfRange, outOfRange + 1, 0},  // taken modulo the block count
        {5, 0, {}, zera::kIdBlockCount * kBlock, 5, 5, 0},  // 0xFFF80000 identifiers: every block
        {77, 0xFFFFFFFFu, {}, 1, kNone, 77, OSAL_ERR_NOT_AVAILABLE},  // all taken: no run
        {0, 0xAAAAAAAAu, {}, 2 * kBlock, kNone, 0, OSAL_ERR_NOT_AVAILABLE},  // every other block free: no run of two
        {0, 0, {}, zera::kIdBlockCount * kBlock + 1, kNone, 0, OSAL_ERR_INVALID_SIZE},  // beyond the segment
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "from " << c.position << " count " << c.count);
        Words s(c.position, c.fill);
        for (uint32_t b : c.taken) s.Take(b);
        const std::vector<uint32_t> before = s.w;
        OSAL_vSetLastError(0);
        EXPECT_EQ(zera::ReserveIdRun(s.data(), c.count), c.first == kNone ? kNone : c.first * kBlock);
        EXPECT_EQ(OSAL_dwGetLastError(), c.code);
        EXPECT_EQ(s.w[zera::kIdSearchWord], c.after);
        EXPECT_TRUE(c.first == kNone ? s.w == before
                                     : zt::TakenBlocks(s.w) == c.taken.size() + (c.count + kBlock - 1) / kBlock);
    }
}

// A run of more than one block marks each but its last block as going on,
// also across the end of the segment; only its first block returns it, whole.
TEST(IdRuns, RunsMarkTheirContinuationAndAreReturnedWhole) {
    Words s(kLast - 1);
    EXPECT_EQ(zera::ReserveIdRun(s.data(), 3 * kBlock), (kLast - 1) * kBlock);
    EXPECT_EQ(zera::ReserveIdRun(s.data(), kBlock + 1), kBlock);
    EXPECT_EQ(zera::ReserveIdRun(s.data(), kBlock), 3 * kBlock);
    for (uint32_t b : {kLast - 1, kLast, 1u}) EXPECT_TRUE(s.continues(b)) << b;
    for (uint32_t b : {0u, 2u, 3u}) EXPECT_FALSE(s.continues(b)) << b;

    const std::vector<uint32_t> before = s.w;
    // Second blocks (0 continues the wrapped run), a free block, beyond the last.
    for (uint32_t id : {0u, 2 * kBlock, kLast * kBlock, 4 * kBlock, zera::kIdBlockCount * kBlock, 0xFFFFFFFFu}) {
        EXPECT_REFUSED(zera::ReturnIdRun(s.data(), id), OSAL_ERR_INVALID_SIZE);
    }
    EXPECT_EQ(s.w, before);
    // The low 14 bits do not matter.
    for (uint32_t first : {(kLast - 1) * kBlock + 0x3FFFu, kBlock + 1, 3 * kBlock}) {
        EXPECT_TRUE(zera::ReturnIdRun(s.data(), first));
    }
    EXPECT_TRUE(zt::NoBitSet(s.w));
}

// ---- The exported operations on this program's segment ------------------------------

// Slot 30 of the topmost level, counting the requests that reach it.
int g_topRequests = 0;
uint32_t ZERA_CALL CountingGetBlock(StackHandle *h, uint32_t count) {
    ++g_topRequests;
    return ZERA_dwEvIdGetBlock(h, count);
}

// Requests climb through the entry slots to the top, which works on the
// segment; every level on the way must be complete and bound.
TEST(IdBlocks, RequestsClimbTheChainToTheSegment) {
    zt::ResetSegment();
    zt::LevelChain chain(2, false);
    chain[2]->apfnEntry[zera::kEntryEvIdGetBlock] = reinterpret_cast<ZERA_PFN>(&CountingGetBlock);
    EXPECT_REFUSED(ZERA_dwEvIdGetBlock(nullptr, 1) != ZERA_EVID_NONE, OSAL_ERR_INVALID_HANDLE);
    chain.SetComplete(true);
    for (size_t incomplete : {0, 1, 2}) {
        chain[incomplete]->dwStatus &= ~ZERA_STATUS_COMPLETE;
        EXPECT_REFUSED(ZERA_dwEvIdGetBlock(chain[0], 1) != ZERA_EVID_NONE, OSAL_ERR_NOT_COMPLETE);
        EXPECT_REFUSED(ZERA_boEvIdFreeBlock(chain[0], 0), OSAL_ERR_NOT_COMPLETE);
        chain[incomplete]->dwStatus |= ZERA_STATUS_COMPLETE;
    }
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
    g_topRequests = 0;

    EXPECT_EQ(ZERA_dwEvIdGetBlock(chain[0], 1), 0u);
    EXPECT_EQ(ZERA_dwEvIdGetBlock(chain[1], kBlock + 1), kBlock);
    EXPECT_EQ(ZERA_dwEvIdGetBlock(chain[2], kBlock), 3 * kBlock);
    EXPECT_EQ(g_topRequests, 2);
    std::vector<uint32_t> seg = zt::SegmentSnapshot();
    EXPECT_EQ(seg[zera::kIdSearchWord], 4u);
    EXPECT_TRUE(zt::Continues(seg.data(), 1));

    // A level above that is not bound yet (empty slot) refuses with 1027.
    ZERA_PFN saved = chain[1]->apfnEntry[zera::kEntryEvIdFreeBlock];
    chain[1]->apfnEntry[zera::kEntryEvIdFreeBlock] = nullptr;
    EXPECT_REFUSED(ZERA_boEvIdFreeBlock(chain[0], 0), OSAL_ERR_INVALID_HANDLE);
    chain[1]->apfnEntry[zera::kEntryEvIdFreeBlock] = saved;
    // The second block of a run is refused from any level.
    EXPECT_REFUSED(ZERA_boEvIdFreeBlock(chain[0], 2 * kBlock), OSAL_ERR_INVALID_SIZE);
    for (uint32_t first : {0u, kBlock + 5, 3 * kBlock}) EXPECT_TRUE(ZERA_boEvIdFreeBlock(chain[0], first));
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
}

}  // namespace
