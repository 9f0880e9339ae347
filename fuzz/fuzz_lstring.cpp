// fuzz/fuzz_lstring.cpp - wide strings read from arbitrary bytes and written
// back: the narrow bytes up to the first NUL come back unchanged.
#include <cstring>

#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ZERA_HPACKET h = zf::ReadPacket(data, size);
    if (h == nullptr) return 0;
    for (;;) {
        int32_t start = ZERA_i32MarshalGetCurReadPos(h);
        WCHAR16 *ws = nullptr;
        int32_t n = ZERA_i32UnmarshalLString(h, &ws);
        if (n < 0) break;
        if (ws == nullptr) continue;
        zf::Check(ws[n] == 0);
        ZERA_HPACKET out = ZERA_hMarshalPacketCreate(nullptr, 0);
        zf::Check(ZERA_boMarshalLString(out, ws));
        std::vector<uint8_t> written = zf::Bytes(out);
        std::vector<uint8_t> read = zf::Bytes(h);
        zf::Check(written.size() == 4 + static_cast<size_t>(n) + 1);
        zf::Check(std::memcmp(written.data() + 4, read.data() + start + 4, static_cast<size_t>(n)) == 0);
        ZERA_boMarshalPacketDelete(out);
        ZERA_vFree(ws);
    }
    ZERA_boMarshalPacketDelete(h);
    return 0;
}
