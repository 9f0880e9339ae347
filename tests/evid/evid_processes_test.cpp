// evid/evid_processes_test.cpp - the identifier segment shared by helper
// processes: several processes reserving and returning runs and drawing
// identifiers at once never get the same identifier or block, every block is
// free once they are done, and a process killed while it holds the segment
// lock does not stop the others.
//
// Each child opens a segment handle of its own (an inherited one shares the
// parent's locks) and leaves with _exit, so that nothing of the parent's
// runs twice.
#include "evid/evid_test_util.h"

#if defined(_WIN32)

TEST(EvIdProcesses, NeedForkedHelpers) {
    GTEST_SKIP() << "the helpers are forked copies of this program, and a Windows process has no fork; "
                    "test_osal's helper processes cover the segment lock across processes there";
}

#else

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kBlock = zera::kIdBlockSize;

// A blocking write to a pipe writes everything unless a signal cuts it.
bool WriteAll(int fd, const void *data, size_t size) { return write(fd, data, size) == static_cast<ssize_t>(size); }

// Reads words until the writer closes its end, then closes fd; false after
// timeoutMs without data.
bool ReadAll(int fd, std::vector<uint32_t> *words, int timeoutMs) {
    std::string bytes;
    char buffer[65536];
    ssize_t n = 1;
    while (n > 0) {
        pollfd pfd{fd, POLLIN, 0};
        n = poll(&pfd, 1, timeoutMs) == 1 ? read(fd, buffer, sizeof buffer) : -1;
        if (n > 0) bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    words->resize(bytes.size() / 4);
    std::memcpy(words->data(), bytes.data(), words->size() * 4);
    return n == 0 && bytes.size() % 4 == 0;
}

int ExitCode(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Forks a child that reopens the segment, runs work(fd) and leaves with its
// result as exit code; *fromChild gets the read end of fd's pipe.
template <typename Work>
pid_t Spawn(int *fromChild, Work work) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        _exit(zera::ReopenIdSegmentAfterFork() ? work(fds[1]) : 10);
    }
    close(fds[1]);
    *fromChild = fds[0];
    return pid;
}

// What a child reports: each identifier drawn, then a 0xFFFFFFFF mark, then
// first block and block count of each run it reserved itself.
constexpr uint32_t kMark = 0xFFFFFFFFu;

// The work of one child: a manager of its own stack with tiny runs and runs
// of 1 to 3 blocks reserved and returned directly, for a bounded time and
// number of runs. Exit code 0 when everything went back.
int DrawAndReserve(int out, unsigned seed) {
    zt::LevelChain chain;  // a stack of this process's own
    EvIdManager *small = chain.Manager(0, EvIdManagerConfig{16, 3, 0});
    if (small->pstLevel == nullptr) return 12;
    std::vector<uint32_t> ids, runs;
    const auto end = Clock::now() + std::chrono::milliseconds(1500);
    uint32_t blocksUsed = 0;
    for (unsigned round = 0; Clock::now() < end && blocksUsed < 20000; ++round) {
        for (int i = 0; i < 32; ++i) ids.push_back(ZERA_dwEvIdManagerGetNextId(small, 0));
        blocksUsed += 4;  // 8 identifiers a run
        if (round % 4 == 0) {
            const uint32_t blocks = 1 + (seed + round) % 3;
            const uint32_t first = ZERA_dwEvIdGetBlock(chain[0], blocks * kBlock);
            if (first == ZERA_EVID_NONE || !ZERA_boEvIdFreeBlock(chain[0], first)) return 13;
            runs.insert(runs.end(), {first / kBlock, blocks});
            blocksUsed += blocks;
        }
    }
    if (std::find(ids.begin(), ids.end(), ZERA_EVID_NONE) != ids.end()) return 15;
    if (!ZERA_boEvIdManagerDeinit(small)) return 16;
    ids.push_back(kMark);
    ids.insert(ids.end(), runs.begin(), runs.end());
    return WriteAll(out, ids.data(), ids.size() * 4) ? 0 : 18;
}

TEST(EvIdProcesses, ConcurrentProcessesNeverShareAnIdentifierOrABlock) {
    zt::ResetSegment();
    constexpr int kChildren = 4;
    pid_t pids[kChildren];
    int pipes[kChildren];
    for (unsigned c = 0; c < kChildren; ++c) {
        pids[c] = Spawn(&pipes[c], [c](int fd) { return DrawAndReserve(fd, c); });
        ASSERT_GT(pids[c], 0);
    }

    // Every identifier drawn lies in a block that only its drawer ever held,
    // and every block reserved directly was reserved once only. (The search
    // moves on past returned blocks and the runs used stay far below one pass
    // over the segment, so no block is handed out twice within the test.)
    std::map<uint32_t, int> blockHolder;
    std::vector<uint32_t> allIds;
    for (int c = 0; c < kChildren; ++c) {
        SCOPED_TRACE(c);
        std::vector<uint32_t> words;
        EXPECT_TRUE(ReadAll(pipes[c], &words, 60000));
        EXPECT_EQ(ExitCode(pids[c]), 0);
        auto mark = std::find(words.begin(), words.end(), kMark);
        ASSERT_NE(mark, words.end());
        EXPECT_GT(mark - words.begin(), 1000);
        for (auto it = words.begin(); it != mark; ++it) {
            EXPECT_EQ(*it % 2, 0u);
            EXPECT_EQ(blockHolder.emplace(*it / kBlock, c).first->second, c) << "block " << *it / kBlock;
            allIds.push_back(*it);
        }
        for (auto it = mark + 1; it + 1 < words.end(); it += 2) {
            for (uint32_t b = 0; b < it[1]; ++b) {
                EXPECT_TRUE(blockHolder.emplace(it[0] + b, c + 100).second) << "block " << it[0] + b << " twice";
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
    int fromHolder = -1, fromWaiter = -1;
    const pid_t holder = Spawn(&fromHolder, [](int fd) {
        char c = 1;
        if (!OSAL_boSharedMemLock(zera::IdSegment()) || write(fd, &c, 1) != 1) return 2;
        for (;;) pause();  // holds the lock until it is killed
    });
    ASSERT_GT(holder, 0);
    pollfd held{fromHolder, POLLIN, 0};
    ASSERT_EQ(poll(&held, 1, 30000), 1);

    // A second process asks for a run and reports it, and so does a thread
    // of this process.
    const pid_t waiter = Spawn(&fromWaiter, [](int fd) {
        zt::LevelChain chain;
        const uint32_t first = ZERA_dwEvIdGetBlock(chain[0], 1);
        return WriteAll(fd, &first, 4) && ZERA_boEvIdFreeBlock(chain[0], first) ? 0 : 4;
    });
    ASSERT_GT(waiter, 0);
    zt::LevelChain chain;
    std::atomic<uint32_t> mine{0};
    std::atomic<bool> done{false};
    std::thread asker([&] {
        mine = ZERA_dwEvIdGetBlock(chain[0], 1);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done);
    pollfd pfd{fromWaiter, POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 0), 0) << "the waiting process got through a held lock";

    kill(holder, SIGKILL);
    EXPECT_EQ(ExitCode(holder), 128 + SIGKILL);
    close(fromHolder);
    asker.join();
    std::vector<uint32_t> theirs;
    EXPECT_TRUE(ReadAll(fromWaiter, &theirs, 30000));
    EXPECT_EQ(ExitCode(waiter), 0);
    ASSERT_EQ(theirs.size(), 1u);
    EXPECT_TRUE(mine != ZERA_EVID_NONE && theirs[0] != ZERA_EVID_NONE && mine != theirs[0]);
    EXPECT_TRUE(ZERA_boEvIdFreeBlock(chain[0], mine));
    EXPECT_TRUE(zt::NoBitSet(zt::SegmentSnapshot()));
}

}  // namespace

#endif
