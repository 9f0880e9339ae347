// fuzz/fuzz_param_list_common.h - the body of the two list targets: a list
// read from arbitrary bytes, failed or not, is an ordinary list: it can be
// walked, extended, written in both modes and deleted. Included by
// fuzz/fuzz_param_list_a.cpp and fuzz/fuzz_param_list_w.cpp only.
#ifndef ZERA_FUZZ_PARAM_LIST_COMMON_H
#define ZERA_FUZZ_PARAM_LIST_COMMON_H

#include "fuzz_util.h"

namespace zf {

inline int FuzzParamList(const uint8_t *data, size_t size, bool wide) {
    ZERA_HPACKET h = ReadPacket(data, size);
    if (h == nullptr) return 0;
    Param *list = nullptr;
    // A second read goes on from where the first stopped and replaces (and
    // frees) the first list, whatever became of either.
    for (int i = 0; i < 2; ++i) wide ? ZERA_boUnmarshalParamListW(h, &list) : ZERA_boUnmarshalParamListA(h, &list);
    if (list != nullptr) {
        uint32_t count = 0;
        while (list[count].pName != nullptr) ++count;
        ParamValue **cursor = nullptr;
        static const WCHAR16 wideName[] = {'x', 0};
        Check(wide ? ZERA_boAddParamW(1, 0, &list, &count, &cursor, 0, 0, 0, 0, 0, wideName, wideName)
                   : ZERA_boAddParamA(1, 0, &list, &count, &cursor, 0, 0, 0, 0, 0, "x", "x"));
        Check(wide ? ZERA_boAddValueW(&cursor, 0, 1, 1, wideName, wideName)
                   : ZERA_boAddValueA(&cursor, 0, 1, 1, "x", "x"));
        ZERA_HPACKET out = ZERA_hMarshalPacketCreate(nullptr, 0);
        for (BOOL8 changedOnly : {1, 0, 1}) {
            // Writes fail only for records whose type is not 0 to 3, which no
            // reader produces.
            Check(wide ? ZERA_boMarshalParamListW(out, list, changedOnly)
                       : ZERA_boMarshalParamListA(out, list, changedOnly));
        }
        Param *back = nullptr;
        Check(wide ? ZERA_boUnmarshalParamListW(out, &back) : ZERA_boUnmarshalParamListA(out, &back));
        wide ? ZERA_vDeleteParamListW(back) : ZERA_vDeleteParamListA(back);
        ZERA_boMarshalPacketDelete(out);
        Check(ZERA_boDeleteParamA(1, &list, nullptr) || count == 0);
        wide ? ZERA_vDeleteParamListW(list) : ZERA_vDeleteParamListA(list);
    }
    ZERA_boMarshalPacketDelete(h);
    return 0;
}

}  // namespace zf

#endif  // ZERA_FUZZ_PARAM_LIST_COMMON_H
