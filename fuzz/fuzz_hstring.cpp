// fuzz/fuzz_hstring.cpp - narrow strings read from arbitrary bytes; every
// string read is terminated where its length says and can be written again.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ZERA_HPACKET h = zf::ReadPacket(data, size);
    if (h == nullptr) return 0;
    ZERA_HPACKET out = ZERA_hMarshalPacketCreate(nullptr, 0);
    for (;;) {
        int32_t before = ZERA_i32MarshalGetCurReadPos(h);
        char *s = nullptr;
        int32_t n = ZERA_i32UnmarshalHString(h, &s);
        if (n < 0) {
            zf::Check(s == nullptr);
            break;
        }
        if (s == nullptr) {
            zf::Check(n == 0 && ZERA_i32MarshalGetCurReadPos(h) == before + 4);  // a null string
        } else {
            zf::Check(s[n] == 0 && ZERA_i32MarshalGetCurReadPos(h) == before + 4 + n + 1);
        }
        zf::Check(ZERA_boMarshalHString(out, s));
        ZERA_vFree(s);
    }
    ZERA_boMarshalPacketDelete(out);
    ZERA_boMarshalPacketDelete(h);
    return 0;
}
