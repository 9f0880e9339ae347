// stack/stack_test_util.h - helpers of the stack, handle, flow and description
// tests: a host stack of test components, call traces, a stack's shape, taken
// identifier blocks, hand-made status events.
#ifndef ZERA_TESTS_STACK_STACK_TEST_UTIL_H
#define ZERA_TESTS_STACK_STACK_TEST_UTIL_H

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "ZERA_Host.h"
#include "common/test_hooks.h"
#include "event/event.h"
#include "evid/evid.h"
#include "osal/osal_test_hooks.h"
#include "param/param_test_util.h"
#include "stack/stack.h"
#include "support/refusal.h"

namespace st {

using zt::AllocFailureGuard;
using zt::W;
using zt::NStr;
using zt::WStr;
inline std::string LastArg() { return NStr(OSAL_pszGetLastErrorArg()); }
inline std::string LastText() { return NStr(OSAL_pszGetLastErrorText()); }

// A host level 0 with test components on top, taken down at the end; `status`
// is ORed into level 0's first (ZERA_STATUS_NO_EVID: no identifier management).
class Stack {
public:
    explicit Stack(std::initializer_list<const char *> components = {}, uint32_t status = 0)
        : h0_(ZERA_hHostStackCreate(nullptr)) {
        EXPECT_NE(h0_, nullptr);
        if (h0_ == nullptr) return;
        h0_->dwStatus |= status;
        for (const char *name : components) Add(name);
    }
    ~Stack() { EXPECT_TRUE(h0_ == nullptr || ZERA_boHostStackDestroy(h0_)) << LastText(); }

    StackHandle *h0() const { return h0_; }
    HostStackDescriptor *desc() const { return static_cast<HostStackDescriptor *>(h0_->pvLevelContext); }
    // The handle of level n (walking up from level 0), or null.
    StackHandle *operator[](uint32_t n) const {
        StackHandle *h = h0_;
        while (h != nullptr && h->u8Level < n) h = ZERA_hHandleGetNextLevel(h);
        return h;
    }
    StackHandle *Top() const {
        StackHandle *h = h0_;
        while (StackHandle *next = ZERA_hHandleGetNextLevel(h)) h = next;
        return h;
    }
    // Adds through level 0 and expects success; the new level or null.
    StackHandle *Add(const char *name) { return Added(ZERA_bAddToStackA(h0_, name)); }
    StackHandle *AddWide(const char16_t *name) { return Added(ZERA_bAddToStackW(h0_, W(name))); }

private:
    StackHandle *Added(uint8_t level) {
        EXPECT_NE(level, 0) << LastText();
        return level != 0 ? (*this)[level] : nullptr;
    }
    StackHandle *h0_;
};

// A call refused with its code and the argument it stores, for a table of
// refusals: `what` names the row.
struct Refusal {
    const char *what;
    std::function<bool()> call;
    uint32_t code;
    const char *arg;
};
inline void ExpectRefusals(const std::vector<Refusal> &cases) {
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_REFUSED(c.call(), c.code);
        EXPECT_EQ(LastArg(), c.arg);
    }
}

// Kinds of the test components' trace (tests/components/test_component.h).
enum TraceKind : uint32_t { kInfo = 1, kInit = 2, kDeinit = 3, kNotify = 4, kStart = 5, kStop = 6, kRelease = 7 };
inline uint32_t Traced(TraceKind kind, uint32_t level) { return kind << 8 | level; }

// A test component held loaded, so that its trace outlives its levels.
class ComponentTrace {
public:
    explicit ComponentTrace(const char *name)
        : module_(OSAL_hLoadLibraryA((std::string(name) + ".COMPONENT").c_str())) {
        EXPECT_NE(module_, nullptr) << LastText();
        entries_ = Data("TestTrace");
        uint32_t *count = Data("TestTraceCount");
        if (count != nullptr && entries_ != nullptr) count_ = count;  // else the failure shows as an empty trace
        Clear();
    }
    ~ComponentTrace() { EXPECT_TRUE(module_ == nullptr || OSAL_boFreeLibrary(module_)); }

    // Another data export of the module (an array of words), or null.
    uint32_t *Data(const char *name) const {
        return reinterpret_cast<uint32_t *>(module_ != nullptr ? OSAL_pfnGetProcAddress(module_, name) : nullptr);
    }

    void Clear() { *count_ = 0; }
    // The entries (of the kinds given, or all), in call order; with `levels`
    // only their level numbers.
    std::vector<uint32_t> Entries(std::initializer_list<TraceKind> kinds = {}, bool levels = false) const {
        // Read in place: a temporary copy of the entries made GCC 12's
        // -Wfree-nonheap-object misfire in optimised builds.
        std::vector<uint32_t> found;
        for (uint32_t i = 0; i < *count_; ++i) {
            const uint32_t kind = entries_[i] >> 8;
            if (kinds.size() != 0 && std::find(kinds.begin(), kinds.end(), kind) == kinds.end()) continue;
            found.push_back(levels ? entries_[i] & 0xFF : entries_[i]);
        }
        return found;
    }
    std::vector<uint32_t> Levels(TraceKind kind) const { return Entries({kind}, true); }

private:
    OSAL_HMODULE module_;
    uint32_t *entries_ = nullptr;
    uint32_t none_ = 0;
    uint32_t *count_ = &none_;
};

// What an add or remove may change, level by level, and the host's words
// (not the levels-changed mark, which a refused add keeps).
using StackShape = std::vector<uintptr_t>;
inline StackShape ShapeOf(const Stack &stack) {
    StackShape shape;
    auto word = [](const void *p) { return reinterpret_cast<uintptr_t>(p); };
    for (StackHandle *h = stack.h0(); h != nullptr; h = ZERA_hHandleGetNextLevel(h)) {
        shape.insert(shape.end(), {word(h), word(ZERA_hHandleGetNextLevel(h)), word(h->pstPrevLevel), h->u8Level,
                                   h->dwStatus, h->dwWantedLevels, h->dwLowerWantedLevels, h->dwWantedTypes,
                                   word(h->hModule), word(h->pstStackParams)});
    }
    shape.insert(shape.end(), {stack.desc()->dwNextLevelLink, stack.desc()->dwLevelMask});
    return shape;
}

// Blocks marked taken in the identifier segment of this program's tests.
inline size_t TakenIdBlocks() {
    OSAL_HSHMEM segment = zera::IdSegment();
    if (segment == nullptr || !OSAL_boSharedMemLock(segment)) return 0;
    const auto *words = static_cast<const uint32_t *>(segment->pvData);
    size_t taken = 0;
    for (uint32_t i = 0; i < zera::kIdBitmapWords; ++i) taken += std::bitset<32>(words[zera::kIdTakenWord + i]).count();
    OSAL_vSharedMemUnlock(segment);
    return taken;
}

// A hand-made stack status event for `level` (no identifier drawn); null without memory.
inline Event *StatusEvent(uint8_t level, uint32_t status) {
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_ITEMS, level, 12);
    if (ev == nullptr) return nullptr;
    const uint32_t item[3] = {0, 12, status};
    std::memcpy(ev->pbItems, item, sizeof item);
    ev->dwItemCount = 1;
    return ev;
}
inline uint32_t StatusOf(const Event *ev) {
    uint32_t status = 0;
    EXPECT_TRUE(zera::ReadStackStatusEvent(ev, &status));
    return status;
}

// Starts or stops a complete stack by a status event from its top.
inline void StartStack(const Stack &stack) {
    StackHandle *top = stack.Top();
    ZERA_vInputFilter(top, StatusEvent(top->u8Level, top->dwStatus | ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED));
}
inline void StopStack(const Stack &stack) {
    StackHandle *top = stack.Top();
    ZERA_vInputFilter(top, StatusEvent(top->u8Level, top->dwStatus & ~ZERA_STATUS_STARTED));
}

}  // namespace st

#endif  // ZERA_TESTS_STACK_STACK_TEST_UTIL_H
