// event/event_clone.cpp - copies of an event: with or without its
// attachments, and the copy that takes over the attachments meant for the
// levels above a given one.
#include <cstring>
#include <initializer_list>

#include "event/event.h"
#include "param/param.h"

namespace {

bool IsDataType(int32_t type) { return type >= ZERA_EVENT_DATA0 && type <= ZERA_EVENT_DATA2; }

// Whether `size` bytes can be read at `area` of the source: within the block
// when the pointer still addresses its own area; nothing from a null one;
// any other buffer is the caller's own and taken as it stands.
bool SourceAreaReadable(const Event *source, const uint8_t *area, uint32_t size) {
    if (area == zera::OwnArea(source)) return size <= zera::EventAreaSize(source);
    return area != nullptr || size == 0;
}

// Appends a copy of every parameter of `from` (name with its additional
// text, type, access, the creator's attribute bits, tag and value; no
// permitted values) to the node's list. False when one cannot be added.
bool CopyParams(bool wide, const Param *from, Attachment *node) {
    if (from == nullptr) return true;
    uint32_t count = zera::CountParams(node->pParList);
    for (const Param *param = from; param->pName != nullptr; ++param) {
        ParamValue **cursor = nullptr;
        if (!zera::AddParam(wide, true, 0, &node->pParList, &count, &cursor, param->dwType, param->dwAccess,
                            param->u8Attributes, param->u8Tag, true, param->pName, param->uValue))
            return false;
    }
    return true;
}

// Gives the copy a node for each node of the source, with its parameters.
// New nodes go to the head, so the copy's order is the reverse. False when a
// node or a parameter cannot be made.
bool CopyAttachments(const Event *source, Event *copy) {
    const bool wide = source->boWideAttach != 0;
    for (const Attachment *node = source->pstAttachments; node != nullptr; node = node->pstNext) {
        Attachment **link = ZERA_ppstCheckParListA(copy, node->u8Level, node->u8Selector & 1u, 1, 0);
        if (link == nullptr || *link == nullptr) return false;
        if (!CopyParams(wide, node->pParList, *link)) return false;
    }
    return true;
}

}  // namespace

extern "C" {

ZERA_API Event *ZERA_CALL ZERA_pstInternalCloneEvent(Event *pstEvent, BOOL8 boWithAttachments) {
    if (pstEvent == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    const int32_t type = pstEvent->i32Type;
    const uint8_t *sourceArea = nullptr;
    uint32_t size = 0;
    if (IsDataType(type)) {
        sourceArea = pstEvent->pbData;
        size = pstEvent->dwDataSize;
    } else if (type == ZERA_EVENT_ITEMS) {
        sourceArea = pstEvent->pbItems;
        size = pstEvent->dwItemsSize;
    }
    if (!SourceAreaReadable(pstEvent, sourceArea, size)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_SIZE);
        return nullptr;
    }
    Event *copy = ZERA_pstCreateEvent(type, pstEvent->u8Level, size);
    if (copy == nullptr) return nullptr;

    // The copy keeps its own identity in the library's prefix; the header,
    // identifier included, is the source's.
    std::memcpy(copy, pstEvent, sizeof(Event));
    copy->pstAttachments = nullptr;  // the source's nodes stay the source's
    if (size != 0) std::memcpy(zera::OwnArea(copy), sourceArea, size);
    if (IsDataType(type)) {
        copy->pbData = zera::OwnArea(copy);
        copy->u8Options |= ZERA_OPT_COPY;
    } else if (type == ZERA_EVENT_ITEMS) {
        copy->pbItems = zera::OwnArea(copy);
    }

    if (pstEvent->pstOwner != nullptr && !ZERA_boSetEventID(copy, pstEvent->pstOwner, pstEvent->dwEventId)) {
        ZERA_boDeleteEvent(copy);
        return nullptr;
    }
    if (!boWithAttachments) return copy;
    if (!CopyAttachments(pstEvent, copy)) {
        ZERA_boDeleteEvent(copy);
        OSAL_vSetLastError(OSAL_ERR_ATTACH_COPY);
        return nullptr;
    }
    return copy;
}

ZERA_API Event *ZERA_CALL ZERA_pstCloneEvent(Event *pstEvent) { return ZERA_pstInternalCloneEvent(pstEvent, 1); }

ZERA_API Event *ZERA_CALL ZERA_pstInternalCloneEventAndSplitAttachment(Event *pstEvent, uint8_t u8Level) {
    Event *copy = ZERA_pstInternalCloneEvent(pstEvent, 0);
    if (copy == nullptr) return nullptr;
    for (uint8_t selector : {uint8_t{1}, uint8_t{0}}) {
        for (;;) {
            Attachment **link = ZERA_ppstCheckParListA(pstEvent, u8Level, selector, 0, 1);
            Attachment *node = *link;
            if (node == nullptr) break;
            *link = node->pstNext;
            node->pstNext = copy->pstAttachments;
            copy->pstAttachments = node;
        }
    }
    return copy;
}

}  // extern "C"
