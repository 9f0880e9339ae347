// tests/osal/shared_mem_test.cpp - named shared memory with helper processes:
// zero-filled creation, the cross-process lock (also when its holder is
// killed), the lifetime that follows the users, and names scoped by prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "osal/os_support.h"
#include "osal/osal_test_hooks.h"
#include "support/refusal.h"

namespace {

constexpr uint32_t kSize = 8192;

// A segment name of this test run (the test's own prefix keeps programs apart,
// the process id concurrent runs of one program).
std::string Name(const char *what) { return std::string("osal_shm_") + what + "_" + std::to_string(ot::ProcessId()); }
OSAL_HSHMEM Open(const std::string &name, uint32_t mode, uint32_t size = kSize) {
    return OSAL_hSharedMemOpen(size, name.c_str(), mode);
}
unsigned char *Bytes(OSAL_HSHMEM h) { return static_cast<unsigned char *>(h->pvData); }
bool AllZero(OSAL_HSHMEM h) {
    return std::all_of(Bytes(h), Bytes(h) + kSize, [](unsigned char b) { return b == 0; });
}

// Sets the name prefix for a scope and puts the old one back.
class PrefixScope {
public:
    explicit PrefixScope(const char *prefix) {
        const char *old = std::getenv("VOQ_OSAL_SHM_PREFIX");
        had_ = old != nullptr;
        if (had_) old_ = old;
        ot::SetEnv("VOQ_OSAL_SHM_PREFIX", prefix);
    }
    ~PrefixScope() { ot::SetEnv("VOQ_OSAL_SHM_PREFIX", had_ ? old_.c_str() : nullptr); }

private:
    bool had_;
    std::string old_;
};

// Helper: holds the segment lock of `arg` with 0xAB written, until killed.
OSAL_CHILD_ROUTINE(HoldLock) {
    OSAL_HSHMEM mine = Open(arg, OSAL_SHM_CREATE);
    if (!mine || !OSAL_boSharedMemLock(mine)) return 2;
    std::memset(mine->pvData, 0xAB, kSize);
    ot::Tell();
    ot::WaitToBeKilled();
}

// Helper: keeps the segment `arg` open until killed.
OSAL_CHILD_ROUTINE(UseSegment) {
    if (!Open(arg, OSAL_SHM_CREATE)) return 2;
    ot::Tell();
    ot::WaitToBeKilled();
}

// Helper: opens, locks, unlocks and closes the segment over and over (so it
// is removed and made again all the time); a folder outside the segment,
// made while inside the lock, tells two holders apart. arg: "<name>|<folder>".
OSAL_CHILD_ROUTINE(Churn) {
    const std::string name = arg.substr(0, arg.find('|'));
    const std::filesystem::path marker = std::filesystem::path(arg.substr(arg.find('|') + 1)) / "inside";
    for (int round = 0; round < 100; ++round) {
        OSAL_HSHMEM h = Open(name, OSAL_SHM_CREATE);
        if (!h || !OSAL_boSharedMemLock(h)) return 2;
        std::error_code error;
        if (!std::filesystem::create_directory(marker, error)) return 1;  // someone else is inside
        ++static_cast<uint32_t *>(h->pvData)[0];
        std::this_thread::sleep_for(std::chrono::microseconds(20));
        std::filesystem::remove(marker, error);
        OSAL_vSharedMemUnlock(h);
        OSAL_vSharedMemClose(h);
    }
    return 0;
}

// The prefix keeps segments apart; the last user leaves nothing behind, its
// files included.
TEST(OsalSharedMem, CreatedZeroFilledSharedByHandlesAndGoneWithTheLast) {
    PrefixScope scope("ztprefix_");
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
        PrefixScope other("ztother_");  // another prefix: another segment
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

// Another process's lock keeps this one waiting until that process is
// killed; a user that dies without closing leaves nothing behind.
TEST(OsalSharedMem, KilledHolderReleasesTheLockAndDeadUsersTheSegment) {
    const std::string name = Name("killed");
    ot::Child holder("HoldLock", name);
    ASSERT_TRUE(holder.Heard(20000));
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

    ot::Child user("UseSegment", name);
    ASSERT_TRUE(user.Heard(20000));
    user.Kill();
    EXPECT_REFUSED(Open(name, OSAL_SHM_OPEN), OSAL_ERR_SYSTEM);
}

// Processes that churn one segment are never inside its lock together.
TEST(OsalSharedMem, LockHoldsWhileTheSegmentComesAndGoes) {
    const std::string name = Name("churn");
    const std::string folder = ot::MakeTempFolder("churn");
    std::vector<std::unique_ptr<ot::Child>> children;
    for (int i = 0; i < 4; ++i) children.push_back(std::make_unique<ot::Child>("Churn", name + "|" + folder));
    for (auto &child : children) {
        ASSERT_TRUE(child->Started());
        EXPECT_EQ(child->Wait(), 0);
    }
    std::filesystem::remove_all(folder);
    EXPECT_EQ(Open(name, OSAL_SHM_OPEN), nullptr);  // gone with the last
}

TEST(OsalSharedMem, TwoHandlesInOneProcessExcludeEachOther) {
    const std::string name = Name("handles");
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
    for (const char *name : {static_cast<const char *>(nullptr), "", "a/b", "a\\b"})
        EXPECT_REFUSED(OSAL_hSharedMemOpen(kSize, name, OSAL_SHM_CREATE), kArg);
    EXPECT_REFUSED(OSAL_hSharedMemOpen(kSize, std::string(201, 'n').c_str(), OSAL_SHM_CREATE), kArg);
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
