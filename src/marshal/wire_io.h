// marshal/wire_io.h - how the marshalling files move items in and out of a
// packet without a call or a check per unit.
//
// Writing: an encoding is a template over its sink and runs twice, first
// into a WireCounter, which only adds up the bytes (and so learns where a
// refusal part way would stop), then, after one EnsureRoom for exactly that
// many bytes, into a WireWriter that stores straight into the buffer. The
// packet therefore grows at most once per item written through Emit, and a
// refusal leaves the same bytes behind as a unit-by-unit writer would.
//
// Reading: ReadFixed checks once that a record's fixed-width run is there
// and then reads it without further checks (RunReader); when the packet is
// shorter it reads unit by unit (UnitReader), so that a short packet fails
// at the same unit, with the same code and position, as it always has.
//
// Internal: included by the encodings only (src/marshal, event/event_wire.cpp,
// stack/level_wire.cpp). No state beyond the packet.
#ifndef ZERA_MARSHAL_WIRE_IO_H
#define ZERA_MARSHAL_WIRE_IO_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/byte_order.h"
#include "marshal/marshal.h"

namespace zera {

// ---- Writing ---------------------------------------------------------------

// The first run of an encoding: counts the bytes it would write, and keeps
// the lengths of the first strings it measures for the second run, so that
// each string is measured once.
struct WireCounter {
    static constexpr bool kWrites = false;
    static constexpr size_t kKeptLengths = 64;
    size_t bytes = 0;
    size_t lengths[kKeptLengths];
    size_t kept = 0;

    template <typename T>
    void Unit(T) { bytes += sizeof(T); }
    void QWord(const void *) { bytes += 8; }
    void Raw(const void *, size_t n) { bytes += n; }
    void Narrowed(const WCHAR16 *, size_t n) { bytes += n; }
    template <typename C>
    size_t Length(const C *s) {
        const size_t n = StringUnits(s);
        if (kept < kKeptLengths) lengths[kept++] = n;
        return n;
    }
};

// The second run: stores at `at`, which has room for everything the
// counter counted; asks for the strings' lengths in the same order.
struct WireWriter {
    static constexpr bool kWrites = true;
    uint8_t *at;
    const size_t *lengths = nullptr;
    size_t kept = 0, next = 0;

    template <typename C>
    size_t Length(const C *s) {
        return next < kept ? lengths[next++] : StringUnits(s);
    }
    // Every store goes through a copy of the position, which is then moved
    // on: the bytes stored could alias the position itself, and reading it
    // back after them would cost a reload per store.

    // One unit of 1, 2, 4 or 8 bytes (8: a double, as one 64-bit unit).
    template <typename T>
    void Unit(T v) {
        static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8, "unit width");
        uint8_t *p = at;
        if constexpr (sizeof(T) == 1) {
            std::memcpy(p, &v, 1);
        } else if constexpr (sizeof(T) == 2) {
            uint16_t u;
            std::memcpy(&u, &v, 2);
            StoreNetwork16(p, u);
        } else if constexpr (sizeof(T) == 4) {
            uint32_t u;
            std::memcpy(&u, &v, 4);
            StoreNetwork32(p, u);
        } else {
            uint64_t u;
            std::memcpy(&u, &v, 8);
            StoreNetwork64(p, u);
        }
        at = p + sizeof(T);
    }
    // An 8-byte QWord or TimeVal: the second 32-bit word as it lies in
    // memory first, then the first.
    void QWord(const void *host) {
        uint32_t words[2];
        std::memcpy(words, host, sizeof words);
        uint8_t *p = at;
        StoreNetwork32(p, words[1]);
        StoreNetwork32(p + 4, words[0]);
        at = p + 8;
    }
    // Names and short strings are most of what is copied: up to 16 bytes go
    // as two overlapping loads and stores, without a call.
    void Raw(const void *data, size_t n) {
        const uint8_t *from = static_cast<const uint8_t *>(data);
        uint8_t *p = at;
        if (n >= 8 && n <= 16) {
            uint64_t head, tail;
            std::memcpy(&head, from, 8);
            std::memcpy(&tail, from + n - 8, 8);
            std::memcpy(p, &head, 8);
            std::memcpy(p + n - 8, &tail, 8);
        } else if (n >= 4 && n < 8) {
            uint32_t head, tail;
            std::memcpy(&head, from, 4);
            std::memcpy(&tail, from + n - 4, 4);
            std::memcpy(p, &head, 4);
            std::memcpy(p + n - 4, &tail, 4);
        } else if (n > 0) {
            std::memcpy(p, from, n);
        }
        at = p + n;
    }
    // n wide units as one byte each; units above 0xFF become '?'.
    void Narrowed(const WCHAR16 *units, size_t n) {
        uint8_t *p = at;
        for (size_t i = 0; i < n; ++i) p[i] = units[i] > 0xFF ? '?' : static_cast<uint8_t>(units[i]);
        at = p + n;
    }
};

// Runs encode(sink) -> bool twice as described above and gives its result.
// An encoding refused before its first byte touches nothing (not even a
// null packet's check); otherwise EnsureRoom's failure (1027, 1034, 1026)
// leaves the packet as it was.
template <typename Encode>
bool Emit(MarshalPacket *p, Encode &&encode) {
    WireCounter counter;
    const bool ok = encode(counter);
    if (!ok && counter.bytes == 0) return false;
    if (!EnsureRoom(p, static_cast<int64_t>(counter.bytes))) return false;
    WireWriter writer{WriteEnd(p), counter.lengths, counter.kept};
    encode(writer);
    p->i32DataSize += static_cast<int32_t>(counter.bytes);
    return ok;
}

// A narrow string as a byte stream of its bytes and its NUL; a null string
// as the length 0 alone. False with 1034 for one too long for the wire.
template <typename Out>
bool PutString(Out &out, const char *s) {
    if (s == nullptr) {
        out.Unit(uint32_t{0});
        return true;
    }
    const size_t len = out.Length(s) + 1;
    if (len > INT32_MAX) return Fail(OSAL_ERR_INVALID_SIZE);
    out.Unit(static_cast<uint32_t>(len));
    out.Raw(s, len);
    return true;
}

// A wide string as exactly the narrow string of one byte per unit.
template <typename Out>
bool PutWideString(Out &out, const WCHAR16 *s) {
    if (s == nullptr) {
        out.Unit(uint32_t{0});
        return true;
    }
    const size_t units = out.Length(s);
    if (units >= INT32_MAX) return Fail(OSAL_ERR_INVALID_SIZE);
    out.Unit(static_cast<uint32_t>(units + 1));
    out.Narrowed(s, units);
    out.Unit(uint8_t{0});
    return true;
}

// The records of a parameter list (DWord N, then the records up to the end
// record) as ZERA_boMarshalParamListA/W write them, for the event encoding.
// Only the writing run clears change marks. Defined in param_wire.cpp for
// the two sinks above.
template <typename Out>
bool EncodeParamList(Out &out, Param *list, bool changedOnly, bool wide);

// ---- Reading ---------------------------------------------------------------

inline int32_t FailLength(uint32_t code) {
    OSAL_vSetLastError(code);
    return -1;
}

inline int32_t Unread(const MarshalPacket *p) { return p->i32DataSize - p->i32CurReadPos; }

// Reads a stream's length (a multiple of `unit`) and checks that its bytes
// are there; the bytes are not consumed. -1 with 1032 (short) or 1034
// (negative, or no whole number of units); the read position then stands
// behind the length if that was read. p must not be null.
inline int32_t ReadStreamLength(MarshalPacket *p, int32_t unit) {
    if (Unread(p) < 4) return FailLength(OSAL_ERR_SHORT_PACKET);
    const int32_t len = static_cast<int32_t>(LoadNetwork32(ReadPos(p)));
    p->i32CurReadPos += 4;
    if (len < 0 || len % unit != 0) return FailLength(OSAL_ERR_INVALID_SIZE);
    if (Unread(p) < len) return FailLength(OSAL_ERR_SHORT_PACKET);
    return len;
}

// Reads a string into a new heap block for the caller: a narrow copy, or
// wide, one unit per byte up to the first NUL. Gives the length without the
// NUL (the number of wide units), or 0 with *s null for a null string. A
// stream whose last byte is not NUL is no string this system writes: -1
// with 1034 (so the result is always a terminated string); -1 with 1032
// (short) or 1026 (memory) otherwise. After a failure *s is unchanged and
// the position stands behind the length, if that was read. p not null.
template <typename C>
int32_t ReadString(MarshalPacket *p, C **s) {
    const int32_t len = ReadStreamLength(p, 1);
    if (len <= 0) {
        if (len == 0) *s = nullptr;
        return len;
    }
    const uint8_t *bytes = ReadPos(p);
    if (bytes[len - 1] != 0) return FailLength(OSAL_ERR_INVALID_SIZE);
    C *copy = static_cast<C *>(Alloc(static_cast<size_t>(len) * sizeof(C)));
    if (copy == nullptr) return FailLength(OSAL_ERR_NO_MEMORY);
    int32_t result = len - 1;
    if constexpr (sizeof(C) == 1) {
        std::memcpy(copy, bytes, static_cast<size_t>(len));
    } else {
        int32_t units = 0;
        for (; bytes[units] != 0; ++units) copy[units] = bytes[units];
        copy[units] = 0;
        result = units;
    }
    p->i32CurReadPos += len;
    *s = copy;
    return result;
}

// Reads over bytes known to be there.
struct RunReader {
    const uint8_t *at;

    template <typename T>
    bool Unit(T &v) {
        static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8, "unit width");
        if constexpr (sizeof(T) == 1) {
            std::memcpy(&v, at, 1);
        } else if constexpr (sizeof(T) == 2) {
            const uint16_t u = LoadNetwork16(at);
            std::memcpy(&v, &u, 2);
        } else if constexpr (sizeof(T) == 4) {
            const uint32_t u = LoadNetwork32(at);
            std::memcpy(&v, &u, 4);
        } else {
            const uint64_t u = LoadNetwork64(at);
            std::memcpy(&v, &u, 8);
        }
        at += sizeof(T);
        return true;
    }
    bool QWord(void *host) {
        const uint32_t words[2] = {LoadNetwork32(at + 4), LoadNetwork32(at)};
        std::memcpy(host, words, sizeof words);
        at += 8;
        return true;
    }
};

// Reads unit by unit: a unit that is not all there fails with 1032 and
// leaves the position in front of it.
struct UnitReader {
    MarshalPacket *p;

    template <typename T>
    bool Unit(T &v) {
        if (p->i32DataSize - p->i32CurReadPos < static_cast<int32_t>(sizeof(T))) return Fail(OSAL_ERR_SHORT_PACKET);
        RunReader in{ReadPos(p)};
        in.Unit(v);
        p->i32CurReadPos += static_cast<int32_t>(sizeof(T));
        return true;
    }
    // As two DWord units; when the second is short the first stays
    // consumed and the host value is not changed.
    bool QWord(void *host) {
        uint32_t words[2];
        if (!Unit(words[1]) || !Unit(words[0])) return false;
        std::memcpy(host, words, sizeof words);
        return true;
    }
};

// Reads a byte and widens it with its sign, as the wire's small fields are.
template <typename In>
bool SignedByte(In &in, uint32_t *value) {
    int8_t byte = 0;
    if (!in.Unit(byte)) return false;
    *value = static_cast<uint32_t>(static_cast<int32_t>(byte));
    return true;
}

// Runs read(source) -> bool over the next `bytes` bytes at most: checked
// once when they are all there, else unit by unit. p must not be null.
template <typename Read>
bool ReadFixed(MarshalPacket *p, uint32_t bytes, Read &&read) {
    if (int64_t{p->i32DataSize} - p->i32CurReadPos >= bytes) {
        const uint8_t *start = ReadPos(p);
        RunReader in{start};
        const bool ok = read(in);
        p->i32CurReadPos += static_cast<int32_t>(in.at - start);
        return ok;
    }
    UnitReader in{p};
    return read(in);
}

}  // namespace zera

#endif  // ZERA_MARSHAL_WIRE_IO_H
