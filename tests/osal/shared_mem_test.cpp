// tests/osal/shared_mem_test.cpp - named shared memory with helper processes:
// zero-filled creation, the cross-process lock (also when its holder is
// killed), the lifetime that follows the users, and names scoped by prefix.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "osal/os_support.h"
#include "osal/osal_test_hooks.h"
#include "support/refusal.h"

namespace {

constexpr uint32_t kSize = 8192;

// A segment name of this run (the process id keeps concurrent runs apart).
std::string Name(const char *what) { return std::string("osal_shm_") + what + "_" + std::to_string(ot::ProcessId()); }
OSAL_HSHMEM Open(const std::string &name, uint32_t mode, uint32_t size = kSize) {
    return OSAL_hSharedMemOpen(size, name.c_str(), mode);
}
unsigned char *Bytes(OSAL_HSHMEM h) { return static_cast<unsigned char *>(h->pvData); }
bool AllZero(OSAL_HSHMEM h) {
    return std::all_of(Bytes(h), Bytes(h) + kSize, [](unsigned char b) { return b == 0; });
}

// Sets an environment variable (null: removes it) for a scope and puts the
// old value back.
struct EnvScope {
    EnvScope(const char *variable, const char *value) : variable(variable) {
        if (const char *now = std::getenv(variable)) old = now;
        ot::SetEnv(variable, value);
    }
    ~EnvScope() { ot::SetEnv(variable, old ? old->c_str() : nullptr); }
    const char *variable;
    std::optional<std::string> old;
};
constexpr const char *kPrefix = "VOQ_OSAL_SHM_PREFIX";  // the segments' name prefix

// Helper: holds the segment lock of `arg` with 0xAB written, until killed.
OSAL_CHILD_ROUTINE(HoldLock) {
    OSAL_HSHMEM mine = Open(arg, OSAL_SHM_CREATE);
    if (!mine || !OSAL_boSharedMemLock(mine)) return 2;
    std::memset(mine->pvData, 0xAB, kSize);
    ot::Tell();
    ot::WaitToBeKilled();
}

// The prefix keeps segments apart; the last user leaves nothing behind, its
// files included.
TEST(OsalSharedMem, CreatedZeroFilledSharedByHandlesAndGoneWithTheLast) {
    EnvScope scope(kPrefix, "ztprefix_");
    const std::string name = Name("create");
    EXPECT_REFUSED(Open(name, OSAL_SHM_OPEN), OSAL_ERR_SYSTEM);  // not there yet
    OSAL_HSHMEM a = Open(name, OSAL_SHM_CREATE);
    ASSERT_NE(a, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_TRUE(AllZero(a));
    std::memset(a->pvData, 0x5A, kSize);

    OSAL_HSHMEM b = Open(name, OSAL_SHM_OPEN);
    OSAL_HSHMEM c = Open(name, OSAL_SHM_CREATE, kSize / 2);  // opens, keeps contents
    ASSERT_TRUE(b && c) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(Bytes(b)[kSize - 1], 0x5A);
    EXPECT_EQ(Bytes(c)[0], 0x5A);
    EXPECT_REFUSED(Open(name, OSAL_SHM_OPEN, kSize * 2), OSAL_ERR_INVALID_SIZE);  // larger than it is
    {
        EnvScope other(kPrefix, "ztother_");  // another prefix: another segment
        EXPECT_REFUSED(Open(name, OSAL_SHM_OPEN), OSAL_ERR_SYSTEM);
        OSAL_HSHMEM d = Open(name, OSAL_SHM_CREATE);
        ASSERT_NE(d, nullptr) << OSAL_pszGetLastErrorText();
        EXPECT_TRUE(AllZero(d));
        OSAL_vSharedMemClose(d);
    }
    OSAL_vSharedMemClose(a);
    OSAL_vSharedMemClose(c);
    EXPECT_EQ(Bytes(b)[7], 0x5A);  // alive while b is open
    EXPECT_EQ(ot::SegmentFiles("ztprefix_", name).empty(), !ot::kSegmentsAreFiles);
    OSAL_vSharedMemClose(b);
    EXPECT_EQ(ot::SegmentFiles("ztprefix_", name), std::vector<std::string>{});
    EXPECT_REFUSED(Open(name, OSAL_SHM_OPEN), OSAL_ERR_SYSTEM);
}

// The lock keeps other processes, handles and threads waiting until its
// holder unlocks or is killed; the holder's second lock is refused (not a
// hang) and another thread's unlock changes nothing. (A last user that dies
// without closing leaves nothing behind: the forked case below; on Windows
// the system removes the objects.)
TEST(OsalSharedMem, LockWaitsForItsHolderToUnlockOrDie) {
    const std::string name = Name("lock");
    ot::Child holder("HoldLock", name);
    ASSERT_TRUE(holder.Heard(20000));
    OSAL_HSHMEM a = Open(name, OSAL_SHM_OPEN), b = Open(name, OSAL_SHM_OPEN);
    ASSERT_TRUE(a && b) << OSAL_pszGetLastErrorText();
    const auto lockB = [b] { return OSAL_boSharedMemLock(b) != 0; };
    const auto unlockB = [b] { OSAL_vSharedMemUnlock(b); };
    EXPECT_TRUE(ot::WaitsFor(lockB, unlockB, [&] { holder.Kill(); }));
    EXPECT_EQ(Bytes(a)[0], 0xAB);  // this process still uses it, so the contents stay
    ASSERT_TRUE(OSAL_boSharedMemLock(a));
    EXPECT_REFUSED(OSAL_boSharedMemLock(a), OSAL_ERR_SYSTEM);
    std::thread([a] { EXPECT_REFUSED((OSAL_vSharedMemUnlock(a), 0), OSAL_ERR_SYSTEM); }).join();
    EXPECT_TRUE(ot::WaitsFor(lockB, unlockB, [a] { OSAL_vSharedMemUnlock(a); }));
    OSAL_vSharedMemClose(a);
    OSAL_vSharedMemClose(b);
    EXPECT_REFUSED(Open(name, OSAL_SHM_OPEN), OSAL_ERR_SYSTEM);
}

// A forked child on its parent's handle has locks of its own, and the
// parent's close leaves the segment to it.
TEST(OsalSharedMem, ForkedChildHasLocksOfItsOwn) {
    if (!ot::kHaveFork) GTEST_SKIP() << "a Windows process has no fork";
    const std::string name = Name("fork");
    OSAL_HSHMEM h = Open(name, OSAL_SHM_CREATE);
    ASSERT_NE(h, nullptr) << OSAL_pszGetLastErrorText();
    ASSERT_TRUE(OSAL_boSharedMemLock(h));
    ot::Child child([h] {
        if (!OSAL_boSharedMemLock(h)) return 2;
        ot::Tell();
        Bytes(h)[0] = 0x77;
        OSAL_vSharedMemUnlock(h);
        ot::Tell();
        ot::WaitToBeKilled();
    });
    EXPECT_FALSE(child.Heard(500));  // the parent holds the lock
    OSAL_vSharedMemUnlock(h);
    EXPECT_TRUE(child.Heard(10000));
    EXPECT_TRUE(child.Heard(10000));
    OSAL_vSharedMemClose(h);
    OSAL_HSHMEM again = Open(name, OSAL_SHM_OPEN);  // the child still uses it
    ASSERT_NE(again, nullptr) << OSAL_pszGetLastErrorText();
    EXPECT_EQ(Bytes(again)[0], 0x77);
    OSAL_vSharedMemClose(again);
    child.Kill();
    EXPECT_REFUSED(Open(name, OSAL_SHM_OPEN), OSAL_ERR_SYSTEM);  // gone with its last user
}

#if !defined(_WIN32)
// Runs the rest of a helper as another user.
bool BecomeUser(uid_t uid) { return setgroups(0, nullptr) == 0 && setgid(uid) == 0 && setuid(uid) == 0; }

// Another local user's plants under a user's names are passed by, or refused
// at once with 1038 and a text naming the place; never a hang.
TEST(OsalSharedMem, AnotherUserCanNeitherReachNorBlockTheSegment) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to run helpers as two other users";
    constexpr uid_t kUser = 65533, kIntruder = 65534;
    const std::string name = Name("user");
    const char *prefix = std::getenv(kPrefix);
    const std::string file = std::string(prefix ? prefix : "") + std::to_string(kUser) + "_" + name;
    const std::string folder = "/dev/shm/VOQ_OSAL-" + std::to_string(kUser), elsewhere = "/dev/shm/osal_intruder_" + name;
    // Makes an empty file open to everybody, holding an exclusive lock on it.
    auto plantLocked = [](const std::string &path) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0666);
        return fd >= 0 && fchmod(fd, 0666) == 0 && flock(fd, LOCK_EX) == 0;
    };
    struct Case {
        const char *what;
        std::function<bool()> plant;  // run as the intruder
        bool refused;
    } cases[] = {
        {"held lock files and open contents right in the shared folder",
         [&] {
             bool ok = true;
             for (const char *suffix : {".guard", ".users", ".lock"}) ok = ok && plantLocked("/dev/shm/" + file + suffix);
             return ok && plantLocked("/dev/shm/" + file);
         },
         false},
        {"the user's folder, made open to everybody, with a held lock file",
         [&] { return mkdir(folder.c_str(), 0777) == 0 && chmod(folder.c_str(), 0777) == 0 &&
                      plantLocked(folder + "/" + file + ".lock"); },
         true},
        {"a link under the folder's name to a folder open to everybody",
         [&] { return mkdir(elsewhere.c_str(), 0777) == 0 && chmod(elsewhere.c_str(), 0777) == 0 &&
                      symlink(elsewhere.c_str(), folder.c_str()) == 0; },
         true},
    };
    auto clear = [&] {
        for (const char *suffix : {"", ".guard", ".users", ".lock"}) std::filesystem::remove("/dev/shm/" + file + suffix);
        for (const std::string &path : {folder, elsewhere}) std::filesystem::remove_all(path);
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        clear();
        ot::Child intruder([&] {
            if (!BecomeUser(kIntruder) || !c.plant()) return 2;
            ot::Tell();
            ot::WaitToBeKilled();
        });
        ASSERT_TRUE(intruder.Heard(10000));
        ot::Child user([&] {
            if (!BecomeUser(kUser)) return 2;
            OSAL_HSHMEM h = Open(name, OSAL_SHM_CREATE);
            const bool named = !h && std::strstr(OSAL_pszGetLastErrorText(), folder.c_str()) != nullptr;
            const int outcome = h ? 0 : OSAL_dwGetLastError() == OSAL_ERR_NOT_PRIVATE && named ? 1 : 3;
            if (h && OSAL_boSharedMemLock(h)) OSAL_vSharedMemUnlock(h);
            ot::Tell();  // no hang
            return outcome;
        });
        // -2: the user's open or lock hangs (the helpers go with their destructors).
        EXPECT_EQ(user.Heard(10000) ? user.Wait() : -2, c.refused ? 1 : 0);
    }
    clear();
}
// The segments live in the user's private runtime folder when there is one,
// else in the per-user folder under /dev/shm; a runtime folder that is not
// private does not count. The segments' folder in it, made first by
// another user, is refused with 1038 naming it and its owner, never waited
// for or passed by.
TEST(OsalSharedMem, SegmentsLiveInThePrivateRuntimeFolderWhenThereIsOne) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to give a folder to another user";
    char made[] = "/tmp/osal_runtime_XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    const std::string folder = std::string(made) + "/VOQ_OSAL", shared = "/dev/shm/VOQ_OSAL-0", name = Name("runtime");
    const char *prefix = std::getenv(kPrefix);
    const std::string file = "/" + std::string(prefix ? prefix : "") + "0_" + name;
    struct Case {
        const char *runtime;  // XDG_RUNTIME_DIR (null: unset)
        mode_t mode;          // of the runtime folder
        std::string where;    // the segment's folder; empty: another user's, refused
    } cases[] = {{made, 0700, folder}, {nullptr, 0700, shared}, {made, 0755, shared}, {"osal_runtime", 0700, shared},
                 {made, 0700, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.where.empty() ? "another user's" : c.where + (c.runtime ? c.runtime : " unset"));
        EnvScope scope("XDG_RUNTIME_DIR", c.runtime);
        ASSERT_EQ(chmod(made, c.mode), 0);
        ASSERT_EQ(c.where.empty() && mkdir(folder.c_str(), 0700) + chown(folder.c_str(), 65534, 65534) == 0, c.where.empty());
        EXPECT_EQ(ot::SegmentFolder(), c.where.empty() ? folder : c.where);
        OSAL_HSHMEM h = Open(name, OSAL_SHM_CREATE);
        EXPECT_EQ(h != nullptr && std::filesystem::exists(c.where + file), !c.where.empty());
        if (h != nullptr) OSAL_vSharedMemClose(h);
        const std::string text = h == nullptr ? OSAL_pszGetLastErrorText() : "";
        EXPECT_EQ(h == nullptr && text.find(folder + ": folder owned by uid 65534") != std::string::npos, c.where.empty())
            << text;
        EXPECT_FALSE(std::filesystem::exists(c.where + file));  // gone with its last user
        std::filesystem::remove_all(folder);
    }
    std::filesystem::remove_all(made);
}
#endif  // Windows: names carry the user's security id, in the session's own namespace

TEST(OsalSharedMem, BadInputIsRefusedWithItsCode) {
    const uint32_t kArg = OSAL_ERR_INVALID_ARG;
    for (const char *name : {static_cast<const char *>(nullptr), "", "a/b", "a\\b"})
        EXPECT_REFUSED(OSAL_hSharedMemOpen(kSize, name, OSAL_SHM_CREATE), kArg);
    EXPECT_REFUSED(OSAL_hSharedMemOpen(kSize, std::string(201, 'n').c_str(), OSAL_SHM_CREATE), kArg);
    {
        EnvScope longPrefix(kPrefix, std::string(100, 'p').c_str());  // too long with a name of 200
        EXPECT_REFUSED(OSAL_hSharedMemOpen(kSize, std::string(200, 'n').c_str(), OSAL_SHM_CREATE), kArg);
    }
    EXPECT_REFUSED(OSAL_hSharedMemOpen(kSize, "osal_mode", 2), kArg);
    EXPECT_REFUSED(OSAL_hSharedMemOpen(0, "osal_zero", OSAL_SHM_CREATE), OSAL_ERR_INVALID_SIZE);
    OSAL_vTestFailAllocAfter(0);
    EXPECT_REFUSED(Open(Name("nomem"), OSAL_SHM_CREATE), OSAL_ERR_NO_MEMORY);
    OSAL_vTestFailAllocAfter(-1);
    EXPECT_REFUSED(OSAL_boSharedMemLock(nullptr), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED((OSAL_vSharedMemUnlock(nullptr), 0), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED((OSAL_vSharedMemClose(nullptr), 0), OSAL_ERR_INVALID_HANDLE);
    OSAL_HSHMEM closed = Open(Name("twice"), OSAL_SHM_CREATE);
    ASSERT_NE(closed, nullptr);
    OSAL_vSharedMemClose(closed);
    EXPECT_REFUSED((OSAL_vSharedMemClose(closed), 0), OSAL_ERR_INVALID_HANDLE);  // closed already
}

}  // namespace
