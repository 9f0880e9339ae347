// common/alloc.cpp - the library's allocator and its test-only failure hook.
#include <cstdlib>

#include "common/alloc_countdown.h"
#include "common/cache_line.h"
#include "common/common.h"
#include "common/test_hooks.h"

namespace zera {

#if defined(ZERA_TEST_HOOKS)
namespace {
AllocCountdown g_countdown;
}  // namespace
#define ZERA_ALLOWED() g_countdown.Allowed()
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
    zera::g_countdown.FailAfter(n);
}
extern "C" ZERA_API long ZERA_CALL ZERA_lTestAllocCount(void) { return zera::g_countdown.Count(); }
#endif
