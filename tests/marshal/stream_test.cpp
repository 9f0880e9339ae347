// marshal/stream_test.cpp - byte, word and double-word streams and narrow and
// wide strings: exact bytes, boAlloc modes, positions after failures.
#include <cstring>
#include <vector>

#include "marshal/marshal.h"
#include "param/param_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zt::ReadPacket;
using zt::W;

struct Packet {
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ~Packet() { ZERA_boMarshalPacketDelete(h); }
};

TEST(MarshalStream, StringExamples) {
    Packet w;
    ASSERT_TRUE(ZERA_boMarshalHString(w.h, "ab"));
    ASSERT_TRUE(ZERA_boMarshalHString(w.h, ""));
    ASSERT_TRUE(ZERA_boMarshalHString(w.h, nullptr));
    ASSERT_TRUE(ZERA_boMarshalLString(w.h, W(u"ab")));
    ASSERT_TRUE(ZERA_boMarshalLString(w.h, nullptr));
    const Bytes expected = {0, 0, 0, 3, 'a', 'b', 0, 0, 0, 0, 1, 0, 0, 0, 0, 0,
                            0, 0, 0, 3, 'a', 'b', 0, 0, 0, 0, 0};
    EXPECT_EQ(zt::Bytes(w.h), expected);

    char *s = reinterpret_cast<char *>(&w);
    EXPECT_EQ(ZERA_i32UnmarshalHString(w.h, &s), 2);
    EXPECT_STREQ(s, "ab");
    ZERA_vFree(s);
    EXPECT_EQ(ZERA_i32UnmarshalHString(w.h, &s), 0);
    ASSERT_NE(s, nullptr);  // the empty string is allocated
    EXPECT_STREQ(s, "");
    ZERA_vFree(s);
    EXPECT_EQ(ZERA_i32UnmarshalHString(w.h, &s), 0);
    EXPECT_EQ(s, nullptr);  // the null string is not
    WCHAR16 *ws = nullptr;
    EXPECT_EQ(ZERA_i32UnmarshalLString(w.h, &ws), 2);
    EXPECT_EQ(zt::WStr(ws), u"ab");
    ZERA_vFree(ws);
    ws = reinterpret_cast<WCHAR16 *>(&w);
    EXPECT_EQ(ZERA_i32UnmarshalLString(w.h, &ws), 0);
    EXPECT_EQ(ws, nullptr);
}

TEST(MarshalStream, WideUnitsWithoutNarrowFormBecomeQuestionMarks) {
    Packet w;
    const char16_t text[] = {u'x', 0x20AC, 0x00E9, 0};
    ASSERT_TRUE(ZERA_boMarshalLString(w.h, W(text)));
    const Bytes expected = {0, 0, 0, 4, 'x', '?', 0xE9, 0};
    EXPECT_EQ(zt::Bytes(w.h), expected);
    WCHAR16 *ws = nullptr;
    EXPECT_EQ(ZERA_i32UnmarshalLString(w.h, &ws), 3);
    EXPECT_EQ(zt::WStr(ws), (std::u16string{u'x', u'?', 0x00E9}));
    ZERA_vFree(ws);
}

TEST(MarshalStream, StringWithoutTerminatorIsRefused) {
    ZERA_HPACKET h = ReadPacket({0, 0, 0, 2, 'a', 'b'});
    char *s = reinterpret_cast<char *>(&h);
    EXPECT_EQ(ZERA_i32UnmarshalHString(h, &s), -1);
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_SIZE);
    EXPECT_EQ(s, reinterpret_cast<char *>(&h));
    EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(h), 4);
    ZERA_boMarshalPacketDelete(h);
}

TEST(MarshalStream, WordStreamsConvertEachUnit) {
    Packet w;
    const uint16_t words[] = {0x0102, 0x0304, 0xA0B0};
    const uint32_t dwords[] = {0x01020304, 0xCAFEBABE};
    ASSERT_TRUE(ZERA_boMarshalWordStream(w.h, words, 4));
    EXPECT_EQ(zt::Bytes(w.h), (Bytes{0, 0, 0, 4, 1, 2, 3, 4}));
    ASSERT_TRUE(ZERA_boMarshalWordStream(w.h, words, 6));
    ASSERT_TRUE(ZERA_boMarshalDWordStream(w.h, dwords, 8));
    ASSERT_TRUE(ZERA_boMarshalWordStream(w.h, nullptr, 0));
    const uint8_t sentinel = 0x5A;
    ASSERT_TRUE(ZERA_boMarshalByte(w.h, &sentinel));

    uint16_t *pw = nullptr;
    ASSERT_EQ(ZERA_i32UnmarshalWordStream(w.h, &pw, 1), 4);
    ZERA_vFree(pw);
    ASSERT_EQ(ZERA_i32UnmarshalWordStream(w.h, &pw, 1), 6);
    EXPECT_EQ(std::memcmp(pw, words, 6), 0);
    ZERA_vFree(pw);
    uint32_t into[2] = {};
    uint32_t *pd = into;
    ASSERT_EQ(ZERA_i32UnmarshalDWordStream(w.h, &pd, 0), 8);  // into the caller's buffer
    EXPECT_EQ(pd, into);
    EXPECT_EQ(into[1], 0xCAFEBABEu);
    pw = reinterpret_cast<uint16_t *>(&w);
    ASSERT_EQ(ZERA_i32UnmarshalWordStream(w.h, &pw, 0), 0);
    EXPECT_EQ(pw, nullptr);  // length 0 gives null in both modes
    uint8_t after = 0;
    ASSERT_TRUE(ZERA_boUnmarshalByte(w.h, &after));  // exactly behind the streams
    EXPECT_EQ(after, sentinel);
}

TEST(MarshalStream, WriterRefusalsLeaveThePacketUnchanged) {
    Packet w;
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_FALSE(ZERA_boMarshalByteStream(w.h, nullptr, 3));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    EXPECT_FALSE(ZERA_boMarshalByteStream(w.h, data, -1));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_SIZE);
    EXPECT_FALSE(ZERA_boMarshalWordStream(w.h, reinterpret_cast<const uint16_t *>(data), 3));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_SIZE);
    EXPECT_FALSE(ZERA_boMarshalDWordStream(w.h, reinterpret_cast<const uint32_t *>(data), 6));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_SIZE);
    EXPECT_FALSE(ZERA_boMarshalByteStreamRaw(w.h, nullptr, 1));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    EXPECT_FALSE(ZERA_boMarshalHString(nullptr, "x"));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_HANDLE);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 0);

    ASSERT_TRUE(ZERA_boMarshalByteStream(w.h, nullptr, 0));
    ASSERT_TRUE(ZERA_boMarshalByteStreamRaw(w.h, data, 4));
    EXPECT_EQ(zt::Bytes(w.h), (Bytes{0, 0, 0, 0, 1, 2, 3, 4}));
}

TEST(MarshalStream, ReaderFailuresStopBehindTheLength) {
    // A byte stream of 5 of which only 3 bytes are there.
    ZERA_HPACKET h = ReadPacket({0xEE, 0, 0, 0, 5, 1, 2, 3});
    uint8_t skip = 0;
    ASSERT_TRUE(ZERA_boUnmarshalByte(h, &skip));
    void *data = nullptr;
    EXPECT_EQ(ZERA_i32UnmarshalByteStream(h, &data, 1), -1);
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_SHORT_PACKET);
    EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(h), 5);
    EXPECT_EQ(data, nullptr);
    ZERA_boMarshalPacketDelete(h);

    // Negative and odd lengths on the wire.
    h = ReadPacket({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 3, 1, 2, 3});
    EXPECT_EQ(ZERA_i32UnmarshalByteStream(h, &data, 1), -1);
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_SIZE);
    uint16_t *pw = nullptr;
    EXPECT_EQ(ZERA_i32UnmarshalWordStream(h, &pw, 1), -1);
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_SIZE);
    EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(h), 8);
    ZERA_boMarshalPacketDelete(h);

    // Caller's pointer: untouched for length 0 without boAlloc, 1026 when null.
    h = ReadPacket({0, 0, 0, 0, 0, 0, 0, 1, 7});
    uint8_t buffer[1] = {0};
    data = buffer;
    EXPECT_EQ(ZERA_i32UnmarshalByteStream(h, &data, 0), 0);
    EXPECT_EQ(data, buffer);
    data = nullptr;
    EXPECT_EQ(ZERA_i32UnmarshalByteStream(h, &data, 0), -1);
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
    EXPECT_EQ(ZERA_i32UnmarshalByteStream(h, nullptr, 1), -1);
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(ZERA_i32UnmarshalByteStream(nullptr, &data, 1), -1);
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_HANDLE);
    ZERA_boMarshalPacketDelete(h);
}

}  // namespace
