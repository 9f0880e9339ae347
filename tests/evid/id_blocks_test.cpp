// evid/id_blocks_test.cpp - runs of identifier blocks: the next-fit search
// with its search position and wrap-around, continuation bits, returns of
// whole runs only, and requests that climb the chain of levels to the top.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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

#if !defined(_WIN32)
// The helper of the next test: this program started again with
// ZERA_TEST_FOREIGN_FOLDER naming the segments' folder, which another user
// made first. Runs before main (the library has started by then); exits with
// a bit set for each check that failed.
int CheckForeignFolder(const std::string &folder) {
    auto reported = [&](bool refused) {
        const char *text = OSAL_pszGetLastErrorText();
        return refused && OSAL_dwGetLastError() == OSAL_ERR_NOT_PRIVATE &&
               std::strstr(text, (folder + ": folder owned by uid 65534").c_str()) != nullptr;
    };
    int failed = reported(zera::IdSegment() == nullptr) ? 0 : 1;  // at start
    StackHandle *h0 = ZERA_hHostStackCreate(nullptr);
    h0->dwStatus |= ZERA_STATUS_COMPLETE;
    EvIdManagerConfig config{0, 0, 0};
    ZERA_boEvIdManagerInit(h0, &h0->stEvIdManager, &config);
    for (int draw = 0; draw < 2; ++draw) {  // every draw, not only the first
        failed |= reported(ZERA_dwEvIdGetBlock(h0, 1) == ZERA_EVID_NONE) ? 0 : 2;
        failed |= reported(ZERA_dwEvIdManagerGetNextId(&h0->stEvIdManager, 0) == ZERA_EVID_NONE) ? 0 : 4;
    }
    // Once the folder is gone, the next draw opens the segment after all.
    rmdir(folder.c_str());
    failed |= ZERA_dwEvIdManagerGetNextId(&h0->stEvIdManager, 0) < ZERA_EVID_RESERVED_FIRST ? 0 : 8;
    ZERA_boEvIdManagerDeinit(&h0->stEvIdManager);
    ZERA_boHostStackDestroy(h0);
    return failed;
}
const bool g_foreignFolderHelper = std::getenv("ZERA_TEST_FOREIGN_FOLDER") != nullptr &&
                                   (_exit(CheckForeignFolder(std::getenv("ZERA_TEST_FOREIGN_FOLDER"))), true);

// Another user who makes the user's segments' folder first blocks no draw
// in silence: library start and every draw that needs the segment report
// 1038 naming the folder and its owner, never 1025 ("every block reserved").
TEST(IdSegment, AnotherUsersFolderIsReportedAtStartAndAtEveryDraw) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to give a folder to another user";
    char made[] = "/tmp/zera_runtime_XXXXXX", self[4096] = {};
    ASSERT_TRUE(mkdtemp(made) != nullptr && readlink("/proc/self/exe", self, sizeof self - 1) > 0);
    const std::string folder = std::string(made) + "/VOQ_OSAL";
    ASSERT_TRUE(mkdir(folder.c_str(), 0700) == 0 && chown(folder.c_str(), 65534, 65534) == 0);
    const pid_t child = fork();
    if (child == 0) {
        setenv("XDG_RUNTIME_DIR", made, 1);
        setenv("ZERA_TEST_FOREIGN_FOLDER", folder.c_str(), 1);
        execl(self, self, static_cast<char *>(nullptr));
        // The i386 build's tests run under qemu: this kernel runs no 32-bit program.
        execl("/usr/bin/qemu-i386", "qemu-i386", self, static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = -1;
    EXPECT_TRUE(child > 0 && waitpid(child, &status, 0) == child);
    std::filesystem::remove_all(made);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0)
        << "1: not at start, 2: not at a block request, 4: not at a manager's draw, 8: no segment once it was gone";
}
#endif  // Windows: the segment's name lies in the session's own namespace, no folder

}  // namespace
