// osal/alloc.cpp - the platform layer's allocator, its test-only failure hook
// and the string copies the layer makes.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "common/cache_line.h"
#include "osal/osal_internal.h"
#include "osal/osal_test_hooks.h"

namespace osal {

#if defined(ZERA_TEST_HOOKS)
namespace {
std::atomic<long> g_failAfter{-1};  // allocations left before failing; -1: never

bool AllocationAllowed() {
    long left = g_failAfter.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (left == 0) return false;
        if (g_failAfter.compare_exchange_weak(left, left - 1)) return true;
    }
    return true;
}
}  // namespace
#define OSAL_ALLOWED() AllocationAllowed()
#else
#define OSAL_ALLOWED() true
#endif

void *Alloc(size_t size) { return OSAL_ALLOWED() ? std::malloc(size ? size : 1) : nullptr; }
void *AllocZero(size_t count, size_t size) {
    if (!OSAL_ALLOWED()) return nullptr;
    return std::calloc(count ? count : 1, size ? size : 1);
}
void Free(void *p) { std::free(p); }
void *AllocZeroLines(size_t size) { return OSAL_ALLOWED() ? lines::AllocZero(size) : nullptr; }
void FreeLines(void *p) { lines::Free(p); }

char *WideToNarrowDup(const WCHAR16 *s) {
    if (!s) return nullptr;
    size_t n = 0;
    while (s[n]) ++n;
    char *p = static_cast<char *>(Alloc(n + 1));
    if (!p) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        uint16_t unit = static_cast<uint16_t>(s[i]);
        p[i] = unit > 0xFF ? '?' : static_cast<char>(unit);
    }
    p[n] = '\0';
    return p;
}

}  // namespace osal

#if defined(ZERA_TEST_HOOKS)
extern "C" OSAL_API void OSAL_CALL OSAL_vTestFailAllocAfter(long n) {
    osal::g_failAfter.store(n < 0 ? -1 : n);
}
#endif
