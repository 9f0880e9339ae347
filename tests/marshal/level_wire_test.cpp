// marshal/level_wire_test.cpp - stack levels and statistics blocks on the
// wire: exact bytes, changed-only levels, the container record a reader
// makes, and readers that fail without changing the caller's pointer.
#include <cstring>
#include <vector>

#include "marshal/marshal.h"
#include "param/param.h"
#include "param/param_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zt::ListBuilder;

struct Packet {
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ~Packet() { ZERA_boMarshalPacketDelete(h); }
};

void Fill(ListBuilder &b) {
    b.DWord("Gain", 5);
    b.Str("Mode", "fast");
}

Bytes ListBytes(bool changedOnlyAfterFull) {
    ListBuilder b;
    Fill(b);
    Packet w;
    EXPECT_TRUE(ZERA_boMarshalParamListA(w.h, b.list, 0));
    if (!changedOnlyAfterFull) return zt::Bytes(w.h);
    Packet again;
    EXPECT_TRUE(ZERA_boMarshalParamListA(again.h, b.list, 1));
    return zt::Bytes(again.h);
}

// A level record as the handle subsystem would hold it, without an entry
// table (so nothing refreshes the parameters) and without the handle magic.
struct Level {
    StackHandle h{};
    ListBuilder params;
    explicit Level(bool wide) : params(wide) {
        Fill(params);
        h.u8Level = 3;
        h.boWide = wide ? 1 : 0;
        h.pstStackParams = params.list;
    }
};

TEST(LevelWire, FullThenChangedOnly) {
    for (bool wide : {false, true}) {
        Level level(wide);
        Packet full;
        ASSERT_TRUE(ZERA_boMarshalStackHandleLevel(full.h, &level.h, 1));  // fresh list: shape mark, so all
        Bytes expected{3};
        const Bytes list = ListBytes(false);
        expected.insert(expected.end(), list.begin(), list.end());
        EXPECT_EQ(zt::Bytes(full.h), expected);

        Packet unchanged;  // level byte, N = 1, the terminator
        ASSERT_TRUE(ZERA_boMarshalStackHandleLevel(unchanged.h, &level.h, 1));
        EXPECT_EQ(zt::Bytes(unchanged.h), (Bytes{3, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}));

        level.params.list[1].u8ChangeFlags |= ZERA_CHANGE_VALUE;
        Packet changed;
        ASSERT_TRUE(ZERA_boMarshalStackHandleLevel(changed.h, &level.h, 1));
        EXPECT_EQ(zt::Bytes(changed.h)[4], 2);  // Mode and the terminator

        StackHandle *back = reinterpret_cast<StackHandle *>(0x1);  // replaced on success
        ASSERT_TRUE(ZERA_boUnmarshalStackHandleLevel(full.h, &back, wide ? 1 : 0));
        EXPECT_EQ(back->dwMagic, 0u);
        EXPECT_FALSE(ZERA_boHandleCheck(back, 0));
        EXPECT_EQ(back->u8Level, 3);
        EXPECT_EQ(back->boWide, wide ? 1 : 0);
        ASSERT_EQ(zera::CountParams(back->pstStackParams), 2u);
        EXPECT_EQ(back->pstStackParams[0].uValue.dw, 5u);
        if (wide) {
            EXPECT_EQ(zt::WStr(back->pstStackParams[1].uValue.ls), u"fast");
        } else {
            EXPECT_EQ(zt::NStr(back->pstStackParams[1].uValue.hs), "fast");
        }
        ZERA_vDeleteStackHandleLevel(back);
    }
}

TEST(LevelWire, RefusalsAndFailedReads) {
    Level level(false);
    Packet w;
    EXPECT_FALSE(ZERA_boMarshalStackHandleLevel(w.h, nullptr, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
    level.h.pstStackParams = nullptr;
    EXPECT_FALSE(ZERA_boMarshalStackHandleLevel(w.h, &level.h, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 0);
    level.h.pstStackParams = level.params.list;
    EXPECT_FALSE(ZERA_boMarshalStackHandleLevel(nullptr, &level.h, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    ASSERT_TRUE(ZERA_boMarshalStackHandleLevel(w.h, &level.h, 0));

    // Every cut fails with 1032 and leaves the caller's pointer as it was.
    const Bytes bytes = zt::Bytes(w.h);
    StackHandle keep{};
    for (size_t n = 1; n < bytes.size(); ++n) {
        ZERA_HPACKET h = zt::ReadPacket(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n)));
        StackHandle *out = &keep;
        EXPECT_FALSE(ZERA_boUnmarshalStackHandleLevel(h, &out, 0));
        EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_SHORT_PACKET));
        EXPECT_EQ(out, &keep);
        ZERA_boMarshalPacketDelete(h);
    }
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boUnmarshalStackHandleLevel(w.h, nullptr, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), 0u);

    ZERA_HPACKET h = zt::ReadPacket(bytes);
    zt::ForEachAllocFailure([&](long) {
        zera::ToPacket(h)->i32CurReadPos = 0;
        StackHandle *out = &keep;
        if (ZERA_boUnmarshalStackHandleLevel(h, &out, 1)) {
            ZERA_vDeleteStackHandleLevel(out);
            return true;
        }
        EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_NO_MEMORY));
        EXPECT_EQ(out, &keep);
        return false;
    });
    ZERA_boMarshalPacketDelete(h);

    keep.dwMagic = ZERA_HANDLE_MAGIC;  // looks live: not released
    ZERA_vDeleteStackHandleLevel(&keep);
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
    ZERA_vDeleteStackHandleLevel(nullptr);
}

TEST(StatisticsWire, FiftySixBytesAndBack) {
    uint32_t block[ZERA_STATS_WORDS];
    for (uint32_t i = 0; i < 12; ++i) block[i] = 0x01010101u * (i + 1);
    block[12] = 0xB2B2A1A1u;  // LoadA 0xA1A1, LoadB 0xB2B2
    block[13] = 0xD4D4C3C3u;  // LoadAMax 0xC3C3, LoadBMax 0xD4D4
    Packet w;
    ASSERT_TRUE(ZERA_boMarshalStatistics(w.h, block));
    Bytes expected;
    for (uint32_t i = 0; i < 12; ++i) expected.insert(expected.end(), 4, static_cast<uint8_t>(i + 1));
    for (uint8_t figure : {0xA1, 0xB2, 0xC3, 0xD4}) expected.insert(expected.end(), 2, figure);
    ASSERT_EQ(expected.size(), 56u);
    EXPECT_EQ(zt::Bytes(w.h), expected);

    uint32_t back[ZERA_STATS_WORDS] = {};
    ASSERT_TRUE(ZERA_boUnmarshalStatistics(w.h, back));
    EXPECT_EQ(std::memcmp(back, block, sizeof block), 0);

    // A cut packet: the items before the cut stay stored, the rest as it was.
    ZERA_HPACKET cut = zt::ReadPacket(Bytes(expected.begin(), expected.begin() + 54));
    uint32_t part[ZERA_STATS_WORDS];
    std::memset(part, 0xEE, sizeof part);
    EXPECT_FALSE(ZERA_boUnmarshalStatistics(cut, part));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_SHORT_PACKET));
    EXPECT_EQ(std::memcmp(part, block, 12 * sizeof(uint32_t)), 0);
    EXPECT_EQ(part[12], block[12]);
    EXPECT_EQ(part[13], 0xEEEEC3C3u);
    ZERA_boMarshalPacketDelete(cut);

    Packet empty;
    EXPECT_FALSE(ZERA_boMarshalStatistics(empty.h, nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(empty.h), 0);
    EXPECT_FALSE(ZERA_boMarshalStatistics(nullptr, block));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    EXPECT_FALSE(ZERA_boUnmarshalStatistics(w.h, nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
}

}  // namespace
