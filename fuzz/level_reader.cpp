// fuzz/level_reader.cpp - stack levels and stack description packets read
// from arbitrary bytes, narrow and wide. A failed read keeps the caller's
// pointer; a record that reads back is a container that fails the handle
// check, writes again and reads back to the same bytes.
#include "fuzz_util.h"

namespace {

std::vector<uint8_t> Write(StackHandle *level) {
    ZERA_HPACKET out = ZERA_hMarshalPacketCreate(nullptr, 0);
    zf::Check(ZERA_boMarshalStackHandleLevel(out, level, 0));
    std::vector<uint8_t> bytes = zf::Bytes(out);
    ZERA_boMarshalPacketDelete(out);
    return bytes;
}

void RoundTrip(StackHandle *level, bool wide) {
    zf::Check(level->dwMagic == 0 && level->boWide == (wide ? 1 : 0));
    const std::vector<uint8_t> first = Write(level);
    ZERA_HPACKET h = zf::ReadPacket(first.data(), first.size());
    StackHandle *again = nullptr;
    zf::Check(ZERA_boUnmarshalStackHandleLevel(h, &again, wide ? 1 : 0));
    zf::Check(Write(again) == first);
    ZERA_vDeleteStackHandleLevel(again);
    ZERA_boMarshalPacketDelete(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (bool wide : {false, true}) {
        // The bytes as one level record.
        ZERA_HPACKET h = zf::ReadPacket(data, size);
        if (h == nullptr) return 0;
        StackHandle keep{};
        StackHandle *level = &keep;
        if (ZERA_boUnmarshalStackHandleLevel(h, &level, wide ? 1 : 0)) {
            zf::Check(!ZERA_boHandleCheck(level, 0));
            RoundTrip(level, wide);
            ZERA_vDeleteStackHandleLevel(level);
        } else {
            zf::Check(level == &keep);
        }
        ZERA_boMarshalPacketDelete(h);

        // The bytes as a description packet: the count byte, then entries.
        h = zf::ReadPacket(data, size);
        uint8_t count = 0;
        zf::Check(ZERA_boUnmarshalByte(h, &count));
        uint32_t status = 0;
        for (;;) {
            level = &keep;
            bool read;
            if (wide) {
                WCHAR16 *name = nullptr;
                read = ZERA_boUnmarshalStackDescriptionEntryW(h, &level, &status, &name);
                ZERA_vFree(name);
            } else {
                char *name = nullptr;
                read = ZERA_boUnmarshalStackDescriptionEntryA(h, &level, &status, &name);
                ZERA_vFree(name);
            }
            if (!read) {
                zf::Check(level == &keep);
                break;
            }
            RoundTrip(level, wide);
            ZERA_vDeleteStackHandleLevel(level);
        }
        ZERA_boMarshalPacketDelete(h);
    }
    return 0;
}
