// marshal/packet_test.cpp - packets, their growth and read checks, and the
// scalar items with their exact bytes.
#include <cstring>
#include <vector>

#include "marshal/marshal.h"
#include "param/param_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zt::ReadPacket;

struct Packet {
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ~Packet() { ZERA_boMarshalPacketDelete(h); }
    zera::MarshalPacket *p() const { return zera::ToPacket(h); }
};

TEST(MarshalPacket, CreateKindsAndRefusals) {
    Packet w;
    ASSERT_NE(w.h, nullptr);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 0);
    EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(w.h), 0);
    EXPECT_NE(ZERA_pvMarshalGetStartOfData(w.h), nullptr);
    EXPECT_EQ(w.p()->i32BufSize, 4096);

    char stack[4];
    const struct {
        void *data;
        int32_t size;
        uint32_t code;
    } refused[] = {{nullptr, -1, OSAL_ERR_INVALID_SIZE}, {stack, -5, OSAL_ERR_INVALID_SIZE},
                   {stack, 0, OSAL_ERR_INVALID_ARG}, {nullptr, 5, OSAL_ERR_INVALID_ARG}};
    for (const auto &c : refused) {
        OSAL_vSetLastError(0);
        EXPECT_EQ(ZERA_hMarshalPacketCreate(c.data, c.size), nullptr);
        EXPECT_EQ(OSAL_dwGetLastError(), c.code) << c.size;
    }
}

TEST(MarshalPacket, NullHandleGivesInvalidHandle) {
    const auto expect1027 = [] { EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_HANDLE); };
    EXPECT_FALSE(ZERA_boMarshalPacketDelete(nullptr)); expect1027();
    EXPECT_EQ(ZERA_pvMarshalGetStartOfData(nullptr), nullptr); expect1027();
    EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(nullptr), -1); expect1027();
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(nullptr), -1); expect1027();
    EXPECT_FALSE(ZERA_boMarshalResetReadPos(nullptr)); expect1027();
    uint32_t dw = 0;
    EXPECT_FALSE(ZERA_boMarshalDWord(nullptr, &dw)); expect1027();
    EXPECT_FALSE(ZERA_boUnmarshalQWord(nullptr, &dw)); expect1027();
    Packet w;
    EXPECT_FALSE(ZERA_boMarshalDWord(w.h, nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    EXPECT_FALSE(ZERA_boUnmarshalReal(w.h, nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
}

TEST(MarshalPacket, ShortReadKeepsThePosition) {
    ZERA_HPACKET h = ReadPacket({0, 0, 0, 1, 0, 0, 0, 2, 9, 9});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(h), 10);
    uint32_t a = 0, b = 0, c = 77;
    EXPECT_TRUE(ZERA_boUnmarshalDWord(h, &a));
    EXPECT_TRUE(ZERA_boUnmarshalDWord(h, &b));
    EXPECT_FALSE(ZERA_boUnmarshalDWord(h, &c));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_SHORT_PACKET);
    EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(h), 8);
    EXPECT_EQ(c, 77u);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    double r = 0;
    EXPECT_FALSE(ZERA_boUnmarshalReal(h, &r));
    EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(h), 8);

    // The reading packet accepts appends too; its buffer grows to one step.
    EXPECT_TRUE(ZERA_boMarshalDWord(h, &a));
    EXPECT_EQ(zera::ToPacket(h)->i32BufSize, 4096);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(h), 14);
    uint16_t word = 0;
    EXPECT_TRUE(ZERA_boUnmarshalWord(h, &word));
    EXPECT_EQ(word, 0x0909);

    ASSERT_TRUE(ZERA_boMarshalResetReadPos(h));
    EXPECT_TRUE(ZERA_boUnmarshalDWord(h, &c));
    EXPECT_EQ(c, 1u);
    ZERA_boMarshalPacketDelete(h);
}

TEST(MarshalPacket, GrowsInWholeSteps) {
    Packet w;
    for (int i = 0; i < 4096; ++i) {
        uint8_t b = static_cast<uint8_t>(i);
        ASSERT_TRUE(ZERA_boMarshalByte(w.h, &b));
    }
    EXPECT_EQ(w.p()->i32BufSize, 4096);
    uint8_t b = 1;
    ASSERT_TRUE(ZERA_boMarshalByte(w.h, &b));
    EXPECT_EQ(w.p()->i32BufSize, 8192);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 4097);

    EXPECT_TRUE(zera::EnsureRoom(w.p(), 8192 - 4097));  // fits: nothing changes
    EXPECT_EQ(w.p()->i32BufSize, 8192);
    EXPECT_TRUE(zera::EnsureRoom(w.p(), 12288 - 4097));  // a sum on a step is not raised
    EXPECT_EQ(w.p()->i32BufSize, 12288);
}

TEST(MarshalPacket, EnsureRoomAndCheckAvailableRefusals) {
    Packet w;
    EXPECT_FALSE(zera::EnsureRoom(w.p(), -1));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_SIZE);
    EXPECT_FALSE(zera::EnsureRoom(nullptr, 1));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_HANDLE);
    EXPECT_FALSE(zera::EnsureRoom(w.p(), INT32_MAX));  // would pass the largest signed size
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_SIZE);
    EXPECT_EQ(w.p()->i32BufSize, 4096);

    EXPECT_TRUE(zera::CheckAvailable(w.p(), 0));
    EXPECT_FALSE(zera::CheckAvailable(w.p(), 1));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_SHORT_PACKET);
    EXPECT_FALSE(zera::CheckAvailable(w.p(), -1));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_SIZE);
    EXPECT_FALSE(zera::CheckAvailable(nullptr, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_HANDLE);
}

TEST(MarshalPacket, ScalarBytesInNetworkOrder) {
    Packet w;
    const BOOL8 seven = 7;
    const uint8_t byte = 0xAB;
    const uint16_t word = 0x0102;
    const uint32_t dword = 0x0A0B0C0D;
    const uint64_t qword = 0x0102030405060708ull;
    const TimeVal tv{0x11223344u, 0x55667788};
    const double real = 1.0;
    ASSERT_TRUE(ZERA_boMarshalBool(w.h, &seven));
    ASSERT_TRUE(ZERA_boMarshalByte(w.h, &byte));
    ASSERT_TRUE(ZERA_boMarshalWord(w.h, &word));
    ASSERT_TRUE(ZERA_boMarshalDWord(w.h, &dword));
    ASSERT_TRUE(ZERA_boMarshalQWord(w.h, &qword));
    ASSERT_TRUE(ZERA_boMarshalTimeVal(w.h, &tv));
    ASSERT_TRUE(ZERA_boMarshalReal(w.h, &real));
    EXPECT_EQ(seven, 7);  // the caller's byte is not changed
    const Bytes expected = {0x01, 0xAB, 0x01, 0x02, 0x0A, 0x0B, 0x0C, 0x0D,
                            0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                            0x55, 0x66, 0x77, 0x88, 0x11, 0x22, 0x33, 0x44,  // seconds, then microseconds
                            0x3F, 0xF0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(zt::Bytes(w.h), expected);

    BOOL8 bo = 0;
    uint8_t b = 0;
    uint16_t wd = 0;
    uint32_t dw = 0;
    uint64_t qw = 0;
    TimeVal t{};
    double r = 0;
    ASSERT_TRUE(ZERA_boUnmarshalBool(w.h, &bo));
    ASSERT_TRUE(ZERA_boUnmarshalByte(w.h, &b));
    ASSERT_TRUE(ZERA_boUnmarshalWord(w.h, &wd));
    ASSERT_TRUE(ZERA_boUnmarshalDWord(w.h, &dw));
    ASSERT_TRUE(ZERA_boUnmarshalQWord(w.h, &qw));
    ASSERT_TRUE(ZERA_boUnmarshalTimeVal(w.h, &t));
    ASSERT_TRUE(ZERA_boUnmarshalReal(w.h, &r));
    EXPECT_EQ(bo, 1);
    EXPECT_EQ(b, byte);
    EXPECT_EQ(wd, word);
    EXPECT_EQ(dw, dword);
    EXPECT_EQ(qw, qword);
    EXPECT_EQ(t.dwMicroseconds, tv.dwMicroseconds);
    EXPECT_EQ(t.i32Seconds, tv.i32Seconds);
    EXPECT_EQ(r, real);
    EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(w.h), ZERA_i32MarshalGetDataSize(w.h));
}

TEST(MarshalPacket, BoolReadsAnyNonZeroAsOne) {
    ZERA_HPACKET h = ReadPacket({2, 0});
    BOOL8 a = 9, b = 9;
    EXPECT_TRUE(ZERA_boUnmarshalBool(h, &a));
    EXPECT_TRUE(ZERA_boUnmarshalBool(h, &b));
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 0);
    ZERA_boMarshalPacketDelete(h);
}

TEST(MarshalPacket, TimeValNamesShareTheQWordFunctions) {
    EXPECT_EQ(reinterpret_cast<void *>(&ZERA_boMarshalQWord), reinterpret_cast<void *>(&ZERA_boMarshalTimeVal));
    EXPECT_EQ(reinterpret_cast<void *>(&ZERA_boUnmarshalQWord),
              reinterpret_cast<void *>(&ZERA_boUnmarshalTimeVal));
}

TEST(MarshalPacket, QWordSecondHalfFailureKeepsTheFirst) {
    ZERA_HPACKET h = ReadPacket({1, 2, 3, 4, 5, 6});
    uint64_t value = 0;
    EXPECT_FALSE(ZERA_boUnmarshalQWord(h, &value));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_SHORT_PACKET);
    EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(h), 4);  // the first half stays consumed
    EXPECT_EQ(value, 0x0102030400000000ull);
    ZERA_boMarshalPacketDelete(h);
}

}  // namespace
