// evid/evid_test_util.h - helpers for the identifier and event tests: a
// chain of levels whose block slots are filled by hand, a look into the
// identifier segment, and an allocation-failure loop. Included by tests/evid
// and tests/event only.
#ifndef ZERA_TESTS_EVID_EVID_TEST_UTIL_H
#define ZERA_TESTS_EVID_EVID_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "ZERA_Host.h"
#include "common/test_hooks.h"
#include "evid/evid.h"
#include "osal/osal_test_hooks.h"

namespace zt {

// Level 0 from the host kit and `above` levels created and bound on top of
// it by hand. Every level is complete (unless asked otherwise) and its slots
// 9, 10, 30 and 31 hold the parameter lookups and the block operations, as
// binding fills them. At the end
// managers still initialised are deinitialised, lists in pstStackParams of
// levels 1 and up are deleted, and the levels are closed from the top.
class LevelChain {
public:
    explicit LevelChain(int above = 0, bool complete = true) {
        levels_.push_back(ZERA_hHostStackCreate(nullptr));
        EXPECT_NE(levels_[0], nullptr);
        for (int i = 0; i < above; ++i) {
            StackHandle *h = ZERA_hHandleCreate(levels_.back());
            EXPECT_NE(h, nullptr);
            EXPECT_TRUE(ZERA_boHandleBind(levels_.back(), h));
            levels_.push_back(h);
        }
        for (StackHandle *h : levels_) {
            h->apfnEntry[30] = reinterpret_cast<ZERA_PFN>(&ZERA_dwEvIdGetBlock);
            h->apfnEntry[31] = reinterpret_cast<ZERA_PFN>(&ZERA_boEvIdFreeBlock);
            // Stack-parameter lookups climb through slots 9 and 10.
            h->apfnEntry[9] = reinterpret_cast<ZERA_PFN>(&ZERA_pstGetStackParamA);
            h->apfnEntry[10] = reinterpret_cast<ZERA_PFN>(&ZERA_pstGetStackParamW);
        }
        SetComplete(complete);
    }
    ~LevelChain() {
        for (StackHandle *h : levels_) {
            if (h->stEvIdManager.pstLevel != nullptr) {
                EXPECT_TRUE(ZERA_boEvIdManagerDeinit(&h->stEvIdManager));
            }
        }
        while (levels_.size() > 1) {
            StackHandle *top = levels_.back();
            ZERA_vDeleteParamListA(top->pstStackParams);
            EXPECT_TRUE(ZERA_boHandleClose(top));
            levels_.pop_back();
        }
        EXPECT_TRUE(ZERA_boHostStackDestroy(levels_[0]));
    }
    LevelChain(const LevelChain &) = delete;
    LevelChain &operator=(const LevelChain &) = delete;

    StackHandle *operator[](size_t level) const { return levels_.at(level); }
    StackHandle *top() const { return levels_.back(); }
    void SetComplete(bool complete) {
        for (StackHandle *h : levels_) {
            if (complete) {
                h->dwStatus |= ZERA_STATUS_COMPLETE;
            } else {
                h->dwStatus &= ~ZERA_STATUS_COMPLETE;
            }
        }
    }
    void SetNoEvid() {
        for (StackHandle *h : levels_) h->dwStatus |= ZERA_STATUS_NO_EVID;
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

// ---- The identifier segment of this test program ------------------------------------

inline uint32_t *SegmentWords() { return static_cast<uint32_t *>(zera::IdSegment()->pvData); }

inline bool BitIn(const uint32_t *bitmap, uint32_t block) { return (bitmap[block / 32] >> (block % 32)) & 1u; }

// Bit tests on any copy of the segment's words.
inline bool Taken(const uint32_t *words, uint32_t block) { return BitIn(words + zera::kIdTakenWord, block); }
inline bool Continues(const uint32_t *words, uint32_t block) { return BitIn(words + zera::kIdContinuationWord, block); }

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

inline bool NoBitSet(const std::vector<uint32_t> &words) {
    for (uint32_t i = 0; i < zera::kIdSearchWord; ++i)
        if (words[i] != 0) return false;
    return true;
}

// Clears the segment, search position included. The program's segment is its
// own (VOQ_OSAL_SHM_PREFIX), so only its own tests use it.
inline void ResetSegment() {
    ASSERT_NE(zera::IdSegment(), nullptr);
    ASSERT_TRUE(OSAL_boSharedMemLock(zera::IdSegment()));
    std::memset(SegmentWords(), 0, zera::kIdSegmentSize);
    OSAL_vSharedMemUnlock(zera::IdSegment());
}

// Marks every block taken (or frees them all), for "no free run" cases.
inline void FillSegment(bool taken) {
    ASSERT_TRUE(OSAL_boSharedMemLock(zera::IdSegment()));
    std::memset(SegmentWords(), taken ? 0xFF : 0, zera::kIdBitmapWords * 4);
    std::memset(SegmentWords() + zera::kIdContinuationWord, 0, zera::kIdBitmapWords * 4);
    OSAL_vSharedMemUnlock(zera::IdSegment());
}

// ---- Failures ------------------------------------------------------------------

inline void ExpectCode(uint32_t code) { EXPECT_EQ(OSAL_dwGetLastError(), code); }

// Turns both allocation-failure hooks off again when a test ends.
struct AllocFailureGuard {
    ~AllocFailureGuard() {
        ZERA_vTestFailAllocAfter(-1);
        OSAL_vTestFailAllocAfter(-1);
    }
};

// Runs attempt(n) with the library's allocations failing after n successful
// ones, n = 0, 1, 2, ... until it succeeds. attempt checks the state a failure
// must leave and releases what it made; the leak checker sees the rest.
template <typename Attempt>
void ForEachAllocFailure(Attempt attempt) {
    AllocFailureGuard guard;
    for (long n = 0;; ++n) {
        ZERA_vTestFailAllocAfter(n);
        const bool ok = attempt(n);
        ZERA_vTestFailAllocAfter(-1);
        if (ok) return;
        ASSERT_LT(n, 10000) << "never succeeded";
    }
}

inline const WCHAR16 *W(const char16_t *s) { return reinterpret_cast<const WCHAR16 *>(s); }

}  // namespace zt

#endif  // ZERA_TESTS_EVID_EVID_TEST_UTIL_H
