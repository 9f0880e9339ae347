// marshal/marshal_alloc_test.cpp - every allocation of packets, stream and
// string readers and writers, and parameter readers and writers made to fail
// in turn: code 1026, the documented state, no leak.
#include <cstring>
#include <vector>

#include "marshal/marshal.h"
#include "param/param.h"
#include "param/param_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zt::ForEachAllocFailure;
using zt::ListBuilder;
using zt::W;

TEST(MarshalAllocFailure, CreateGivesNull) {
    ForEachAllocFailure([](long) {
        ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
        if (h == nullptr) {
            EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
            return false;
        }
        ZERA_boMarshalPacketDelete(h);
        return true;
    });
}

TEST(MarshalAllocFailure, GrowthKeepsBufferAndData) {
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    std::vector<uint8_t> block(4094, 0x42);
    ASSERT_TRUE(ZERA_boMarshalByteStreamRaw(h, block.data(), 4094));
    ForEachAllocFailure([&](long) {
        const uint32_t dw = 0x01020304;
        if (ZERA_boMarshalDWord(h, &dw)) return true;
        EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
        EXPECT_EQ(ZERA_i32MarshalGetDataSize(h), 4094);
        EXPECT_EQ(zera::ToPacket(h)->i32BufSize, 4096);
        return false;
    });
    EXPECT_EQ(zera::ToPacket(h)->i32BufSize, 8192);
    EXPECT_EQ(zt::Bytes(h)[4093], 0x42);
    ZERA_boMarshalPacketDelete(h);
}

// Runs a reader over the same bytes again and again with failing allocations.
template <typename Read>
void ReaderFailures(const Bytes &bytes, Read read) {
    ZERA_HPACKET h = zt::ReadPacket(bytes);
    ForEachAllocFailure([&](long) {
        zera::ToPacket(h)->i32CurReadPos = 0;
        return read(h);
    });
    ZERA_boMarshalPacketDelete(h);
}

TEST(MarshalAllocFailure, StreamAndStringReaders) {
    ReaderFailures({0, 0, 0, 3, 'a', 'b', 0}, [](ZERA_HPACKET h) {
        void *data = nullptr;
        int32_t n = ZERA_i32UnmarshalByteStream(h, &data, 1);
        if (n < 0) {
            EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
            EXPECT_EQ(data, nullptr);
            return false;
        }
        ZERA_vFree(data);
        return true;
    });
    ReaderFailures({0, 0, 0, 4, 1, 2, 3, 4}, [](ZERA_HPACKET h) {
        uint16_t *words = nullptr;
        int32_t n = ZERA_i32UnmarshalWordStream(h, &words, 1);
        if (n < 0) {
            EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
            EXPECT_EQ(words, nullptr);
            return false;
        }
        ZERA_vFree(words);
        return true;
    });
    ReaderFailures({0, 0, 0, 4, 1, 2, 3, 4}, [](ZERA_HPACKET h) {
        uint32_t *dwords = nullptr;
        int32_t n = ZERA_i32UnmarshalDWordStream(h, &dwords, 1);
        if (n < 0) {
            EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
            return false;
        }
        ZERA_vFree(dwords);
        return true;
    });
    ReaderFailures({0, 0, 0, 3, 'a', 'b', 0}, [](ZERA_HPACKET h) {
        char *s = nullptr;
        if (ZERA_i32UnmarshalHString(h, &s) < 0) {
            EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
            EXPECT_EQ(s, nullptr);
            return false;
        }
        ZERA_vFree(s);
        return true;
    });
    ReaderFailures({0, 0, 0, 3, 'a', 'b', 0}, [](ZERA_HPACKET h) {
        WCHAR16 *ws = nullptr;
        if (ZERA_i32UnmarshalLString(h, &ws) < 0) {
            EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
            return false;  // the narrow step or the wide buffer; the temporary is freed
        }
        EXPECT_EQ(zt::WStr(ws), u"ab");
        ZERA_vFree(ws);
        return true;
    });
}

TEST(MarshalAllocFailure, WideStringWriter) {
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ForEachAllocFailure([&](long) {
        if (ZERA_boMarshalLString(h, W(u"abc"))) return true;
        EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
        EXPECT_EQ(ZERA_i32MarshalGetDataSize(h), 0);
        return false;
    });
    EXPECT_EQ(zt::Bytes(h), (Bytes{0, 0, 0, 4, 'a', 'b', 'c', 0}));
    ZERA_boMarshalPacketDelete(h);
}

void Fill(ListBuilder &b) {
    b.Str("Mode\0text", "fast", 0, true);
    b.StrValue(ZERA_VALUE_RANGE, "a", "m", 1);
    b.StrValue(ZERA_VALUE_SINGLE, "z", nullptr, 2);
    b.DWord("Gain", 5);
    b.DWordValue(ZERA_VALUE_SINGLE, 1, 0, 3);
}

TEST(MarshalAllocFailure, WideParameterWriters) {
    ListBuilder b(true);
    Fill(b);
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ForEachAllocFailure([&](long) {
        zera::ToPacket(h)->i32DataSize = 0;
        if (ZERA_boMarshalParamW(h, &b.list[0])) return true;
        EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
        return false;
    });
    const Bytes one = zt::Bytes(h);
    ForEachAllocFailure([&](long) {
        zera::ToPacket(h)->i32DataSize = 0;
        b.list[0].u8ChangeFlags = ZERA_CHANGE_VALUE | ZERA_CHANGE_SHAPE;
        if (ZERA_boMarshalParamListW(h, b.list, 0)) return true;
        EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
        EXPECT_EQ(b.list[0].u8ChangeFlags, 0);  // the failing record was visited
        return false;
    });
    EXPECT_EQ(zt::Bytes(h).size(), 4 + one.size() + 19 + 4 + 9 + 6);
    ZERA_boMarshalPacketDelete(h);
}

TEST(MarshalAllocFailure, ParameterReadersLeaveDestinationUnchanged) {
    for (bool wide : {false, true}) {
        ListBuilder b(wide);
        Fill(b);
        ZERA_HPACKET w = ZERA_hMarshalPacketCreate(nullptr, 0);
        ASSERT_TRUE(wide ? ZERA_boMarshalParamW(w, &b.list[0]) : ZERA_boMarshalParamA(w, &b.list[0]));
        ReaderFailures(zt::Bytes(w), [&](ZERA_HPACKET h) {
            Param dest{};
            dest.dwType = 9;
            if (!(wide ? ZERA_boUnmarshalParamW(h, &dest, 1) : ZERA_boUnmarshalParamA(h, &dest, 1))) {
                EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
                EXPECT_EQ(dest.pName, nullptr);
                EXPECT_EQ(dest.dwType, 9u);
                return false;
            }
            zera::ReleaseParam(&dest);
            return true;
        });
        ZERA_boMarshalPacketDelete(w);
    }
}

TEST(MarshalAllocFailure, ListReadersLeaveWalkableLists) {
    for (bool wide : {false, true}) {
        ListBuilder b(wide);
        Fill(b);
        ZERA_HPACKET w = ZERA_hMarshalPacketCreate(nullptr, 0);
        ASSERT_TRUE(wide ? ZERA_boMarshalParamListW(w, b.list, 0) : ZERA_boMarshalParamListA(w, b.list, 0));
        ReaderFailures(zt::Bytes(w), [&](ZERA_HPACKET h) {
            Param *list = nullptr;
            bool ok = wide ? ZERA_boUnmarshalParamListW(h, &list) : ZERA_boUnmarshalParamListA(h, &list);
            if (!ok) {
                EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_NO_MEMORY);
            }
            EXPECT_LE(zera::CountParams(list), ok ? 2u : 1u);
            wide ? ZERA_vDeleteParamListW(list) : ZERA_vDeleteParamListA(list);
            return ok;
        });
        ZERA_boMarshalPacketDelete(w);
    }
}

}  // namespace
