// evid/evid_fork_test.cpp - identifiers across processes: a parent drawing
// alongside its forked children never shares an identifier with them, and a
// daemon that goes on with the segment handle its parent opened at load keeps
// its blocks reserved after the parent leaves. (The segment lock across processes, a
// killed holder and forked handles are tested in test_osal.)
#include "evid/evid_test_util.h"

#if defined(_WIN32)

TEST(EvIdFork, NeedFork) { GTEST_SKIP() << "a Windows process has no fork"; }

#else

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// Forks a child that runs body(write end of a pipe) and leaves with _exit;
// *fromChild gets the read end.
template <typename Body>
pid_t Fork(int *fromChild, Body body) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        _exit(body(fds[1]));
    }
    close(fds[1]);
    *fromChild = fds[0];
    return pid;
}

// Reads identifiers until the writer closes its end (or 60 s pass quietly).
std::vector<uint32_t> Receive(int fd) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        const ssize_t n = poll(&pfd, 1, 60000) == 1 ? read(fd, buffer, sizeof buffer) : 0;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    std::vector<uint32_t> ids(bytes.size() / 4);
    std::memcpy(ids.data(), bytes.data(), ids.size() * 4);
    return ids;
}

// Draws n identifiers through a manager of the chain's level 0, with runs so
// short that every eighth draw reserves a block.
std::vector<uint32_t> Draw(zt::LevelChain &chain, size_t n) {
    EvIdManager *manager = chain.Manager(0, EvIdManagerConfig{16, 3, 0});
    std::vector<uint32_t> ids;
    while (ids.size() < n) ids.push_back(ZERA_dwEvIdManagerGetNextId(manager, 0));
    return ids;
}

// A parent and four children, all with the handle the parent opened at load,
// draw at once: no identifier twice.
TEST(EvIdFork, ParentAndChildrenNeverDrawTheSameIdentifier) {
    constexpr int kChildren = 4;
    constexpr size_t kDraws = 80000;
    pid_t pids[kChildren];
    int pipes[kChildren];
    const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);  // all at once
    for (int c = 0; c < kChildren; ++c) {
        pids[c] = Fork(&pipes[c], [start](int out) {
            zt::LevelChain chain;
            std::this_thread::sleep_until(start);
            const std::vector<uint32_t> ids = Draw(chain, kDraws);
            const char *p = reinterpret_cast<const char *>(ids.data());
            for (size_t left = ids.size() * 4; left > 0;) {
                const ssize_t n = write(out, p, left);
                if (n <= 0) return 3;
                p += n;
                left -= static_cast<size_t>(n);
            }
            return close(out) == 0 ? 0 : 3;
        });
        ASSERT_GT(pids[c], 0);
    }
    zt::LevelChain chain;
    std::this_thread::sleep_until(start);
    std::vector<uint32_t> all = Draw(chain, kDraws);
    for (int c = 0; c < kChildren; ++c) {
        const std::vector<uint32_t> ids = Receive(pipes[c]);
        int status = 0;
        EXPECT_EQ(ids.size(), kDraws);
        EXPECT_TRUE(waitpid(pids[c], &status, 0) == pids[c] && WIFEXITED(status) && WEXITSTATUS(status) == 0);
        all.insert(all.end(), ids.begin(), ids.end());
    }
    std::sort(all.begin(), all.end());
    const size_t distinct = static_cast<size_t>(std::unique(all.begin(), all.end()) - all.begin());
    EXPECT_EQ(distinct, all.size()) << all.size() - distinct << " identifiers drawn twice";
}

// The daemon pattern: a process forks and leaves with a real exit (its
// library unload closes the segment); the child, on the inherited handle,
// draws. Its run must stay reserved for a process opening the segment later.
TEST(EvIdFork, BlocksOfADaemonOutliveItsParent) {
    int fromDaemon = -1;
    const pid_t parent = Fork(&fromDaemon, [](int out) -> int {
        const pid_t self = getpid();
        int unused = -1;
        const pid_t daemon = Fork(&unused, [out, self](int) {
            while (getppid() == self) usleep(1000);  // until the parent has left
            // Kept, as a live daemon's: its blocks stay reserved.
            EvIdManager *m = (new zt::LevelChain)->Manager(0, EvIdManagerConfig{16, 3, 0});
            std::vector<uint32_t> ids;
            while (ids.size() < 2000) ids.push_back(ZERA_dwEvIdManagerGetNextId(m, 0));
            const ssize_t size = static_cast<ssize_t>(ids.size() * 4);
            return write(out, ids.data(), static_cast<size_t>(size)) == size && close(out) == 0 ? 0 : 3;
        });
        std::exit(daemon > 0 ? 0 : 2);
    });
    ASSERT_GT(parent, 0);
    int status = 0;
    EXPECT_TRUE(waitpid(parent, &status, 0) == parent && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::vector<uint32_t> ids = Receive(fromDaemon);
    ASSERT_EQ(ids.size(), 2000u);

    OSAL_HSHMEM later = OSAL_hSharedMemOpen(zera::kIdSegmentSize, zera::kIdSegmentName, OSAL_SHM_CREATE);
    ASSERT_NE(later, nullptr) << OSAL_pszGetLastErrorText();
    ASSERT_TRUE(OSAL_boSharedMemLock(later));
    const bool taken = zt::Taken(static_cast<uint32_t *>(later->pvData), ids.back() / zera::kIdBlockSize);
    OSAL_vSharedMemUnlock(later);
    OSAL_vSharedMemClose(later);
    EXPECT_TRUE(taken) << "the block a live process draws from is free for a later one";
}

}  // namespace

#endif
