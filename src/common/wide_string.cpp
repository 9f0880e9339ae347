// common/wide_string.cpp - 16-bit string helpers and narrow/wide conversion.
#include <cstring>

#include "common/common.h"

namespace zera {

size_t StringUnits(const WCHAR16 *s) {
    size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

int WCompare(const WCHAR16 *a, const WCHAR16 *b) {
    for (;; ++a, ++b) {
        if (*a != *b) return *a < *b ? -1 : 1;
        if (*a == 0) return 0;
    }
}

void NarrowToWide(WCHAR16 *dst, size_t dstUnits, const char *src) {
    if (dstUnits == 0) return;
    size_t i = 0;
    for (; i + 1 < dstUnits && src[i] != 0; ++i) dst[i] = static_cast<WCHAR16>(static_cast<unsigned char>(src[i]));
    dst[i] = 0;
}

void WideToNarrow(char *dst, size_t dstBytes, const WCHAR16 *src) {
    if (dstBytes == 0) return;
    size_t i = 0;
    for (; i + 1 < dstBytes && src[i] != 0; ++i) dst[i] = src[i] > 0xFF ? '?' : static_cast<char>(src[i]);
    dst[i] = 0;
}

char *DupNarrow(const char *src) {
    if (src == nullptr) return nullptr;
    size_t n = std::strlen(src) + 1;
    char *p = static_cast<char *>(Alloc(n));
    if (p != nullptr) std::memcpy(p, src, n);
    return p;
}

WCHAR16 *DupWide(const WCHAR16 *src) {
    if (src == nullptr) return nullptr;
    size_t n = (StringUnits(src) + 1) * sizeof(WCHAR16);
    WCHAR16 *p = static_cast<WCHAR16 *>(Alloc(n));
    if (p != nullptr) std::memcpy(p, src, n);
    return p;
}

}  // namespace zera
