/*
 * common/cache_line.h - heap blocks that start on a cache line and fill whole
 * lines, for records that threads on different processors use at once: no
 * neighbour on the heap shares a line with them, so writes to a neighbour do
 * not take the lines away from their users (and the other way round).
 *
 * Internal: header-only, included by src/ (the library and the platform
 * layer each put their own allocation-failure hook in front of it).
 */
#ifndef ZERA_COMMON_CACHE_LINE_H
#define ZERA_COMMON_CACHE_LINE_H

#include <cstddef>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <malloc.h>
#endif

namespace lines {

constexpr size_t kCacheLine = 64;

// A zero-filled block of at least size bytes, or null. Freed with Free only.
inline void *AllocZero(size_t size) {
    const size_t rounded = (size + kCacheLine - 1) / kCacheLine * kCacheLine;
#if defined(_WIN32)
    void *p = _aligned_malloc(rounded, kCacheLine);
#else
    void *p = nullptr;
    if (posix_memalign(&p, kCacheLine, rounded) != 0) p = nullptr;
#endif
    if (p != nullptr) std::memset(p, 0, rounded);
    return p;
}

inline void Free(void *p) {
#if defined(_WIN32)
    _aligned_free(p);
#else
    std::free(p);
#endif
}

}  // namespace lines

#endif  // ZERA_COMMON_CACHE_LINE_H
