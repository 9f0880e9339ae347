// common/alloc.cpp - the library's allocator. Test builds ask the platform
// layer's countdown (common/alloc_countdown.h) whether an allocation may
// succeed, so that one setting makes both libraries fail.
#include <cstdlib>

#include "common/alloc_countdown.h"
#include "common/cache_line.h"
#include "common/common.h"

#if defined(ZERA_TEST_HOOKS)
#define ZERA_ALLOWED() (OSAL_boTestAllocAllowed() != 0)
#else
#define ZERA_ALLOWED() true
#endif

namespace zera {

void *Alloc(size_t size) { return ZERA_ALLOWED() ? std::malloc(size) : nullptr; }
void *AllocZero(size_t count, size_t size) { return ZERA_ALLOWED() ? std::calloc(count, size) : nullptr; }
void *Realloc(void *p, size_t size) { return ZERA_ALLOWED() ? std::realloc(p, size) : nullptr; }
void Free(void *p) { std::free(p); }
bool MayAllocate() { return ZERA_ALLOWED(); }

void *AllocZeroLineAligned(size_t size) { return ZERA_ALLOWED() ? lines::AllocZero(size) : nullptr; }
void FreeLineAligned(void *p) { lines::Free(p); }

}  // namespace zera
