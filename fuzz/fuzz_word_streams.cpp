// fuzz/fuzz_word_streams.cpp - word and double-word streams read from
// arbitrary bytes, alternating, with and without boAlloc.
#include "fuzz_util.h"

namespace {

template <typename T, typename Read>
bool ReadOne(ZERA_HPACKET h, Read read, bool alloc) {
    int32_t before = ZERA_i32MarshalGetCurReadPos(h);
    std::vector<T> own;
    T *out = nullptr;
    if (!alloc) {
        int64_t len = zf::PeekLength(h);
        if (len < 0 || len > 1 << 20) return false;
        own.resize(static_cast<size_t>(len) / sizeof(T) + 1);
        out = own.data();
    }
    int32_t n = read(h, &out, alloc ? 1 : 0);
    if (n < 0) {
        if (alloc && out != nullptr) ZERA_vFree(out);  // a buffer allocated before a failure stays the caller's
        return false;
    }
    zf::Check(n % static_cast<int32_t>(sizeof(T)) == 0);
    zf::Check(ZERA_i32MarshalGetCurReadPos(h) == before + 4 + n);
    zf::Check(n > 0 || out == nullptr);
    if (alloc) ZERA_vFree(out);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ZERA_HPACKET h = zf::ReadPacket(data, size);
    if (h == nullptr) return 0;
    const bool alloc = size % 2 == 0;
    for (int i = 0;; ++i) {
        bool ok = i % 2 == 0 ? ReadOne<uint16_t>(h, ZERA_i32UnmarshalWordStream, alloc)
                             : ReadOne<uint32_t>(h, ZERA_i32UnmarshalDWordStream, alloc);
        if (!ok) break;
    }
    ZERA_boMarshalPacketDelete(h);
    return 0;
}
