/*
 * common/byte_order.h - network byte order (most significant byte first) for
 * the library's own encoders: single 16-, 32- and 64-bit units at any
 * alignment, and whole runs of 16- and 32-bit units converted in one pass.
 * The platform layer's OSAL_boConvertByteOrder stays the public conversion
 * with its argument checks; these are what the marshalling code uses inside,
 * so that a stream of n units costs one loop, not n calls across the library
 * boundary.
 *
 * Internal: header-only, included by src/ only. No state, no codes stored.
 */
#ifndef ZERA_COMMON_BYTE_ORDER_H
#define ZERA_COMMON_BYTE_ORDER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define ZERA_HOST_BIG_ENDIAN 1
#else
#define ZERA_HOST_BIG_ENDIAN 0  // x86 and x86-64, the targets, are little-endian
#endif

namespace zera {

// Reverses the bytes of a unit. Written with shifts so that the same text
// serves plain integers and the vector lanes below; compilers turn the
// scalar forms into one byte-swap instruction.
inline uint16_t SwapBytes16(uint16_t v) { return static_cast<uint16_t>(v << 8 | v >> 8); }
inline uint32_t SwapBytes32(uint32_t v) {
    v = v << 16 | v >> 16;
    return (v & 0x00FF00FFu) << 8 | (v >> 8 & 0x00FF00FFu);
}

inline uint16_t HostToNetwork16(uint16_t v) { return ZERA_HOST_BIG_ENDIAN ? v : SwapBytes16(v); }
inline uint32_t HostToNetwork32(uint32_t v) { return ZERA_HOST_BIG_ENDIAN ? v : SwapBytes32(v); }

inline void StoreNetwork16(uint8_t *at, uint16_t v) {
    v = HostToNetwork16(v);
    std::memcpy(at, &v, 2);
}
inline void StoreNetwork32(uint8_t *at, uint32_t v) {
    v = HostToNetwork32(v);
    std::memcpy(at, &v, 4);
}
inline uint16_t LoadNetwork16(const uint8_t *at) {
    uint16_t v;
    std::memcpy(&v, at, 2);
    return HostToNetwork16(v);
}
inline uint32_t LoadNetwork32(const uint8_t *at) {
    uint32_t v;
    std::memcpy(&v, at, 4);
    return HostToNetwork32(v);
}
// A 64-bit value, most significant byte first.
inline void StoreNetwork64(uint8_t *at, uint64_t v) {
    StoreNetwork32(at, static_cast<uint32_t>(v >> 32));
    StoreNetwork32(at + 4, static_cast<uint32_t>(v));
}
inline uint64_t LoadNetwork64(const uint8_t *at) {
    return uint64_t{LoadNetwork32(at)} << 32 | LoadNetwork32(at + 4);
}

// Copies `count` 16-bit (or 32-bit) units from src to dst, each converted
// between host and network order; the same operation serves both
// directions. Neither side needs to be aligned; the two must not overlap.
// On compilers with vector extensions 16 bytes go through one vector
// register at a time (plain SSE2 shifts on x86: no byte shuffle needed); the
// units behind the last whole vector, and other compilers, take the scalar
// loop.
inline void CopyNetwork16(void *dst, const void *src, size_t count) {
    auto *d = static_cast<uint8_t *>(dst);
    const auto *s = static_cast<const uint8_t *>(src);
    if (ZERA_HOST_BIG_ENDIAN) {
        std::memcpy(d, s, count * 2);
        return;
    }
    size_t i = 0;
#if defined(__GNUC__)
    typedef uint16_t Lanes __attribute__((vector_size(16)));
    for (; i + 8 <= count; i += 8) {
        Lanes v;
        std::memcpy(&v, s + 2 * i, 16);
        v = v << 8 | v >> 8;
        std::memcpy(d + 2 * i, &v, 16);
    }
#endif
    for (; i < count; ++i) {
        uint16_t v;
        std::memcpy(&v, s + 2 * i, 2);
        v = SwapBytes16(v);
        std::memcpy(d + 2 * i, &v, 2);
    }
}

inline void CopyNetwork32(void *dst, const void *src, size_t count) {
    auto *d = static_cast<uint8_t *>(dst);
    const auto *s = static_cast<const uint8_t *>(src);
    if (ZERA_HOST_BIG_ENDIAN) {
        std::memcpy(d, s, count * 4);
        return;
    }
    size_t i = 0;
#if defined(__GNUC__)
    typedef uint32_t Lanes __attribute__((vector_size(16)));
    for (; i + 4 <= count; i += 4) {
        Lanes v;
        std::memcpy(&v, s + 4 * i, 16);
        v = v << 16 | v >> 16;
        v = (v & 0x00FF00FFu) << 8 | (v >> 8 & 0x00FF00FFu);
        std::memcpy(d + 4 * i, &v, 16);
    }
#endif
    for (; i < count; ++i) {
        uint32_t v;
        std::memcpy(&v, s + 4 * i, 4);
        v = SwapBytes32(v);
        std::memcpy(d + 4 * i, &v, 4);
    }
}

}  // namespace zera

#endif  // ZERA_COMMON_BYTE_ORDER_H
