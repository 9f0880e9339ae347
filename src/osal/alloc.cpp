// osal/alloc.cpp - the platform layer's allocator, the test builds'
// allocation-failure countdown (one for both libraries: the library's
// allocator asks it too) and the narrow copy of a 16-bit string.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "common/alloc_countdown.h"
#include "common/cache_line.h"
#include "osal/osal_internal.h"
#include "osal/osal_test_hooks.h"

namespace osal {

#if defined(ZERA_TEST_HOOKS)
namespace {
// Lock-free: any thread may allocate while a test sets the countdown.
std::atomic<long> g_failAfter{-1};  // allocations left before failing; -1: never
std::atomic<long> g_count{0};       // allocations since the countdown was last set
std::atomic<bool> g_once{false};    // only the one allocation at the end of the countdown fails
}  // namespace
#define OSAL_ALLOWED() (OSAL_boTestAllocAllowed() != 0)
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
namespace {
void SetCountdown(long n, bool once) {
    osal::g_failAfter.store(-1);
    osal::g_count.store(0);
    osal::g_once.store(once);
    osal::g_failAfter.store(n < 0 ? -1 : n);
}
}  // namespace
extern "C" OSAL_API void OSAL_CALL OSAL_vTestFailAllocAfter(long n) { SetCountdown(n, false); }
extern "C" OSAL_API void OSAL_CALL OSAL_vTestFailOneAllocAfter(long n) { SetCountdown(n, true); }
extern "C" OSAL_API long OSAL_CALL OSAL_lTestAllocCount(void) { return osal::g_count.load(); }
extern "C" OSAL_API BOOL8 OSAL_CALL OSAL_boTestAllocAllowed(void) {
    osal::g_count.fetch_add(1, std::memory_order_relaxed);
    long left = osal::g_failAfter.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (left == 0 && !osal::g_once.load()) return 0;
        if (osal::g_failAfter.compare_exchange_weak(left, left - 1)) return left != 0;
    }
    return 1;
}
#endif
