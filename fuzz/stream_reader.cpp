// fuzz/stream_reader.cpp - streams and strings read from arbitrary bytes
// until the packet runs out. Byte, word and double-word streams in turn, once
// into buffers the reader allocates and once into the caller's own; then
// narrow and wide strings, each terminated where its length says and written
// again (a wide one writes back the narrow bytes it came from, up to the
// first NUL).
#include "fuzz_util.h"

namespace {

int32_t ReadBytes(ZERA_HPACKET h, uint8_t **out, BOOL8 alloc) {
    void *data = *out;
    const int32_t n = ZERA_i32UnmarshalByteStream(h, &data, alloc);
    *out = static_cast<uint8_t *>(data);
    return n;
}

// One stream of T units; false when the reader refused, which leaves the
// caller nothing to free.
template <typename T, typename Read>
bool ReadStream(ZERA_HPACKET h, Read read, bool alloc) {
    const int32_t before = ZERA_i32MarshalGetCurReadPos(h);
    std::vector<T> own;
    T *out = nullptr;
    if (!alloc) {
        const int64_t len = zf::PeekLength(h);
        if (len < 0 || len > 1 << 20) return false;
        own.resize(static_cast<size_t>(len) / sizeof(T) + 1);
        out = own.data();
    }
    const int32_t n = read(h, &out, alloc ? 1 : 0);
    if (n < 0) {
        zf::Check(!alloc || out == nullptr);
        return false;
    }
    zf::Check(n % static_cast<int32_t>(sizeof(T)) == 0 && ZERA_i32MarshalGetCurReadPos(h) == before + 4 + n);
    // Length 0 gives null, except that a byte stream keeps the caller's buffer.
    T *const none = sizeof(T) == 1 && !alloc ? own.data() : nullptr;
    zf::Check(n > 0 ? alloc || out == own.data() : out == none);
    if (alloc) ZERA_vFree(out);
    return true;
}

bool ReadNarrowString(ZERA_HPACKET h) {
    const int32_t before = ZERA_i32MarshalGetCurReadPos(h);
    char *s = nullptr;
    const int32_t n = ZERA_i32UnmarshalHString(h, &s);
    zf::Check(n >= 0 || s == nullptr);
    if (n < 0) return false;
    // A null string has length 0 and no terminator on the wire.
    zf::Check(s == nullptr ? n == 0 && ZERA_i32MarshalGetCurReadPos(h) == before + 4
                           : s[n] == 0 && ZERA_i32MarshalGetCurReadPos(h) == before + 4 + n + 1);
    zf::Written([s](ZERA_HPACKET out) { return ZERA_boMarshalHString(out, s); });
    ZERA_vFree(s);
    return true;
}

bool ReadWideString(ZERA_HPACKET h) {
    const int32_t start = ZERA_i32MarshalGetCurReadPos(h);
    WCHAR16 *ws = nullptr;
    const int32_t n = ZERA_i32UnmarshalLString(h, &ws);
    if (n < 0 || ws == nullptr) return n >= 0;
    zf::Check(ws[n] == 0);
    const std::vector<uint8_t> written = zf::Written([ws](ZERA_HPACKET out) { return ZERA_boMarshalLString(out, ws); });
    const uint8_t *read = static_cast<const uint8_t *>(ZERA_pvMarshalGetStartOfData(h)) + start;
    zf::Check(written.size() == 4 + static_cast<size_t>(n) + 1 &&
              std::memcmp(written.data() + 4, read + 4, static_cast<size_t>(n)) == 0);
    ZERA_vFree(ws);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ZERA_HPACKET h = zf::ReadPacket(data, size);
    if (h == nullptr) return 0;
    for (bool alloc : {true, false}) {
        for (int i = 0;; ++i) {
            const bool read = i % 3 == 0   ? ReadStream<uint8_t>(h, ReadBytes, alloc)
                              : i % 3 == 1 ? ReadStream<uint16_t>(h, ZERA_i32UnmarshalWordStream, alloc)
                                           : ReadStream<uint32_t>(h, ZERA_i32UnmarshalDWordStream, alloc);
            if (!read) break;
        }
        ZERA_boMarshalResetReadPos(h);
    }
    while (ReadNarrowString(h)) continue;
    ZERA_boMarshalResetReadPos(h);
    while (ReadWideString(h)) continue;
    ZERA_boMarshalPacketDelete(h);
    return 0;
}
