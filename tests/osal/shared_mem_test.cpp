// tests/osal/shared_mem_test.cpp - named shared memory with helper processes:
// zero-filled creation, the cross-process lock (also when its holder is
// killed), the lifetime that follows the users, and the user-scoped name.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "VOQ_OSAL.h"
#include "osal/osal_test_hooks.h"

namespace {

using std::chrono::milliseconds;

constexpr uint32_t kSize = 8192;

// A segment name of this test run (the test's own prefix keeps programs apart,
// the process id concurrent runs of one program).
std::string Name(const char *what) { return std::string("osal_shm_") + what + "_" + std::to_string(getpid()); }

bool AllZero(const OSAL_HSHMEM h, uint32_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(h->pvData);
    for (uint32_t i = 0; i < size; ++i)
        if (p[i] != 0) return false;
    return true;
}

// True when a byte arrives on fd within the time.
bool ReadByte(int fd, int timeoutMs) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) != 1) return false;
    char c;
    return read(fd, &c, 1) == 1;
}

void WriteByte(int fd) {
    char c = 1;
    if (write(fd, &c, 1) != 1) _exit(3);
}

// Forks a helper that runs body(toParent) and then waits to be killed.
template <class F>
pid_t Helper(int pipeToParent[2], F body) {
    if (pipe(pipeToParent) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeToParent[0]);
        body(pipeToParent[1]);
        for (;;) pause();
    }
    close(pipeToParent[1]);
    return pid;
}

void Kill(pid_t pid) {
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
}

TEST(OsalSharedMem, CreatedZeroFilledAndSharedByHandles) {
    std::string name = Name("create");
    OSAL_vSetLastError(0);
    EXPECT_EQ(OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_OPEN), nullptr);  // not there yet
    EXPECT_EQ(OSAL_dwGetLastError(), 1031u);

    OSAL_HSHMEM a = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_CREATE);
    ASSERT_NE(a, nullptr) << OSAL_pszGetLastErrorText();
    ASSERT_NE(a->pvData, nullptr);
    EXPECT_TRUE(AllZero(a, kSize));
    std::memset(a->pvData, 0x5A, kSize);

    OSAL_HSHMEM b = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_OPEN);
    ASSERT_NE(b, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(static_cast<unsigned char *>(b->pvData)[kSize - 1], 0x5A);
    OSAL_HSHMEM c = OSAL_hSharedMemOpen(kSize / 2, name.c_str(), OSAL_SHM_CREATE);  // opens, keeps contents
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(static_cast<unsigned char *>(c->pvData)[0], 0x5A);
    EXPECT_EQ(OSAL_hSharedMemOpen(kSize * 2, name.c_str(), OSAL_SHM_OPEN), nullptr);  // larger than it is
    EXPECT_EQ(OSAL_dwGetLastError(), 1034u);

    OSAL_vSharedMemClose(a);
    OSAL_vSharedMemClose(c);
    EXPECT_EQ(static_cast<unsigned char *>(b->pvData)[7], 0x5A);  // alive while b is open
    OSAL_vSharedMemClose(b);

    // The last close removed it.
    EXPECT_EQ(OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_OPEN), nullptr);
    OSAL_HSHMEM fresh = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_CREATE);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(AllZero(fresh, kSize));
    OSAL_vSharedMemClose(fresh);
}

TEST(OsalSharedMem, NameIsScopedToTheUserWithThePrefixInFront) {
    const char *old = std::getenv("VOQ_OSAL_SHM_PREFIX");
    std::string saved = old ? old : "";
    ASSERT_EQ(setenv("VOQ_OSAL_SHM_PREFIX", "ztprefix_", 1), 0);
    std::string name = Name("scoped");
    OSAL_HSHMEM h = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_CREATE);
    ASSERT_NE(h, nullptr) << OSAL_pszGetLastErrorText();
    std::string file = "/dev/shm/ztprefix_" + std::to_string(getuid()) + "_" + name;
    EXPECT_EQ(access(file.c_str(), F_OK), 0) << file;
    OSAL_vSharedMemClose(h);
    // The last user leaves nothing behind, lock files included.
    for (const char *suffix : {"", ".users", ".guard", ".lock"})
        EXPECT_NE(access((file + suffix).c_str(), F_OK), 0) << suffix;
    if (old)
        setenv("VOQ_OSAL_SHM_PREFIX", saved.c_str(), 1);
    else
        unsetenv("VOQ_OSAL_SHM_PREFIX");
}

TEST(OsalSharedMem, LockExcludesAnotherProcess) {
    std::string name = Name("lock");
    OSAL_HSHMEM h = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_CREATE);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(OSAL_boSharedMemLock(h));
    int fromChild[2];
    pid_t child = Helper(fromChild, [&](int out) {
        // A handle of its own: an inherited one shares the parent's lock.
        OSAL_HSHMEM mine = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_OPEN);
        if (!mine) _exit(2);
        WriteByte(out);  // opened
        if (!OSAL_boSharedMemLock(mine)) _exit(2);
        static_cast<unsigned char *>(mine->pvData)[0] = 0x77;
        WriteByte(out);  // locked
        OSAL_vSharedMemUnlock(mine);
    });
    ASSERT_GT(child, 0);
    ASSERT_TRUE(ReadByte(fromChild[0], 10000));
    EXPECT_FALSE(ReadByte(fromChild[0], 300));  // held here, so the child waits
    EXPECT_EQ(static_cast<unsigned char *>(h->pvData)[0], 0);
    OSAL_vSharedMemUnlock(h);
    EXPECT_TRUE(ReadByte(fromChild[0], 10000));
    EXPECT_TRUE(OSAL_boSharedMemLock(h));
    EXPECT_EQ(static_cast<unsigned char *>(h->pvData)[0], 0x77);
    OSAL_vSharedMemUnlock(h);
    Kill(child);
    close(fromChild[0]);
    OSAL_vSharedMemClose(h);
}

TEST(OsalSharedMem, KilledHolderReleasesTheLockAndDeadUsersTheSegment) {
    std::string name = Name("killed");
    int fromChild[2];
    pid_t child = Helper(fromChild, [&](int out) {
        OSAL_HSHMEM mine = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_CREATE);
        if (!mine || !OSAL_boSharedMemLock(mine)) _exit(2);
        std::memset(mine->pvData, 0xAB, kSize);
        WriteByte(out);  // holds the lock, never lets go
    });
    ASSERT_GT(child, 0);
    ASSERT_TRUE(ReadByte(fromChild[0], 10000));

    OSAL_HSHMEM h = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_OPEN);
    ASSERT_NE(h, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(static_cast<unsigned char *>(h->pvData)[100], 0xAB);  // the child's segment
    std::atomic<bool> locked{false};
    std::thread locker([&] {
        if (OSAL_boSharedMemLock(h)) {
            locked = true;
            OSAL_vSharedMemUnlock(h);
        }
    });
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_FALSE(locked);
    Kill(child);
    locker.join();  // the kernel dropped the dead holder's lock
    EXPECT_TRUE(locked);
    // This process still uses it, so the contents stay.
    EXPECT_EQ(static_cast<unsigned char *>(h->pvData)[0], 0xAB);
    OSAL_vSharedMemClose(h);
    close(fromChild[0]);

    // A user that dies without closing leaves nothing behind.
    child = Helper(fromChild, [&](int out) {
        OSAL_HSHMEM mine = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_CREATE);
        if (!mine) _exit(2);
        std::memset(mine->pvData, 0xCD, kSize);
        WriteByte(out);
    });
    ASSERT_GT(child, 0);
    ASSERT_TRUE(ReadByte(fromChild[0], 10000));
    Kill(child);
    close(fromChild[0]);
    EXPECT_EQ(OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_OPEN), nullptr);
    h = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_CREATE);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(AllZero(h, kSize));
    OSAL_vSharedMemClose(h);
}

// Processes that open, lock, unlock and close one segment over and over (so
// it is removed and made again all the time) are never inside the lock
// together. A directory outside the segment tells two holders apart.
TEST(OsalSharedMem, LockHoldsWhileTheSegmentComesAndGoes) {
    std::string name = Name("churn");
    char dirTemplate[] = "/tmp/osal_churn_XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string marker = std::string(dirTemplate) + "/inside";
    const int kProcesses = 4, kRounds = 200;
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            for (int round = 0; round < kRounds; ++round) {
                OSAL_HSHMEM h = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_CREATE);
                if (!h || !OSAL_boSharedMemLock(h)) _exit(2);
                if (mkdir(marker.c_str(), 0700) != 0) _exit(1);  // someone else is inside
                ++static_cast<uint32_t *>(h->pvData)[0];
                usleep(20);
                rmdir(marker.c_str());
                OSAL_vSharedMemUnlock(h);
                OSAL_vSharedMemClose(h);
            }
            _exit(0);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    rmdir(dirTemplate);
    EXPECT_EQ(OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_OPEN), nullptr);  // gone with the last
}

TEST(OsalSharedMem, TwoHandlesInOneProcessExcludeEachOther) {
    std::string name = Name("handles");
    OSAL_HSHMEM a = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_CREATE);
    OSAL_HSHMEM b = OSAL_hSharedMemOpen(kSize, name.c_str(), OSAL_SHM_OPEN);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(OSAL_boSharedMemLock(a));
    // Not re-entrant: a second lock by the holder is refused, not a hang.
    OSAL_vSetLastError(0);
    EXPECT_FALSE(OSAL_boSharedMemLock(a));
    EXPECT_EQ(OSAL_dwGetLastError(), 1031u);
    std::atomic<bool> locked{false};
    std::thread other([&] {
        // An unlock by a thread that does not hold the lock changes nothing.
        OSAL_vSharedMemUnlock(a);
        locked = OSAL_boSharedMemLock(b) != 0;
        OSAL_vSharedMemUnlock(b);
    });
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_FALSE(locked);
    OSAL_vSharedMemUnlock(a);
    other.join();
    EXPECT_TRUE(locked);
    OSAL_vSharedMemClose(a);
    OSAL_vSharedMemClose(b);
}

TEST(OsalSharedMem, BadInput) {
    auto expectOpenFails = [](uint32_t size, const char *name, uint32_t mode, uint32_t code) {
        OSAL_vSetLastError(0);
        EXPECT_EQ(OSAL_hSharedMemOpen(size, name, mode), nullptr);
        EXPECT_EQ(OSAL_dwGetLastError(), code);
    };
    expectOpenFails(kSize, nullptr, OSAL_SHM_CREATE, 1028);
    expectOpenFails(kSize, "", OSAL_SHM_CREATE, 1028);
    expectOpenFails(kSize, "a/b", OSAL_SHM_CREATE, 1028);
    expectOpenFails(kSize, "osal_mode", 2, 1028);
    expectOpenFails(0, "osal_zero", OSAL_SHM_CREATE, 1034);
    OSAL_vTestFailAllocAfter(0);
    expectOpenFails(kSize, Name("nomem").c_str(), OSAL_SHM_CREATE, 1026);
    OSAL_vTestFailAllocAfter(-1);

    EXPECT_FALSE(OSAL_boSharedMemLock(nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), 1027u);
    OSAL_vSetLastError(0);
    OSAL_vSharedMemUnlock(nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1027u);
    OSAL_vSetLastError(0);
    OSAL_vSharedMemClose(nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), 1027u);
}

}  // namespace
