/*
 * common/common.h - helpers every subsystem of the library may use: the
 * allocator (with the test-only failure hook), string helpers, storing a
 * code on failure and keeping the caller's code across a step, the quiet
 * export lookup, the debug-build contract check and the macro that exports
 * one function under a second name.
 *
 * Internal: included by src/ only.
 */
#ifndef ZERA_COMMON_COMMON_H
#define ZERA_COMMON_COMMON_H

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "VOQ_ZERA_Comp.h"
#include "common/contract.h"

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

// Strings of either width (WCHAR16 is not the platform's wchar_t on Linux).
// Lengths count units without the NUL; s must not be null.
// An empty string (most additional texts) costs no call.
inline size_t StringUnits(const char *s) { return s[0] == 0 ? 0 : std::strlen(s); }
size_t StringUnits(const WCHAR16 *s);
int WCompare(const WCHAR16 *a, const WCHAR16 *b);
// A name given as narrow or, when `wide`, as 16-bit string: its length, and
// whether it is missing (null) or empty.
inline size_t NameUnits(bool wide, const void *name) {
    return wide ? StringUnits(static_cast<const WCHAR16 *>(name)) : StringUnits(static_cast<const char *>(name));
}
inline bool IsEmptyName(bool wide, const void *name) {
    if (name == nullptr) return true;
    return wide ? *static_cast<const WCHAR16 *>(name) == 0 : *static_cast<const char *>(name) == '\0';
}
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

// ---- The calling thread's last error --------------------------------------------

// Stores `code` as the calling thread's last error and returns false, for
// `return Fail(code);` in an operation that reports failure by false.
inline bool Fail(uint32_t code) {
    OSAL_vSetLastError(code);
    return false;
}

// Keeps the calling thread's last error across a step whose own code is not
// the caller's business (a lookup that may miss, a clean-up that may fail):
// the code found at construction is stored again at destruction when the
// step changed it, so an untouched code keeps its text and argument too.
class KeepLastError {
public:
    KeepLastError() : saved_(OSAL_dwGetLastError()) {}
    ~KeepLastError() {
        if (OSAL_dwGetLastError() != saved_) OSAL_vSetLastError(saved_);
    }
    KeepLastError(const KeepLastError &) = delete;
    KeepLastError &operator=(const KeepLastError &) = delete;

private:
    uint32_t saved_;
};

// The export `name` of `module`, or null; the caller's error code stays as
// it was either way (a missing export is an answer here, not a failure).
inline OSAL_PFN LookUpQuietly(OSAL_HMODULE module, const char *name) {
    KeepLastError keep;
    return OSAL_pfnGetProcAddress(module, name);
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
