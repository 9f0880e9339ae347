// event/event_record.cpp - making, identifying and deleting event records.
//
// Every event is one heap block: a small prefix of the library's own, the
// Event header, then the data or item area. The prefix keeps the size of the
// area the block really has (so copies never read past it) and, on 64-bit
// builds, the record's number from the table of live records, which is its
// identifier when no manager gives one (see zera/event.h).
#include <cstddef>
#include <mutex>

#include "event/event.h"
#include "evid/evid.h"

namespace {

// 16 bytes, so that the header keeps whatever alignment the heap gives the block.
struct EventPrefix {
    uint32_t dwAreaSize;  // bytes of the block behind the header
    uint32_t dwRecordId;  // 64-bit builds: the number from the live-record table
    uint32_t adwUnused[2];
};
static_assert(sizeof(EventPrefix) % alignof(std::max_align_t) == 0, "the header keeps the heap's alignment");

EventPrefix *PrefixOf(const Event *event) {
    return reinterpret_cast<EventPrefix *>(const_cast<Event *>(event)) - 1;
}

bool IsDataType(int32_t type) { return type >= ZERA_EVENT_DATA0 && type <= ZERA_EVENT_DATA2; }

#if UINTPTR_MAX > 0xFFFFFFFFu
// Numbers for the records that live in this process: record slot s has the
// identifier 2s + 1. Fresh slots are used while the table has room; once it
// is full, freed slots come back oldest first, so that a number is reused as
// late as the table's size allows. Grows by doubling.
class LiveRecordTable {
public:
    bool Acquire(uint32_t *id) {
        std::lock_guard<std::mutex> hold(mutex_);
        uint32_t slot;
        if (used_ < capacity_) {
            slot = used_++;
        } else if (freeHead_ != 0) {
            slot = freeHead_ - 1;
            freeHead_ = links_[slot];
            if (freeHead_ == 0) freeTail_ = 0;
        } else if (Grow()) {
            slot = used_++;
        } else {
            return false;
        }
        *id = 2 * slot + 1;
        return true;
    }

    void Release(uint32_t id) {
        std::lock_guard<std::mutex> hold(mutex_);
        const uint32_t slot = (id - 1) / 2;
        links_[slot] = 0;
        if (freeTail_ != 0) {
            links_[freeTail_ - 1] = slot + 1;
        } else {
            freeHead_ = slot + 1;
        }
        freeTail_ = slot + 1;
    }

private:
    // Slots whose numbers stay below the reserved range.
    static constexpr uint32_t kMaxSlots = (ZERA_EVID_RESERVED_FIRST - 1) / 2;
    static constexpr uint32_t kFirstCapacity = 1024;

    bool Grow() {
        if (capacity_ >= kMaxSlots) return false;
        uint64_t wanted = capacity_ == 0 ? kFirstCapacity : 2ull * capacity_;
        if (wanted > kMaxSlots) wanted = kMaxSlots;
        void *grown = zera::Realloc(links_, static_cast<size_t>(wanted) * sizeof(uint32_t));
        if (grown == nullptr) return false;
        links_ = static_cast<uint32_t *>(grown);
        capacity_ = static_cast<uint32_t>(wanted);
        return true;
    }

    std::mutex mutex_;  // guards every field below
    uint32_t *links_ = nullptr;  // for a freed slot: the next freed slot + 1, 0 at the end
    uint32_t capacity_ = 0;
    uint32_t used_ = 0;  // slots handed out at least once
    uint32_t freeHead_ = 0;  // oldest freed slot + 1, or 0
    uint32_t freeTail_ = 0;  // newest freed slot + 1, or 0
};

LiveRecordTable g_liveRecords;
#endif

}  // namespace

namespace zera {

uint32_t EventAreaSize(const Event *event) { return PrefixOf(event)->dwAreaSize; }

uint8_t *OwnArea(Event *event) { return reinterpret_cast<uint8_t *>(event + 1); }

const uint8_t *OwnArea(const Event *event) { return reinterpret_cast<const uint8_t *>(event + 1); }

Event *GrowEventArea(Event *event, uint32_t areaSize) {
    EventPrefix *prefix = PrefixOf(event);
    if (areaSize <= prefix->dwAreaSize) return event;
    const bool dataInOwnArea = IsDataType(event->i32Type) && event->pbData == OwnArea(event);
    const bool itemsInOwnArea = event->i32Type == ZERA_EVENT_ITEMS && event->pbItems == OwnArea(event);
    void *grown = zera::Realloc(prefix, sizeof(EventPrefix) + sizeof(Event) + areaSize);
    if (grown == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    prefix = static_cast<EventPrefix *>(grown);
    prefix->dwAreaSize = areaSize;
    event = reinterpret_cast<Event *>(prefix + 1);
    if (dataInOwnArea) event->pbData = OwnArea(event);
    if (itemsInOwnArea) event->pbItems = OwnArea(event);
    return event;
}

}  // namespace zera

extern "C" {

ZERA_API Event *ZERA_CALL ZERA_pstCreateEvent(int32_t i32Type, uint8_t u8Level, uint32_t dwSize) {
    if (u8Level >= ZERA_EVENT_LEVEL_LIMIT || dwSize > ZERA_EVENT_MAX_SIZE) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_SIZE);
        return nullptr;
    }
    const bool hasArea = IsDataType(i32Type) || i32Type == ZERA_EVENT_ITEMS;
    const uint32_t area = hasArea ? dwSize : 0;
    auto *prefix = static_cast<EventPrefix *>(zera::AllocZero(1, sizeof(EventPrefix) + sizeof(Event) + area));
    if (prefix == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    auto *event = reinterpret_cast<Event *>(prefix + 1);
    prefix->dwAreaSize = area;
#if UINTPTR_MAX > 0xFFFFFFFFu
    if (!g_liveRecords.Acquire(&prefix->dwRecordId)) {
        zera::Free(prefix);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    event->dwEventId = prefix->dwRecordId;
#else
    event->dwEventId = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(event));
#endif
    event->i32Type = i32Type;
    event->u8Level = u8Level;
    if (IsDataType(i32Type)) {
        event->dwDataSize = dwSize;
        event->pbData = zera::OwnArea(event);
    } else if (i32Type == ZERA_EVENT_ITEMS) {
        event->dwItemsSize = dwSize;
        event->pbItems = zera::OwnArea(event);
    }
    return event;
}

ZERA_API Event *ZERA_CALL ZERA_pstCreateEventEx(StackHandle *h, int32_t i32Type, uint8_t u8Level,
                                                uint32_t dwSize, BOOL8 boRepeat, uint16_t u16RepeatCount) {
    if (!ZERA_boHandleCheck(h, 1)) return nullptr;
    const bool managed = (zera::LoadRelaxed(h->dwStatus) & ZERA_STATUS_NO_EVID) == 0;
    uint32_t id = 0;
    if (boRepeat) {
        if (i32Type != ZERA_EVENT_DATA) {
            OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
            return nullptr;
        }
        // A repeating event hands out copies under one identifier, which a
        // manager's identifiers cannot carry.
        if (managed) {
            OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
            return nullptr;
        }
    } else if (managed && !zera::DrawEventId(&h->stEvIdManager, &id)) {
        return nullptr;
    }
    Event *event = ZERA_pstCreateEvent(i32Type, u8Level, dwSize);
    if (event == nullptr) return nullptr;
    if (managed) {
        event->pstOwner = h;
        event->dwOwnerEventId = id;
        event->dwEventId = id;
    }
    if (boRepeat) {
        event->u8Options |= ZERA_OPT_REPEATING;
        event->u16RepeatCount = u16RepeatCount;
    }
    return event;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetEventID(Event *pstEvent, StackHandle *h, uint32_t dwEventId) {
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    if (pstEvent == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    // The reserved values are the cancel operation's wildcards.
    if (dwEventId >= ZERA_EVID_RESERVED_FIRST) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_SIZE);
        return 0;
    }
    if ((zera::LoadRelaxed(h->dwStatus) & ZERA_STATUS_NO_EVID) == 0) {
        pstEvent->pstOwner = h;
        pstEvent->dwOwnerEventId = dwEventId;
    }
    pstEvent->dwEventId = dwEventId;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boDeleteEvent(Event *pstEvent) {
    if (pstEvent == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    while (Attachment *node = pstEvent->pstAttachments) {
        pstEvent->pstAttachments = node->pstNext;
        if (pstEvent->boWideAttach) {
            ZERA_vDeleteParamListW(node->pParList);
        } else {
            ZERA_vDeleteParamListA(node->pParList);
        }
        zera::Free(node);
    }
    EventPrefix *prefix = PrefixOf(pstEvent);
#if UINTPTR_MAX > 0xFFFFFFFFu
    g_liveRecords.Release(prefix->dwRecordId);
#endif
    zera::Free(prefix);
    return 1;
}

ZERA_API void ZERA_CALL ZERA_vDeleteEvent(Event *pstEvent) { ZERA_boDeleteEvent(pstEvent); }

}  // extern "C"
