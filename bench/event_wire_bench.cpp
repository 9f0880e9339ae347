// bench/event_wire_bench.cpp - throughput of events on the wire: a type-1
// data event with a 256-byte payload and two attachments of five parameters
// each (633 bytes), written to and read back from a packet. Beside it, in the
// same run: the same bytes written by a hand-written big-endian writer into
// a raw buffer, read by a hand-written checked reader (bench/wire_peer.h),
// and copied by memcpy. Reported in events/s (items) and bytes/s.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "marshal/marshal.h"
#include "wire_peer.h"

namespace {

// Five parameters of mixed types, as a component attaches them.
void AttachFive(Event *ev, uint8_t level, uint8_t selector) {
    Attachment *node = *ZERA_ppstCheckParListA(ev, level, selector, 1, 0);
    uint32_t n = 0;
    ParamValue **cur = nullptr;
    ZERA_boAddParamA(1, 0, &node->pParList, &n, &cur, 1, 2, 0x10, 0, 0, "Gain", 12u);
    ZERA_boAddParamA(1, 0, &node->pParList, &n, &cur, 3, 5, 0x10, 0, 0, "SampleRate", 48000.0);
    ZERA_boAddParamA(1, 0, &node->pParList, &n, &cur, 0, 1, 0x10, 0, 0, "Codec", "pcm16");
    ZERA_boAddParamA(1, 0, &node->pParList, &n, &cur, 2, 0, 0x10, 0, 0, "ChannelMask", 0x0000FFFFu);
    ZERA_boAddParamA(1, 0, &node->pParList, &n, &cur, 0, 7, 0x10, 0, 0, "Device", "hw:0,0");
}

Event *MakeEvent() {
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_DATA, 2, 256);
    for (uint32_t i = 0; i < 256; ++i) ev->pbData[i] = static_cast<uint8_t>(i);
    ev->dwEventId = 0x1234;
    ev->stTimeStamp = TimeVal{0x80001000, 0};
    ev->u64Aux1 = 0x1122334455667788ull;
    AttachFive(ev, 3, 0);
    AttachFive(ev, 4, 1);
    return ev;
}

// The event's packet as every write after the first gives it (the first
// carries the change marks of new lists, and clears them).
std::vector<uint8_t> EncodedBytes(Event *ev) {
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ZERA_boMarshalZERAEvent(h, ev);
    zera::ToPacket(h)->i32DataSize = 0;
    ZERA_boMarshalZERAEvent(h, ev);
    const uint8_t *data = static_cast<const uint8_t *>(ZERA_pvMarshalGetStartOfData(h));
    std::vector<uint8_t> bytes(data, data + ZERA_i32MarshalGetDataSize(h));
    ZERA_boMarshalPacketDelete(h);
    return bytes;
}

void Report(benchmark::State &state, int64_t bytes) {
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["packet_bytes"] = static_cast<double>(bytes);
}

void BM_EventEncode(benchmark::State &state) {
    Event *ev = MakeEvent();
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    for (auto _ : state) {
        zera::ToPacket(h)->i32DataSize = 0;
        benchmark::DoNotOptimize(ZERA_boMarshalZERAEvent(h, ev));
    }
    Report(state, ZERA_i32MarshalGetDataSize(h));
    ZERA_boMarshalPacketDelete(h);
    ZERA_boDeleteEvent(ev);
}
BENCHMARK(BM_EventEncode);

void BM_EventEncodeByHand(benchmark::State &state) {
    Event *ev = MakeEvent();
    const std::vector<uint8_t> bytes = EncodedBytes(ev);
    const peer::Event same = peer::EventOf(ev);
    peer::TimeHandWriter(state, bytes, [&same](peer::Out &out) { peer::WriteEvent(out, same); });
    Report(state, static_cast<int64_t>(bytes.size()));
    ZERA_boDeleteEvent(ev);
}
BENCHMARK(BM_EventEncodeByHand);

void BM_EventDecode(benchmark::State &state) {
    Event *ev = MakeEvent();
    const std::vector<uint8_t> bytes = EncodedBytes(ev);
    ZERA_HPACKET h = peer::ReadingPacket(bytes);
    for (auto _ : state) {
        ZERA_boMarshalResetReadPos(h);
        Event *back = nullptr;
        benchmark::DoNotOptimize(ZERA_boUnmarshalZERAEvent(h, &back, 0));
        ZERA_boDeleteEvent(back);
    }
    Report(state, static_cast<int64_t>(bytes.size()));
    ZERA_boMarshalPacketDelete(h);
    ZERA_boDeleteEvent(ev);
}
BENCHMARK(BM_EventDecode);

void BM_EventDecodeChecked(benchmark::State &state) {
    Event *ev = MakeEvent();
    const std::vector<uint8_t> bytes = EncodedBytes(ev);
    peer::TimeCheckedReader<peer::Event>(state, bytes, peer::ReadEvent);
    Report(state, static_cast<int64_t>(bytes.size()));
    ZERA_boDeleteEvent(ev);
}
BENCHMARK(BM_EventDecodeChecked);

void BM_EventMemcpy(benchmark::State &state) {
    Event *ev = MakeEvent();
    const std::vector<uint8_t> bytes = EncodedBytes(ev);
    peer::TimeMemcpy(state, bytes);
    Report(state, static_cast<int64_t>(bytes.size()));
    ZERA_boDeleteEvent(ev);
}
BENCHMARK(BM_EventMemcpy);

}  // namespace

BENCHMARK_MAIN();
