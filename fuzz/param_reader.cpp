// fuzz/param_reader.cpp - parameters and parameter lists read from arbitrary
// bytes, narrow and wide. Single records are read with boReplace into a
// record that already holds one: whatever reads back must write again, and
// reading what was written must write the same bytes once more. A list read,
// failed or not, is an ordinary list: it can be walked, extended, written in
// both modes and deleted.
#include "fuzz_util.h"

namespace {

std::vector<uint8_t> Write(const Param *p, bool wide) {
    return zf::Written(
        [p, wide](ZERA_HPACKET out) { return wide ? ZERA_boMarshalParamW(out, p) : ZERA_boMarshalParamA(out, p); });
}

// Deletes one record and what it owns through a one-record list.
void Release(const Param &p, bool wide) {
    Param *list = static_cast<Param *>(ZERA_pvCalloc(2, sizeof(Param)));
    list[0] = p;
    wide ? ZERA_vDeleteParamListW(list) : ZERA_vDeleteParamListA(list);
}

void ReadParams(ZERA_HPACKET h, bool wide) {
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
}

void ReadList(ZERA_HPACKET h, bool wide) {
    Param *list = nullptr;
    // A second read goes on from where the first stopped and replaces (and
    // frees) the first list, whatever became of either.
    for (int i = 0; i < 2; ++i) wide ? ZERA_boUnmarshalParamListW(h, &list) : ZERA_boUnmarshalParamListA(h, &list);
    if (list == nullptr) return;
    uint32_t count = 0;
    while (list[count].pName != nullptr) ++count;
    ParamValue **cursor = nullptr;
    static const WCHAR16 wideName[] = {'x', 0};
    zf::Check(wide ? ZERA_boAddParamW(1, 0, &list, &count, &cursor, 0, 0, 0, 0, 0, wideName, wideName)
                   : ZERA_boAddParamA(1, 0, &list, &count, &cursor, 0, 0, 0, 0, 0, "x", "x"));
    zf::Check(wide ? ZERA_boAddValueW(&cursor, 0, 1, 1, wideName, wideName)
                   : ZERA_boAddValueA(&cursor, 0, 1, 1, "x", "x"));
    ZERA_HPACKET out = ZERA_hMarshalPacketCreate(nullptr, 0);
    for (BOOL8 changedOnly : {1, 0, 1}) {
        // Writes fail only for records whose type is not 0 to 3, which no
        // reader produces.
        zf::Check(wide ? ZERA_boMarshalParamListW(out, list, changedOnly)
                       : ZERA_boMarshalParamListA(out, list, changedOnly));
    }
    Param *back = nullptr;
    zf::Check(wide ? ZERA_boUnmarshalParamListW(out, &back) : ZERA_boUnmarshalParamListA(out, &back));
    wide ? ZERA_vDeleteParamListW(back) : ZERA_vDeleteParamListA(back);
    ZERA_boMarshalPacketDelete(out);
    zf::Check(ZERA_boDeleteParamA(1, &list, nullptr) || count == 0);
    wide ? ZERA_vDeleteParamListW(list) : ZERA_vDeleteParamListA(list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ZERA_HPACKET h = zf::ReadPacket(data, size);
    if (h == nullptr) return 0;
    for (bool wide : {false, true}) {
        ReadParams(h, wide);
        ZERA_boMarshalResetReadPos(h);
        ReadList(h, wide);
        ZERA_boMarshalResetReadPos(h);
    }
    ZERA_boMarshalPacketDelete(h);
    return 0;
}
