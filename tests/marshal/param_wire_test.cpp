// marshal/param_wire_test.cpp - parameters and parameter lists on the wire:
// exact bytes, change marks, narrow/wide round trips, readers that fail.
#include <cstring>
#include <vector>

#include "marshal/marshal.h"
#include "param/param.h"
#include "param/param_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zt::ListBuilder;
using zt::ReadPacket;
using zt::W;

struct Packet {
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ~Packet() { ZERA_boMarshalPacketDelete(h); }
};

// How many records a list packet announces.
uint32_t RecordCount(ZERA_HPACKET h) {
    Bytes b = zt::Bytes(h);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

const Bytes kGain = {0, 0, 0, 6, 'G', 'a', 'i', 'n', 0, 0, 0x01, 0x02, 0x11, 0x01, 0x00, 0, 0, 0, 5, 0, 0, 0, 0};
const Bytes kTerminator = {0, 0, 0, 0, 0x01, 0x03};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(ParamWire, GainExampleIs23Bytes) {
    for (bool wide : {false, true}) {
        ListBuilder b(wide);
        ParamValue **cursor = nullptr;
        ASSERT_TRUE(wide ? ZERA_boAddParamW(1, 0, &b.list, &b.count, &cursor, 1, 2, 0x10, 0, 0, W(u"Gain"), 5u)
                         : ZERA_boAddParamA(1, 0, &b.list, &b.count, &cursor, 1, 2, 0x10, 0, 0, "Gain", 5u));
        b.list[0].u8Attributes = 0x11;
        Packet w;
        ASSERT_TRUE(wide ? ZERA_boMarshalParamW(w.h, &b.list[0]) : ZERA_boMarshalParamA(w.h, &b.list[0]));
        EXPECT_EQ(zt::Bytes(w.h), kGain);
    }
}

TEST(ParamWire, EmptyListIsCountAndTerminator) {
    ListBuilder b;
    Packet w;
    ASSERT_TRUE(ZERA_boMarshalParamListA(w.h, b.list, 1));
    Bytes expected = {0, 0, 0, 1};
    expected.insert(expected.end(), kTerminator.begin(), kTerminator.end());
    EXPECT_EQ(zt::Bytes(w.h), expected);
    EXPECT_EQ(b.list[0].u8ChangeFlags, 0);
}

TEST(ParamWire, ChangedOnlyWritesMarkedValuesAndClearsMarks) {
    ListBuilder b;
    for (int i = 0; i < 5; ++i) b.DWord("p", static_cast<uint32_t>(i));
    b.list[2].u8ChangeFlags = 0xF4;  // marks above bit 2 are not the writer's
    {
        Packet w;  // the shape bit on the first record forces every record
        ASSERT_TRUE(ZERA_boMarshalParamListA(w.h, b.list, 1));
        EXPECT_EQ(RecordCount(w.h), 6u);
        for (int i = 0; i <= 5; ++i) EXPECT_EQ(b.list[i].u8ChangeFlags & 7, 0) << i;
        EXPECT_EQ(b.list[2].u8ChangeFlags, 0xF0);
    }
    {
        Packet w;  // nothing changed since: the terminator only
        ASSERT_TRUE(ZERA_boMarshalParamListA(w.h, b.list, 1));
        EXPECT_EQ(RecordCount(w.h), 1u);
        EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 4 + 6);
    }
    b.list[3].u8ChangeFlags |= ZERA_CHANGE_VALUE;
    b.list[5].u8ChangeFlags |= ZERA_CHANGE_VALUE;  // the terminator's own mark
    {
        Packet w;
        ASSERT_TRUE(ZERA_boMarshalParamListA(w.h, b.list, 1));
        EXPECT_EQ(RecordCount(w.h), 2u);
        Param *back = nullptr;
        ASSERT_TRUE(ZERA_boUnmarshalParamListA(w.h, &back));
        EXPECT_EQ(zera::CountParams(back), 1u);
        EXPECT_EQ(back[0].uValue.dw, 3u);
        EXPECT_EQ(back[1].u8ChangeFlags, ZERA_CHANGE_VALUE);
        ZERA_vDeleteParamListA(back);
        EXPECT_EQ(b.list[3].u8ChangeFlags, 0);
        EXPECT_EQ(b.list[5].u8ChangeFlags, 0);
    }
    b.list[0].u8ChangeFlags |= ZERA_CHANGE_LEVELS;
    {
        Packet w;
        ASSERT_TRUE(ZERA_boMarshalParamListA(w.h, b.list, 1));
        EXPECT_EQ(RecordCount(w.h), 6u);
        ASSERT_TRUE(ZERA_boMarshalParamListA(w.h, b.list, 0));  // all mode regardless of marks
    }
}

TEST(ParamWire, ListEndsAtAnEmptyName) {
    ListBuilder b;
    b.DWord("a", 1);
    b.DWord("", 2);
    b.DWord("c", 3);
    Packet w;
    ASSERT_TRUE(ZERA_boMarshalParamListA(w.h, b.list, 0));
    EXPECT_EQ(RecordCount(w.h), 2u);
    EXPECT_NE(b.list[2].u8ChangeFlags, 0);  // behind the end record: not visited
    Param *back = nullptr;
    ASSERT_TRUE(ZERA_boUnmarshalParamListA(w.h, &back));
    // The empty-named end record reads back as a parameter; a terminator follows it.
    EXPECT_EQ(zera::CountParams(back), 2u);
    EXPECT_EQ(back[1].uValue.dw, 2u);
    ZERA_vDeleteParamListA(back);
}

// A list with every kind of value and chain, in either width.
void Fill(ListBuilder &b) {
    b.Str("Mode\0how it runs", "fast", 0x30, true);
    b.StrValue(ZERA_VALUE_RANGE, "a", "m", 1);
    b.StrValue(ZERA_VALUE_SINGLE, "z", nullptr, 2);
    b.DWord("Gain", 5);
    b.DWordValue(ZERA_VALUE_RANGE, 1, 9, 3);
    b.DWord("Id", 0xFFFFFFFF, ZERA_PARAM_DWORD2, 200);
    b.Real("Rate", -2.25);
    b.RealValue(ZERA_VALUE_SINGLE, 0.5, 0, 4);
    b.Str("Empty", nullptr);
}

void ExpectFilled(const Param *l, bool wide) {
    auto str = [wide](const void *s) {
        return wide ? zt::WStr(s) : ListBuilder::Widen(static_cast<const char *>(s), false);
    };
    auto text = [wide](const void *block) {
        return wide ? zt::WText(block) : ListBuilder::Widen(zt::NText(block).c_str(), false);
    };
    ASSERT_EQ(zera::CountParams(l), 5u);
    EXPECT_EQ(str(l[0].pName), u"Mode");
    EXPECT_EQ(text(l[0].pName), u"how it runs");
    EXPECT_EQ(str(l[0].uValue.pv), u"fast");
    EXPECT_EQ(l[0].u8Attributes, 0x31);
    const ParamValue *v = l[0].pstValues;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->dwKind, 1u);
    EXPECT_EQ(str(v->uFrom.pv), u"a");
    EXPECT_EQ(str(v->uTo.pv), u"m");
    ASSERT_NE(v->pstNext, nullptr);
    EXPECT_EQ(v->pstNext->dwKind, 0u);
    EXPECT_EQ(str(v->pstNext->uFrom.pv), u"z");
    EXPECT_EQ(v->pstNext->dwTag, 2u);
    EXPECT_EQ(v->pstNext->pstNext, nullptr);
    EXPECT_EQ(l[1].uValue.dw, 5u);
    EXPECT_EQ(l[1].u8Tag, 7);
    EXPECT_EQ(l[1].pstValues->uTo.dw, 9u);
    EXPECT_EQ(l[2].dwType, ZERA_PARAM_DWORD2);
    EXPECT_EQ(l[2].uValue.dw, 0xFFFFFFFFu);
    EXPECT_EQ(l[2].dwAccess, 0xFFFFFFC8u);  // low byte 200 widened with its sign: -56
    EXPECT_EQ(l[3].uValue.r, -2.25);
    EXPECT_EQ(l[3].pstValues->uFrom.r, 0.5);
    EXPECT_EQ(l[4].uValue.pv, nullptr);
    EXPECT_EQ(l[5].pName, nullptr);
}

TEST(ParamWire, WideListReadNarrowAndBack) {
    ListBuilder wideList(true);
    Fill(wideList);
    Packet w;
    ASSERT_TRUE(ZERA_boMarshalParamListW(w.h, wideList.list, 0));
    EXPECT_EQ(RecordCount(w.h), 6u);

    ListBuilder narrowList(false);  // the same list built narrow writes the same bytes
    Fill(narrowList);
    Packet n;
    ASSERT_TRUE(ZERA_boMarshalParamListA(n.h, narrowList.list, 0));
    EXPECT_EQ(zt::Bytes(w.h), zt::Bytes(n.h));

    Param *narrow = nullptr;
    ASSERT_TRUE(ZERA_boUnmarshalParamListA(w.h, &narrow));
    ExpectFilled(narrow, false);
    Packet again;
    ASSERT_TRUE(ZERA_boMarshalParamListA(again.h, narrow, 0));
    Param *wide = nullptr;
    ASSERT_TRUE(ZERA_boUnmarshalParamListW(again.h, &wide));
    ExpectFilled(wide, true);
    ZERA_vDeleteParamListA(narrow);
    ZERA_vDeleteParamListW(wide);
}

TEST(ParamWire, ReadingIntoAListReplacesIt) {
    ListBuilder b;
    Fill(b);
    Packet w;
    ASSERT_TRUE(ZERA_boMarshalParamListA(w.h, b.list, 0));
    Param *list = nullptr;
    ASSERT_TRUE(ZERA_boCreateParListA(&list));
    uint32_t count = 0;
    ParamValue **cursor = nullptr;
    ASSERT_TRUE(ZERA_boAddParamA(1, 0, &list, &count, &cursor, 0, 0, 0, 0, 0, "old", "value"));
    ASSERT_TRUE(ZERA_boUnmarshalParamListA(w.h, &list));  // the old list is freed (leak checker)
    ExpectFilled(list, false);
    ZERA_vDeleteParamListA(list);
}

TEST(ParamWire, WriterRefusesBadTypeAndKind) {
    ListBuilder b;
    b.DWord("Gain", 5);
    b.DWordValue(ZERA_VALUE_SINGLE, 1, 0, 1);
    b.DWordValue(ZERA_VALUE_SINGLE, 2, 0, 1);
    Packet w;
    b.list[0].dwType = 4;
    EXPECT_FALSE(ZERA_boMarshalParamA(w.h, &b.list[0]));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_TYPE_RANGE);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 0);
    b.list[0].dwType = ZERA_PARAM_DWORD;
    b.list[0].pstValues->pstNext->dwKind = 2;
    EXPECT_FALSE(ZERA_boMarshalParamA(w.h, &b.list[0]));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_TYPE_RANGE);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 19);  // up to the value; no part of the chain
    b.list[0].pstValues->pstNext->dwKind = 0;
    EXPECT_FALSE(ZERA_boMarshalParamA(w.h, nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    EXPECT_FALSE(ZERA_boMarshalParamA(nullptr, &b.list[0]));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_HANDLE);
    EXPECT_FALSE(ZERA_boMarshalParamListA(w.h, nullptr, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);

    // A failing write in a list still clears the marks of the record visited.
    b.list[0].dwType = 7;
    b.list[0].u8ChangeFlags = 7;
    EXPECT_FALSE(ZERA_boMarshalParamListA(w.h, b.list, 0));
    EXPECT_EQ(b.list[0].u8ChangeFlags, 0);
    b.list[0].dwType = ZERA_PARAM_DWORD;
}

// A destination record holding a parameter of its own.
struct Destination {
    ListBuilder b;
    Destination() {
        b.Str("Old\0text", "old value", 0x10, true);
        b.StrValue(ZERA_VALUE_RANGE, "a", "b", 1);
    }
    Param Snapshot() const { return b.list[0]; }
};

bool SameRecord(const Param &a, const Param &b) { return std::memcmp(&a, &b, sizeof(Param)) == 0; }

TEST(ParamWire, FailedReadLeavesDestinationUnchanged) {
    Bytes badKind = kGain;
    badKind[22] = 1;  // one value record
    const Bytes tail = {3, 0, 0, 0, 1, 0, 0, 0, 0};  // kind 3
    badKind.insert(badKind.end(), tail.begin(), tail.end());
    Bytes badType = kGain;
    badType[10] = 4;
    Bytes badName = kGain;
    badName[8] = 'X';  // the name block holds one NUL only
    Bytes cut(kGain.begin(), kGain.end() - 2);
    const struct {
        const Bytes *bytes;
        uint32_t code;
    } cases[] = {{&badKind, OSAL_ERR_TYPE_RANGE}, {&badType, OSAL_ERR_TYPE_RANGE},
                 {&badName, OSAL_ERR_INVALID_SIZE}, {&cut, OSAL_ERR_SHORT_PACKET}};
    for (bool wide : {false, true}) {
        for (const auto &c : cases) {
            Destination d;
            const Param before = d.Snapshot();
            ZERA_HPACKET h = ReadPacket(*c.bytes);
            EXPECT_FALSE(wide ? ZERA_boUnmarshalParamW(h, &d.b.list[0], 1) : ZERA_boUnmarshalParamA(h, &d.b.list[0], 1));
            EXPECT_EQ(OSAL_dwGetLastError(), c.code);
            EXPECT_TRUE(SameRecord(before, d.b.list[0]));
            ZERA_boMarshalPacketDelete(h);
        }
    }
    ZERA_HPACKET h = ReadPacket(kGain);
    EXPECT_FALSE(ZERA_boUnmarshalParamA(h, nullptr, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), OSAL_ERR_INVALID_ARG);
    ZERA_boMarshalPacketDelete(h);
}

TEST(ParamWire, ReplaceFreesTheOldParameter) {
    Destination d;
    ZERA_HPACKET h = ReadPacket(kGain);
    ASSERT_TRUE(ZERA_boUnmarshalParamA(h, &d.b.list[0], 1));  // the leak checker sees the old one freed
    EXPECT_EQ(zt::NStr(d.b.list[0].pName), "Gain");
    EXPECT_EQ(d.b.list[0].dwAccess, 2u);
    EXPECT_EQ(d.b.list[0].pstValues, nullptr);

    // Without boReplace the old contents pass to whoever kept them.
    Param kept = d.b.list[0];
    ASSERT_TRUE(ZERA_boMarshalResetReadPos(h));
    ASSERT_TRUE(ZERA_boUnmarshalParamA(h, &d.b.list[0], 0));
    EXPECT_NE(d.b.list[0].pName, kept.pName);
    zera::ReleaseParam(&kept);
    ZERA_boMarshalPacketDelete(h);
}

TEST(ParamWire, BrokenListsCanStillBeWalkedAndDeleted) {
    Bytes zero = {0, 0, 0, 0};
    Bytes cutList = Cat({{0, 0, 0, 3}, kGain, Bytes(kGain.begin(), kGain.end() - 1)});
    Bytes earlyEnd = Cat({{0, 0, 0, 3}, kGain, kTerminator, kGain});
    Bytes noTerminator = Cat({{0, 0, 0, 1}, kGain});
    Bytes bogusCount = Cat({{0xFF, 0xFF, 0xFF, 0xF0}, kGain});

    const struct {
        const Bytes *bytes;
        bool ok;
        uint32_t code;
        uint32_t params;
    } cases[] = {{&zero, true, 0, 0},
                 {&cutList, false, OSAL_ERR_SHORT_PACKET, 1},
                 {&earlyEnd, false, OSAL_ERR_INVALID_SIZE, 1},
                 {&noTerminator, true, 0, 1},
                 {&bogusCount, false, OSAL_ERR_SHORT_PACKET, 1}};
    for (bool wide : {false, true}) {
        for (const auto &c : cases) {
            ZERA_HPACKET h = ReadPacket(*c.bytes);
            Param *list = nullptr;
            EXPECT_EQ(wide ? ZERA_boUnmarshalParamListW(h, &list) : ZERA_boUnmarshalParamListA(h, &list), c.ok);
            if (!c.ok) {
                EXPECT_EQ(OSAL_dwGetLastError(), c.code);
            }
            ASSERT_NE(list, nullptr);
            EXPECT_EQ(zera::CountParams(list), c.params);
            EXPECT_EQ(list[c.params].dwType, ZERA_PARAM_DWORD);
            // An ordinary list: it takes more parameters and can be deleted.
            uint32_t count = c.params;
            ParamValue **cursor = nullptr;
            for (int i = 0; i < 40; ++i) {
                ASSERT_TRUE(wide ? ZERA_boAddParamW(1, 0, &list, &count, &cursor, 1, 0, 0, 0, 0, W(u"n"), 1u)
                                 : ZERA_boAddParamA(1, 0, &list, &count, &cursor, 1, 0, 0, 0, 0, "n", 1u));
            }
            wide ? ZERA_vDeleteParamListW(list) : ZERA_vDeleteParamListA(list);
            ZERA_boMarshalPacketDelete(h);
        }
    }
}

}  // namespace
