// fuzz/fuzz_param.cpp - single parameters read from arbitrary bytes, narrow
// and wide, with boReplace into a record that already holds one. Whatever
// reads back must write again, and reading what was written must write the
// same bytes once more.
#include "fuzz_util.h"

namespace {

std::vector<uint8_t> Write(const Param *p, bool wide) {
    ZERA_HPACKET out = ZERA_hMarshalPacketCreate(nullptr, 0);
    zf::Check(wide ? ZERA_boMarshalParamW(out, p) : ZERA_boMarshalParamA(out, p));
    std::vector<uint8_t> bytes = zf::Bytes(out);
    ZERA_boMarshalPacketDelete(out);
    return bytes;
}

// Deletes one record and what it owns through a one-record list.
void Release(const Param &p, bool wide) {
    Param *list = static_cast<Param *>(ZERA_pvCalloc(2, sizeof(Param)));
    list[0] = p;
    wide ? ZERA_vDeleteParamListW(list) : ZERA_vDeleteParamListA(list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (bool wide : {false, true}) {
        ZERA_HPACKET h = zf::ReadPacket(data, size);
        if (h == nullptr) return 0;
        Param dest{};
        // Each record read replaces the one before it.
        while (wide ? ZERA_boUnmarshalParamW(h, &dest, 1) : ZERA_boUnmarshalParamA(h, &dest, 1)) {
            std::vector<uint8_t> written = Write(&dest, wide);
            ZERA_HPACKET back = zf::ReadPacket(written.data(), written.size());
            Param copy{};
            zf::Check(wide ? ZERA_boUnmarshalParamW(back, &copy, 0) : ZERA_boUnmarshalParamA(back, &copy, 0));
            zf::Check(ZERA_i32MarshalGetCurReadPos(back) == ZERA_i32MarshalGetDataSize(back));
            zf::Check(Write(&copy, wide) == written);
            Release(copy, wide);
            ZERA_boMarshalPacketDelete(back);
        }
        Release(dest, wide);
        ZERA_boMarshalPacketDelete(h);
    }
    return 0;
}
