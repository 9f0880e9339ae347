// marshal/event_wire_test.cpp - events on the wire: exact bytes of every
// type, attachments in both widths read back in reverse order, readers that
// fail and leave nothing, writers that refuse before writing.
#include <cstring>
#include <vector>

#include "marshal/marshal.h"
#include "param/param.h"
#include "param/param_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Expected packet bytes in network order.
struct Wire {
    Bytes b;
    Wire &U8(uint32_t v) {
        b.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Wire &U16(uint32_t v) { return U8(v >> 8).U8(v); }
    Wire &U32(uint32_t v) { return U16(v >> 16).U16(v); }
    Wire &U64(uint64_t v) { return U32(static_cast<uint32_t>(v >> 32)).U32(static_cast<uint32_t>(v)); }
    Wire &Raw(const Bytes &x) {
        b.insert(b.end(), x.begin(), x.end());
        return *this;
    }
    // Items 1 to 7 of every event made by NewEvent; a TimeVal is seconds first.
    Wire &Head(uint32_t type, uint32_t size) {
        return U8(type).U8(5).U8(0x11).U32(size).U32(0x0A0B0C0D).U32(0x01020304).U32(0x80000007).U32(0x00C00008);
    }
};

Event *NewEvent(int32_t type, uint32_t size) {
    Event *ev = ZERA_pstCreateEvent(type, 5, size);
    ev->u8Error = 0x11;
    ev->dwEventId = 0x0A0B0C0D;
    ev->stTimeStamp = TimeVal{0x80000007, 0x01020304};
    ev->dwFlags = 0x00C00008;
    return ev;
}

Bytes Written(Event *ev) {
    ZERA_HPACKET w = ZERA_hMarshalPacketCreate(nullptr, 0);
    EXPECT_TRUE(ZERA_boMarshalZERAEvent(w, ev)) << OSAL_pszGetLastErrorText();
    Bytes bytes = zt::Bytes(w);
    ZERA_boMarshalPacketDelete(w);
    return bytes;
}

// One event read from the bytes (the caller's pointer must be cleared by the
// reader); null with the reader's code.
Event *ReadBack(const Bytes &bytes, bool wide = false) {
    ZERA_HPACKET h = zt::ReadPacket(bytes);
    Event *ev = reinterpret_cast<Event *>(0x1);
    const bool ok = ZERA_boUnmarshalZERAEvent(h, &ev, wide ? 1 : 0);
    EXPECT_EQ(ok, ev != nullptr);
    EXPECT_TRUE(!ok || ZERA_i32MarshalGetCurReadPos(h) == static_cast<int32_t>(bytes.size()));
    ZERA_boMarshalPacketDelete(h);
    return ev;
}

// Writes ev, expects exactly `expected`, reads it back and expects the copy
// to write the same bytes again (every carried field survived); returns the
// copy, which the caller deletes.
Event *ExpectWire(Event *ev, const Bytes &expected, size_t size, bool wide = false) {
    EXPECT_EQ(expected.size(), size);
    EXPECT_EQ(Written(ev), expected);
    Event *back = ReadBack(expected, wide);
    EXPECT_NE(back, nullptr);
    if (back != nullptr) {
        EXPECT_EQ(Written(back), expected) << "round trip";
    }
    return back;
}

TEST(EventWire, ExactBytesOfEveryType) {
    for (int32_t type : {0, 1, 2}) {  // data events: 62 bytes with 5 data bytes
        Event *ev = NewEvent(type, 5);
        ev->u64Aux1 = 0x1112131415161718ull, ev->u64Aux2 = 0x2122232425262728ull;
        ev->u8Options = 0x08, ev->u8QueueOp = 0x31, ev->u8Aux3 = 0x41;
        ev->u16RepeatCount = 0x5152, ev->stPeriod = TimeVal{0x80000061, 0x62};
        std::memcpy(ev->pbData, "hello", 5);
        Event *back = ExpectWire(ev,
                                 Wire()
                                     .Head(type, 5)
                                     .U8(0)
                                     .U64(0x1112131415161718ull)
                                     .U64(0x2122232425262728ull)
                                     .U8(0x08)  // options, aux3, queue op: the wire's order
                                     .U8(0x41)
                                     .U8(0x31)
                                     .U16(0x5152)
                                     .U32(0x62)
                                     .U32(0x80000061)
                                     .U32(5)
                                     .Raw({'h', 'e', 'l', 'l', 'o'})
                                     .b,
                                 62);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->dwDataSize, 5u);
        EXPECT_EQ(back->pbData, reinterpret_cast<uint8_t *>(back + 1));  // its own area
        EXPECT_EQ(back->pstOwner, nullptr);
        ZERA_boDeleteEvent(back);
        ZERA_boDeleteEvent(ev);
    }

    Event *one = NewEvent(ZERA_EVENT_ITEMS, 12);  // one kind-0 item: 33 bytes
    const uint32_t item[3] = {0, 12, 0xCAFEF00D};
    std::memcpy(one->pbItems, item, sizeof item);
    one->dwItemCount = 1;
    Event *back = ExpectWire(one, Wire().Head(3, 12).U8(0).U32(1).U8(0).U32(0xCAFEF00D).b, 33);
    EXPECT_EQ(std::memcmp(back->pbItems, item, sizeof item), 0);  // dwItemSize rebuilt: 12
    ZERA_boDeleteEvent(back);
    ZERA_boDeleteEvent(one);

    // Kinds 1, 0, 2 back to back, walked by item size; the count is carried
    // as it stands, and a count of 0 carries no items at all.
    Event *mixed = NewEvent(ZERA_EVENT_ITEMS, 44);
    const uint32_t items[11] = {1, 16, 0x05060708, 0x01020304, 0, 12, 7, 2, 16, 0xB0A09080, 0xF0E0D0C0};
    std::memcpy(mixed->pbItems, items, sizeof items);
    mixed->dwItemCount = 9;
    back = ExpectWire(mixed,
                      Wire().Head(3, 44).U8(0).U32(9).U8(1).U64(0x0102030405060708ull).U8(0).U32(7).U8(2).U64(
                          0xF0E0D0C0B0A09080ull).b,
                      51);
    EXPECT_EQ(std::memcmp(back->pbItems, items, sizeof items), 0);
    ZERA_boDeleteEvent(back);
    mixed->dwItemCount = 0;
    ZERA_boDeleteEvent(ExpectWire(mixed, Wire().Head(3, 44).U8(0).U32(0).b, 28));
    ZERA_boDeleteEvent(mixed);

    Event *interval = NewEvent(ZERA_EVENT_INTERVAL, 0);  // 32 bytes
    interval->stInterval = TimeVal{0x80000200, 3};
    ZERA_boDeleteEvent(ExpectWire(interval, Wire().Head(4, 0).U8(0).U32(3).U32(0x80000200).b, 32));
    ZERA_boDeleteEvent(interval);
}

// Adds a node (level, selector) holding "Gain" = number and "Tx\xe9" = "v".
void Attach(Event *ev, uint8_t level, uint8_t selector, uint32_t number, bool wide) {
    Attachment *node = *ZERA_ppstCheckParListA(ev, level, selector, 1, 0);
    uint32_t count = 0;
    ParamValue **cursor = nullptr;
    ASSERT_TRUE(wide ? ZERA_boAddParamW(1, 0, &node->pParList, &count, &cursor, 1, 2, 0x10, 0, 0, zt::W(u"Gain"), number)
                     : ZERA_boAddParamA(1, 0, &node->pParList, &count, &cursor, 1, 2, 0x10, 0, 0, "Gain", number));
    ASSERT_TRUE(wide ? ZERA_boAddParamW(1, 0, &node->pParList, &count, &cursor, 0, 0, 0, 0, 0, zt::W(u"Tx\u00e9"),
                                        zt::W(u"v"))
                     : ZERA_boAddParamA(1, 0, &node->pParList, &count, &cursor, 0, 0, 0, 0, 0, "Tx\xe9", "v"));
    ev->boWideAttach = wide ? 1 : 0;
}

// The bytes of that list written alone (both widths write the same).
Bytes AttachedList(uint32_t number) {
    Event *ev = ZERA_pstCreateEvent(7, 0, 0);
    Attach(ev, 1, 0, number, false);
    ZERA_HPACKET w = ZERA_hMarshalPacketCreate(nullptr, 0);
    EXPECT_TRUE(ZERA_boMarshalParamListA(w, ev->pstAttachments->pParList, 0));
    Bytes bytes = zt::Bytes(w);
    ZERA_boMarshalPacketDelete(w);
    ZERA_boDeleteEvent(ev);
    return bytes;
}

TEST(EventWire, AttachmentsInBothWidthsComeBackReversed) {
    for (bool wide : {false, true}) {
        Event *ev = NewEvent(ZERA_EVENT_INTERVAL, 0);
        Attach(ev, 9, 0, 90, wide);
        Attach(ev, 2, 1, 20, wide);  // the head
        const Bytes expected =
            Wire().Head(4, 0).U8(2).U8(1).Raw(AttachedList(20)).U8(9).U8(0).Raw(AttachedList(90)).U8(0).U64(0).b;
        EXPECT_EQ(Written(ev), expected) << wide;
        EXPECT_EQ(ev->pstAttachments->pParList[0].u8ChangeFlags, 0);  // the writer cleared the marks

        Event *back = ReadBack(expected, wide);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->boWideAttach, wide ? 1 : 0);
        const Attachment *n = back->pstAttachments;
        for (int level : {9, 2}) {
            ASSERT_NE(n, nullptr);
            EXPECT_EQ(n->u8Level, level);
            EXPECT_EQ(n->u8Selector, level == 2 ? 1 : 0);
            ASSERT_EQ(zera::CountParams(n->pParList), 2u);
            EXPECT_EQ(n->pParList[0].uValue.dw, level * 10u);
            EXPECT_EQ(wide ? zt::WStr(n->pParList[1].pName) : zt::ListBuilder::Widen(static_cast<const char *>(n->pParList[1].pName), false), u"Tx\u00e9");
            n = n->pstNext;
        }
        EXPECT_EQ(n, nullptr);
        ZERA_boDeleteEvent(back);
        ZERA_boDeleteEvent(ev);
    }
}

// A valid type-1 event with two attachments and the 3 data bytes "abc".
Bytes RichEvent(bool wide = false) {
    Event *ev = NewEvent(ZERA_EVENT_DATA, 3);
    std::memcpy(ev->pbData, "abc", 3);
    Attach(ev, 6, 0, 1, wide);
    Attach(ev, 7, 1, 2, wide);
    Bytes bytes = Written(ev);
    ZERA_boDeleteEvent(ev);
    return bytes;
}

TEST(EventWire, ReaderFailuresLeaveNoEvent) {
    auto fails = [](Bytes bytes, uint32_t code, const char *what) {
        OSAL_vSetLastError(0);
        Event *ev = ReadBack(bytes);
        EXPECT_EQ(ev, nullptr) << what;
        EXPECT_EQ(OSAL_dwGetLastError(), code) << what;
        if (ev != nullptr) ZERA_boDeleteEvent(ev);
    };
    auto patched = [](Bytes b, size_t at, uint8_t value) {
        b[at] = value;
        return b;
    };
    const Bytes interval = Wire().Head(4, 0).U8(0).U64(0).b;
    fails(patched(interval, 0, 5), OSAL_ERR_TYPE_RANGE, "type 5");
    fails(patched(interval, 0, 0xFF), OSAL_ERR_TYPE_RANGE, "type -1");
    fails(Wire().Head(3, 12).U8(0).U32(1).U8(3).U32(0).b, OSAL_ERR_TYPE_RANGE, "kind 3");
    fails(patched(interval, 1, 64), OSAL_ERR_INVALID_SIZE, "level 64");
    fails(Wire().Head(3, 0x40000000).U8(0).U32(0).b, OSAL_ERR_INVALID_SIZE, "S too large");
    // Sizes that disagree with the area are refused, never written past it.
    fails(Wire().Head(3, 12).U8(0).U32(1).U8(1).U64(5).b, OSAL_ERR_INVALID_SIZE, "16 bytes into 12");
    fails(Wire().Head(3, 14).U8(0).U32(1).U8(0).U32(1).U8(0).U32(2).b, OSAL_ERR_INVALID_SIZE, "passes S");
    const Bytes rich = RichEvent();
    Bytes longer = patched(rich, rich.size() - 4, 4);  // the stream's length: 4 into an area of 3
    longer.push_back('d');
    fails(longer, OSAL_ERR_INVALID_SIZE, "stream longer than S");
    Bytes shorter = patched(rich, rich.size() - 4, 2);
    shorter.pop_back();
    fails(shorter, OSAL_ERR_INVALID_SIZE, "stream shorter than S");
    fails(patched(rich, 3, 0x3F), OSAL_ERR_SHORT_PACKET, "S beyond the packet");
    // Every cut of a valid packet, e.g. right after the flags (23 bytes).
    for (size_t n = 1; n < rich.size(); ++n) fails(Bytes(rich.begin(), rich.begin() + n), OSAL_ERR_SHORT_PACKET, "cut");

    OSAL_vSetLastError(0);
    ZERA_HPACKET h = zt::ReadPacket(interval);
    EXPECT_FALSE(ZERA_boUnmarshalZERAEvent(h, nullptr, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), 0u);
    ZERA_boMarshalPacketDelete(h);
    Event *ev = nullptr;
    EXPECT_FALSE(ZERA_boUnmarshalZERAEvent(nullptr, &ev, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
}

TEST(EventWire, WriterRefusesBeforeWriting) {
    ZERA_HPACKET w = ZERA_hMarshalPacketCreate(nullptr, 0);
    auto refused = [w](Event *ev, uint32_t code, const char *what) {
        OSAL_vSetLastError(0);
        EXPECT_FALSE(ZERA_boMarshalZERAEvent(w, ev)) << what;
        EXPECT_EQ(OSAL_dwGetLastError(), code) << what;
        EXPECT_EQ(ZERA_i32MarshalGetDataSize(w), 0) << what;
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
        const uint32_t first[2] = {0, 12}, next[2] = {kind, size};
        std::memcpy(items->pbItems, first, sizeof first);
        std::memcpy(items->pbItems + 12, next, sizeof next);
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
    EXPECT_TRUE(ZERA_boMarshalZERAEvent(w, data));
    EXPECT_FALSE(ZERA_boMarshalZERAEvent(nullptr, data));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    for (Event *ev : {bare, items, data}) ZERA_boDeleteEvent(ev);
    ZERA_boMarshalPacketDelete(w);
}

TEST(EventWire, AllocationFailuresLeakNothing) {
    for (bool wide : {false, true}) {
        ZERA_HPACKET h = zt::ReadPacket(RichEvent(wide));
        zt::ForEachAllocFailure([&](long) {
            zera::ToPacket(h)->i32CurReadPos = 0;
            Event *ev = nullptr;
            if (ZERA_boUnmarshalZERAEvent(h, &ev, wide ? 1 : 0)) return ZERA_boDeleteEvent(ev) != 0;
            EXPECT_EQ(ev, nullptr);
            EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_NO_MEMORY));
            return false;
        });
        ZERA_boMarshalPacketDelete(h);
    }
}

}  // namespace
