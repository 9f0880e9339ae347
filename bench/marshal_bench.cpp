// bench/marshal_bench.cpp - throughput of the wire encoding: a realistic
// parameter list (10 parameters of mixed types with value chains) and raw
// word and double-word streams, encoded and decoded, each beside a plain
// memcpy of the same number of bytes as the floor. Reported in bytes/s.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "marshal/marshal.h"

namespace {

// Ten parameters as a component's definition would have them: names with
// help texts, strings, integers and reals, ranges and permitted values.
Param *MakeList() {
    Param *list = nullptr;
    uint32_t n = 0;
    ParamValue **cur = nullptr;
    ZERA_boCreateParListA(&list);
    ZERA_boAddParamA(1, 0, &list, &n, &cur, 0, 1, 0x10, 0, 1, "Mode\0Operating mode of the sender", "continuous");
    ZERA_boAddValueA(&cur, 0, 1, 0, "continuous", nullptr);
    ZERA_boAddValueA(&cur, 0, 2, 0, "burst", nullptr);
    ZERA_boAddValueA(&cur, 0, 3, 0, "idle", nullptr);
    ZERA_boAddParamA(1, 0, &list, &n, &cur, 1, 2, 0x10, 1, 1, "Gain\0Amplifier gain in dB", 12u);
    ZERA_boAddValueA(&cur, 1, 0, 1, 0u, 40u);
    ZERA_boAddParamA(1, 0, &list, &n, &cur, 3, 5, 0x10, 2, 1, "SampleRate\0Samples per second", 48000.0);
    ZERA_boAddValueA(&cur, 3, 0, 1, 8000.0, 192000.0);
    ZERA_boAddParamA(1, 0, &list, &n, &cur, 2, 0, 0, 3, 0, "ChannelMask", 0x0000FFFFu);
    ZERA_boAddParamA(1, 0, &list, &n, &cur, 0, 7, 0x10, 4, 1, "Device\0Name of the capture device", "hw:0,0");
    ZERA_boAddValueA(&cur, 0, 0, 0, "hw:0,0", nullptr);
    ZERA_boAddValueA(&cur, 0, 0, 0, "hw:1,0", nullptr);
    ZERA_boAddParamA(1, 0, &list, &n, &cur, 1, 3, 0, 5, 0, "BufferFrames", 1024u);
    ZERA_boAddValueA(&cur, 1, 0, 1, 64u, 8192u);
    ZERA_boAddValueA(&cur, 1, 1, 0, 0u, 0u);
    ZERA_boAddParamA(1, 0, &list, &n, &cur, 3, 1, 0x10, 6, 1, "Threshold\0Trigger level", -0.5);
    ZERA_boAddValueA(&cur, 3, 0, 1, -1.0, 1.0);
    ZERA_boAddParamA(1, 0, &list, &n, &cur, 1, 4, 0, 7, 0, "RetryCount", 3u);
    ZERA_boAddParamA(1, 0, &list, &n, &cur, 0, 1, 0x10, 8, 1, "Codec\0Compression of the payload", "pcm16");
    ZERA_boAddValueA(&cur, 0, 0, 1, "a", "z");
    ZERA_boAddParamA(1, 0, &list, &n, &cur, 3, 6, 0, 9, 0, "Latency", 0.0125);
    return list;
}

ZERA_HPACKET EncodedList(Param *list) {
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ZERA_boMarshalParamListA(h, list, 0);
    return h;
}

void BM_ParamListEncode(benchmark::State &state) {
    Param *list = MakeList();
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    for (auto _ : state) {
        zera::ToPacket(h)->i32DataSize = 0;
        benchmark::DoNotOptimize(ZERA_boMarshalParamListA(h, list, 0));
    }
    state.SetBytesProcessed(state.iterations() * ZERA_i32MarshalGetDataSize(h));
    ZERA_boMarshalPacketDelete(h);
    ZERA_vDeleteParamListA(list);
}
BENCHMARK(BM_ParamListEncode);

void BM_ParamListDecode(benchmark::State &state) {
    Param *list = MakeList();
    ZERA_HPACKET h = EncodedList(list);
    for (auto _ : state) {
        ZERA_boMarshalResetReadPos(h);
        Param *back = nullptr;
        benchmark::DoNotOptimize(ZERA_boUnmarshalParamListA(h, &back));
        ZERA_vDeleteParamListA(back);
    }
    state.SetBytesProcessed(state.iterations() * ZERA_i32MarshalGetDataSize(h));
    ZERA_boMarshalPacketDelete(h);
    ZERA_vDeleteParamListA(list);
}
BENCHMARK(BM_ParamListDecode);

void BM_ParamListMemcpyFloor(benchmark::State &state) {
    Param *list = MakeList();
    ZERA_HPACKET h = EncodedList(list);
    std::vector<uint8_t> from(static_cast<size_t>(ZERA_i32MarshalGetDataSize(h))), to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(from.size()));
    ZERA_boMarshalPacketDelete(h);
    ZERA_vDeleteParamListA(list);
}
BENCHMARK(BM_ParamListMemcpyFloor);

// Raw scalar streams of state.range(0) data bytes.
void BM_WordStreamEncode(benchmark::State &state) {
    std::vector<uint16_t> words(static_cast<size_t>(state.range(0)) / 2, 0x1234);
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    for (auto _ : state) {
        zera::ToPacket(h)->i32DataSize = 0;
        benchmark::DoNotOptimize(ZERA_boMarshalWordStream(h, words.data(), static_cast<int32_t>(state.range(0))));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    ZERA_boMarshalPacketDelete(h);
}
BENCHMARK(BM_WordStreamEncode)->Arg(4096)->Arg(65536);

void BM_WordStreamDecode(benchmark::State &state) {
    std::vector<uint16_t> words(static_cast<size_t>(state.range(0)) / 2, 0x1234), out(words.size());
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ZERA_boMarshalWordStream(h, words.data(), static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        ZERA_boMarshalResetReadPos(h);
        uint16_t *into = out.data();
        benchmark::DoNotOptimize(ZERA_i32UnmarshalWordStream(h, &into, 0));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    ZERA_boMarshalPacketDelete(h);
}
BENCHMARK(BM_WordStreamDecode)->Arg(4096)->Arg(65536);

void BM_DWordStreamEncode(benchmark::State &state) {
    std::vector<uint32_t> dwords(static_cast<size_t>(state.range(0)) / 4, 0x12345678);
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    for (auto _ : state) {
        zera::ToPacket(h)->i32DataSize = 0;
        benchmark::DoNotOptimize(ZERA_boMarshalDWordStream(h, dwords.data(), static_cast<int32_t>(state.range(0))));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    ZERA_boMarshalPacketDelete(h);
}
BENCHMARK(BM_DWordStreamEncode)->Arg(4096)->Arg(65536);

void BM_DWordStreamDecode(benchmark::State &state) {
    std::vector<uint32_t> dwords(static_cast<size_t>(state.range(0)) / 4, 0x12345678), out(dwords.size());
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ZERA_boMarshalDWordStream(h, dwords.data(), static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        ZERA_boMarshalResetReadPos(h);
        uint32_t *into = out.data();
        benchmark::DoNotOptimize(ZERA_i32UnmarshalDWordStream(h, &into, 0));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    ZERA_boMarshalPacketDelete(h);
}
BENCHMARK(BM_DWordStreamDecode)->Arg(4096)->Arg(65536);

void BM_StreamMemcpyFloor(benchmark::State &state) {
    std::vector<uint8_t> from(static_cast<size_t>(state.range(0)), 0x5A), to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StreamMemcpyFloor)->Arg(4096)->Arg(65536);

}  // namespace

BENCHMARK_MAIN();
