// event/stack_status_event.cpp - the stack status event: a type-3 event with
// one kind-0 item whose word is a level's new status, made when a status
// changes and read by the filters that apply it.
#include <cstring>

#include "event/event.h"

namespace {

constexpr uint32_t kStatusItemSize = 12;  // one kind-0 item: kind, size, 32-bit value
constexpr uint32_t kItemKindDWord = 0;

void ReadItemWords(const uint8_t *items, uint32_t words[3]) { std::memcpy(words, items, 3 * sizeof(uint32_t)); }

}  // namespace

namespace zera {

Event *NewStackStatusEvent(StackHandle *h, uint32_t status) {
    Event *ev = ZERA_pstCreateEventEx(h, ZERA_EVENT_ITEMS, h->u8Level, kStatusItemSize, 0, 0);
    if (ev == nullptr) return nullptr;
    const uint32_t item[3] = {kItemKindDWord, kStatusItemSize, status};
    std::memcpy(ev->pbItems, item, sizeof item);
    ev->dwItemCount = 1;
    return ev;
}

bool ReadStackStatusEvent(const Event *ev, uint32_t *status) {
    if (ev == nullptr || ev->i32Type != ZERA_EVENT_ITEMS || ev->dwItemCount != 1 || ev->pbItems == nullptr ||
        ev->dwItemsSize < kStatusItemSize) {
        return false;
    }
    // An area that moved out of the event's own block is the creator's; only
    // the own area is known to hold dwItemsSize bytes.
    if (ev->pbItems == OwnArea(ev) && EventAreaSize(ev) < kStatusItemSize) return false;
    uint32_t item[3];
    ReadItemWords(ev->pbItems, item);
    if (item[0] != kItemKindDWord) return false;
    *status = item[2];
    return true;
}

}  // namespace zera
