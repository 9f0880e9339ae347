// tests/osal/shared_mem_test.cpp - named shared memory with helper processes:
// zero-filled creation, the cross-process lock (also when its holder is
// killed), the lifetime that follows the users, and the user-scoped name.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "osal/osal_test_hooks.h"
#include "support/refusal.h"

namespace {

constexpr uint32_t kSize = 8192;

// A segment name of this test run (the test's own prefix keeps programs apart,
// the process id concurrent runs of one program).
std::string Name(const char *what) { return std::string("osal_shm_") + what + "_" + std::to_string(getpid()); }
OSAL_HSHMEM Open(const std::string &name, uint32_t mode, uint32_t size = kSize) {
    return OSAL_hSharedMemOpen(size, name.c_str(), mode);
}
unsigned char *Bytes(OSAL_HSHMEM h) { return static_cast<unsigned char *>(h->pvData); }
bool AllZero(OSAL_HSHMEM h) {
    return std::all_of(Bytes(h), Bytes(h) + kSize, [](unsigned char b) { return b == 0; });
}

// Called in a helper: reports one step to the parent.
void Tell(int fd) {
    char c = 1;
    if (write(fd, &c, 1) != 1) _exit(3);
}

// A forked helper that runs body(fd to the parent), then waits to be killed.
class Helper {
public:
    template <class F>
    explicit Helper(F body) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            body(fds[1]);
            for (;;) pause();
        }
        close(fds[1]);
        fd_ = fds[0];
    }
    ~Helper() {
        Kill();
        if (fd_ >= 0) close(fd_);
    }
    // True when the helper reports a step within the time.
    bool Heard(int timeoutMs) {
        pollfd pfd{fd_, POLLIN, 0};
        char c;
        return pid_ > 0 && poll(&pfd, 1, timeoutMs) == 1 && read(fd_, &c, 1) == 1;
    }
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

// The name is scoped to the user with the prefix in front; the last user
// leaves nothing behind, lock files included.
TEST(OsalSharedMem, CreatedZeroFilledSharedByHandlesAndGoneWithTheLast) {
    const char *old = std::getenv("VOQ_OSAL_SHM_PREFIX");
    const std::string saved = old ? old : "";
    ASSERT_EQ(setenv("VOQ_OSAL_SHM_PREFIX", "ztprefix_", 1), 0);
    std::string name = Name("create");
    const std::string file = "/dev/shm/ztprefix_" + std::to_string(getuid()) + "_" + name;
    EXPECT_REFUSED(Open(name, OSAL_SHM_OPEN), OSAL_ERR_SYSTEM);  // not there yet
    OSAL_HSHMEM a = Open(name, OSAL_SHM_CREATE);
    ASSERT_NE(a, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(access(file.c_str(), F_OK), 0) << file;
    EXPECT_TRUE(AllZero(a));
    std::memset(a->pvData, 0x5A, kSize);

    OSAL_HSHMEM b = Open(name, OSAL_SHM_OPEN);
    OSAL_HSHMEM c = Open(name, OSAL_SHM_CREATE, kSize / 2);  // opens, keeps contents
    ASSERT_TRUE(b && c) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(Bytes(b)[kSize - 1], 0x5A);
    EXPECT_EQ(Bytes(c)[0], 0x5A);
    EXPECT_REFUSED(Open(name, OSAL_SHM_OPEN, kSize * 2), OSAL_ERR_INVALID_SIZE);  // larger than it is
    OSAL_vSharedMemClose(a);
    OSAL_vSharedMemClose(c);
    EXPECT_EQ(Bytes(b)[7], 0x5A);  // alive while b is open
    OSAL_vSharedMemClose(b);
    for (const char *suffix : {"", ".users", ".guard", ".lock"})
        EXPECT_NE(access((file + suffix).c_str(), F_OK), 0) << suffix;
    old ? setenv("VOQ_OSAL_SHM_PREFIX", saved.c_str(), 1) : unsetenv("VOQ_OSAL_SHM_PREFIX");
}

// Another process's lock keeps this one waiting until that process is
// killed; a user that dies without closing leaves nothing behind.
TEST(OsalSharedMem, KilledHolderReleasesTheLockAndDeadUsersTheSegment) {
    std::string name = Name("killed");
    Helper holder([&](int out) {
        // A handle of its own: an inherited one would share this process's lock.
        OSAL_HSHMEM mine = Open(name, OSAL_SHM_CREATE);
        if (!mine || !OSAL_boSharedMemLock(mine)) _exit(2);
        std::memset(mine->pvData, 0xAB, kSize);
        Tell(out);  // holds the lock, never lets go
    });
    ASSERT_TRUE(holder.Heard(10000));
    OSAL_HSHMEM h = Open(name, OSAL_SHM_OPEN);
    ASSERT_NE(h, nullptr) << OSAL_pszGetLastErrorText();
    std::atomic<bool> locked{false};
    std::thread locker([&] {
        locked = OSAL_boSharedMemLock(h) != 0;
        if (locked) OSAL_vSharedMemUnlock(h);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(locked);
    holder.Kill();
    locker.join();
    EXPECT_TRUE(locked);
    EXPECT_EQ(Bytes(h)[0], 0xAB);  // this process still uses it, so the contents stay
    OSAL_vSharedMemClose(h);

    Helper user([&](int out) {
        if (!Open(name, OSAL_SHM_CREATE)) _exit(2);
        Tell(out);
    });
    ASSERT_TRUE(user.Heard(10000));
    user.Kill();
    EXPECT_REFUSED(Open(name, OSAL_SHM_OPEN), OSAL_ERR_SYSTEM);
}

// Processes that open, lock, unlock and close one segment over and over (so
// it is removed and made again all the time) are never inside the lock
// together. A directory outside the segment tells two holders apart.
TEST(OsalSharedMem, LockHoldsWhileTheSegmentComesAndGoes) {
    std::string name = Name("churn");
    char dirTemplate[] = "/tmp/osal_churn_XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string marker = std::string(dirTemplate) + "/inside";
    std::vector<pid_t> children;
    for (int i = 0; i < 4; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            for (int round = 0; round < 200; ++round) {
                OSAL_HSHMEM h = Open(name, OSAL_SHM_CREATE);
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
    EXPECT_EQ(Open(name, OSAL_SHM_OPEN), nullptr);  // gone with the last
}

TEST(OsalSharedMem, TwoHandlesInOneProcessExcludeEachOther) {
    std::string name = Name("handles");
    OSAL_HSHMEM a = Open(name, OSAL_SHM_CREATE);
    OSAL_HSHMEM b = Open(name, OSAL_SHM_OPEN);
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(OSAL_boSharedMemLock(a));
    EXPECT_REFUSED(OSAL_boSharedMemLock(a), OSAL_ERR_SYSTEM);  // not re-entrant: refused, not a hang
    std::atomic<bool> locked{false};
    std::thread other([&] {
        OSAL_vSharedMemUnlock(a);  // not the holder: changes nothing
        locked = OSAL_boSharedMemLock(b) != 0;
        OSAL_vSharedMemUnlock(b);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(locked);
    OSAL_vSharedMemUnlock(a);
    other.join();
    EXPECT_TRUE(locked);
    OSAL_vSharedMemClose(a);
    OSAL_vSharedMemClose(b);
}

TEST(OsalSharedMem, BadInputIsRefusedWithItsCode) {
    const uint32_t kArg = OSAL_ERR_INVALID_ARG;
    for (const char *name : {static_cast<const char *>(nullptr), "", "a/b"})
        EXPECT_REFUSED(OSAL_hSharedMemOpen(kSize, name, OSAL_SHM_CREATE), kArg);
    EXPECT_REFUSED(OSAL_hSharedMemOpen(kSize, "osal_mode", 2), kArg);
    EXPECT_REFUSED(OSAL_hSharedMemOpen(0, "osal_zero", OSAL_SHM_CREATE), OSAL_ERR_INVALID_SIZE);
    OSAL_vTestFailAllocAfter(0);
    EXPECT_REFUSED(Open(Name("nomem"), OSAL_SHM_CREATE), OSAL_ERR_NO_MEMORY);
    OSAL_vTestFailAllocAfter(-1);
    EXPECT_REFUSED(OSAL_boSharedMemLock(nullptr), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED((OSAL_vSharedMemUnlock(nullptr), 0), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED((OSAL_vSharedMemClose(nullptr), 0), OSAL_ERR_INVALID_HANDLE);
}

}  // namespace
