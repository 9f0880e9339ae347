// bench/wire_peer.h - the peers the marshalling benchmarks measure the
// library against in the same run: the same bytes written by hand into a
// raw buffer (byte-swapped stores, the buffer sized once, no checks),
// and read back by a hand-written reader that checks every read against
// the end of the bytes. The peer's records are what a hand-written codec in
// C++ would keep: std::string and std::vector, owning what was read.
// Included by bench/marshal_bench.cpp and bench/event_wire_bench.cpp only.
#ifndef ZERA_BENCH_WIRE_PEER_H
#define ZERA_BENCH_WIRE_PEER_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"

namespace peer {

// ---- Records ----------------------------------------------------------------

struct Scalar {  // by the parameter's type: str (0), dw (1, 2) or real (3)
    bool null = false;
    std::string str;
    uint32_t dw = 0;
    double real = 0;
};

struct Value {
    uint8_t kind = 0;
    Scalar from, to;
    uint32_t tag = 0;
};

struct Param {
    bool terminator = false;
    std::string name, text;
    uint8_t type = 1, access = 0, attributes = 0, flags = 0, tag = 0;
    Scalar value;
    std::vector<Value> chain;
};

using List = std::vector<Param>;  // the terminator included

struct Attachment {
    uint8_t level = 0, selector = 0;
    List list;
};

// A data event (types 0 to 2).
struct Event {
    uint8_t type = 0, level = 0, error = 0;
    uint32_t id = 0, flags = 0;
    uint64_t stamp = 0, aux1 = 0, aux2 = 0, period = 0;  // TimeVals: seconds in the upper half
    std::vector<Attachment> attachments;
    uint8_t options = 0, aux3 = 0, queueOp = 0;
    uint16_t repeat = 0;
    std::vector<uint8_t> data;
};

// ---- Writing ----------------------------------------------------------------

// Byte-swapped stores, as htons/htonl would give them on the little-endian
// machines the benchmarks run on.
struct Out {
    uint8_t *at;
    void U8(uint32_t v) { *at++ = static_cast<uint8_t>(v); }
    void U16(uint32_t v) {
        const uint16_t be = __builtin_bswap16(static_cast<uint16_t>(v));
        std::memcpy(at, &be, 2);
        at += 2;
    }
    void U32(uint32_t v) {
        const uint32_t be = __builtin_bswap32(v);
        std::memcpy(at, &be, 4);
        at += 4;
    }
    void U64(uint64_t v) { U32(static_cast<uint32_t>(v >> 32)), U32(static_cast<uint32_t>(v)); }
    void Real(double r) {
        uint64_t v;
        std::memcpy(&v, &r, 8);
        U64(v);
    }
    void Bytes(const void *p, size_t n) {
        std::memcpy(at, p, n);
        at += n;
    }
    void Text(const std::string &s) {  // the string and its NUL
        U32(static_cast<uint32_t>(s.size() + 1));
        Bytes(s.c_str(), s.size() + 1);
    }
};

inline void WriteScalar(Out &o, uint8_t type, const Scalar &s) {
    if (type == ZERA_PARAM_STRING) {
        s.null ? o.U32(0) : o.Text(s.str);
    } else if (type == ZERA_PARAM_REAL) {
        o.Real(s.real);
    } else {
        o.U32(s.dw);
    }
}

inline void WriteList(Out &o, const List &list) {
    o.U32(static_cast<uint32_t>(list.size()));
    for (const Param &p : list) {
        if (p.terminator) {
            o.U32(0), o.U8(p.type), o.U8(p.flags);
            continue;
        }
        o.U32(static_cast<uint32_t>(p.name.size() + p.text.size() + 2));
        o.Bytes(p.name.c_str(), p.name.size() + 1);
        o.Bytes(p.text.c_str(), p.text.size() + 1);
        o.U8(p.type), o.U8(p.access), o.U8(p.attributes), o.U8(p.flags), o.U8(p.tag);
        WriteScalar(o, p.type, p.value);
        o.U32(static_cast<uint32_t>(p.chain.size()));
        for (const Value &v : p.chain) {
            o.U8(v.kind);
            WriteScalar(o, p.type, v.from);
            if (v.kind == ZERA_VALUE_RANGE) WriteScalar(o, p.type, v.to);
            o.U32(v.tag);
        }
    }
}

inline void WriteEvent(Out &o, const Event &e) {
    o.U8(e.type), o.U8(e.level), o.U8(e.error), o.U32(static_cast<uint32_t>(e.data.size()));
    o.U32(e.id), o.U64(e.stamp), o.U32(e.flags);
    for (const Attachment &a : e.attachments) {
        o.U8(a.level), o.U8(a.selector);
        WriteList(o, a.list);
    }
    o.U8(0);
    o.U64(e.aux1), o.U64(e.aux2), o.U8(e.options), o.U8(e.aux3), o.U8(e.queueOp), o.U16(e.repeat);
    o.U64(e.period);
    o.U32(static_cast<uint32_t>(e.data.size()));
    o.Bytes(e.data.data(), e.data.size());
}

// ---- Reading, every read checked ------------------------------------------------

struct In {
    const uint8_t *at, *end;
    bool Has(size_t n) const { return static_cast<size_t>(end - at) >= n; }
    bool U8(uint8_t &v) {
        if (!Has(1)) return false;
        v = *at++;
        return true;
    }
    bool U16(uint16_t &v) {
        if (!Has(2)) return false;
        std::memcpy(&v, at, 2);
        v = __builtin_bswap16(v);
        at += 2;
        return true;
    }
    bool U32(uint32_t &v) {
        if (!Has(4)) return false;
        std::memcpy(&v, at, 4);
        v = __builtin_bswap32(v);
        at += 4;
        return true;
    }
    bool U64(uint64_t &v) {
        uint32_t hi, lo;
        if (!U32(hi) || !U32(lo)) return false;
        v = uint64_t{hi} << 32 | lo;
        return true;
    }
    bool Real(double &r) {
        uint64_t v;
        if (!U64(v)) return false;
        std::memcpy(&r, &v, 8);
        return true;
    }
    // A string with its NUL; length 0 is a null string.
    bool Text(std::string &s, bool &null) {
        uint32_t n;
        if (!U32(n) || !Has(n) || (n > 0 && at[n - 1] != 0)) return false;
        null = n == 0;
        s.assign(reinterpret_cast<const char *>(at), n == 0 ? 0 : n - 1);
        at += n;
        return true;
    }
};

inline bool ReadScalar(In &in, uint8_t type, Scalar &s) {
    if (type == ZERA_PARAM_STRING) return in.Text(s.str, s.null);
    if (type == ZERA_PARAM_REAL) return in.Real(s.real);
    return in.U32(s.dw);
}

inline bool ReadList(In &in, List &list) {
    uint32_t n;
    if (!in.U32(n) || !in.Has(size_t{n} * 6)) return false;  // six bytes at least per record
    list.resize(n);
    for (Param &p : list) {
        uint32_t len;
        if (!in.U32(len) || !in.Has(len)) return false;
        if (len == 0) {
            p.terminator = true;
            if (!in.U8(p.type) || !in.U8(p.flags)) return false;
            continue;
        }
        const char *block = reinterpret_cast<const char *>(in.at);
        const void *nul = std::memchr(block, 0, len);
        if (nul == nullptr || block[len - 1] != 0) return false;
        p.name.assign(block, static_cast<const char *>(nul) - block);
        p.text.assign(static_cast<const char *>(nul) + 1, block + len - 1 - (static_cast<const char *>(nul) + 1));
        in.at += len;
        uint32_t count;
        if (!in.U8(p.type) || p.type > ZERA_PARAM_REAL || !in.U8(p.access) || !in.U8(p.attributes) ||
            !in.U8(p.flags) || !in.U8(p.tag) || !ReadScalar(in, p.type, p.value) || !in.U32(count) ||
            !in.Has(size_t{count} * 5))
            return false;
        p.chain.resize(count);
        for (Value &v : p.chain) {
            if (!in.U8(v.kind) || v.kind > ZERA_VALUE_RANGE || !ReadScalar(in, p.type, v.from) ||
                (v.kind == ZERA_VALUE_RANGE && !ReadScalar(in, p.type, v.to)) || !in.U32(v.tag))
                return false;
        }
    }
    return true;
}

inline bool ReadEvent(In &in, Event &e) {
    uint32_t size;
    if (!in.U8(e.type) || e.type > ZERA_EVENT_DATA2 || !in.U8(e.level) || !in.U8(e.error) || !in.U32(size) ||
        !in.Has(size) || !in.U32(e.id) || !in.U64(e.stamp) || !in.U32(e.flags))
        return false;
    for (;;) {
        uint8_t level;
        if (!in.U8(level)) return false;
        if (level == 0) break;
        e.attachments.emplace_back();
        Attachment &a = e.attachments.back();
        a.level = level;
        if (!in.U8(a.selector) || !ReadList(in, a.list)) return false;
    }
    uint32_t len;
    if (!in.U64(e.aux1) || !in.U64(e.aux2) || !in.U8(e.options) || !in.U8(e.aux3) || !in.U8(e.queueOp) ||
        !in.U16(e.repeat) || !in.U64(e.period) || !in.U32(len) || len != size || !in.Has(len))
        return false;
    e.data.assign(in.at, in.at + len);
    in.at += len;
    return true;
}

// ---- The library's records as the peer's (set-up only) -------------------------------

inline Scalar ScalarOf(uint32_t type, const ParamData &d) {
    Scalar s;
    if (type == ZERA_PARAM_STRING) {
        s.null = d.hs == nullptr;
        if (d.hs != nullptr) s.str = d.hs;
    } else if (type == ZERA_PARAM_REAL) {
        s.real = d.r;
    } else {
        s.dw = d.dw;
    }
    return s;
}

// A narrow list, its change flags as they stand.
inline List ListOf(const ::Param *list) {
    List out;
    for (const ::Param *rec = list;; ++rec) {
        Param p;
        p.type = static_cast<uint8_t>(rec->dwType), p.flags = rec->u8ChangeFlags;
        if (rec->pName == nullptr) {
            p.terminator = true;
            out.push_back(p);
            return out;
        }
        const char *name = static_cast<const char *>(rec->pName);
        p.name = name, p.text = name + std::strlen(name) + 1;
        p.access = static_cast<uint8_t>(rec->dwAccess), p.attributes = rec->u8Attributes, p.tag = rec->u8Tag;
        p.value = ScalarOf(rec->dwType, rec->uValue);
        for (const ParamValue *v = rec->pstValues; v != nullptr; v = v->pstNext) {
            p.chain.push_back(Value{static_cast<uint8_t>(v->dwKind), ScalarOf(rec->dwType, v->uFrom),
                                    ScalarOf(rec->dwType, v->uTo), v->dwTag});
        }
        out.push_back(p);
    }
}

inline uint64_t QWordOf(const void *p) {
    uint32_t w[2];
    std::memcpy(w, p, 8);
    return uint64_t{w[1]} << 32 | w[0];
}

// A data event with narrow attachments, in the library's list order.
inline Event EventOf(const ::Event *ev) {
    Event e;
    e.type = static_cast<uint8_t>(ev->i32Type), e.level = ev->u8Level, e.error = ev->u8Error;
    e.id = ev->dwEventId, e.flags = ev->dwFlags, e.stamp = QWordOf(&ev->stTimeStamp);
    for (const ::Attachment *a = ev->pstAttachments; a != nullptr; a = a->pstNext) {
        e.attachments.push_back(Attachment{a->u8Level, a->u8Selector, ListOf(a->pParList)});
    }
    e.aux1 = ev->u64Aux1, e.aux2 = ev->u64Aux2, e.period = QWordOf(&ev->stPeriod);
    e.options = ev->u8Options, e.aux3 = ev->u8Aux3, e.queueOp = ev->u8QueueOp, e.repeat = ev->u16RepeatCount;
    e.data.assign(ev->pbData, ev->pbData + ev->dwDataSize);
    return e;
}

// ---- Timing loops shared by the benchmarks ---------------------------------------------

// Times write(out) into a raw buffer, after checking once that it writes
// exactly `bytes`.
template <typename Write>
void TimeHandWriter(benchmark::State &state, const std::vector<uint8_t> &bytes, Write write) {
    std::vector<uint8_t> buffer(bytes.size());
    Out check{buffer.data()};
    write(check);
    if (buffer != bytes) state.SkipWithError("the hand-written writer writes other bytes");
    for (auto _ : state) {
        Out out{buffer.data()};
        write(out);
        benchmark::DoNotOptimize(out.at);
        benchmark::ClobberMemory();
    }
}

// Times read(in, record) over `bytes` into a new record each time, which is
// destroyed within the loop as the library's results are deleted.
template <typename Record, typename Read>
void TimeCheckedReader(benchmark::State &state, const std::vector<uint8_t> &bytes, Read read) {
    for (auto _ : state) {
        Record back;
        In in{bytes.data(), bytes.data() + bytes.size()};
        benchmark::DoNotOptimize(read(in, back));
    }
}

inline void TimeMemcpy(benchmark::State &state, const std::vector<uint8_t> &bytes) {
    std::vector<uint8_t> to(bytes.size());
    for (auto _ : state) {
        std::memcpy(to.data(), bytes.data(), bytes.size());
        benchmark::ClobberMemory();
    }
}

// A reading packet over a copy of `bytes`.
inline ZERA_HPACKET ReadingPacket(const std::vector<uint8_t> &bytes) {
    void *copy = ZERA_pvMalloc(bytes.size());
    std::memcpy(copy, bytes.data(), bytes.size());
    return ZERA_hMarshalPacketCreate(copy, static_cast<int32_t>(bytes.size()));
}

}  // namespace peer

#endif  // ZERA_BENCH_WIRE_PEER_H
