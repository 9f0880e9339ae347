// fuzz/fuzz_byte_stream.cpp - byte streams read from arbitrary bytes, with
// and without boAlloc, until the packet runs out.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ZERA_HPACKET h = zf::ReadPacket(data, size);
    if (h == nullptr) return 0;
    for (;;) {
        int32_t before = ZERA_i32MarshalGetCurReadPos(h);
        void *out = nullptr;
        int32_t n = ZERA_i32UnmarshalByteStream(h, &out, 1);
        if (n < 0) {
            zf::Check(out == nullptr);
            break;
        }
        zf::Check(ZERA_i32MarshalGetCurReadPos(h) == before + 4 + n);
        ZERA_vFree(out);
    }
    // Into the caller's own buffer, sized from the length field.
    ZERA_boMarshalResetReadPos(h);
    for (int64_t len; (len = zf::PeekLength(h)) >= 0 && len <= 1 << 20;) {
        std::vector<uint8_t> buffer(static_cast<size_t>(len) + 1);
        void *out = buffer.data();
        if (ZERA_i32UnmarshalByteStream(h, &out, 0) < 0) break;
        zf::Check(out == buffer.data());
    }
    ZERA_boMarshalPacketDelete(h);
    return 0;
}
