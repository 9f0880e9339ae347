// evid/evid_processes_test.cpp - the identifier segment shared by helper
// processes: several processes reserving and returning runs and drawing
// identifiers at once never get the same identifier or block, every block is
// free once they are done, and a process killed while it holds the segment
// lock does not stop the others.
//
// Each child opens a segment handle of its own (an inherited one shares the
// parent's locks) and leaves with _exit, so that nothing of the parent's
// runs twice.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "evid/evid_test_util.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kBlock = zera::kIdBlockSize;

bool WriteAll(int fd, const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads until the writer closes its end; false after timeoutMs without data.
bool ReadAll(int fd, std::vector<uint32_t> *words, int timeoutMs) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, timeoutMs) != 1) return false;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) return false;
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    words->resize(bytes.size() / 4);
    std::memcpy(words->data(), bytes.data(), words->size() * 4);
    return bytes.size() % 4 == 0;
}

bool ReadByte(int fd, int timeoutMs) {
    pollfd pfd{fd, POLLIN, 0};
    char c;
    return poll(&pfd, 1, timeoutMs) == 1 && read(fd, &c, 1) == 1;
}

int ExitCode(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// What a child reports: each identifier drawn, then a 0xFFFFFFFF mark, then
// first block and block count of each run it reserved itself.
constexpr uint32_t kMark = 0xFFFFFFFFu;

// The work of one child: two managers of its own stack (tiny runs and the
// default ones) and runs of 1 to 3 blocks reserved and returned directly, for
// a bounded time and number of runs. Exit code 0 when everything went back.
int DrawAndReserve(int out, unsigned seed) {
    if (!zera::ReopenIdSegmentAfterFork()) return 10;
    StackHandle *h0 = ZERA_hHostStackCreate(nullptr);
    if (h0 == nullptr) return 11;
    h0->dwStatus |= ZERA_STATUS_COMPLETE;
    EvIdManager small{}, large{};
    const EvIdManagerConfig smallConfig{16, 3, 0}, largeConfig{0, 0, 0};
    if (!ZERA_boEvIdManagerInit(h0, &small, &smallConfig) || !ZERA_boEvIdManagerInit(h0, &large, &largeConfig))
        return 12;
    std::vector<uint32_t> ids, runs;
    const auto end = Clock::now() + std::chrono::milliseconds(1500);
    uint32_t blocksUsed = 0;
    for (unsigned round = 0; Clock::now() < end && blocksUsed < 20000; ++round) {
        for (int i = 0; i < 16; ++i) ids.push_back(ZERA_dwEvIdManagerGetNextId(&small, 0));
        blocksUsed += 2;
        for (int i = 0; i < 16; ++i) ids.push_back(ZERA_dwEvIdManagerGetNextId(&large, 0));
        if (round % 4 == 0) {
            const uint32_t blocks = 1 + (seed + round) % 3;
            const uint32_t first = ZERA_dwEvIdGetBlock(h0, blocks * kBlock);
            if (first == ZERA_EVID_NONE) return 13;
            runs.push_back(first / kBlock);
            runs.push_back(blocks);
            blocksUsed += blocks;
            if (!ZERA_boEvIdFreeBlock(h0, first)) return 14;
        }
    }
    if (std::find(ids.begin(), ids.end(), ZERA_EVID_NONE) != ids.end()) return 15;
    if (!ZERA_boEvIdManagerDeinit(&small) || !ZERA_boEvIdManagerDeinit(&large)) return 16;
    if (!ZERA_boHostStackDestroy(h0)) return 17;
    ids.push_back(kMark);
    ids.insert(ids.end(), runs.begin(), runs.end());
    return WriteAll(out, ids.data(), ids.size() * 4) ? 0 : 18;
}

TEST(EvIdProcesses, ConcurrentProcessesNeverShareAnIdentifierOrABlock) {
    zt::ResetSegment();
    constexpr int kChildren = 4;
    pid_t pids[kChildren];
    int pipes[kChildren][2];
    for (int c = 0; c < kChildren; ++c) {
        ASSERT_EQ(pipe(pipes[c]), 0);
        pids[c] = fork();
        ASSERT_GE(pids[c], 0);
        if (pids[c] == 0) {
            close(pipes[c][0]);
            _exit(DrawAndReserve(pipes[c][1], static_cast<unsigned>(c)));
        }
        close(pipes[c][1]);
    }

    // Every identifier drawn lies in a block that only its drawer ever held,
    // and every block reserved directly was reserved once only. (The search
    // moves on past returned blocks and the runs used stay far below one pass
    // over the segment, so no block is handed out twice within the test.)
    std::map<uint32_t, int> blockHolder;
    std::vector<uint32_t> allIds;
    for (int c = 0; c < kChildren; ++c) {
        std::vector<uint32_t> words;
        EXPECT_TRUE(ReadAll(pipes[c][0], &words, 60000)) << "child " << c;
        close(pipes[c][0]);
        EXPECT_EQ(ExitCode(pids[c]), 0) << "child " << c;
        auto mark = std::find(words.begin(), words.end(), kMark);
        ASSERT_NE(mark, words.end()) << "child " << c;
        EXPECT_GT(mark - words.begin(), 1000) << "child " << c;
        for (auto it = words.begin(); it != mark; ++it) {
            EXPECT_EQ(*it % 2, 0u);
            auto holder = blockHolder.emplace(*it / kBlock, c);
            EXPECT_EQ(holder.first->second, c) << "block " << *it / kBlock << " held by two processes";
            allIds.push_back(*it);
        }
        for (auto it = mark + 1; it + 1 < words.end(); it += 2) {
            for (uint32_t b = 0; b < it[1]; ++b) {
                bool fresh = blockHolder.emplace(it[0] + b, c + 100).second;
                EXPECT_TRUE(fresh) << "block " << it[0] + b << " reserved twice";
            }
        }
    }
    std::sort(allIds.begin(), allIds.end());
    EXPECT_EQ(std::adjacent_find(allIds.begin(), allIds.end()), allIds.end());
    EXPECT_LT(blockHolder.size(), zera::kIdBlockCount / 2);
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
}

TEST(EvIdProcesses, AProcessKilledWhileHoldingTheSegmentLockStopsNobody) {
    zt::ResetSegment();
    int fromHolder[2], fromWaiter[2];
    ASSERT_EQ(pipe(fromHolder), 0);
    pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        close(fromHolder[0]);
        if (!zera::ReopenIdSegmentAfterFork() || !OSAL_boSharedMemLock(zera::IdSegment())) _exit(2);
        char c = 1;
        if (write(fromHolder[1], &c, 1) != 1) _exit(3);
        for (;;) pause();  // holds the lock until it is killed
    }
    close(fromHolder[1]);
    ASSERT_TRUE(ReadByte(fromHolder[0], 30000));

    // A second process asks for a run and reports it.
    ASSERT_EQ(pipe(fromWaiter), 0);
    pid_t waiter = fork();
    ASSERT_GE(waiter, 0);
    if (waiter == 0) {
        close(fromWaiter[0]);
        if (!zera::ReopenIdSegmentAfterFork()) _exit(2);
        StackHandle *h0 = ZERA_hHostStackCreate(nullptr);
        if (h0 == nullptr) _exit(3);
        h0->dwStatus |= ZERA_STATUS_COMPLETE;
        uint32_t first = ZERA_dwEvIdGetBlock(h0, 1);
        if (!WriteAll(fromWaiter[1], &first, 4)) _exit(4);
        _exit(ZERA_boEvIdFreeBlock(h0, first) && ZERA_boHostStackDestroy(h0) ? 0 : 5);
    }
    close(fromWaiter[1]);

    // And a thread of this process does the same.
    zt::LevelChain chain;
    std::atomic<uint32_t> mine{0};
    std::atomic<bool> done{false};
    std::thread asker([&] {
        mine = ZERA_dwEvIdGetBlock(chain[0], 1);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done);
    pollfd pfd{fromWaiter[0], POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 0), 0) << "the waiting process got through a held lock";

    kill(holder, SIGKILL);
    EXPECT_EQ(ExitCode(holder), 128 + SIGKILL);
    close(fromHolder[0]);
    asker.join();
    std::vector<uint32_t> theirs;
    EXPECT_TRUE(ReadAll(fromWaiter[0], &theirs, 30000));
    close(fromWaiter[0]);
    EXPECT_EQ(ExitCode(waiter), 0);
    ASSERT_EQ(theirs.size(), 1u);
    EXPECT_NE(mine.load(), ZERA_EVID_NONE);
    EXPECT_NE(theirs[0], ZERA_EVID_NONE);
    EXPECT_NE(mine.load(), theirs[0]);
    EXPECT_TRUE(ZERA_boEvIdFreeBlock(chain[0], mine));
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
}

}  // namespace
