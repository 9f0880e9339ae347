// bench/marshal_bench.cpp - throughput of the wire encoding: a realistic
// parameter list (10 parameters of mixed types with value chains) and raw
// word and double-word streams, encoded and decoded. Beside each, in the
// same run: the same bytes written by a hand-written big-endian writer into
// a raw buffer and read by a hand-written checked reader (bench/wire_peer.h),
// a memcpy of as many bytes, and for the list's decode the allocator alone
// making and freeing the blocks a decoded list owns. Reported in bytes/s of
// packet.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "marshal/marshal.h"
#include "wire_peer.h"

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

// The list's packet as every write after the first gives it (the first
// carries the change marks of a new list, and clears them).
std::vector<uint8_t> EncodedBytes(Param *list) {
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ZERA_boMarshalParamListA(h, list, 0);
    zera::ToPacket(h)->i32DataSize = 0;
    ZERA_boMarshalParamListA(h, list, 0);
    const uint8_t *data = static_cast<const uint8_t *>(ZERA_pvMarshalGetStartOfData(h));
    std::vector<uint8_t> bytes(data, data + ZERA_i32MarshalGetDataSize(h));
    ZERA_boMarshalPacketDelete(h);
    return bytes;
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

void BM_ParamListEncodeByHand(benchmark::State &state) {
    Param *list = MakeList();
    const std::vector<uint8_t> bytes = EncodedBytes(list);
    const peer::List same = peer::ListOf(list);
    peer::TimeHandWriter(state, bytes, [&same](peer::Out &out) { peer::WriteList(out, same); });
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    ZERA_vDeleteParamListA(list);
}
BENCHMARK(BM_ParamListEncodeByHand);

void BM_ParamListDecode(benchmark::State &state) {
    Param *list = MakeList();
    ZERA_HPACKET h = peer::ReadingPacket(EncodedBytes(list));
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

void BM_ParamListDecodeChecked(benchmark::State &state) {
    Param *list = MakeList();
    const std::vector<uint8_t> bytes = EncodedBytes(list);
    peer::TimeCheckedReader<peer::List>(state, bytes, peer::ReadList);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    ZERA_vDeleteParamListA(list);
}
BENCHMARK(BM_ParamListDecodeChecked);

// The heap blocks a decoded list owns (names, strings, value records, the
// array of one growth step last), made and freed in the order of the
// library's reader and of the list's deletion: what the allocator costs a
// decode before a byte is read.
void BM_ParamListDecodeAllocOnly(benchmark::State &state) {
    Param *list = MakeList();
    std::vector<size_t> sizes;
    for (const Param *rec = list; rec->pName != nullptr; ++rec) {
        const char *name = static_cast<const char *>(rec->pName);
        sizes.push_back(std::strlen(name) + std::strlen(name + std::strlen(name) + 1) + 2);
        const bool text = rec->dwType == ZERA_PARAM_STRING;
        if (text && rec->uValue.hs != nullptr) sizes.push_back(std::strlen(rec->uValue.hs) + 1);
        for (const ParamValue *v = rec->pstValues; v != nullptr; v = v->pstNext) {
            if (text && v->uFrom.hs != nullptr) sizes.push_back(std::strlen(v->uFrom.hs) + 1);
            if (text && v->dwKind == ZERA_VALUE_RANGE && v->uTo.hs != nullptr) sizes.push_back(std::strlen(v->uTo.hs) + 1);
            sizes.push_back(sizeof(ParamValue));
        }
    }
    sizes.push_back(32 * sizeof(Param));
    std::vector<void *> blocks(sizes.size());
    for (auto _ : state) {
        for (size_t i = 0; i < sizes.size(); ++i) blocks[i] = std::malloc(sizes[i]);
        benchmark::DoNotOptimize(blocks.data());
        for (size_t i = sizes.size() - 1; i-- > 0;) std::free(blocks[i]);
        std::free(blocks.back());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(EncodedBytes(list).size()));
    ZERA_vDeleteParamListA(list);
}
BENCHMARK(BM_ParamListDecodeAllocOnly);

void BM_ParamListMemcpy(benchmark::State &state) {
    Param *list = MakeList();
    const std::vector<uint8_t> bytes = EncodedBytes(list);
    peer::TimeMemcpy(state, bytes);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    ZERA_vDeleteParamListA(list);
}
BENCHMARK(BM_ParamListMemcpy);

// Raw scalar streams of state.range(0) data bytes, units of T.
template <typename T>
BOOL8 MarshalStream(ZERA_HPACKET h, const T *units, int32_t len) {
    if constexpr (sizeof(T) == 2) {
        return ZERA_boMarshalWordStream(h, units, len);
    } else {
        return ZERA_boMarshalDWordStream(h, units, len);
    }
}

template <typename T>
int32_t UnmarshalStream(ZERA_HPACKET h, T **units) {
    if constexpr (sizeof(T) == 2) {
        return ZERA_i32UnmarshalWordStream(h, units, 0);
    } else {
        return ZERA_i32UnmarshalDWordStream(h, units, 0);
    }
}

template <typename T>
std::vector<T> Units(const benchmark::State &state) {
    std::vector<T> units(static_cast<size_t>(state.range(0)) / sizeof(T));
    for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<T>(0x12345678u * (i + 1));
    return units;
}

template <typename T>
void BM_StreamEncode(benchmark::State &state) {
    const std::vector<T> units = Units<T>(state);
    const int32_t len = static_cast<int32_t>(state.range(0));
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    for (auto _ : state) {
        zera::ToPacket(h)->i32DataSize = 0;
        benchmark::DoNotOptimize(MarshalStream(h, units.data(), len));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    ZERA_boMarshalPacketDelete(h);
}

template <typename T>
void PutUnit(peer::Out &out, T unit) {
    if constexpr (sizeof(T) == 2) {
        out.U16(unit);
    } else {
        out.U32(unit);
    }
}

template <typename T>
void BM_StreamEncodeByHand(benchmark::State &state) {
    const std::vector<T> units = Units<T>(state);
    std::vector<uint8_t> buffer(static_cast<size_t>(state.range(0)) + 4);
    for (auto _ : state) {
        peer::Out out{buffer.data()};
        out.U32(static_cast<uint32_t>(state.range(0)));
        for (T unit : units) PutUnit(out, unit);
        benchmark::DoNotOptimize(out.at);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

template <typename T>
void BM_StreamDecode(benchmark::State &state) {
    const std::vector<T> units = Units<T>(state);
    std::vector<T> out(units.size());
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    MarshalStream(h, units.data(), static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        ZERA_boMarshalResetReadPos(h);
        T *into = out.data();
        benchmark::DoNotOptimize(UnmarshalStream(h, &into));
    }
    if (out != units) state.SkipWithError("read back wrong");
    state.SetBytesProcessed(state.iterations() * state.range(0));
    ZERA_boMarshalPacketDelete(h);
}

template <typename T>
bool GetUnit(peer::In &in, T &unit) {
    if constexpr (sizeof(T) == 2) {
        return in.U16(unit);
    } else {
        return in.U32(unit);
    }
}

template <typename T>
void BM_StreamDecodeChecked(benchmark::State &state) {
    const std::vector<T> units = Units<T>(state);
    std::vector<uint8_t> bytes(static_cast<size_t>(state.range(0)) + 4);
    peer::Out write{bytes.data()};
    write.U32(static_cast<uint32_t>(state.range(0)));
    for (T unit : units) PutUnit(write, unit);
    std::vector<T> out(units.size());
    for (auto _ : state) {
        peer::In in{bytes.data(), bytes.data() + bytes.size()};
        uint32_t len = 0;
        bool ok = in.U32(len) && in.Has(len) && len == out.size() * sizeof(T);
        for (size_t i = 0; ok && i < out.size(); ++i) ok = GetUnit(in, out[i]);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    if (out != units) state.SkipWithError("read back wrong");
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_StreamMemcpy(benchmark::State &state) {
    peer::TimeMemcpy(state, std::vector<uint8_t>(static_cast<size_t>(state.range(0)), 0x5A));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK_TEMPLATE(BM_StreamEncode, uint16_t)->Arg(4096)->Arg(65536);
BENCHMARK_TEMPLATE(BM_StreamEncodeByHand, uint16_t)->Arg(4096)->Arg(65536);
BENCHMARK_TEMPLATE(BM_StreamDecode, uint16_t)->Arg(4096)->Arg(65536);
BENCHMARK_TEMPLATE(BM_StreamDecodeChecked, uint16_t)->Arg(4096)->Arg(65536);
BENCHMARK_TEMPLATE(BM_StreamEncode, uint32_t)->Arg(4096)->Arg(65536);
BENCHMARK_TEMPLATE(BM_StreamEncodeByHand, uint32_t)->Arg(4096)->Arg(65536);
BENCHMARK_TEMPLATE(BM_StreamDecode, uint32_t)->Arg(4096)->Arg(65536);
BENCHMARK_TEMPLATE(BM_StreamDecodeChecked, uint32_t)->Arg(4096)->Arg(65536);
BENCHMARK(BM_StreamMemcpy)->Arg(4096)->Arg(65536);

}  // namespace

BENCHMARK_MAIN();
