// marshal/event_wire.cpp - events on the wire: the header items, the
// attached parameter lists up to a level byte 0, and the body of each type.
//
// The encoding does not say what happens when sizes and areas disagree; it
// is settled here so that neither side ever touches memory outside an
// event's areas, and so that whatever is written can be read back:
//  - The writer checks everything it could refuse before its first byte, so
//    a refused event leaves the packet and the attachments' change marks as
//    they were (only a failed write, e.g. no memory, leaves a partial event).
//  - An attachment of level 0 is refused (1028) rather than dropped: its
//    level byte would end the attachments, so the reader would take its list
//    for the body, and dropping it would lose parameters without a word.
//  - Both sides walk an item area the same way, from its start in steps of
//    each item's size while the offset is below the area size. Since the
//    reader rebuilds each item's size from its kind (12 or 16), the writer
//    refuses an item of any other size, and an item that would not end
//    within the area (1034); the walk therefore always ends, and the reader
//    places exactly the items that were written.
//  - The reader refuses (1034) a data stream whose length is not S and an
//    item that would pass S, instead of stopping short: a shortened event
//    would lose data silently, and a longer one would overrun its area.
//  - An item list's area is allocated only when the packet can back it: the
//    bytes after S must be able to hold items that fill S (the densest item,
//    kind 0, takes 5 bytes on the wire for 12 in the area), else 1032 before
//    anything is allocated. With a count of 0 no items follow, so an area
//    above 0 is refused (1034). A packet can thus never cost much more
//    memory than its own size, and whatever this reader accepts is written
//    back in a form it accepts again. (The writer still writes an item list
//    with a count of 0 and room for items as it stands; no reader takes it.)
#include <cstring>

#include "event/event.h"
#include "marshal/marshal.h"

namespace zera {
namespace {

constexpr uint32_t kMaxWireAreaSize = 0x7FFFFFFFu;
constexpr uint32_t kItemHeaderSize = 8;  // dwKind, dwItemSize
constexpr uint32_t kLastItemKind = 2;
constexpr uint8_t kAttachmentsEnd = 0;
// Between an item list's S and its first item: identifier, time stamp,
// flags, the end marker of the attachments and the item count.
constexpr uint32_t kBytesBeforeItems = 4 + 8 + 4 + 1 + 4;

bool Fail(uint32_t code) {
    OSAL_vSetLastError(code);
    return false;
}

bool IsDataType(int32_t type) { return type >= ZERA_EVENT_DATA0 && type <= ZERA_EVENT_DATA2; }

uint32_t ItemSizeOfKind(uint32_t kind) { return kind == 0 ? 12u : 16u; }

bool PutByte(MarshalPacket *p, uint8_t value) { return PutUnit(p, &value, 1); }

// 8-byte items as ZERA_boMarshalQWord writes them: the upper 32-bit half in
// memory first.
bool PutQWord(MarshalPacket *p, const void *host) {
    uint32_t words[2];
    std::memcpy(words, host, sizeof words);
    return PutUnit(p, &words[1], 4) && PutUnit(p, &words[0], 4);
}

bool GetQWord(MarshalPacket *p, void *host) {
    uint32_t words[2];
    if (!GetUnit(p, &words[1], 4) || !GetUnit(p, &words[0], 4)) return false;
    std::memcpy(host, words, sizeof words);
    return true;
}

// The area size S the wire carries for the event.
uint32_t WireAreaSize(const Event *ev) {
    if (IsDataType(ev->i32Type)) return ev->dwDataSize;
    if (ev->i32Type == ZERA_EVENT_ITEMS) return ev->dwItemsSize;
    return 0;
}

// Whether `size` bytes at `area` may be read: an area in the event's own
// block must not pass the block.
bool CheckArea(const Event *ev, const uint8_t *area, uint32_t size) {
    if (size == 0) return true;
    if (area == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    if (area == OwnArea(ev) && size > EventAreaSize(ev)) return Fail(OSAL_ERR_INVALID_SIZE);
    return true;
}

// Walks the item area of a type-3 event (nothing when dwItemCount is 0).
// With a null packet it only checks the items (2056 kind, 1034 size); else
// it writes each one as Byte kind and its value.
bool WalkItems(MarshalPacket *p, const Event *ev) {
    const uint32_t size = ev->dwItemsSize;
    if (ev->dwItemCount == 0) return true;
    if (p == nullptr && !CheckArea(ev, ev->pbItems, size)) return false;
    for (uint32_t offset = 0; offset < size;) {
        if (size - offset < kItemHeaderSize) return Fail(OSAL_ERR_INVALID_SIZE);
        EventItem item;
        std::memcpy(&item, ev->pbItems + offset, kItemHeaderSize);
        if (item.dwKind > kLastItemKind) return Fail(OSAL_ERR_TYPE_RANGE);
        const uint32_t itemSize = ItemSizeOfKind(item.dwKind);
        if (item.dwItemSize != itemSize || size - offset < itemSize) return Fail(OSAL_ERR_INVALID_SIZE);
        if (p != nullptr) {
            std::memcpy(&item, ev->pbItems + offset, itemSize);
            const bool written = PutByte(p, static_cast<uint8_t>(item.dwKind)) &&
                                 (item.dwKind == 0 ? PutUnit(p, &item.dw, 4) : PutQWord(p, &item.qw));
            if (!written) return false;
        }
        offset += itemSize;
    }
    return true;
}

// Everything the writer could refuse, checked before it writes.
bool CheckWritable(const Event *ev) {
    if (ev->i32Type < ZERA_EVENT_DATA0 || ev->i32Type > ZERA_EVENT_INTERVAL) return Fail(OSAL_ERR_TYPE_RANGE);
    if (WireAreaSize(ev) > kMaxWireAreaSize) return Fail(OSAL_ERR_INVALID_SIZE);
    if (IsDataType(ev->i32Type) && !CheckArea(ev, ev->pbData, ev->dwDataSize)) return false;
    if (ev->i32Type == ZERA_EVENT_ITEMS && !WalkItems(nullptr, ev)) return false;
    for (const Attachment *node = ev->pstAttachments; node != nullptr; node = node->pstNext) {
        if (node->u8Level == kAttachmentsEnd || node->pParList == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    }
    return true;
}

bool WriteBody(MarshalPacket *p, const Event *ev) {
    if (IsDataType(ev->i32Type)) {
        return PutQWord(p, &ev->u64Aux1) && PutQWord(p, &ev->u64Aux2) && PutByte(p, ev->u8Options) &&
               PutByte(p, ev->u8Aux3) && PutByte(p, ev->u8QueueOp) && PutUnit(p, &ev->u16RepeatCount, 2) &&
               PutQWord(p, &ev->stPeriod) &&
               MarshalByteStream(p, ev->pbData, static_cast<int32_t>(ev->dwDataSize));
    }
    if (ev->i32Type == ZERA_EVENT_ITEMS) return PutUnit(p, &ev->dwItemCount, 4) && WalkItems(p, ev);
    return PutQWord(p, &ev->stInterval);
}

bool ReadAttachments(MarshalPacket *p, Event *ev, bool wide) {
    for (;;) {
        uint8_t level = 0;
        if (!GetUnit(p, &level, 1)) return false;
        if (level == kAttachmentsEnd) return true;
        uint8_t selector = 0;
        if (!GetUnit(p, &selector, 1)) return false;
        // A level and selector read twice share one node; the second list
        // replaces the first.
        Attachment **link = ZERA_ppstCheckParListA(ev, level, selector & 1u, 1, 0);
        if (link == nullptr || *link == nullptr) return false;  // 1026 stored by the lookup
        if (!UnmarshalParamList(p, &(*link)->pParList, wide)) return false;
    }
}

// The data stream goes straight into the area made for S bytes.
bool ReadData(MarshalPacket *p, Event *ev) {
    uint32_t len = 0;
    if (!GetUnit(p, &len, 4)) return false;
    if (len != ev->dwDataSize) return Fail(OSAL_ERR_INVALID_SIZE);
    if (!CheckAvailable(p, len)) return false;
    if (len > 0) std::memcpy(ev->pbData, ReadPos(p), len);
    p->i32CurReadPos += static_cast<int32_t>(len);
    return true;
}

bool ReadItems(MarshalPacket *p, Event *ev) {
    if (!GetUnit(p, &ev->dwItemCount, 4)) return false;
    const uint32_t size = ev->dwItemsSize;
    if (ev->dwItemCount == 0) return size == 0 || Fail(OSAL_ERR_INVALID_SIZE);
    for (uint32_t offset = 0; offset < size;) {
        int8_t kind = 0;
        if (!GetUnit(p, &kind, 1)) return false;
        if (kind < 0 || static_cast<uint32_t>(kind) > kLastItemKind) return Fail(OSAL_ERR_TYPE_RANGE);
        EventItem item{};
        item.dwKind = static_cast<uint32_t>(kind);
        item.dwItemSize = ItemSizeOfKind(item.dwKind);
        if (size - offset < item.dwItemSize) return Fail(OSAL_ERR_INVALID_SIZE);
        if (!(kind == 0 ? GetUnit(p, &item.dw, 4) : GetQWord(p, &item.qw))) return false;
        std::memcpy(ev->pbItems + offset, &item, item.dwItemSize);
        offset += item.dwItemSize;
    }
    return true;
}

bool ReadBody(MarshalPacket *p, Event *ev) {
    if (IsDataType(ev->i32Type)) {
        return GetQWord(p, &ev->u64Aux1) && GetQWord(p, &ev->u64Aux2) && GetUnit(p, &ev->u8Options, 1) &&
               GetUnit(p, &ev->u8Aux3, 1) && GetUnit(p, &ev->u8QueueOp, 1) && GetUnit(p, &ev->u16RepeatCount, 2) &&
               GetQWord(p, &ev->stPeriod) && ReadData(p, ev);
    }
    if (ev->i32Type == ZERA_EVENT_ITEMS) return ReadItems(p, ev);
    return GetQWord(p, &ev->stInterval);
}

// Whether the packet can back an area of `area` bytes of an event of `type`
// before it is allocated (1032 if not): a data event's S bytes follow in
// the packet, an item list's items need at least 5 bytes per 12 of area.
// Sizes that creating the event refuses anyway are left to it (1034).
bool CheckAreaBacked(MarshalPacket *p, int32_t type, uint8_t level, uint32_t area) {
    if (IsDataType(type)) return CheckAvailable(p, area);
    if (type != ZERA_EVENT_ITEMS || level >= kEventLevelLimit || area > kEventMaxAreaSize) return true;
    return CheckAvailable(p, kBytesBeforeItems + int64_t{area} * 5 / 12);
}

}  // namespace

bool MarshalEvent(MarshalPacket *p, Event *event) {
    if (event == nullptr) return false;
    if (!CheckWritable(event)) return false;
    const uint32_t area = WireAreaSize(event);
    const bool head = PutByte(p, static_cast<uint8_t>(event->i32Type)) && PutByte(p, event->u8Level) &&
                      PutByte(p, event->u8Error) && PutUnit(p, &area, 4) && PutUnit(p, &event->dwEventId, 4) &&
                      PutQWord(p, &event->stTimeStamp) && PutUnit(p, &event->dwFlags, 4);
    if (!head) return false;
    const bool wide = event->boWideAttach != 0;
    for (Attachment *node = event->pstAttachments; node != nullptr; node = node->pstNext) {
        if (!PutByte(p, node->u8Level) || !PutByte(p, node->u8Selector) ||
            !MarshalParamList(p, node->pParList, false, wide))
            return false;
    }
    return PutByte(p, kAttachmentsEnd) && WriteBody(p, event);
}

bool UnmarshalEvent(MarshalPacket *p, Event **event, bool wideAttach) {
    if (event == nullptr) return false;
    *event = nullptr;
    int8_t type = 0;
    uint8_t level = 0, error = 0;
    uint32_t area = 0;
    if (!GetUnit(p, &type, 1) || !GetUnit(p, &level, 1) || !GetUnit(p, &error, 1) || !GetUnit(p, &area, 4))
        return false;
    if (type < ZERA_EVENT_DATA0 || type > ZERA_EVENT_INTERVAL) return Fail(OSAL_ERR_TYPE_RANGE);
    if (!CheckAreaBacked(p, type, level, area)) return false;
    Event *ev = ZERA_pstCreateEvent(type, level, area);
    if (ev == nullptr) return false;
    ev->u8Error = error;
    ev->boWideAttach = wideAttach ? 1 : 0;
    const bool read = GetUnit(p, &ev->dwEventId, 4) && GetQWord(p, &ev->stTimeStamp) &&
                      GetUnit(p, &ev->dwFlags, 4) && ReadAttachments(p, ev, wideAttach) && ReadBody(p, ev);
    if (!read) {
        ZERA_boDeleteEvent(ev);  // stores no code for an event
        return false;
    }
    *event = ev;
    return true;
}

}  // namespace zera

using zera::ToPacket;

extern "C" {

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalZERAEvent(ZERA_HPACKET hPacket, Event *pstEvent) {
    return zera::MarshalEvent(ToPacket(hPacket), pstEvent) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalZERAEvent(ZERA_HPACKET hPacket, Event **ppstEvent, BOOL8 boWideAttach) {
    return zera::UnmarshalEvent(ToPacket(hPacket), ppstEvent, boWideAttach != 0) ? 1 : 0;
}

}  // extern "C"
