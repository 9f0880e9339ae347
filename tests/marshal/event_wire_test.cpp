// marshal/event_wire_test.cpp - events, stack levels and statistics blocks
// on the wire: exact bytes, attachments in both widths read back in reverse
// order, changed-only levels, writers that refuse before writing and readers
// that fail (also for want of memory) leaving nothing.
#include "marshal/marshal_test_util.h"

namespace {

using namespace mt;

// Items 1 to 7 of every event made by NewEvent; a TimeVal is seconds first.
Wire Head(uint32_t type, uint32_t size) {
    return Wire().U8(type).U8(5).U8(0x11).U32(size).U32(0x0A0B0C0D).U32(0x01020304).U32(0x80000007).U32(0x00C00008);
}

Event *NewEvent(int32_t type, uint32_t size) {
    Event *ev = ZERA_pstCreateEvent(type, 5, size);
    ev->u8Error = 0x11;
    ev->dwEventId = 0x0A0B0C0D;
    ev->stTimeStamp = TimeVal{0x80000007, 0x01020304};
    ev->dwFlags = 0x00C00008;
    return ev;
}

Bytes EventBytes(Event *ev) {
    return Written([ev](ZERA_HPACKET h) { return ZERA_boMarshalZERAEvent(h, ev); });
}

// One event read from all the bytes (the reader must clear the caller's
// pointer first); null with the reader's code.
Event *ReadBack(const Bytes &bytes, bool wide = false) {
    const Packet r(bytes);
    Event *ev = reinterpret_cast<Event *>(0x1);
    const bool ok = ZERA_boUnmarshalZERAEvent(r.h, &ev, wide ? 1 : 0);
    EXPECT_EQ(ok, ev != nullptr);
    EXPECT_TRUE(!ok || ZERA_i32MarshalGetCurReadPos(r.h) == static_cast<int32_t>(bytes.size()));
    return ev;
}

// Writes ev (deleted then), expects exactly `expected`, reads it back and
// expects the copy to write the same bytes; returns the copy.
Event *ExpectWire(Event *ev, const Bytes &expected) {
    EXPECT_EQ(EventBytes(ev), expected);
    ZERA_boDeleteEvent(ev);
    Event *back = ReadBack(expected);
    EXPECT_TRUE(back != nullptr && EventBytes(back) == expected) << "round trip";
    return back;
}

TEST(EventWire, ExactBytesOfEveryType) {
    for (int32_t type : {0, 1, 2}) {  // data events: 62 bytes with 5 data bytes
        Event *ev = NewEvent(type, 5);
        ev->u64Aux1 = 0x1112131415161718ull, ev->u64Aux2 = 0x2122232425262728ull;
        ev->u8Options = 0x08, ev->u8QueueOp = 0x31, ev->u8Aux3 = 0x41;
        ev->u16RepeatCount = 0x5152, ev->stPeriod = TimeVal{0x80000061, 0x62};
        std::memcpy(ev->pbData, "hello", 5);
        Event *back = ExpectWire(ev, Head(type, 5).U8(0).U64(0x1112131415161718ull).U64(0x2122232425262728ull)
                                         .U8(0x08).U8(0x41).U8(0x31)  // options, aux3, queue op: the wire's order
                                         .U16(0x5152).U32(0x62).U32(0x80000061).U32(5).Raw({'h', 'e', 'l', 'l', 'o'})
                                         .b);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(back->pbData == reinterpret_cast<uint8_t *>(back + 1) && back->pstOwner == nullptr);  // own area
        ZERA_boDeleteEvent(back);
    }

    // Kinds 1, 0, 2 back to back, walked by item size; the count is carried
    // as it stands, and a count of 0 carries no items at all (such a packet
    // is refused by the reader: "count 0 over 44 bytes" below).
    const uint32_t items[11] = {1, 16, 0x05060708, 0x01020304, 0, 12, 7, 2, 16, 0xB0A09080, 0xF0E0D0C0};
    Event *mixed = NewEvent(ZERA_EVENT_ITEMS, 44);
    std::memcpy(mixed->pbItems, items, sizeof items);
    mixed->dwItemCount = 0;
    EXPECT_EQ(EventBytes(mixed), Head(3, 44).U8(0).U32(0).b);  // 28 bytes
    mixed->dwItemCount = 9;
    Event *back = ExpectWire(mixed, Head(3, 44).U8(0).U32(9).U8(1).U64(0x0102030405060708ull).U8(0).U32(7)
                                        .U8(2).U64(0xF0E0D0C0B0A09080ull).b);  // 51 bytes
    EXPECT_EQ(std::memcmp(back->pbItems, items, sizeof items), 0);  // item sizes rebuilt
    ZERA_boDeleteEvent(back);

    Event *interval = NewEvent(ZERA_EVENT_INTERVAL, 0);  // 32 bytes
    interval->stInterval = TimeVal{0x80000200, 3};
    ZERA_boDeleteEvent(ExpectWire(interval, Head(4, 0).U8(0).U32(3).U32(0x80000200).b));
}

// Adds a node (level, selector) holding the list "Gain" = number, "Tx\xe9" =
// "v" in the width given.
void Attach(Event *ev, uint8_t level, uint8_t selector, uint32_t number, bool wide) {
    ListBuilder b(wide);
    b.DWord("Gain", number), b.Str("Tx\xe9", "v");
    std::swap((*ZERA_ppstCheckParListA(ev, level, selector, 1, 0))->pParList, b.list);
    ev->boWideAttach = wide ? 1 : 0;
}

TEST(EventWire, AttachmentsInBothWidthsComeBackReversed) {
    // The bytes of an attached list written alone (both widths write the same).
    Bytes lists[2];
    for (uint32_t i : {0u, 1u}) {
        ListBuilder b;
        b.DWord("Gain", 20 + 70 * i), b.Str("Tx\xe9", "v");
        lists[i] = Written([&b](ZERA_HPACKET h) { return ZERA_boMarshalParamListA(h, b.list, 0); });
    }
    const Bytes expected = Head(4, 0).U8(2).U8(1).Raw(lists[0]).U8(9).U8(0).Raw(lists[1]).U8(0).U64(0).b;
    for (bool wide : {false, true}) {
        Event *ev = NewEvent(ZERA_EVENT_INTERVAL, 0);
        Attach(ev, 9, 0, 90, wide);
        Attach(ev, 2, 1, 20, wide);  // the head
        EXPECT_EQ(EventBytes(ev), expected) << wide;  // and the writer cleared the marks:
        EXPECT_EQ(ev->pstAttachments->pParList[0].u8ChangeFlags, 0);
        ZERA_boDeleteEvent(ev);

        Event *back = ReadBack(expected, wide);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->boWideAttach, wide ? 1 : 0);
        const Attachment *n = back->pstAttachments;
        for (int level : {9, 2}) {
            ASSERT_TRUE(n != nullptr && zera::CountParams(n->pParList) == 2u);
            EXPECT_TRUE(n->u8Level == level && n->u8Selector == (level == 2 ? 1 : 0));
            EXPECT_EQ(n->pParList[0].uValue.dw, level * 10u);
            EXPECT_EQ(zt::Str16(n->pParList[1].pName, wide), u"Tx\u00e9");
            n = n->pstNext;
        }
        EXPECT_EQ(n, nullptr);
        ZERA_boDeleteEvent(back);
    }
}

// A valid type-1 event with two attachments and the 3 data bytes "abc".
Bytes RichEvent(bool wide = false) {
    Event *ev = NewEvent(ZERA_EVENT_DATA, 3);
    std::memcpy(ev->pbData, "abc", 3);
    Attach(ev, 6, 0, 1, wide);
    Attach(ev, 7, 1, 2, wide);
    Bytes bytes = EventBytes(ev);
    ZERA_boDeleteEvent(ev);
    return bytes;
}

// An item area is allocated only when the bytes present can fill it, so no
// packet costs much more memory than its size: with `at` given, the read
// stopped there, and a short packet was found before anything was allocated.
TEST(EventWire, ReaderFailuresLeaveNoEventAndAllocateNoAreaThePacketCannotFill) {
    auto fails = [](const Bytes &bytes, uint32_t code, const char *what, int32_t at = -1) {
        SCOPED_TRACE(what);
        const Packet r(bytes);
        Event *ev = reinterpret_cast<Event *>(0x1);
        OSAL_vTestFailAllocAfter(-1);  // counts from 0
        EXPECT_FAILS(!ZERA_boUnmarshalZERAEvent(r.h, &ev, 0), code);
        EXPECT_EQ(ev, nullptr);
        EXPECT_TRUE(at < 0 || (ZERA_i32MarshalGetCurReadPos(r.h) == at &&
                               (code != OSAL_ERR_SHORT_PACKET || OSAL_lTestAllocCount() == 0)));
    };
    auto patched = [](Bytes b, size_t at, uint8_t value) { return b[at] = value, b; };
    const Bytes interval = Head(4, 0).U8(0).U64(0).b, rich = RichEvent();
    fails(patched(interval, 0, 0xFF), OSAL_ERR_TYPE_RANGE, "type -1");
    fails(Head(3, 12).U8(0).U32(1).U8(3).U32(0).b, OSAL_ERR_TYPE_RANGE, "kind 3");
    fails(patched(interval, 1, 64), OSAL_ERR_INVALID_SIZE, "level 64");
    fails(Head(3, 0x40000000).U8(0).U32(0).b, OSAL_ERR_INVALID_SIZE, "S too large");
    fails(Head(3, 0x3FFFFFFF).U8(0).U32(0).b, OSAL_ERR_SHORT_PACKET, "1 GiB in 28 bytes", 7);
    fails(Head(3, 44).U8(0).U32(0).b, OSAL_ERR_SHORT_PACKET, "count 0 over 44 bytes, as written", 7);
    fails(Head(3, 120).U8(0).U32(10).U8(0).U32(7).b, OSAL_ERR_SHORT_PACKET, "ten items claimed, one there", 7);
    fails(Head(3, 12).U8(0).U32(0).Raw(Bytes(20, 0)).b, OSAL_ERR_INVALID_SIZE, "bytes enough, no items", 28);
    // Sizes that disagree with the area are refused, never written past it.
    fails(Head(3, 12).U8(0).U32(1).U8(1).U64(5).b, OSAL_ERR_INVALID_SIZE, "16 bytes into 12");
    fails(Head(3, 14).U8(0).U32(1).U8(0).U32(1).U8(0).U32(2).b, OSAL_ERR_INVALID_SIZE, "passes S");
    Bytes longer = patched(rich, rich.size() - 4, 4), shorter = patched(rich, rich.size() - 4, 2);
    longer.push_back('d');  // the stream's length 4 into an area of 3
    shorter.pop_back();
    fails(longer, OSAL_ERR_INVALID_SIZE, "stream longer than S");
    fails(shorter, OSAL_ERR_INVALID_SIZE, "stream shorter than S");
    for (size_t n = 1; n < rich.size(); ++n) fails(Bytes(rich.begin(), rich.begin() + n), OSAL_ERR_SHORT_PACKET, "cut");
    EXPECT_FAILS(!ZERA_boUnmarshalZERAEvent(Packet(interval).h, nullptr, 0), 0);

    for (bool wide : {false, true}) {  // memory running out anywhere
        ReaderFailures<Event>(
            RichEvent(wide), [wide](ZERA_HPACKET p, Event **read) { return ZERA_boUnmarshalZERAEvent(p, read, wide) != 0; },
            [](Event *read) { EXPECT_TRUE(ZERA_boDeleteEvent(read)); });
    }
}

TEST(EventWire, WriterRefusesBeforeWriting) {
    Packet w;
    auto refused = [&w](Event *ev, uint32_t code, const char *what) {
        SCOPED_TRACE(what);
        EXPECT_FAILS(!ZERA_boMarshalZERAEvent(w.h, ev), code);
        EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 0);
    };
    refused(nullptr, 0, "null event");
    Event *bare = ZERA_pstCreateEvent(7, 1, 0);
    refused(bare, OSAL_ERR_TYPE_RANGE, "type 7");
    Attach(bare, 0, 0, 1, false);  // its level byte would end the attachments
    Attach(bare, 3, 0, 1, false);
    bare->i32Type = ZERA_EVENT_INTERVAL;
    refused(bare, OSAL_ERR_INVALID_ARG, "attachment of level 0");
    EXPECT_NE(bare->pstAttachments->pParList[0].u8ChangeFlags, 0);  // the list before it kept its marks

    Event *items = NewEvent(ZERA_EVENT_ITEMS, 24);
    items->dwItemCount = 2;
    auto second = [items](uint32_t kind, uint32_t size) {
        const uint32_t both[5] = {0, 12, 0, kind, size};
        std::memcpy(items->pbItems, both, sizeof both);
        return items;
    };
    refused(second(3, 12), OSAL_ERR_TYPE_RANGE, "kind 3");
    refused(second(0, 0), OSAL_ERR_INVALID_SIZE, "item size 0 (an endless walk)");
    refused(second(0, 16), OSAL_ERR_INVALID_SIZE, "size not the kind's");
    refused(second(1, 16), OSAL_ERR_INVALID_SIZE, "item passes the area");
    second(0, 12)->dwItemsSize = 100;
    refused(items, OSAL_ERR_INVALID_SIZE, "area passes the block");

    Event *data = NewEvent(ZERA_EVENT_DATA, 4);
    data->dwDataSize = 5;
    refused(data, OSAL_ERR_INVALID_SIZE, "data passes the block");
    data->dwDataSize = 0x80000000u;
    refused(data, OSAL_ERR_INVALID_SIZE, "S above 0x7FFFFFFF");
    uint8_t outside[8] = {};  // data outside the block is the caller's to size
    data->pbData = outside;
    data->dwDataSize = 8;
    EXPECT_TRUE(ZERA_boMarshalZERAEvent(w.h, data));
    for (Event *ev : {bare, items, data}) ZERA_boDeleteEvent(ev);
}

TEST(LevelWire, FullThenChangedOnlyReadBackAndRefusals) {
    for (bool wide : {false, true}) {
        ListBuilder params(wide), same(false);
        for (ListBuilder *b : {&params, &same}) b->DWord("Gain", 5), b->Str("Mode", "fast");
        StackHandle level{};  // no entry table: nothing refreshes the parameters
        level.u8Level = 3;
        level.boWide = wide ? 1 : 0;
        level.pstStackParams = params.list;
        auto written = [&level](ZERA_HPACKET h) { return ZERA_boMarshalStackHandleLevel(h, &level, 1); };
        const Packet full;
        ASSERT_TRUE(written(full.h));
        // A fresh list carries its shape mark: all records.
        const Bytes list = Written([&](ZERA_HPACKET h) { return ZERA_boMarshalParamListA(h, same.list, 0); });
        EXPECT_EQ(full.bytes(), Wire().U8(3).Raw(list).b);
        EXPECT_EQ(Written(written), (Bytes{3, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}));  // N = 1, the terminator
        params.list[1].u8ChangeFlags |= ZERA_CHANGE_VALUE;
        EXPECT_EQ(Written(written)[4], 2);  // Mode and the terminator

        StackHandle *back = reinterpret_cast<StackHandle *>(0x1);  // replaced, not freed
        ASSERT_TRUE(ZERA_boUnmarshalStackHandleLevel(full.h, &back, wide ? 1 : 0));
        // A container, never a live level.
        EXPECT_TRUE(!ZERA_boHandleCheck(back, 0) && back->dwMagic == 0 && back->u8Level == 3 && back->boWide == wide);
        ASSERT_EQ(zera::CountParams(back->pstStackParams), 2u);
        EXPECT_EQ(zt::Str16(back->pstStackParams[1].uValue.pv, wide), u"fast");
        ZERA_vDeleteStackHandleLevel(back);
    }
    ListBuilder params;
    StackHandle level{};
    Packet w;
    EXPECT_FAILS(!ZERA_boMarshalStackHandleLevel(w.h, &level, 0), OSAL_ERR_INVALID_ARG);  // no list
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 0);  // refused before the level byte
    level.pstStackParams = params.list;
    params.Str("Mode", "fast");
    ASSERT_TRUE(ZERA_boMarshalStackHandleLevel(w.h, &level, 0));
    const Bytes bytes = w.bytes();

    // Cut inside the list: 1032, the pointer kept and the half-read record
    // freed (leak checker); the list reader's own failures are tested with it.
    StackHandle keep{}, *out = &keep;
    EXPECT_FAILS(!ZERA_boUnmarshalStackHandleLevel(Packet(Bytes(bytes.begin(), bytes.end() - 3)).h, &out, 0),
                 OSAL_ERR_SHORT_PACKET);
    EXPECT_EQ(out, &keep);
    EXPECT_FAILS(!ZERA_boUnmarshalStackHandleLevel(w.h, nullptr, 0), 0);

    keep.dwMagic = ZERA_HANDLE_MAGIC;  // looks live: never released here
    EXPECT_REFUSED((ZERA_vDeleteStackHandleLevel(&keep), 0), OSAL_ERR_INVALID_ARG);
}

TEST(StatisticsWire, FiftySixBytesAndBack) {
    uint32_t block[ZERA_STATS_WORDS], back[ZERA_STATS_WORDS] = {};
    Bytes expected;
    for (uint32_t i = 0; i < 12; ++i) {
        block[i] = 0x01010101u * (i + 1);
        expected.insert(expected.end(), 4, static_cast<uint8_t>(i + 1));
    }
    block[12] = 0xB2B2A1A1u;  // LoadA 0xA1A1, LoadB 0xB2B2
    block[13] = 0xD4D4C3C3u;  // LoadAMax 0xC3C3, LoadBMax 0xD4D4
    for (uint8_t figure : {0xA1, 0xB2, 0xC3, 0xD4}) expected.insert(expected.end(), 2, figure);
    Packet w;
    ASSERT_TRUE(ZERA_boMarshalStatistics(w.h, block) && ZERA_boUnmarshalStatistics(w.h, back));
    EXPECT_TRUE(expected.size() == 56u && w.bytes() == expected && std::memcmp(back, block, sizeof block) == 0);

    // Cut inside LoadBMax: what was read before stays, the rest as it was.
    std::memset(back, 0xEE, sizeof back);
    EXPECT_FAILS(!ZERA_boUnmarshalStatistics(Packet(Bytes(expected.begin(), expected.begin() + 54)).h, back),
                 OSAL_ERR_SHORT_PACKET);
    EXPECT_TRUE(std::memcmp(back, block, 13 * sizeof(uint32_t)) == 0 && back[13] == 0xEEEEC3C3u);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 56);
}

}  // namespace
