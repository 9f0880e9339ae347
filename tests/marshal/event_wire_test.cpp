// marshal/event_wire_test.cpp - events on the wire: exact bytes of every
// type, attachments in both widths read back in reverse order, readers that
// fail and leave nothing, writers that refuse before writing.
#include <cstring>
#include <vector>

#include "event/event.h"
#include "marshal/marshal.h"
#include "param/param.h"
#include "param/param_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zt::W;

struct Packet {
    ZERA_HPACKET h = ZERA_hMarshalPacketCreate(nullptr, 0);
    ~Packet() { ZERA_boMarshalPacketDelete(h); }
};

struct EventPtr {
    Event *ev;
    explicit EventPtr(Event *e) : ev(e) {}
    ~EventPtr() {
        if (ev != nullptr) ZERA_boDeleteEvent(ev);
    }
    Event *operator->() const { return ev; }
};

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
    Wire &Time(uint32_t usec, uint32_t sec) { return U32(sec).U32(usec); }
    Wire &Raw(const Bytes &x) {
        b.insert(b.end(), x.begin(), x.end());
        return *this;
    }
    // Items 1 to 7 of every event in these tests.
    Wire &Head(uint32_t type, uint32_t size) {
        return U8(type).U8(5).U8(0x11).U32(size).U32(0x0A0B0C0D).Time(0x80000007, 0x01020304).U32(0x00C00008);
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
    Packet w;
    EXPECT_TRUE(ZERA_boMarshalZERAEvent(w.h, ev)) << OSAL_pszGetLastErrorText();
    return zt::Bytes(w.h);
}

// Reads one event from the bytes; null with the code left as it is.
Event *ReadBack(const Bytes &bytes, bool wide = false) {
    ZERA_HPACKET h = zt::ReadPacket(bytes);
    Event *ev = reinterpret_cast<Event *>(0x1);  // must be cleared by the reader
    const bool ok = ZERA_boUnmarshalZERAEvent(h, &ev, wide ? 1 : 0);
    EXPECT_EQ(ok, ev != nullptr);
    if (ok) {
        EXPECT_EQ(ZERA_i32MarshalGetCurReadPos(h), static_cast<int32_t>(bytes.size()));
    }
    ZERA_boMarshalPacketDelete(h);
    return ev;
}

void ExpectHead(const Event *ev, int32_t type) {
    EXPECT_EQ(ev->i32Type, type);
    EXPECT_EQ(ev->u8Level, 5);
    EXPECT_EQ(ev->u8Error, 0x11);
    EXPECT_EQ(ev->dwEventId, 0x0A0B0C0Du);
    EXPECT_EQ(ev->stTimeStamp.dwMicroseconds, 0x80000007u);
    EXPECT_EQ(ev->stTimeStamp.i32Seconds, 0x01020304);
    EXPECT_EQ(ev->dwFlags, 0x00C00008u);
    EXPECT_EQ(ev->pstOwner, nullptr);
}

TEST(EventWire, DataEventsOfTypes0To2Are62BytesWith5DataBytes) {
    for (int32_t type : {0, 1, 2}) {
        EventPtr ev(NewEvent(type, 5));
        ev->u64Aux1 = 0x1112131415161718ull;
        ev->u64Aux2 = 0x2122232425262728ull;
        ev->u8Options = 0x08;
        ev->u8QueueOp = 0x31;
        ev->u8Aux3 = 0x41;
        ev->u16RepeatCount = 0x5152;
        ev->stPeriod = TimeVal{0x80000061, 0x62};
        std::memcpy(ev->pbData, "hello", 5);
        const Bytes expected = Wire()
                                   .Head(type, 5)
                                   .U8(0)
                                   .U64(0x1112131415161718ull)
                                   .U64(0x2122232425262728ull)
                                   .U8(0x08)  // options, aux3, queue op: the wire's own order
                                   .U8(0x41)
                                   .U8(0x31)
                                   .U16(0x5152)
                                   .Time(0x80000061, 0x62)
                                   .U32(5)
                                   .Raw({'h', 'e', 'l', 'l', 'o'})
                                   .b;
        ASSERT_EQ(expected.size(), 62u);
        EXPECT_EQ(Written(ev.ev), expected) << type;

        EventPtr back(ReadBack(expected));
        ASSERT_NE(back.ev, nullptr);
        ExpectHead(back.ev, type);
        EXPECT_EQ(back->u64Aux1, ev->u64Aux1);
        EXPECT_EQ(back->u64Aux2, ev->u64Aux2);
        EXPECT_EQ(back->u8Options, 0x08);
        EXPECT_EQ(back->u8QueueOp, 0x31);
        EXPECT_EQ(back->u8Aux3, 0x41);
        EXPECT_EQ(back->u16RepeatCount, 0x5152);
        EXPECT_EQ(back->stPeriod.dwMicroseconds, 0x80000061u);
        EXPECT_EQ(back->dwDataSize, 5u);
        EXPECT_EQ(back->pbData, reinterpret_cast<uint8_t *>(back.ev + 1));  // its own area
        EXPECT_EQ(std::memcmp(back->pbData, "hello", 5), 0);
    }
}

TEST(EventWire, ItemEventsWalkTheirAreaByItemSize) {
    {  // one kind-0 item: 33 bytes
        EventPtr ev(NewEvent(ZERA_EVENT_ITEMS, 12));
        const uint32_t item[3] = {0, 12, 0xCAFEF00D};
        std::memcpy(ev->pbItems, item, sizeof item);
        ev->dwItemCount = 1;
        const Bytes expected = Wire().Head(3, 12).U8(0).U32(1).U8(0).U32(0xCAFEF00D).b;
        ASSERT_EQ(expected.size(), 33u);
        EXPECT_EQ(Written(ev.ev), expected);
        EventPtr back(ReadBack(expected));
        ASSERT_NE(back.ev, nullptr);
        ExpectHead(back.ev, ZERA_EVENT_ITEMS);
        EXPECT_EQ(back->dwItemsSize, 12u);
        EXPECT_EQ(back->dwItemCount, 1u);
        EXPECT_EQ(std::memcmp(back->pbItems, item, sizeof item), 0);
    }
    {  // kinds 0, 1, 2 back to back; the count is carried as it stands
        EventPtr ev(NewEvent(ZERA_EVENT_ITEMS, 44));
        EventItem items[3] = {};
        items[0].dwKind = 1, items[0].dwItemSize = 16, items[0].qw = 0x0102030405060708ull;
        items[1].dwKind = 0, items[1].dwItemSize = 12, items[1].dw = 7;
        items[2].dwKind = 2, items[2].dwItemSize = 16, items[2].qw = 0xF0E0D0C0B0A09080ull;
        std::memcpy(ev->pbItems, &items[0], 16);
        std::memcpy(ev->pbItems + 16, &items[1], 12);
        std::memcpy(ev->pbItems + 28, &items[2], 16);
        ev->dwItemCount = 9;
        const Bytes expected = Wire()
                                   .Head(3, 44)
                                   .U8(0)
                                   .U32(9)
                                   .U8(1)
                                   .U64(0x0102030405060708ull)
                                   .U8(0)
                                   .U32(7)
                                   .U8(2)
                                   .U64(0xF0E0D0C0B0A09080ull)
                                   .b;
        EXPECT_EQ(Written(ev.ev), expected);
        EventPtr back(ReadBack(expected));
        ASSERT_NE(back.ev, nullptr);
        EXPECT_EQ(back->dwItemCount, 9u);
        EXPECT_EQ(std::memcmp(back->pbItems, ev->pbItems, 44), 0);

        ev->dwItemCount = 0;  // nothing is walked: the area is not carried
        const Bytes empty = Wire().Head(3, 44).U8(0).U32(0).b;
        EXPECT_EQ(Written(ev.ev), empty);
        EventPtr none(ReadBack(empty));
        ASSERT_NE(none.ev, nullptr);
        EXPECT_EQ(none->dwItemsSize, 44u);
        EXPECT_EQ(none->dwItemCount, 0u);
    }
}

TEST(EventWire, IntervalEventIs32Bytes) {
    EventPtr ev(NewEvent(ZERA_EVENT_INTERVAL, 0));
    ev->stInterval = TimeVal{0x80000200, 3};
    const Bytes expected = Wire().Head(4, 0).U8(0).Time(0x80000200, 3).b;
    ASSERT_EQ(expected.size(), 32u);
    EXPECT_EQ(Written(ev.ev), expected);
    EventPtr back(ReadBack(expected));
    ASSERT_NE(back.ev, nullptr);
    ExpectHead(back.ev, ZERA_EVENT_INTERVAL);
    EXPECT_EQ(back->stInterval.dwMicroseconds, 0x80000200u);
    EXPECT_EQ(back->stInterval.i32Seconds, 3);
}

// Adds a node (level, selector) with one number and one string to the event.
void Attach(Event *ev, uint8_t level, uint8_t selector, uint32_t number, bool wide) {
    Attachment *node = *ZERA_ppstCheckParListA(ev, level, selector, 1, 0);
    ASSERT_NE(node, nullptr);
    uint32_t count = 0;
    ParamValue **cursor = nullptr;
    if (wide) {
        ASSERT_TRUE(ZERA_boAddParamW(1, 0, &node->pParList, &count, &cursor, 1, 2, 0x10, 0, 0, W(u"Gain"), number));
        ASSERT_TRUE(ZERA_boAddParamW(1, 0, &node->pParList, &count, &cursor, 0, 0, 0, 0, 0, W(u"Tx\u00e9"), W(u"v")));
    } else {
        ASSERT_TRUE(ZERA_boAddParamA(1, 0, &node->pParList, &count, &cursor, 1, 2, 0x10, 0, 0, "Gain", number));
        ASSERT_TRUE(ZERA_boAddParamA(1, 0, &node->pParList, &count, &cursor, 0, 0, 0, 0, 0, "Tx\xe9", "v"));
    }
    ev->boWideAttach = wide ? 1 : 0;
}

// The bytes of the list that Attach builds, written alone.
Bytes AttachedListBytes(uint32_t number) {
    EventPtr ev(ZERA_pstCreateEvent(7, 0, 0));
    Attach(ev.ev, 1, 0, number, false);
    Packet w;
    EXPECT_TRUE(ZERA_boMarshalParamListA(w.h, ev->pstAttachments->pParList, 0));
    return zt::Bytes(w.h);
}

TEST(EventWire, AttachmentsInBothWidthsComeBackReversed) {
    for (bool wide : {false, true}) {
        EventPtr ev(NewEvent(ZERA_EVENT_INTERVAL, 0));
        Attach(ev.ev, 9, 0, 90, wide);  // head: level 2 (selector 1), then level 9
        Attach(ev.ev, 2, 1, 20, wide);
        const Bytes expected = Wire()
                                   .Head(4, 0)
                                   .U8(2)
                                   .U8(1)
                                   .Raw(AttachedListBytes(20))
                                   .U8(9)
                                   .U8(0)
                                   .Raw(AttachedListBytes(90))
                                   .U8(0)
                                   .Time(0, 0)
                                   .b;
        EXPECT_EQ(Written(ev.ev), expected) << wide;
        for (Attachment *n = ev->pstAttachments; n != nullptr; n = n->pstNext) {
            EXPECT_EQ(n->pParList[0].u8ChangeFlags, 0);  // the writer cleared the marks
        }

        EventPtr back(ReadBack(expected, wide));
        ASSERT_NE(back.ev, nullptr);
        EXPECT_EQ(back->boWideAttach, wide ? 1 : 0);
        const Attachment *first = back->pstAttachments;
        ASSERT_NE(first, nullptr);
        ASSERT_NE(first->pstNext, nullptr);
        EXPECT_EQ(first->pstNext->pstNext, nullptr);
        EXPECT_EQ(first->u8Level, 9);
        EXPECT_EQ(first->u8Selector, 0);
        EXPECT_EQ(first->pstNext->u8Level, 2);
        EXPECT_EQ(first->pstNext->u8Selector, 1);
        for (const Attachment *n : {first, static_cast<const Attachment *>(first->pstNext)}) {
            ASSERT_EQ(zera::CountParams(n->pParList), 2u);
            EXPECT_EQ(n->pParList[0].uValue.dw, n->u8Level * 10u);
            if (wide) {
                EXPECT_EQ(zt::WStr(n->pParList[1].pName), u"Tx\u00e9");
                EXPECT_EQ(zt::WStr(n->pParList[1].uValue.ls), u"v");
            } else {
                EXPECT_EQ(zt::NStr(n->pParList[1].pName), "Tx\xe9");
            }
        }
    }
}

// The bytes of a valid type-1 event with two attachments and 3 data bytes.
Bytes RichEventBytes() {
    EventPtr ev(NewEvent(ZERA_EVENT_DATA, 3));
    std::memcpy(ev->pbData, "abc", 3);
    Attach(ev.ev, 6, 0, 1, false);
    Attach(ev.ev, 7, 1, 2, false);
    return Written(ev.ev);
}

void ExpectReadFails(const Bytes &bytes, uint32_t code, const char *what) {
    OSAL_vSetLastError(0);
    Event *ev = ReadBack(bytes);
    EXPECT_EQ(ev, nullptr) << what;
    EXPECT_EQ(OSAL_dwGetLastError(), code) << what;
    if (ev != nullptr) ZERA_boDeleteEvent(ev);
}

TEST(EventWire, ReaderFailuresLeaveNoEvent) {
    const Bytes interval = Wire().Head(4, 0).U8(0).Time(1, 2).b;
    Bytes typeFive = interval;
    typeFive[0] = 5;
    ExpectReadFails(typeFive, OSAL_ERR_TYPE_RANGE, "type 5");
    typeFive[0] = 0xFF;  // -1 as a signed byte
    ExpectReadFails(typeFive, OSAL_ERR_TYPE_RANGE, "type -1");
    ExpectReadFails(Wire().Head(3, 12).U8(0).U32(1).U8(3).U32(0).b, OSAL_ERR_TYPE_RANGE, "kind 3");
    ExpectReadFails(Wire().Head(3, 12).U8(0).U32(1).U8(0xFF).U32(0).b, OSAL_ERR_TYPE_RANGE, "kind -1");
    Bytes levelHigh = interval;
    levelHigh[1] = 64;
    ExpectReadFails(levelHigh, OSAL_ERR_INVALID_SIZE, "level 64");
    ExpectReadFails(Wire().Head(3, 0x40000000).U8(0).U32(0).b, OSAL_ERR_INVALID_SIZE, "S too large");
    // Sizes that disagree with the area: refused, never written past it.
    ExpectReadFails(Wire().Head(3, 12).U8(0).U32(1).U8(1).U64(5).b, OSAL_ERR_INVALID_SIZE, "16 bytes into 12");
    ExpectReadFails(Wire().Head(3, 14).U8(0).U32(1).U8(0).U32(1).U8(0).U32(2).b, OSAL_ERR_INVALID_SIZE,
                    "second item passes S");
    Bytes data = RichEventBytes();
    Bytes longer = data;
    longer[data.size() - 4] = 4;  // the stream's length: 4 bytes into an area of 3
    longer.push_back('d');
    ExpectReadFails(longer, OSAL_ERR_INVALID_SIZE, "stream longer than S");
    Bytes shorter = data;
    shorter[data.size() - 4] = 2;
    shorter.pop_back();
    ExpectReadFails(shorter, OSAL_ERR_INVALID_SIZE, "stream shorter than S");
    Bytes huge = data;
    huge[3] = 0x3F;  // S of 0x3F000003 data bytes that the packet cannot hold
    ExpectReadFails(huge, OSAL_ERR_SHORT_PACKET, "S beyond the packet");

    // Every cut of a valid packet fails with 1032; whatever was built is gone
    // (the leak checker sees the rest).
    for (size_t n = 1; n < data.size(); ++n) {
        ExpectReadFails(Bytes(data.begin(), data.begin() + static_cast<long>(n)), OSAL_ERR_SHORT_PACKET, "cut");
    }
    ExpectReadFails(Bytes(interval.begin(), interval.begin() + 23), OSAL_ERR_SHORT_PACKET, "cut after flags");

    OSAL_vSetLastError(0);
    ZERA_HPACKET h = zt::ReadPacket(interval);
    EXPECT_FALSE(ZERA_boUnmarshalZERAEvent(h, nullptr, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), 0u);
    Event *ev = nullptr;
    EXPECT_FALSE(ZERA_boUnmarshalZERAEvent(nullptr, &ev, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    ZERA_boMarshalPacketDelete(h);
}

TEST(EventWire, WriterRefusesBeforeWriting) {
    auto refused = [](Event *ev, uint32_t code, const char *what) {
        Packet w;
        OSAL_vSetLastError(0);
        EXPECT_FALSE(ZERA_boMarshalZERAEvent(w.h, ev)) << what;
        EXPECT_EQ(OSAL_dwGetLastError(), code) << what;
        EXPECT_EQ(ZERA_i32MarshalGetDataSize(w.h), 0) << what;
    };
    refused(nullptr, 0, "null event");
    EventPtr bare(ZERA_pstCreateEvent(7, 1, 0));
    refused(bare.ev, OSAL_ERR_TYPE_RANGE, "type 7");

    EventPtr ev(NewEvent(ZERA_EVENT_INTERVAL, 0));
    Attach(ev.ev, 0, 0, 1, false);  // a level-0 node would end the attachments early
    Attach(ev.ev, 3, 0, 1, false);
    refused(ev.ev, OSAL_ERR_INVALID_ARG, "attachment of level 0");
    EXPECT_NE(ev->pstAttachments->pParList[0].u8ChangeFlags, 0);  // the level-3 list before it: marks kept

    EventPtr items(NewEvent(ZERA_EVENT_ITEMS, 24));
    items->dwItemCount = 2;
    const uint32_t kind3[3] = {3, 12, 0};
    std::memcpy(items->pbItems + 12, kind3, sizeof kind3);
    const uint32_t fine[3] = {0, 12, 0};
    std::memcpy(items->pbItems, fine, sizeof fine);
    refused(items.ev, OSAL_ERR_TYPE_RANGE, "kind 3");
    const uint32_t sizeZero[3] = {0, 0, 0};  // would never end the walk
    std::memcpy(items->pbItems + 12, sizeZero, sizeof sizeZero);
    refused(items.ev, OSAL_ERR_INVALID_SIZE, "item size 0");
    const uint32_t wideItem[3] = {1, 16, 0};  // 16 bytes from offset 12 pass 24
    std::memcpy(items->pbItems + 12, wideItem, sizeof wideItem);
    refused(items.ev, OSAL_ERR_INVALID_SIZE, "item passes the area");
    items->dwItemsSize = 100;  // larger than the event's own block
    refused(items.ev, OSAL_ERR_INVALID_SIZE, "area passes the block");

    EventPtr data(NewEvent(ZERA_EVENT_DATA, 4));
    data->dwDataSize = 5;
    refused(data.ev, OSAL_ERR_INVALID_SIZE, "data passes the block");
    data->dwDataSize = 0x80000000u;
    refused(data.ev, OSAL_ERR_INVALID_SIZE, "S above 0x7FFFFFFF");
    uint8_t outside[8] = {1, 2, 3, 4, 5, 6, 7, 8};  // data outside the block is the caller's to size
    data->pbData = outside;
    data->dwDataSize = 8;
    Packet w;
    EXPECT_TRUE(ZERA_boMarshalZERAEvent(w.h, data.ev));
    EXPECT_FALSE(ZERA_boMarshalZERAEvent(nullptr, data.ev));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
}

TEST(EventWire, AllocationFailuresLeakNothing) {
    const Bytes bytes = RichEventBytes();
    for (bool wide : {false, true}) {
        ZERA_HPACKET h = zt::ReadPacket(bytes);
        zt::ForEachAllocFailure([&](long) {
            zera::ToPacket(h)->i32CurReadPos = 0;
            Event *ev = nullptr;
            if (ZERA_boUnmarshalZERAEvent(h, &ev, wide ? 1 : 0)) {
                ZERA_boDeleteEvent(ev);
                return true;
            }
            EXPECT_EQ(ev, nullptr);
            EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_NO_MEMORY));
            return false;
        });
        ZERA_boMarshalPacketDelete(h);
    }
    EventPtr ev(NewEvent(ZERA_EVENT_DATA, 3));
    Attach(ev.ev, 6, 0, 1, true);
    zt::ForEachAllocFailure([&](long) {
        ZERA_HPACKET w = ZERA_hMarshalPacketCreate(nullptr, 0);
        const bool ok = w != nullptr && ZERA_boMarshalZERAEvent(w, ev.ev);
        if (!ok) {
            EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_NO_MEMORY));
        }
        if (w != nullptr) ZERA_boMarshalPacketDelete(w);
        return ok;
    });
}

}  // namespace
