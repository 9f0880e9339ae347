// marshal/packet_test.cpp - packets, their growth and read checks, scalar
// items, streams and strings: exact bytes, positions and values after
// failures, and failing allocations.
#include "marshal/marshal_test_util.h"

namespace {

using namespace mt;

TEST(MarshalPacket, RefusalsAndGrowthInWholeStepsThatKeepsTheDataWhenItFails) {
    char stack[4];
    uint32_t dw = 0x01020304;
    EXPECT_FAILS(!ZERA_hMarshalPacketCreate(stack, 0), OSAL_ERR_INVALID_ARG);
    zt::SweepAllocFailures([] { return ZERA_hMarshalPacketCreate(nullptr, 0); }, [] { return 0; },
                           [](ZERA_HPACKET h) { EXPECT_TRUE(ZERA_boMarshalPacketDelete(h)); });

    Packet w;
    EXPECT_FAILS(!zera::EnsureRoom(w.p(), INT32_MAX), OSAL_ERR_INVALID_SIZE);  // past the largest signed size
    const Bytes block(4096, 0x42);
    ASSERT_TRUE(ZERA_boMarshalByteStreamRaw(w.h, block.data(), 4096));
    EXPECT_EQ(w.p()->i32BufSize, 4096);  // exactly full
    zt::SweepAllocFailures([&] { return ZERA_boMarshalDWord(w.h, &dw); },
                           [&] { return std::make_pair(ZERA_i32MarshalGetDataSize(w.h), w.p()->i32BufSize); }, [](BOOL8) {});
    EXPECT_TRUE(w.p()->i32BufSize == 8192 && w.bytes()[4095] == 0x42 && w.bytes()[4099] == 0x04);
    EXPECT_TRUE(zera::EnsureRoom(w.p(), 8192 - 4100) && w.p()->i32BufSize == 8192);  // fits: nothing changes
    EXPECT_TRUE(zera::EnsureRoom(w.p(), 12288 - 4100) && w.p()->i32BufSize == 12288);  // a sum on a step stays
}

TEST(MarshalPacket, ScalarBytesInNetworkOrderAndShortReadsKeepPositionAndValue) {
    EXPECT_EQ(Written([](ZERA_HPACKET h) {
                  return ZERA_boMarshalBool(h, Ptr<BOOL8>(7)) && ZERA_boMarshalByte(h, Ptr<uint8_t>(0xAB)) &&
                         ZERA_boMarshalWord(h, Ptr<uint16_t>(0x0102)) && ZERA_boMarshalDWord(h, Ptr(0x0A0B0C0Du)) &&
                         ZERA_boMarshalQWord(h, Ptr(0x0102030405060708ull)) && ZERA_boMarshalReal(h, Ptr(1.0)) &&
                         ZERA_boMarshalTimeVal(h, Ptr(TimeVal{0x11223344u, 0x55667788}));
              }),
              (Bytes{0x01, 0xAB, 0x01, 0x02, 0x0A, 0x0B, 0x0C, 0x0D, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                     0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0x55, 0x66, 0x77, 0x88, 0x11, 0x22, 0x33, 0x44}));  // seconds first

    const Packet read({2, 0, 0, 0, 0, 1, 1, 2, 3, 4, 5, 6});
    BOOL8 a = 9, b = 9;
    uint32_t dw = 0;
    ASSERT_TRUE(ZERA_boUnmarshalBool(read.h, &a) && ZERA_boUnmarshalBool(read.h, &b) &&
                ZERA_boUnmarshalDWord(read.h, &dw));
    EXPECT_TRUE(a == 1 && b == 0 && dw == 1u);  // any non-zero byte reads as 1
    uint64_t qw = 0;
    EXPECT_FAILS(!ZERA_boUnmarshalQWord(read.h, &qw), OSAL_ERR_SHORT_PACKET);
    EXPECT_TRUE(ZERA_i32MarshalGetCurReadPos(read.h) == 10 && qw == 0x0102030400000000ull);  // the first half stays
    dw = 77;
    EXPECT_FAILS(!ZERA_boUnmarshalDWord(read.h, &dw), OSAL_ERR_SHORT_PACKET);
    EXPECT_TRUE(ZERA_i32MarshalGetCurReadPos(read.h) == 10 && dw == 77u);
    EXPECT_TRUE(ZERA_boMarshalResetReadPos(read.h) && ZERA_boUnmarshalBool(read.h, &b) && b == 1);
}

TEST(MarshalStream, StringsAndStreamsExactBytesAndBack) {
    Packet w;
    const char16_t noNarrow[] = {u'x', 0x20AC, 0x00E9, 0};  // the euro sign has no narrow form
    const uint16_t words[] = {0x0102, 0x0304, 0xA0B0};
    const uint32_t dwords[] = {0x01020304, 0xCAFEBABE};
    const uint8_t data[4] = {1, 2, 3, 4}, sentinel = 0x5A;
    ASSERT_TRUE(ZERA_boMarshalHString(w.h, "ab") && ZERA_boMarshalHString(w.h, "") &&
                ZERA_boMarshalHString(w.h, nullptr) && ZERA_boMarshalLString(w.h, W(u"ab")) &&
                ZERA_boMarshalLString(w.h, nullptr) && ZERA_boMarshalLString(w.h, W(noNarrow)) &&
                ZERA_boMarshalWordStream(w.h, words, 4));
    EXPECT_EQ(w.bytes(), (Bytes{0, 0, 0, 3, 'a', 'b', 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 3, 'a', 'b', 0, 0, 0, 0,
                                0, 0, 0, 0, 4, 'x', '?', 0xE9, 0, 0, 0, 0, 4, 1, 2, 3, 4}));
    ASSERT_TRUE(ZERA_boMarshalWordStream(w.h, words, 6) && ZERA_boMarshalDWordStream(w.h, dwords, 8) &&
                ZERA_boMarshalWordStream(w.h, nullptr, 0) && ZERA_boMarshalByte(w.h, &sentinel));

    // The empty string is allocated, the null one is not.
    for (const char *expected : {"ab", "", static_cast<const char *>(nullptr)}) {
        char *s = reinterpret_cast<char *>(&w);
        EXPECT_EQ(ZERA_i32UnmarshalHString(w.h, &s), static_cast<int32_t>(zt::NStr(expected).size()));
        EXPECT_TRUE(expected ? s != nullptr && std::strcmp(s, expected) == 0 : s == nullptr);
        ZERA_vFree(s);
    }
    for (std::u16string expected : {u"ab", u"", u"x?\u00e9"}) {
        WCHAR16 *ws = reinterpret_cast<WCHAR16 *>(&w);
        EXPECT_EQ(ZERA_i32UnmarshalLString(w.h, &ws), static_cast<int32_t>(expected.size()));
        EXPECT_TRUE(expected.empty() ? ws == nullptr : zt::WStr(ws) == expected);
        ZERA_vFree(ws);
    }
    uint16_t *pw = nullptr;
    ASSERT_TRUE(ZERA_i32UnmarshalWordStream(w.h, &pw, 1) == 4 && (ZERA_vFree(pw), true));
    ASSERT_EQ(ZERA_i32UnmarshalWordStream(w.h, &pw, 1), 6);
    EXPECT_EQ(std::memcmp(pw, words, 6), 0);
    ZERA_vFree(pw);
    uint32_t into[2] = {};
    uint32_t *pd = into;
    ASSERT_EQ(ZERA_i32UnmarshalDWordStream(w.h, &pd, 0), 8);  // into the caller's buffer
    EXPECT_TRUE(pd == into && into[1] == 0xCAFEBABEu);
    pw = reinterpret_cast<uint16_t *>(&w);
    ASSERT_EQ(ZERA_i32UnmarshalWordStream(w.h, &pw, 0), 0);
    EXPECT_EQ(pw, nullptr);  // length 0 gives null in both modes
    uint8_t after = 0;
    EXPECT_TRUE(ZERA_boUnmarshalByte(w.h, &after) && after == sentinel);  // exactly behind the streams

    const Packet cut({0, 0, 0, 2, 'a', 'b'});  // no terminator
    char *s = reinterpret_cast<char *>(&w);
    EXPECT_FAILS(ZERA_i32UnmarshalHString(cut.h, &s) == -1, OSAL_ERR_INVALID_SIZE);
    EXPECT_TRUE(s == reinterpret_cast<char *>(&w) && ZERA_i32MarshalGetCurReadPos(cut.h) == 4);

    // Writer refusals leave the packet as it was.
    Packet r;
    EXPECT_FAILS(!ZERA_boMarshalByteStream(r.h, data, -1), OSAL_ERR_INVALID_SIZE);
    EXPECT_FAILS(!ZERA_boMarshalWordStream(r.h, reinterpret_cast<const uint16_t *>(data), 3), OSAL_ERR_INVALID_SIZE);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(r.h), 0);
    ASSERT_TRUE(ZERA_boMarshalByteStream(r.h, nullptr, 0) && ZERA_boMarshalByteStreamRaw(r.h, data, 4));
    EXPECT_EQ(r.bytes(), (Bytes{0, 0, 0, 0, 1, 2, 3, 4}));
}

// Runs a stream or string reader that allocates its result under each
// allocation failure point.
template <typename T, typename Read>
void AllocatingReaderFailures(const Bytes &bytes, Read read) {
    ReaderFailures<T>(bytes, [&](ZERA_HPACKET h, T **out) { return read(h, out) >= 0; }, [](T *out) { ZERA_vFree(out); });
}

TEST(MarshalStream, ReaderFailuresStopBehindTheLengthAndLeaveNothing) {
    const Packet cut({0xEE, 0, 0, 0, 5, 1, 2, 3}), bad({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 3, 1, 2, 3}),
        empty({0, 0, 0, 0, 0, 0, 0, 1, 7});
    uint8_t skip = 0, buffer[1] = {0};
    void *data = nullptr;
    uint16_t *pw = nullptr;
    ASSERT_TRUE(ZERA_boUnmarshalByte(cut.h, &skip));  // a stream of 5 of which only 3 bytes are there
    EXPECT_FAILS(ZERA_i32UnmarshalByteStream(cut.h, &data, 1) == -1, OSAL_ERR_SHORT_PACKET);
    EXPECT_TRUE(ZERA_i32MarshalGetCurReadPos(cut.h) == 5 && data == nullptr);
    EXPECT_FAILS(ZERA_i32UnmarshalByteStream(bad.h, &data, 1) == -1, OSAL_ERR_INVALID_SIZE);  // negative
    EXPECT_FAILS(ZERA_i32UnmarshalWordStream(bad.h, &pw, 1) == -1, OSAL_ERR_INVALID_SIZE);    // odd
    EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(bad.h), 8);

    // Caller's pointer: untouched for length 0 without boAlloc, 1026 when null.
    data = buffer;
    EXPECT_TRUE(ZERA_i32UnmarshalByteStream(empty.h, &data, 0) == 0 && data == buffer);
    data = nullptr;
    EXPECT_FAILS(ZERA_i32UnmarshalByteStream(empty.h, &data, 0) == -1, OSAL_ERR_NO_MEMORY);

    const Bytes text = {0, 0, 0, 3, 'a', 'b', 0}, four = {0, 0, 0, 4, 1, 2, 3, 4};
    AllocatingReaderFailures<void>(text, [](ZERA_HPACKET h, void **p) { return ZERA_i32UnmarshalByteStream(h, p, 1); });
    AllocatingReaderFailures<uint16_t>(four, [](ZERA_HPACKET h, uint16_t **p) { return ZERA_i32UnmarshalWordStream(h, p, 1); });
    AllocatingReaderFailures<char>(text, [](ZERA_HPACKET h, char **p) { return ZERA_i32UnmarshalHString(h, p); });
    // The narrow step or the wide buffer fails; the temporary is freed.
    AllocatingReaderFailures<WCHAR16>(text, [](ZERA_HPACKET h, WCHAR16 **p) { return ZERA_i32UnmarshalLString(h, p); });
}

}  // namespace
