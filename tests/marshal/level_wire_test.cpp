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

Bytes Written(StackHandle *level, BOOL8 changedOnly) {
    ZERA_HPACKET w = ZERA_hMarshalPacketCreate(nullptr, 0);
    EXPECT_TRUE(ZERA_boMarshalStackHandleLevel(w, level, changedOnly)) << OSAL_pszGetLastErrorText();
    Bytes bytes = zt::Bytes(w);
    ZERA_boMarshalPacketDelete(w);
    return bytes;
}

TEST(LevelWire, FullThenChangedOnlyAndReadBack) {
    for (bool wide : {false, true}) {
        ListBuilder params(wide), same(false);
        for (ListBuilder *b : {&params, &same}) b->DWord("Gain", 5), b->Str("Mode", "fast");
        StackHandle level{};  // no entry table: nothing refreshes the parameters
        level.u8Level = 3;
        level.boWide = wide ? 1 : 0;
        level.pstStackParams = params.list;

        ZERA_HPACKET list = ZERA_hMarshalPacketCreate(nullptr, 0);
        ASSERT_TRUE(ZERA_boMarshalParamListA(list, same.list, 0));
        Bytes full{3};
        for (uint8_t b : zt::Bytes(list)) full.push_back(b);
        ZERA_boMarshalPacketDelete(list);
        EXPECT_EQ(Written(&level, 1), full);  // a fresh list carries its shape mark: all records
        EXPECT_EQ(Written(&level, 1), (Bytes{3, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}));  // N = 1, the terminator
        params.list[1].u8ChangeFlags |= ZERA_CHANGE_VALUE;
        EXPECT_EQ(Written(&level, 1)[4], 2);  // Mode and the terminator

        ZERA_HPACKET h = zt::ReadPacket(full);
        StackHandle *back = reinterpret_cast<StackHandle *>(0x1);  // replaced, not freed
        ASSERT_TRUE(ZERA_boUnmarshalStackHandleLevel(h, &back, wide ? 1 : 0));
        EXPECT_FALSE(ZERA_boHandleCheck(back, 0));  // a container, never a live level
        EXPECT_EQ(back->dwMagic, 0u);
        EXPECT_EQ(back->u8Level, 3);
        EXPECT_EQ(back->boWide, wide ? 1 : 0);
        ASSERT_EQ(zera::CountParams(back->pstStackParams), 2u);
        EXPECT_EQ(wide ? zt::WStr(back->pstStackParams[1].uValue.ls)
                       : ListBuilder::Widen(back->pstStackParams[1].uValue.hs, false),
                  u"fast");
        ZERA_vDeleteStackHandleLevel(back);
        ZERA_boMarshalPacketDelete(h);
    }
}

TEST(LevelWire, RefusalsAndFailedReads) {
    ListBuilder params;
    StackHandle level{};
    ZERA_HPACKET w = ZERA_hMarshalPacketCreate(nullptr, 0);
    EXPECT_FALSE(ZERA_boMarshalStackHandleLevel(w, nullptr, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
    EXPECT_FALSE(ZERA_boMarshalStackHandleLevel(w, &level, 0));  // no list: refused before the level byte
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w), 0);
    level.pstStackParams = params.list;
    EXPECT_FALSE(ZERA_boMarshalStackHandleLevel(nullptr, &level, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    params.Str("Mode", "fast");
    const Bytes bytes = Written(&level, 0);
    ZERA_boMarshalPacketDelete(w);

    StackHandle keep{};
    for (size_t n = 1; n < bytes.size(); ++n) {  // every cut: 1032, the pointer kept
        ZERA_HPACKET h = zt::ReadPacket(Bytes(bytes.begin(), bytes.begin() + n));
        StackHandle *out = &keep;
        EXPECT_FALSE(ZERA_boUnmarshalStackHandleLevel(h, &out, 0));
        EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_SHORT_PACKET));
        EXPECT_EQ(out, &keep);
        ZERA_boMarshalPacketDelete(h);
    }
    ZERA_HPACKET h = zt::ReadPacket(bytes);
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boUnmarshalStackHandleLevel(h, nullptr, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), 0u);
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

    keep.dwMagic = ZERA_HANDLE_MAGIC;  // looks live: never released here
    ZERA_vDeleteStackHandleLevel(&keep);
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
}

TEST(StatisticsWire, FiftySixBytesAndBack) {
    uint32_t block[ZERA_STATS_WORDS];
    for (uint32_t i = 0; i < 12; ++i) block[i] = 0x01010101u * (i + 1);
    block[12] = 0xB2B2A1A1u;  // LoadA 0xA1A1, LoadB 0xB2B2
    block[13] = 0xD4D4C3C3u;  // LoadAMax 0xC3C3, LoadBMax 0xD4D4
    ZERA_HPACKET w = ZERA_hMarshalPacketCreate(nullptr, 0);
    ASSERT_TRUE(ZERA_boMarshalStatistics(w, block));
    Bytes expected;
    for (uint32_t i = 0; i < 12; ++i) expected.insert(expected.end(), 4, static_cast<uint8_t>(i + 1));
    for (uint8_t figure : {0xA1, 0xB2, 0xC3, 0xD4}) expected.insert(expected.end(), 2, figure);
    ASSERT_EQ(expected.size(), 56u);
    EXPECT_EQ(zt::Bytes(w), expected);
    uint32_t back[ZERA_STATS_WORDS] = {};
    ASSERT_TRUE(ZERA_boUnmarshalStatistics(w, back));
    EXPECT_EQ(std::memcmp(back, block, sizeof block), 0);

    // Cut inside LoadBMax: what was read before stays, the rest as it was.
    ZERA_HPACKET cut = zt::ReadPacket(Bytes(expected.begin(), expected.begin() + 54));
    std::memset(back, 0xEE, sizeof back);
    EXPECT_FALSE(ZERA_boUnmarshalStatistics(cut, back));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_SHORT_PACKET));
    EXPECT_EQ(std::memcmp(back, block, 13 * sizeof(uint32_t)), 0);
    EXPECT_EQ(back[13], 0xEEEEC3C3u);
    ZERA_boMarshalPacketDelete(cut);

    EXPECT_FALSE(ZERA_boMarshalStatistics(w, nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w), 56);
    EXPECT_FALSE(ZERA_boMarshalStatistics(nullptr, block));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    ZERA_boMarshalPacketDelete(w);
}

}  // namespace
