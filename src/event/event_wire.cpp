// event/event_wire.cpp - events on the wire: the header items, the
// attached parameter lists up to a level byte 0, and the body of each type.
//
// The encoding does not say what happens when sizes and areas disagree; it
// is settled here so that neither side ever touches memory outside an
// event's areas, and so that whatever is written can be read back:
//  - The writer checks everything it could refuse before its first byte, so
//    a refused event leaves the packet and the attachments' change marks as
//    they were; only a parameter list that refuses (2056) leaves the bytes
//    before it. It learns the event's size first and makes room once, so
//    running out of memory leaves nothing.
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
#include "marshal/wire_io.h"

namespace zera {
namespace {

constexpr uint32_t kMaxWireAreaSize = 0x7FFFFFFFu;
constexpr uint32_t kItemHeaderSize = 8;  // dwKind, dwItemSize
constexpr uint32_t kLastItemKind = 2;
constexpr uint8_t kAttachmentsEnd = 0;
// Type, level, error byte and S; then identifier, time stamp and flags.
constexpr uint32_t kHeadBytes = 7;
constexpr uint32_t kHeadRestBytes = 16;
// Between an item list's S and its first item: the rest of the head, the
// end marker of the attachments and the item count.
constexpr uint32_t kBytesBeforeItems = kHeadRestBytes + 1 + 4;
// The fields of a data event's body before its stream, and the stream's length.
constexpr uint32_t kDataFieldsBytes = 8 + 8 + 1 + 1 + 1 + 2 + 8 + 4;

bool IsDataType(int32_t type) { return type >= ZERA_EVENT_DATA0 && type <= ZERA_EVENT_DATA2; }

uint32_t ItemSizeOfKind(uint32_t kind) { return kind == 0 ? 12u : 16u; }

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

// Checks the item area of a type-3 event (nothing when dwItemCount is 0):
// 2056 for a kind, 1034 for a size that is not the kind's or an item that
// does not end within the area. The walk always ends.
bool CheckItems(const Event *ev) {
    const uint32_t size = ev->dwItemsSize;
    if (ev->dwItemCount == 0) return true;
    if (!CheckArea(ev, ev->pbItems, size)) return false;
    for (uint32_t offset = 0; offset < size;) {
        if (size - offset < kItemHeaderSize) return Fail(OSAL_ERR_INVALID_SIZE);
        uint32_t head[2];  // dwKind, dwItemSize
        std::memcpy(head, ev->pbItems + offset, kItemHeaderSize);
        if (head[0] > kLastItemKind) return Fail(OSAL_ERR_TYPE_RANGE);
        const uint32_t itemSize = ItemSizeOfKind(head[0]);
        if (head[1] != itemSize || size - offset < itemSize) return Fail(OSAL_ERR_INVALID_SIZE);
        offset += itemSize;
    }
    return true;
}

// Writes the items CheckItems has passed: Byte kind and its value.
template <typename Out>
void PutItems(Out &out, const Event *ev) {
    if (ev->dwItemCount == 0) return;
    for (uint32_t offset = 0; offset < ev->dwItemsSize;) {
        EventItem item;
        std::memcpy(&item, ev->pbItems + offset, kItemHeaderSize);
        std::memcpy(&item, ev->pbItems + offset, ItemSizeOfKind(item.dwKind));
        out.Unit(static_cast<uint8_t>(item.dwKind));
        if (item.dwKind == 0) {
            out.Unit(item.dw);
        } else {
            out.QWord(&item.qw);
        }
        offset += item.dwItemSize;
    }
}

// Everything the writer could refuse, checked before it writes.
bool CheckWritable(const Event *ev) {
    if (ev->i32Type < ZERA_EVENT_DATA0 || ev->i32Type > ZERA_EVENT_INTERVAL) return Fail(OSAL_ERR_TYPE_RANGE);
    if (WireAreaSize(ev) > kMaxWireAreaSize) return Fail(OSAL_ERR_INVALID_SIZE);
    if (IsDataType(ev->i32Type) && !CheckArea(ev, ev->pbData, ev->dwDataSize)) return false;
    if (ev->i32Type == ZERA_EVENT_ITEMS && !CheckItems(ev)) return false;
    for (const Attachment *node = ev->pstAttachments; node != nullptr; node = node->pstNext) {
        if (node->u8Level == kAttachmentsEnd || node->pParList == nullptr) return Fail(OSAL_ERR_INVALID_ARG);
    }
    return true;
}

// The whole event after CheckWritable; only a parameter list inside can
// still refuse (2056, with what came before written).
template <typename Out>
bool EncodeEvent(Out &out, Event &ev) {
    out.Unit(static_cast<uint8_t>(ev.i32Type));
    out.Unit(ev.u8Level);
    out.Unit(ev.u8Error);
    out.Unit(WireAreaSize(&ev));
    out.Unit(ev.dwEventId);
    out.QWord(&ev.stTimeStamp);
    out.Unit(ev.dwFlags);
    const bool wide = ev.boWideAttach != 0;
    for (Attachment *node = ev.pstAttachments; node != nullptr; node = node->pstNext) {
        out.Unit(node->u8Level);
        out.Unit(node->u8Selector);
        if (!EncodeParamList(out, node->pParList, false, wide)) return false;
    }
    out.Unit(kAttachmentsEnd);
    if (IsDataType(ev.i32Type)) {
        out.QWord(&ev.u64Aux1);
        out.QWord(&ev.u64Aux2);
        out.Unit(ev.u8Options);
        out.Unit(ev.u8Aux3);
        out.Unit(ev.u8QueueOp);
        out.Unit(ev.u16RepeatCount);
        out.QWord(&ev.stPeriod);
        out.Unit(ev.dwDataSize);
        out.Raw(ev.pbData, ev.dwDataSize);
    } else if (ev.i32Type == ZERA_EVENT_ITEMS) {
        out.Unit(ev.dwItemCount);
        PutItems(out, &ev);
    } else {
        out.QWord(&ev.stInterval);
    }
    return true;
}

// The node for a level and selector: the one read before (a second list
// replaces the first), or a new one at the head of the event's list, so
// that attachments read back stand in the reverse order of the writer's.
// Its list is left to the list reader, which would only replace one made
// here. Null with 1026 when memory runs out.
Attachment *AttachmentFor(Event *ev, uint8_t level, uint8_t selector) {
    for (Attachment *node = ev->pstAttachments; node != nullptr; node = node->pstNext) {
        if (node->u8Level == level && node->u8Selector == selector) return node;
    }
    auto *node = static_cast<Attachment *>(AllocZero(1, sizeof(Attachment)));
    if (node == nullptr) {
        Fail(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    node->u8Level = level;
    node->u8Selector = selector;
    node->pstNext = ev->pstAttachments;
    ev->pstAttachments = node;
    return node;
}

bool ReadAttachments(MarshalPacket *p, Event *ev, bool wide) {
    for (;;) {
        uint8_t level = 0, selector = 0;
        const bool head = ReadFixed(p, 2, [&](auto &in) {
            return in.Unit(level) && (level == kAttachmentsEnd || in.Unit(selector));
        });
        if (!head) return false;
        if (level == kAttachmentsEnd) return true;
        Attachment *node = AttachmentFor(ev, level, selector & 1u);
        if (node == nullptr || !UnmarshalParamList(p, &node->pParList, wide)) return false;
    }
}

// The data stream goes straight into the area made for S bytes.
bool ReadDataBody(MarshalPacket *p, Event *ev) {
    uint32_t len = 0;
    const bool fields = ReadFixed(p, kDataFieldsBytes, [&](auto &in) {
        return in.QWord(&ev->u64Aux1) && in.QWord(&ev->u64Aux2) && in.Unit(ev->u8Options) && in.Unit(ev->u8Aux3) &&
               in.Unit(ev->u8QueueOp) && in.Unit(ev->u16RepeatCount) && in.QWord(&ev->stPeriod) && in.Unit(len);
    });
    if (!fields) return false;
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
        EventItem item{};
        const bool read = ReadFixed(p, 1 + 8, [&](auto &in) {
            int8_t kind = 0;
            if (!in.Unit(kind)) return false;
            if (kind < 0 || static_cast<uint32_t>(kind) > kLastItemKind) return Fail(OSAL_ERR_TYPE_RANGE);
            item.dwKind = static_cast<uint32_t>(kind);
            item.dwItemSize = ItemSizeOfKind(item.dwKind);
            if (size - offset < item.dwItemSize) return Fail(OSAL_ERR_INVALID_SIZE);
            return kind == 0 ? in.Unit(item.dw) : in.QWord(&item.qw);
        });
        if (!read) return false;
        std::memcpy(ev->pbItems + offset, &item, item.dwItemSize);
        offset += item.dwItemSize;
    }
    return true;
}

bool ReadBody(MarshalPacket *p, Event *ev) {
    if (IsDataType(ev->i32Type)) return ReadDataBody(p, ev);
    if (ev->i32Type == ZERA_EVENT_ITEMS) return ReadItems(p, ev);
    return ReadFixed(p, 8, [&](auto &in) { return in.QWord(&ev->stInterval); });
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
    return Emit(p, [event](auto &out) { return EncodeEvent(out, *event); });
}

bool UnmarshalEvent(MarshalPacket *p, Event **event, bool wideAttach) {
    if (event == nullptr) return false;
    *event = nullptr;
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    int8_t type = 0;
    uint8_t level = 0, error = 0;
    uint32_t area = 0;
    const bool head = ReadFixed(p, kHeadBytes, [&](auto &in) {
        return in.Unit(type) && in.Unit(level) && in.Unit(error) && in.Unit(area);
    });
    if (!head) return false;
    if (type < ZERA_EVENT_DATA0 || type > ZERA_EVENT_INTERVAL) return Fail(OSAL_ERR_TYPE_RANGE);
    if (!CheckAreaBacked(p, type, level, area)) return false;
    Event *ev = ZERA_pstCreateEvent(type, level, area);
    if (ev == nullptr) return false;
    ev->u8Error = error;
    ev->boWideAttach = wideAttach ? 1 : 0;
    const bool read = ReadFixed(p, kHeadRestBytes,
                                [&](auto &in) {
                                    return in.Unit(ev->dwEventId) && in.QWord(&ev->stTimeStamp) &&
                                           in.Unit(ev->dwFlags);
                                }) &&
                      ReadAttachments(p, ev, wideAttach) && ReadBody(p, ev);
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
