/*
 * common/common.h - helpers every subsystem of the library may use: the
 * allocator (with the test-only failure hook), 16-bit string helpers and the
 * macro that exports one function under a second name.
 *
 * Internal: included by src/ only.
 */
#ifndef ZERA_COMMON_COMMON_H
#define ZERA_COMMON_COMMON_H

#include <cstddef>
#include <cstdint>

#include "VOQ_ZERA_Comp.h"

namespace zera {

// Heap blocks of the library. All of them come from here, so that the test
// hook can make any allocation fail. Null on failure; no code is stored.
void *Alloc(size_t size);
void *AllocZero(size_t count, size_t size);
void *Realloc(void *p, size_t size);
void Free(void *p);
// A zero-filled block on whole cache lines of its own (common/cache_line.h),
// for records that threads on several processors read while one of them
// writes a part of it. Null on failure. Freed with FreeLineAligned only.
void *AllocZeroLineAligned(size_t size);
void FreeLineAligned(void *p);
// False when the test hook says the next allocation is to fail (it then
// counts as one): for blocks the library recycles instead of allocating.
bool MayAllocate();

// 16-bit strings (WCHAR16 is not the platform's wchar_t on Linux).
size_t WLen(const WCHAR16 *s);
int WCompare(const WCHAR16 *a, const WCHAR16 *b);
// Case-insensitive for ASCII letters; other units compare by value.
int WCompareNoCase(const WCHAR16 *a, const WCHAR16 *b);
// Copies src with its NUL into dst, which has room for WLen(src) + 1 units.
void WCopy(WCHAR16 *dst, const WCHAR16 *src);
// Narrow <-> wide: one unit per byte; units above 0xFF become '?'. dstUnits
// counts the room including the NUL; the result is always terminated (when
// dstUnits > 0) and never overruns.
void NarrowToWide(WCHAR16 *dst, size_t dstUnits, const char *src);
void WideToNarrow(char *dst, size_t dstBytes, const WCHAR16 *src);
// Heap copies (zera::Alloc); null when memory runs out or src is null.
char *DupNarrow(const char *src);
WCHAR16 *DupWide(const WCHAR16 *src);

// A level's dwStatus and its three masks are read and written without a lock
// by the threads of several levels (a component's threads read bit 30 while
// the host starts or stops the stack; filters read the masks that a level
// sets). These keep each such access whole and free of data races; they
// order nothing else.
template <typename T>
T LoadRelaxed(const T &field) {
#if defined(_MSC_VER)
    return *static_cast<const volatile T *>(&field);  // whole for aligned words on the targets
#else
    return __atomic_load_n(&field, __ATOMIC_RELAXED);
#endif
}
template <typename T>
void StoreRelaxed(T &field, T value) {
#if defined(_MSC_VER)
    *static_cast<volatile T *>(&field) = value;
#else
    __atomic_store_n(&field, value, __ATOMIC_RELAXED);
#endif
}

}  // namespace zera

// Marks an internal declaration that the tests call directly: exported from
// test builds (ZERA_TEST_HOOKS) only, hidden in release builds.
#if !defined(ZERA_TEST_HOOKS)
#define ZERA_TEST_VISIBLE
#elif defined(_WIN32) && defined(VOQ_ZERA_Comp_EXPORTS)
#define ZERA_TEST_VISIBLE __declspec(dllexport)
#elif defined(_WIN32)
#define ZERA_TEST_VISIBLE __declspec(dllimport)
#else
#define ZERA_TEST_VISIBLE __attribute__((visibility("default")))
#endif

// Exports `alias` as a second name of the extern "C" function `target` (same
// address). Windows builds get the alias from the .def file instead.
#if defined(__ELF__)
#define ZERA_EXPORT_ALIAS(ret, alias, target, params) \
    extern "C" ZERA_API ret ZERA_CALL alias params __attribute__((__alias__(#target)));
#else
#define ZERA_EXPORT_ALIAS(ret, alias, target, params)
#endif

#endif  // ZERA_COMMON_COMMON_H
