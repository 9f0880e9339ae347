// marshal/param_wire_test.cpp - parameters and parameter lists on the wire:
// exact bytes, change marks, narrow/wide round trips, refusals and readers
// that fail without half-changing anything (running out of memory in the
// readers is tested through the event reader, which goes through both).
#include "marshal/marshal_test_util.h"

namespace {

using namespace mt;

const Bytes kGain = {0, 0, 0, 6, 'G', 'a', 'i', 'n', 0, 0, 0x01, 0x02, 0x11, 0x01, 0x00, 0, 0, 0, 5, 0, 0, 0, 0};
const Bytes kTerminator = {0, 0, 0, 0, 0x01, 0x03};

bool WriteList(ZERA_HPACKET h, Param *list, bool wide, BOOL8 changedOnly = 0) {
    return wide ? ZERA_boMarshalParamListW(h, list, changedOnly) : ZERA_boMarshalParamListA(h, list, changedOnly);
}
bool ReadList(ZERA_HPACKET h, Param **list, bool wide) {
    return wide ? ZERA_boUnmarshalParamListW(h, list) : ZERA_boUnmarshalParamListA(h, list);
}
// How many records a list written changed-only announces (fewer than 256 here).
uint8_t RecordCount(Param *list) {
    return Written([list](ZERA_HPACKET h) { return WriteList(h, list, false, 1); })[3];
}

TEST(ParamWire, GainExampleAndEmptyListExactBytes) {
    for (bool wide : {false, true}) {
        ListBuilder b(wide);
        ASSERT_TRUE(wide ? ZERA_boAddParamW(1, 0, &b.list, &b.count, &b.cursor, 1, 2, 0x10, 0, 0, W(u"Gain"), 5u)
                         : ZERA_boAddParamA(1, 0, &b.list, &b.count, &b.cursor, 1, 2, 0x10, 0, 0, "Gain", 5u));
        b.list[0].u8Attributes = 0x11;
        EXPECT_EQ(Written([&](ZERA_HPACKET h) {
                      return wide ? ZERA_boMarshalParamW(h, &b.list[0]) : ZERA_boMarshalParamA(h, &b.list[0]);
                  }),
                  kGain)
            << wide;
    }
    ListBuilder empty;
    const Bytes terminatorOnly = Wire().U32(1).Raw(kTerminator).b;
    EXPECT_EQ(Written([&](ZERA_HPACKET h) { return WriteList(h, empty.list, false, 1); }), terminatorOnly);
    EXPECT_EQ(empty.list[0].u8ChangeFlags, 0);
}

TEST(ParamWire, ChangedOnlyWritesMarkedValuesAndClearsMarksUpToAnEmptyName) {
    ListBuilder b;
    for (int i = 0; i < 5; ++i) b.DWord("p", static_cast<uint32_t>(i));
    b.list[2].u8ChangeFlags = 0xF4;             // marks above bit 2 are not the writer's
    EXPECT_EQ(RecordCount(b.list), 6u);         // the shape bit on the first record: every record
    for (int i = 0; i <= 5; ++i) EXPECT_EQ(b.list[i].u8ChangeFlags, i == 2 ? 0xF0 : 0) << i;
    EXPECT_EQ(RecordCount(b.list), 1u);         // nothing changed since: the terminator only
    b.list[3].u8ChangeFlags |= ZERA_CHANGE_VALUE;
    b.list[5].u8ChangeFlags |= ZERA_CHANGE_VALUE;  // the terminator's own mark
    EXPECT_EQ(RecordCount(b.list), 2u);
    EXPECT_EQ(b.list[3].u8ChangeFlags | b.list[5].u8ChangeFlags, 0);
    b.list[0].u8ChangeFlags |= ZERA_CHANGE_LEVELS;
    EXPECT_EQ(RecordCount(b.list), 6u);

    ListBuilder ended;  // an empty name ends the list: the record behind it is never visited
    ended.DWord("a", 1), ended.DWord("", 2), ended.DWord("c", 3);
    EXPECT_EQ(Written([&](ZERA_HPACKET h) { return WriteList(h, ended.list, false); })[3], 2u);
    EXPECT_NE(ended.list[2].u8ChangeFlags, 0);
}

// What of a read FillEveryKind list the bytes do not show: the strings in
// the reader's width and the access widened with its sign.
void ExpectFilled(const Param *l, bool wide) {
    ASSERT_EQ(zera::CountParams(l), 5u);
    const ParamValue *v = l[0].pstValues;
    ASSERT_TRUE(v != nullptr && v->pstNext != nullptr && v->pstNext->pstNext == nullptr);
    EXPECT_EQ(zt::Str16(l[0].pName, wide) + zt::Text16(l[0].pName, wide) + zt::Str16(l[0].uValue.pv, wide) +
                  zt::Str16(v->uFrom.pv, wide) + zt::Str16(v->uTo.pv, wide) + zt::Str16(v->pstNext->uFrom.pv, wide),
              u"Modehow it runsfastamz");
    EXPECT_TRUE(l[0].u8Attributes == 0x31 && l[2].dwAccess == 0xFFFFFFC8u);  // low byte 200: -56
    EXPECT_TRUE(l[4].uValue.pv == nullptr && l[5].pName == nullptr);
}

TEST(ParamWire, RoundTripsThroughBothWidths) {
    ListBuilder wideList(true), narrowList(false), narrow, wide(true);
    wideList.FillEveryKind(), narrowList.FillEveryKind();
    Packet w, again;
    ASSERT_TRUE(WriteList(w.h, wideList.list, true));
    EXPECT_EQ(w.bytes()[3], 6u);
    EXPECT_EQ(w.bytes(), Written([&](ZERA_HPACKET h) { return WriteList(h, narrowList.list, false); }));  // alike

    // Read narrow into a list that holds a parameter: it is replaced (and
    // freed, for the leak checker); the copy, read wide, writes the same bytes.
    narrow.Str("old", "value");
    ASSERT_TRUE(ZERA_boUnmarshalParamListA(w.h, &narrow.list));
    ExpectFilled(narrow.list, false);
    ASSERT_TRUE(WriteList(again.h, narrow.list, false) && ZERA_boUnmarshalParamListW(again.h, &wide.list));
    ExpectFilled(wide.list, true);
    EXPECT_EQ(again.bytes(), w.bytes());

    // The wide writer narrows straight into the packet, allocating nothing
    // (the packet has its room from before; only the change marks differ).
    again.p()->i32DataSize = 0;
    OSAL_vTestFailAllocAfter(0);
    EXPECT_TRUE(WriteList(again.h, wide.list, true));
    EXPECT_EQ(OSAL_lTestAllocCount(), 0);
    OSAL_vTestFailAllocAfter(-1);
    EXPECT_EQ(again.bytes().size(), w.bytes().size());
}

TEST(ParamWire, WriterRefusals) {
    ListBuilder b;
    b.DWord("Gain", 5);
    for (uint32_t v : {1u, 2u}) b.Value(ZERA_PARAM_DWORD, ZERA_VALUE_SINGLE, v, 0u, 1);
    Packet w;
    b.list[0].dwType = 4;
    EXPECT_FAILS(!ZERA_boMarshalParamA(w.h, &b.list[0]), OSAL_ERR_TYPE_RANGE);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 0);
    b.list[0].dwType = ZERA_PARAM_DWORD;
    b.list[0].pstValues->pstNext->dwKind = 2;
    EXPECT_FAILS(!ZERA_boMarshalParamA(w.h, &b.list[0]), OSAL_ERR_TYPE_RANGE);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 19);  // up to the value; no part of the chain
    b.list[0].pstValues->pstNext->dwKind = 0;

    // A failing write in a list still clears the marks of the record visited.
    b.list[0].dwType = 7;
    b.list[0].u8ChangeFlags = 7;
    EXPECT_FAILS(!ZERA_boMarshalParamListA(w.h, b.list, 0), OSAL_ERR_TYPE_RANGE);
    EXPECT_EQ(b.list[0].u8ChangeFlags, 0);
    b.list[0].dwType = ZERA_PARAM_DWORD;
}

TEST(ParamWire, FailedReadLeavesDestinationUnchangedAndReplaceFreesIt) {
    Bytes badKind = Wire().Raw(kGain).U8(3).U32(1).U32(0).b;  // one value record of kind 3
    badKind[22] = 1;
    Bytes badType = kGain, badName = kGain;
    badType[10] = 4;
    badName[8] = 'X';  // the name block holds one NUL only
    const std::pair<Bytes, uint32_t> cases[] = {{badKind, OSAL_ERR_TYPE_RANGE},
                                                {badType, OSAL_ERR_TYPE_RANGE},
                                                {badName, OSAL_ERR_INVALID_SIZE},
                                                {Bytes(kGain.begin(), kGain.end() - 2), OSAL_ERR_SHORT_PACKET}};
    for (bool wide : {false, true}) {
        for (const auto &[bytes, code] : cases) {
            ListBuilder d(wide);  // a destination record holding a parameter of its own
            d.Str("Old\0text", "old value", 0x10, true);
            d.StrValue(ZERA_VALUE_RANGE, "a", "b", 1);
            auto read = [&](const Bytes &from) {
                const Packet r(from);
                return wide ? ZERA_boUnmarshalParamW(r.h, &d.list[0], 1) : ZERA_boUnmarshalParamA(r.h, &d.list[0], 1);
            };
            const Param before = d.list[0];
            EXPECT_FAILS(!read(bytes), code);
            EXPECT_EQ(std::memcmp(&before, &d.list[0], sizeof(Param)), 0);
            ASSERT_TRUE(read(kGain));  // the old one freed (leak checker)
            EXPECT_TRUE(d.list[0].dwAccess == 2u && d.list[0].pstValues == nullptr);
        }
    }

    ListBuilder d;  // without boReplace the old contents pass to whoever kept them
    d.DWord("Old", 1);
    Param kept = d.list[0];
    ASSERT_TRUE(ZERA_boUnmarshalParamA(Packet(kGain).h, &d.list[0], 0));
    EXPECT_EQ(zt::NStr(d.list[0].pName), "Gain");
    zera::ReleaseParam(&kept);
}

TEST(ParamWire, BrokenListsCanStillBeWalkedAndDeleted) {
    const struct {
        Bytes bytes;
        uint32_t code, params;  // code 0: read
    } cases[] = {{{0, 0, 0, 0}, 0, 0},
                 {Wire().U32(3).Raw(kGain).Raw(Bytes(kGain.begin(), kGain.end() - 1)).b, OSAL_ERR_SHORT_PACKET, 1},
                 {Wire().U32(3).Raw(kGain).Raw(kTerminator).Raw(kGain).b, OSAL_ERR_INVALID_SIZE, 1},
                 {Wire().U32(1).Raw(kGain).b, 0, 1},  // no terminator
                 {Wire().U32(0xFFFFFFF0).Raw(kGain).b, OSAL_ERR_SHORT_PACKET, 1}};
    for (bool wide : {false, true}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << wide << " " << c.bytes.size());
            ListBuilder b(wide);  // its empty list is replaced
            EXPECT_REFUSED(ReadList(Packet(c.bytes).h, &b.list, wide) != (c.code == 0), c.code);
            ASSERT_NE(b.list, nullptr);
            EXPECT_TRUE(zera::CountParams(b.list) == c.params && b.list[c.params].dwType == ZERA_PARAM_DWORD);
            b.count = c.params;  // an ordinary list: it takes more parameters and can be deleted
            for (int i = 0; i < 40; ++i) b.DWord("n", 1);
            EXPECT_EQ(zera::CountParams(b.list), c.params + 40);
        }
    }
}

}  // namespace
