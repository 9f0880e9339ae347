// common/alloc.cpp - the library's allocator and its test-only failure hook.
#include <atomic>
#include <cstdlib>

#include "common/cache_line.h"
#include "common/common.h"
#include "common/test_hooks.h"

namespace zera {

#if defined(ZERA_TEST_HOOKS)
namespace {
std::atomic<long> g_failAfter{-1};  // allocations left before failing; -1: never
std::atomic<long> g_count{0};       // allocations since the hook was last set

bool AllocationAllowed() {
    g_count.fetch_add(1, std::memory_order_relaxed);
    long left = g_failAfter.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (left == 0) return false;
        if (g_failAfter.compare_exchange_weak(left, left - 1)) return true;
    }
    return true;
}
}  // namespace
#define ZERA_ALLOWED() AllocationAllowed()
#else
#define ZERA_ALLOWED() true
#endif

void *Alloc(size_t size) { return ZERA_ALLOWED() ? std::malloc(size) : nullptr; }
void *AllocZero(size_t count, size_t size) { return ZERA_ALLOWED() ? std::calloc(count, size) : nullptr; }
void *Realloc(void *p, size_t size) { return ZERA_ALLOWED() ? std::realloc(p, size) : nullptr; }
void Free(void *p) { std::free(p); }
bool MayAllocate() { return ZERA_ALLOWED(); }

void *AllocZeroLineAligned(size_t size) { return ZERA_ALLOWED() ? lines::AllocZero(size) : nullptr; }
void FreeLineAligned(void *p) { lines::Free(p); }

}  // namespace zera

#if defined(ZERA_TEST_HOOKS)
extern "C" ZERA_API void ZERA_CALL ZERA_vTestFailAllocAfter(long n) {
    zera::g_count.store(0);
    zera::g_failAfter.store(n < 0 ? -1 : n);
}
extern "C" ZERA_API long ZERA_CALL ZERA_lTestAllocCount(void) { return zera::g_count.load(); }
#endif
