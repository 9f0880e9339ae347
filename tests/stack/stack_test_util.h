// stack/stack_test_util.h - helpers for the stack tests: a host stack that
// is taken down at the end of a test, the trace of a test component, a
// snapshot of a stack's shape to prove that a refusal changed nothing, a
// look into the identifier segment, and error checks. Included by
// tests/stack only.
#ifndef ZERA_TESTS_STACK_STACK_TEST_UTIL_H
#define ZERA_TESTS_STACK_STACK_TEST_UTIL_H

#include <gtest/gtest.h>

#include <bitset>
#include <cstring>
#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "ZERA_Host.h"
#include "common/test_hooks.h"
#include "evid/evid.h"
#include "osal/osal_test_hooks.h"
#include "stack/stack.h"

namespace st {

// Kinds of the test components' trace (tests/components/test_component.h).
enum TraceKind : uint32_t { kInfo = 1, kInit = 2, kDeinit = 3, kNotify = 4, kStart = 5, kStop = 6 };
inline uint32_t Traced(TraceKind kind, uint32_t level) { return kind << 8 | level; }

inline const WCHAR16 *W(const char16_t *s) { return reinterpret_cast<const WCHAR16 *>(s); }

// A level 0 from the host kit (with a descriptor the kit owns); the stack is
// taken down, levels first, when the test ends.
class HostStack {
public:
    HostStack() : h0_(ZERA_hHostStackCreate(nullptr)) { EXPECT_NE(h0_, nullptr); }
    ~HostStack() {
        if (h0_ != nullptr) {
            EXPECT_TRUE(ZERA_boHostStackDestroy(h0_)) << OSAL_pszGetLastErrorText();
        }
    }
    HostStack(const HostStack &) = delete;
    HostStack &operator=(const HostStack &) = delete;

    StackHandle *h0() const { return h0_; }
    HostStackDescriptor *desc() const { return static_cast<HostStackDescriptor *>(h0_->pvLevelContext); }
    // The handle of level n (walking up from level 0), or null.
    StackHandle *Level(uint32_t n) const {
        StackHandle *h = h0_;
        while (h != nullptr && h->u8Level < n) h = ZERA_hHandleGetNextLevel(h);
        return h;
    }
    StackHandle *Top() const {
        StackHandle *h = h0_;
        while (StackHandle *next = ZERA_hHandleGetNextLevel(h)) h = next;
        return h;
    }
    uint32_t Height() const { return Top()->u8Level; }
    // Adds through level 0 and expects the new level's number.
    StackHandle *Add(const char *name) {
        const uint8_t level = ZERA_bAddToStackA(h0_, name);
        EXPECT_NE(level, 0) << name << ": " << OSAL_pszGetLastErrorText();
        return level != 0 ? Level(level) : nullptr;
    }
    StackHandle *AddWide(const char16_t *name) {
        const uint8_t level = ZERA_bAddToStackW(h0_, W(name));
        EXPECT_NE(level, 0) << OSAL_pszGetLastErrorText();
        return level != 0 ? Level(level) : nullptr;
    }

private:
    StackHandle *h0_;
};

// A test component module held loaded by the test, so that its trace
// (data exports "TestTrace" and "TestTraceCount") outlives its levels.
class ComponentTrace {
public:
    explicit ComponentTrace(const char *name)
        : module_(OSAL_hLoadLibraryA((std::string(name) + ".COMPONENT").c_str())) {
        EXPECT_NE(module_, nullptr) << OSAL_pszGetLastErrorText();
        if (module_ != nullptr) {
            entries_ = reinterpret_cast<uint32_t *>(OSAL_pfnGetProcAddress(module_, "TestTrace"));
            count_ = reinterpret_cast<uint32_t *>(OSAL_pfnGetProcAddress(module_, "TestTraceCount"));
        }
        Clear();
    }
    ~ComponentTrace() {
        if (module_ != nullptr) {
            EXPECT_TRUE(OSAL_boFreeLibrary(module_));
        }
    }
    ComponentTrace(const ComponentTrace &) = delete;
    ComponentTrace &operator=(const ComponentTrace &) = delete;

    void Clear() {
        if (count_ != nullptr) *count_ = 0;
    }
    std::vector<uint32_t> Entries() const {
        if (count_ == nullptr || entries_ == nullptr) return {};
        return std::vector<uint32_t>(entries_, entries_ + *count_);
    }
    // The entries of one kind, as level numbers in call order.
    std::vector<uint32_t> Levels(TraceKind kind) const {
        std::vector<uint32_t> levels;
        for (uint32_t e : Entries()) {
            if (e >> 8 == kind) levels.push_back(e & 0xFF);
        }
        return levels;
    }
    OSAL_HMODULE module() const { return module_; }

private:
    OSAL_HMODULE module_;
    uint32_t *entries_ = nullptr;
    uint32_t *count_ = nullptr;
};

// What an add or remove may change about a stack, level by level: links,
// numbers, masks, status, modules, the host's words. The levels-changed mark
// of the stack parameters is left out (a refused add keeps it set).
struct LevelShape {
    StackHandle *h, *next, *prev;
    uint32_t level, status, wantedLevels, lowerWantedLevels, wantedTypes;
    OSAL_HMODULE module;
    Param *params;
    bool operator==(const LevelShape &o) const {
        return h == o.h && next == o.next && prev == o.prev && level == o.level && status == o.status &&
               wantedLevels == o.wantedLevels && lowerWantedLevels == o.lowerWantedLevels &&
               wantedTypes == o.wantedTypes && module == o.module && params == o.params;
    }
};
struct StackShape {
    std::vector<LevelShape> levels;
    ZERA_UPTR link = 0;
    uint32_t mask = 0;
    bool operator==(const StackShape &o) const { return levels == o.levels && link == o.link && mask == o.mask; }
};
inline StackShape ShapeOf(const HostStack &stack) {
    StackShape shape;
    for (StackHandle *h = stack.h0(); h != nullptr; h = ZERA_hHandleGetNextLevel(h)) {
        shape.levels.push_back(LevelShape{h, ZERA_hHandleGetNextLevel(h), h->pstPrevLevel, h->u8Level, h->dwStatus,
                                          h->dwWantedLevels, h->dwLowerWantedLevels, h->dwWantedTypes, h->hModule,
                                          h->pstStackParams});
    }
    shape.link = stack.desc()->dwNextLevelLink;
    shape.mask = stack.desc()->dwLevelMask;
    return shape;
}

// Blocks marked taken in the identifier segment of this process's tests.
inline size_t TakenIdBlocks() {
    OSAL_HSHMEM segment = zera::IdSegment();
    if (segment == nullptr || !OSAL_boSharedMemLock(segment)) return 0;
    const auto *words = static_cast<const uint32_t *>(segment->pvData);
    size_t taken = 0;
    for (uint32_t i = 0; i < zera::kIdBitmapWords; ++i) taken += std::bitset<32>(words[zera::kIdTakenWord + i]).count();
    OSAL_vSharedMemUnlock(segment);
    return taken;
}

inline uint32_t LastError() { return OSAL_dwGetLastError(); }
inline std::string LastArg() {
    const char *arg = OSAL_pszGetLastErrorArg();
    return arg != nullptr ? arg : "";
}
inline std::string LastText() {
    const char *text = OSAL_pszGetLastErrorText();
    return text != nullptr ? text : "";
}

// A stack status event for h's level holding `status`, made by hand (no
// identifier is drawn), as the send path hands it to the input filter.
inline Event *StatusEvent(const StackHandle *h, uint32_t status) {
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_ITEMS, h->u8Level, 12);
    const uint32_t item[3] = {0, 12, status};
    std::memcpy(ev->pbItems, item, sizeof item);
    ev->dwItemCount = 1;
    return ev;
}

// Starts a complete stack: the status "complete and started" runs down from
// the top.
inline void StartStack(const HostStack &stack) {
    StackHandle *top = stack.Top();
    ZERA_vInputFilter(top, StatusEvent(top, top->dwStatus | ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED));
}

// Turns both allocation-failure hooks off again when a test ends.
struct AllocFailureGuard {
    ~AllocFailureGuard() {
        ZERA_vTestFailAllocAfter(-1);
        OSAL_vTestFailAllocAfter(-1);
    }
};

}  // namespace st

#endif  // ZERA_TESTS_STACK_STACK_TEST_UTIL_H
