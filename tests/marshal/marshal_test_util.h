// marshal/marshal_test_util.h - helpers for the marshalling tests: a packet
// that deletes itself, expected bytes in network order, a failure check and a
// reader run under failing allocations. Included by tests/marshal only.
#ifndef ZERA_TESTS_MARSHAL_MARSHAL_TEST_UTIL_H
#define ZERA_TESTS_MARSHAL_MARSHAL_TEST_UTIL_H

#include <cstring>
#include <vector>

#include "marshal/marshal.h"
#include "param/param.h"
#include "param/param_test_util.h"
#include "support/refusal.h"

// Expects `failed` (the call's own failure test) to hold with `code` as the
// last error; the error is cleared first, so a code of 0 means none was set.
#define EXPECT_FAILS(failed, code) EXPECT_REFUSED(!(failed), code)

namespace mt {

using Bytes = std::vector<uint8_t>;
using zt::ListBuilder;
using zt::W;

// A writing packet, or a reading one over a copy of `bytes`; deleted at the
// end of its scope.
struct Packet {
    ZERA_HPACKET h;
    Packet() : h(ZERA_hMarshalPacketCreate(nullptr, 0)) {}
    explicit Packet(const Bytes &bytes)
        : h(ZERA_hMarshalPacketCreate(std::memcpy(ZERA_pvMalloc(bytes.size()), bytes.data(), bytes.size()),
                                      static_cast<int32_t>(bytes.size()))) {}
    ~Packet() { ZERA_boMarshalPacketDelete(h); }
    Packet(const Packet &) = delete;
    Packet &operator=(const Packet &) = delete;
    zera::MarshalPacket *p() const { return zera::ToPacket(h); }
    // The bytes written so far.
    Bytes bytes() const {
        const uint8_t *data = static_cast<const uint8_t *>(ZERA_pvMarshalGetStartOfData(h));
        return Bytes(data, data + ZERA_i32MarshalGetDataSize(h));
    }
};

// The bytes write(h) puts into a fresh writing packet; the write must succeed.
template <typename Write>
Bytes Written(Write write) {
    const Packet w;
    EXPECT_TRUE(write(w.h)) << OSAL_pszGetLastErrorText();
    return w.bytes();
}

// The address of a value that lives to the end of the caller's statement.
template <typename T>
const T *Ptr(const T &value) { return &value; }

// Expected packet bytes, built in network order.
struct Wire {
    Bytes b;
    Wire &U8(uint32_t v) { return b.push_back(static_cast<uint8_t>(v)), *this; }
    Wire &U16(uint32_t v) { return U8(v >> 8).U8(v); }
    Wire &U32(uint32_t v) { return U16(v >> 16).U16(v); }
    Wire &U64(uint64_t v) { return U32(static_cast<uint32_t>(v >> 32)).U32(static_cast<uint32_t>(v)); }
    Wire &Raw(const Bytes &x) { return b.insert(b.end(), x.begin(), x.end()), *this; }
};

// Runs read(h, &out) on a reading packet over `bytes` from its start under
// each allocation failure point (zt::SweepAllocFailures): a failure stores
// 1026 and leaves out null; release(out) takes the success.
template <typename T, typename Read, typename Release>
void ReaderFailures(const Bytes &bytes, Read read, Release release) {
    const Packet r(bytes);
    T *out = nullptr;
    auto make = [&] { return r.p()->i32CurReadPos = 0, out = nullptr, read(r.h, &out); };
    zt::SweepAllocFailures(make, [&] { return out; }, [&](bool) { release(out); });
}

}  // namespace mt

#endif  // ZERA_TESTS_MARSHAL_MARSHAL_TEST_UTIL_H
