// fuzz/level_reader.cpp - stack levels and stack description packets read
// from arbitrary bytes, narrow and wide. A failed read keeps the caller's
// pointer; a record that reads back is a container that fails the handle
// check, writes again and reads back to the same bytes.
#include "fuzz_util.h"

namespace {

std::vector<uint8_t> Write(StackHandle *level) {
    return zf::Written([level](ZERA_HPACKET out) { return ZERA_boMarshalStackHandleLevel(out, level, 0); });
}

// Checks a record that was read, and deletes it.
void RoundTrip(StackHandle *level, bool wide) {
    zf::Check(!ZERA_boHandleCheck(level, 0) && level->dwMagic == 0 && level->boWide == (wide ? 1 : 0));
    const std::vector<uint8_t> first = Write(level);
    ZERA_HPACKET h = zf::ReadPacket(first.data(), first.size());
    StackHandle *again = nullptr;
    zf::Check(ZERA_boUnmarshalStackHandleLevel(h, &again, wide ? 1 : 0));
    zf::Check(Write(again) == first);
    ZERA_vDeleteStackHandleLevel(again);
    ZERA_boMarshalPacketDelete(h);
    ZERA_vDeleteStackHandleLevel(level);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ZERA_HPACKET h = zf::ReadPacket(data, size);
    if (h == nullptr) return 0;
    for (bool wide : {false, true}) {
        // The bytes as one level record.
        StackHandle keep{};
        StackHandle *level = &keep;
        const bool read = ZERA_boUnmarshalStackHandleLevel(h, &level, wide ? 1 : 0);
        zf::Check(read || level == &keep);
        if (read) RoundTrip(level, wide);

        // The bytes as a description packet: the count byte, then entries.
        ZERA_boMarshalResetReadPos(h);
        uint8_t count = 0;
        zf::Check(ZERA_boUnmarshalByte(h, &count));
        uint32_t status = 0;
        for (;;) {
            level = &keep;
            char *name = nullptr;
            WCHAR16 *wideName = nullptr;
            const bool entry = wide ? ZERA_boUnmarshalStackDescriptionEntryW(h, &level, &status, &wideName)
                                    : ZERA_boUnmarshalStackDescriptionEntryA(h, &level, &status, &name);
            ZERA_vFree(name);
            ZERA_vFree(wideName);
            zf::Check(entry || level == &keep);
            if (!entry) break;
            RoundTrip(level, wide);
        }
        ZERA_boMarshalResetReadPos(h);
    }
    ZERA_boMarshalPacketDelete(h);
    return 0;
}
