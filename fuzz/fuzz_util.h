// fuzz/fuzz_util.h - shared by the libFuzzer targets in fuzz/: wraps the
// fuzzer's bytes in a reading packet and collects what a writer writes.
// Included by fuzz/*.cpp only.
#ifndef ZERA_FUZZ_UTIL_H
#define ZERA_FUZZ_UTIL_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "VOQ_ZERA_Comp.h"

namespace zf {

// Stops the target with a crash the fuzzer reports.
inline void Check(bool condition) {
    if (!condition) std::abort();
}

// A reading packet over a heap copy of the input, or null for empty input.
inline ZERA_HPACKET ReadPacket(const uint8_t *data, size_t size) {
    if (size == 0 || size > INT32_MAX) return nullptr;
    void *buffer = ZERA_pvMalloc(size);
    if (buffer == nullptr) return nullptr;
    std::memcpy(buffer, data, size);
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(buffer, static_cast<int32_t>(size));
    if (h == nullptr) ZERA_vFree(buffer);
    return h;
}

inline std::vector<uint8_t> Bytes(ZERA_HPACKET h) {
    const uint8_t *p = static_cast<const uint8_t *>(ZERA_pvMarshalGetStartOfData(h));
    return std::vector<uint8_t>(p, p + ZERA_i32MarshalGetDataSize(h));
}

// What write(packet) puts into a fresh writing packet; the write must succeed.
template <typename Write>
std::vector<uint8_t> Written(Write write) {
    ZERA_HPACKET out = ZERA_hMarshalPacketCreate(nullptr, 0);
    Check(write(out));
    std::vector<uint8_t> bytes = Bytes(out);
    ZERA_boMarshalPacketDelete(out);
    return bytes;
}

// The length field at the read position, or -1 when fewer than 4 bytes remain.
inline int64_t PeekLength(ZERA_HPACKET h) {
    int32_t pos = ZERA_i32MarshalGetCurReadPos(h);
    if (ZERA_i32MarshalGetDataSize(h) - pos < 4) return -1;
    const uint8_t *p = static_cast<const uint8_t *>(ZERA_pvMarshalGetStartOfData(h)) + pos;
    return int64_t{p[0]} << 24 | int64_t{p[1]} << 16 | int64_t{p[2]} << 8 | p[3];
}

}  // namespace zf

#endif  // ZERA_FUZZ_UTIL_H
