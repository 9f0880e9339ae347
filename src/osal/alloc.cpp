// osal/alloc.cpp - the platform layer's allocator, its test-only failure hook
// and the narrow copy of a 16-bit string.
#include <cstdlib>
#include <cstring>

#include "common/alloc_countdown.h"
#include "common/cache_line.h"
#include "osal/osal_internal.h"
#include "osal/osal_test_hooks.h"

namespace osal {

#if defined(ZERA_TEST_HOOKS)
namespace {
AllocCountdown g_countdown;
}  // namespace
#define OSAL_ALLOWED() g_countdown.Allowed()
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
    osal::g_countdown.FailAfter(n);
}
#endif
