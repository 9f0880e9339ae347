// evid/evid_test_util.h - helpers for the identifier and event tests: a
// chain of levels whose entry slots are filled by hand and a look into the
// identifier segment (the list builder and allocation-failure loop come from
// param/param_test_util.h). Included by tests/evid and tests/event only.
#ifndef ZERA_TESTS_EVID_EVID_TEST_UTIL_H
#define ZERA_TESTS_EVID_EVID_TEST_UTIL_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "ZERA_Host.h"
#include "common/test_hooks.h"
#include "evid/evid.h"
#include "osal/osal_test_hooks.h"
#include "param/param_test_util.h"
#include "support/refusal.h"

namespace zt {

// Level 0 from the host kit and `above` levels bound on it by hand, complete
// unless asked otherwise, with the entry slots binding fills (not on levels
// added later); everything is deinitialised and closed from the top at the end.
class LevelChain {
public:
    explicit LevelChain(int above = 0, bool complete = true) {
        levels_.push_back(ZERA_hHostStackCreate(nullptr));
        EXPECT_NE(levels_[0], nullptr);
        for (int i = 0; i < above; ++i) Add();
        for (StackHandle *h : levels_) {
            h->apfnEntry[9] = reinterpret_cast<ZERA_PFN>(&ZERA_pstGetStackParamA);
            h->apfnEntry[10] = reinterpret_cast<ZERA_PFN>(&ZERA_pstGetStackParamW);
            h->apfnEntry[30] = reinterpret_cast<ZERA_PFN>(&ZERA_dwEvIdGetBlock);
            h->apfnEntry[31] = reinterpret_cast<ZERA_PFN>(&ZERA_boEvIdFreeBlock);
        }
        SetComplete(complete);
    }
    ~LevelChain() {
        for (StackHandle *h : levels_) {
            EXPECT_TRUE(h->stEvIdManager.pstLevel == nullptr || ZERA_boEvIdManagerDeinit(&h->stEvIdManager));
        }
        for (; levels_.size() > 1; levels_.pop_back()) {
            ZERA_vDeleteParamListA(levels_.back()->pstStackParams);
            ZERA_vFree(levels_.back()->pvComponentName);  // the stack subsystem's part when it removes a level
            EXPECT_TRUE(ZERA_boHandleClose(levels_.back()));
        }
        EXPECT_TRUE(ZERA_boHostStackDestroy(levels_[0]));
    }
    LevelChain(const LevelChain &) = delete;
    LevelChain &operator=(const LevelChain &) = delete;

    StackHandle *operator[](size_t level) const { return levels_.at(level); }
    StackHandle *h0() const { return levels_[0]; }
    StackHandle *top() const { return levels_.back(); }
    HostStackDescriptor *desc() const { return static_cast<HostStackDescriptor *>(h0()->pvLevelContext); }
    // Creates a level on the top and binds it there.
    StackHandle *Add() {
        StackHandle *h = ZERA_hHandleCreate(top());
        EXPECT_TRUE(h != nullptr && ZERA_boHandleBind(top(), h));
        if (h != nullptr) levels_.push_back(h);
        return h;
    }
    void SetComplete(bool complete) {
        for (StackHandle *h : levels_) {
            h->dwStatus = (h->dwStatus & ~ZERA_STATUS_COMPLETE) | (complete ? ZERA_STATUS_COMPLETE : 0);
        }
    }
    // Initialises the manager of level `level`.
    EvIdManager *Manager(size_t level, EvIdManagerConfig config = EvIdManagerConfig{0, 0, 0}) {
        StackHandle *h = levels_.at(level);
        EXPECT_TRUE(ZERA_boEvIdManagerInit(h, &h->stEvIdManager, &config));
        return &h->stEvIdManager;
    }

private:
    std::vector<StackHandle *> levels_;
};

// ---- The identifier segment of this test program (its own, by VOQ_OSAL_SHM_PREFIX) ----

inline uint32_t *SegmentWords() { return static_cast<uint32_t *>(zera::IdSegment()->pvData); }

// Bit tests on any copy of the segment's words.
inline bool Taken(const uint32_t *words, uint32_t block) { return (words[block / 32] >> (block % 32)) & 1u; }
inline bool Continues(const uint32_t *words, uint32_t block) { return Taken(words + zera::kIdContinuationWord, block); }

// A consistent copy of the segment, taken under its lock.
inline std::vector<uint32_t> SegmentSnapshot() {
    std::vector<uint32_t> copy(zera::kIdSearchWord + 1);
    EXPECT_TRUE(OSAL_boSharedMemLock(zera::IdSegment()));
    std::memcpy(copy.data(), SegmentWords(), zera::kIdSegmentSize);
    OSAL_vSharedMemUnlock(zera::IdSegment());
    return copy;
}

inline uint32_t TakenBlocks(const std::vector<uint32_t> &words) {
    uint32_t count = 0;
    for (uint32_t b = 0; b < zera::kIdBlockCount; ++b) count += Taken(words.data(), b) ? 1 : 0;
    return count;
}

// No block taken and no continuation bit (the search position aside).
inline bool NoBitSet(const std::vector<uint32_t> &words) {
    return std::all_of(words.begin(), words.begin() + zera::kIdSearchWord, [](uint32_t w) { return w == 0; });
}

// Clears the segment, search position included; with allTaken every block
// is then marked taken, for "no free run" cases.
inline void ResetSegment(bool allTaken = false) {
    ASSERT_TRUE(zera::IdSegment() != nullptr && OSAL_boSharedMemLock(zera::IdSegment()));
    std::memset(SegmentWords(), 0, zera::kIdSegmentSize);
    if (allTaken) std::memset(SegmentWords() + zera::kIdTakenWord, 0xFF, zera::kIdBitmapWords * 4);
    OSAL_vSharedMemUnlock(zera::IdSegment());
}

}  // namespace zt

#endif  // ZERA_TESTS_EVID_EVID_TEST_UTIL_H
