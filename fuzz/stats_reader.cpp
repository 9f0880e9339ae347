// fuzz/stats_reader.cpp - statistics blocks read from arbitrary bytes: a
// read stops at the first missing item with the items before it stored; a
// block that reads back writes exactly the 56 bytes it came from.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ZERA_HPACKET h = zf::ReadPacket(data, size);
    if (h == nullptr) return 0;
    uint32_t block[ZERA_STATS_WORDS] = {};
    const bool read = ZERA_boUnmarshalStatistics(h, block);
    zf::Check(read == (size >= 56));
    if (read) {
        const std::vector<uint8_t> written =
            zf::Written([&block](ZERA_HPACKET out) { return ZERA_boMarshalStatistics(out, block); });
        zf::Check(written == std::vector<uint8_t>(data, data + 56));
    } else {
        // Whole DWords read before the cut are in the block, in network order.
        for (size_t i = 0; i < 12 && 4 * (i + 1) <= size; ++i) {
            const uint32_t expected = uint32_t{data[4 * i]} << 24 | uint32_t{data[4 * i + 1]} << 16 |
                                      uint32_t{data[4 * i + 2]} << 8 | data[4 * i + 3];
            zf::Check(block[i] == expected);
        }
    }
    ZERA_boMarshalPacketDelete(h);
    return 0;
}
