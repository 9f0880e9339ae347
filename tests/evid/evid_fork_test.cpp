// evid/evid_fork_test.cpp - identifiers across processes: a parent drawing
// alongside its forked children never shares an identifier with them, and a
// daemon that goes on with the segment handle its parent opened at load keeps
// its blocks reserved after the parent leaves. (The segment lock across processes, a
// killed holder and forked handles are tested in test_osal.)
#include "evid/evid_test_util.h"

#if defined(_WIN32)

TEST(EvIdFork, NeedFork) { GTEST_SKIP() << "a Windows process has no fork"; }

#else

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

// Forks a child that runs body() and leaves with its result through _exit.
template <typename Body>
pid_t Fork(Body body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

bool ExitedCleanly(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Zeroed words that forked children write and the parent reads.
uint32_t *SharedWords(size_t n) {
    void *p = mmap(nullptr, n * 4, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(p, MAP_FAILED);
    return p == MAP_FAILED ? nullptr : static_cast<uint32_t *>(p);
}

// Draws n identifiers into ids through a manager of the chain's level 0, with
// runs so short that every eighth draw reserves a block.
void Draw(zt::LevelChain &chain, uint32_t *ids, size_t n) {
    EvIdManager *manager = chain.Manager(0, EvIdManagerConfig{16, 3, 0});
    for (size_t i = 0; i < n; ++i) ids[i] = ZERA_dwEvIdManagerGetNextId(manager, 0);
}

// A parent and four children, all with the handle the parent opened at load,
// draw at once: no identifier twice.
TEST(EvIdFork, ParentAndChildrenNeverDrawTheSameIdentifier) {
    constexpr int kChildren = 4;
    constexpr size_t kDraws = 80000;
    uint32_t *ids = SharedWords((kChildren + 1) * kDraws);  // the parent's draws last
    ASSERT_NE(ids, nullptr);
    pid_t pids[kChildren];
    const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);  // all at once
    auto draw = [&](size_t slot) {
        zt::LevelChain chain;
        std::this_thread::sleep_until(start);
        Draw(chain, ids + slot * kDraws, kDraws);
        return 0;
    };
    for (pid_t &pid : pids) {
        pid = Fork([&] { return draw(static_cast<size_t>(&pid - pids)); });
        ASSERT_GT(pid, 0);
    }
    draw(kChildren);
    for (pid_t pid : pids) EXPECT_TRUE(ExitedCleanly(pid));
    std::vector<uint32_t> all(ids, ids + (kChildren + 1) * kDraws);
    munmap(ids, all.size() * 4);
    std::sort(all.begin(), all.end());
    const size_t distinct = static_cast<size_t>(std::unique(all.begin(), all.end()) - all.begin());
    EXPECT_EQ(distinct, all.size()) << all.size() - distinct << " identifiers drawn twice";
}

// The daemon pattern: a process forks and leaves with a real exit (its
// library unload closes the segment); the child, on the inherited handle,
// draws. Its run must stay reserved for a process opening the segment later.
TEST(EvIdFork, BlocksOfADaemonOutliveItsParent) {
    constexpr size_t kDraws = 2000;
    uint32_t *ids = SharedWords(kDraws + 1);  // the last word: 1 once the daemon has drawn
    ASSERT_NE(ids, nullptr);
    const pid_t parent = Fork([ids]() -> int {
        const pid_t self = getpid();
        const pid_t daemon = Fork([ids, self] {
            while (getppid() == self) usleep(1000);  // until the parent has left
            Draw(*new zt::LevelChain, ids, kDraws);  // the chain kept, as a live daemon's
            __atomic_store_n(&ids[kDraws], 1u, __ATOMIC_RELEASE);
            return 0;
        });
        std::exit(daemon > 0 ? 0 : 2);
    });
    ASSERT_GT(parent, 0);
    EXPECT_TRUE(ExitedCleanly(parent));
    for (int i = 0; i < 6000 && __atomic_load_n(&ids[kDraws], __ATOMIC_ACQUIRE) == 0; ++i) usleep(10000);
    ASSERT_EQ(__atomic_load_n(&ids[kDraws], __ATOMIC_ACQUIRE), 1u) << "the daemon drew nothing in 60 s";

    OSAL_HSHMEM later = OSAL_hSharedMemOpen(zera::kIdSegmentSize, zera::kIdSegmentName, OSAL_SHM_CREATE);
    ASSERT_NE(later, nullptr) << OSAL_pszGetLastErrorText();
    ASSERT_TRUE(OSAL_boSharedMemLock(later));
    const bool taken = zt::Taken(static_cast<uint32_t *>(later->pvData), ids[kDraws - 1] / zera::kIdBlockSize);
    OSAL_vSharedMemUnlock(later);
    OSAL_vSharedMemClose(later);
    munmap(ids, (kDraws + 1) * 4);
    EXPECT_TRUE(taken) << "the block a live process draws from is free for a later one";
}

}  // namespace

#endif
