// fuzz/event_reader.cpp - events read from arbitrary bytes, with narrow and
// wide attachments. A failed read leaves no event; an event that reads back
// writes again, and its bytes read and written twice more come out the same
// (each read reverses the attachments, so two reads restore their order).
// Claimed sizes of any magnitude are fed in: an event read never has an area
// larger than its packet could fill.
#include "fuzz_util.h"

namespace {

std::vector<uint8_t> Write(Event *ev) {
    return zf::Written([ev](ZERA_HPACKET out) { return ZERA_boMarshalZERAEvent(out, ev); });
}

Event *Read(const std::vector<uint8_t> &bytes, bool wide) {
    ZERA_HPACKET h = zf::ReadPacket(bytes.data(), bytes.size());
    Event *ev = nullptr;
    zf::Check(ZERA_boUnmarshalZERAEvent(h, &ev, wide ? 1 : 0));
    zf::Check(ZERA_i32MarshalGetCurReadPos(h) == ZERA_i32MarshalGetDataSize(h));
    ZERA_boMarshalPacketDelete(h);
    return ev;
}

// No packet costs much more memory than its own size: an area is allocated
// only when the bytes could fill it (an item list's densest items take 5
// bytes on the wire for 12 in the area).
bool AreaBoundedBy(const Event *ev, size_t size) {
    const uint64_t area = ev->i32Type == ZERA_EVENT_ITEMS ? ev->dwItemsSize
                          : ev->i32Type < ZERA_EVENT_ITEMS ? ev->dwDataSize
                                                           : 0;
    return area * 5 <= uint64_t{size} * 12;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (bool wide : {false, true}) {
        ZERA_HPACKET h = zf::ReadPacket(data, size);
        if (h == nullptr) return 0;
        Event *ev = reinterpret_cast<Event *>(1);
        const bool read = ZERA_boUnmarshalZERAEvent(h, &ev, wide ? 1 : 0);
        zf::Check(read == (ev != nullptr));
        ZERA_boMarshalPacketDelete(h);
        if (!read) continue;
        zf::Check(AreaBoundedBy(ev, size));
        Event *copy = ZERA_pstCloneEvent(ev);  // a copy of whatever was read is an ordinary event
        zf::Check(copy != nullptr);
        ZERA_boDeleteEvent(copy);
        const std::vector<uint8_t> first = Write(ev);
        Event *second = Read(first, wide);
        Event *third = Read(Write(second), wide);
        zf::Check(Write(third) == first);
        ZERA_boDeleteEvent(third);
        ZERA_boDeleteEvent(second);
        ZERA_boDeleteEvent(ev);
    }
    return 0;
}
