// evid/evid_fork_test.cpp - identifiers in children made by fork without
// exec, which go on with the segment handle the library opened when it was
// loaded: a daemon whose parent leaves keeps its blocks reserved for every
// later process, and a parent drawing alongside its children never shares an
// identifier with them.
#include "evid/evid_test_util.h"

#if defined(_WIN32)

TEST(EvIdFork, NeedsFork) { GTEST_SKIP() << "a Windows process has no fork"; }

#else

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr uint32_t kBlock = zera::kIdBlockSize;

// Writes the identifiers to fd and closes it; false when the pipe refuses.
bool Send(int fd, const std::vector<uint32_t> &ids) {
    const char *p = reinterpret_cast<const char *>(ids.data());
    size_t left = ids.size() * 4;
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n <= 0) return false;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return close(fd) == 0;
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

// Forks a child that runs body(write end of a pipe) and leaves with _exit,
// so that nothing of this process runs twice; *fromChild gets the read end.
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

int ExitCode(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
            return Send(out, Draw(chain, kDraws)) ? 0 : 3;
        });
        ASSERT_GT(pids[c], 0);
    }
    zt::LevelChain chain;
    std::this_thread::sleep_until(start);
    std::vector<uint32_t> all = Draw(chain, kDraws);
    for (int c = 0; c < kChildren; ++c) {
        const std::vector<uint32_t> ids = Receive(pipes[c]);
        EXPECT_EQ(ids.size(), kDraws);
        EXPECT_EQ(ExitCode(pids[c]), 0);
        all.insert(all.end(), ids.begin(), ids.end());
    }
    std::sort(all.begin(), all.end());
    const size_t distinct = static_cast<size_t>(std::unique(all.begin(), all.end()) - all.begin());
    EXPECT_EQ(distinct, all.size()) << all.size() - distinct << " identifiers drawn twice";
}

// The daemon pattern: a process loads the library, forks and leaves (its
// unload closes the segment); the child then draws. The run it draws from
// must stay reserved for a process that opens the segment afterwards.
TEST(EvIdFork, BlocksOfADaemonOutliveItsParent) {
    int fromDaemon = -1;
    const pid_t parent = Fork(&fromDaemon, [](int out) -> int {
        const pid_t self = getpid();
        int unused = -1;
        const pid_t daemon = Fork(&unused, [out, self](int) {
            while (getppid() == self) usleep(1000);  // until the parent has left
            // Leaves with its blocks reserved, as a daemon that still runs.
            return Send(out, Draw(*new zt::LevelChain, 2000)) ? 0 : 3;
        });
        std::exit(daemon > 0 ? 0 : 2);  // a real exit: the library's unload closes the segment
    });
    ASSERT_GT(parent, 0);
    EXPECT_EQ(ExitCode(parent), 0);
    const std::vector<uint32_t> ids = Receive(fromDaemon);
    ASSERT_EQ(ids.size(), 2000u);

    // A later process opens the segment afresh and finds them reserved.
    OSAL_HSHMEM later = OSAL_hSharedMemOpen(zera::kIdSegmentSize, zera::kIdSegmentName, OSAL_SHM_CREATE);
    ASSERT_NE(later, nullptr) << OSAL_pszGetLastErrorText();
    ASSERT_TRUE(OSAL_boSharedMemLock(later));
    const bool taken = zt::Taken(static_cast<uint32_t *>(later->pvData), ids.back() / kBlock);
    OSAL_vSharedMemUnlock(later);
    OSAL_vSharedMemClose(later);
    EXPECT_TRUE(taken) << "the block a live process draws from is free for a later one";
}

}  // namespace

#endif
