// event/event_record.cpp - making, identifying and deleting event records.
//
// Every event is one heap block: a small prefix of the library's own, the
// Event header, then the data or item area. The prefix keeps the size of the
// area the block really has (so copies never read past it) and, on 64-bit
// builds, the record's number from the table of live records, which is its
// identifier when no manager gives one (see zera/event.h), and the stamp of
// when it joined its queue, which the timeline draws its stay from.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/lock_order.h"
#include "common/spin.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZERA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZERA_ASAN 1
#endif
#endif
#if defined(ZERA_ASAN)
#include <sanitizer/asan_interface.h>
#define ZERA_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define ZERA_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define ZERA_POISON(p, n) ((void)(p), (void)(n))
#define ZERA_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

#include "event/event.h"
#include "evid/evid.h"

namespace {

// 16 bytes, so that the header keeps whatever alignment the heap gives the block.
struct EventPrefix {
    uint32_t dwAreaSize;  // bytes of the block behind the header
    uint32_t dwRecordId;  // 64-bit builds: the number from the live-record table
    uint32_t dwPooled;    // 1: a block of the pool's size (BlockPool), which may go back to it
    uint32_t dwArrival;   // when it joined its queue, for the timeline (0: unwatched)
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
        std::lock_guard<decltype(lock_)> hold(lock_);
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
        std::lock_guard<decltype(lock_)> hold(lock_);
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

    // Guards every field below. The creating and the deleting thread of an
    // event are often two, and both hold it for a few instructions only.
    zera::Ranked<zera::LockRank::kEventRecords, spin::SpinLock> lock_;
    uint32_t *links_ = nullptr;  // for a freed slot: the next freed slot + 1, 0 at the end
    uint32_t capacity_ = 0;
    uint32_t used_ = 0;  // slots handed out at least once
    uint32_t freeHead_ = 0;  // oldest freed slot + 1, or 0
    uint32_t freeTail_ = 0;  // newest freed slot + 1, or 0
};

LiveRecordTable g_liveRecords;
#endif

// Gives a block back to the heap, and its record number to the table.
void ReleaseBlock(EventPrefix *prefix) {
#if UINTPTR_MAX > 0xFFFFFFFFu
    g_liveRecords.Release(prefix->dwRecordId);
#endif
    zera::Free(prefix);
}

// Blocks of events with a small area, kept when such events are deleted and
// handed out again when they are made. Events are often made on one thread
// and deleted on another; going to the heap (and, on 64-bit builds, to the
// table of live records) for both makes the two threads contend for the same
// locks on every event. A kept block keeps its record number, which no live
// event has.
//
// Deleting threads append blocks to the given list; a making thread moves
// the whole list at once, when it has grown to a batch, to the taken list
// and makes its next events from that. The two lists have a lock each, so
// the lock and list that deleting threads write stay apart from the ones
// making threads write: the given list's cache line moves between the
// threads once per batch rather than twice per event, and the taken list's
// lock stays with the making thread while only one makes events. Blocks
// come back oldest first, a batch at the earliest: a deleted event's number
// is not the next one handed out.
//
// No list belongs to a thread. A list of each thread's own would spare the
// making thread one uncontended lock per event, but its blocks would have to
// be freed when the thread ends, and C++ thread variables with a destructor
// are not dependable for that in a Windows DLL (mingw-w64 frees their
// storage before the destructor runs); a hook at thread end in each half of
// the library would be the price. Both lists are bounded; what they hold is
// freed when the library goes away.
class BlockPool {
public:
    static constexpr uint32_t kArea = 64;  // areas up to this size get a pool block
    static constexpr size_t kBlockSize = sizeof(EventPrefix) + sizeof(Event) + kArea;

    BlockPool() = default;
    BlockPool(const BlockPool &) = delete;
    BlockPool &operator=(const BlockPool &) = delete;
    ~BlockPool() {
        FreeAll(&taken_);
        FreeAll(&given_);
    }

    // A block given back before (its prefix as it was, the rest not), or null.
    EventPrefix *Take() {
        std::lock_guard<decltype(takenLock_)> holdTaken(takenLock_);
        if (taken_.head == nullptr) {
            std::lock_guard<decltype(givenLock_)> holdGiven(givenLock_);
            if (given_.count < kBatch) return nullptr;
            taken_ = given_;
            given_ = List{};
        }
        return Pop(&taken_);
    }

    // Keeps a block of kBlockSize; false (nothing kept) when the pool is full.
    bool Give(EventPrefix *block) {
        std::lock_guard<decltype(givenLock_)> hold(givenLock_);
        if (given_.count >= kMaxBlocks) return false;
        Append(&given_, block);
        return true;
    }

private:
    static constexpr uint32_t kBatch = 64;
    // Per list: a burst of this many events sent ahead of the taker (176
    // bytes a block on 64-bit builds) is recycled whole rather than half.
    static constexpr uint32_t kMaxBlocks = 1024;

    // A chain of blocks, oldest first. A block's link lies where its event
    // header began; the rest of the header and the area are poisoned for
    // the address checker while the block is kept.
    struct List {
        EventPrefix *head = nullptr;
        EventPrefix *tail = nullptr;
        uint32_t count = 0;
    };

    static constexpr size_t kLinkSize = sizeof(EventPrefix *);
    static void SetLink(EventPrefix *block, EventPrefix *next) { std::memcpy(block + 1, &next, kLinkSize); }
    static EventPrefix *Link(const EventPrefix *block) {
        EventPrefix *next;
        std::memcpy(&next, block + 1, kLinkSize);
        return next;
    }
    static uint8_t *Kept(EventPrefix *block) { return reinterpret_cast<uint8_t *>(block + 1) + kLinkSize; }
    static constexpr size_t kKeptSize = kBlockSize - sizeof(EventPrefix) - kLinkSize;

    static void Append(List *list, EventPrefix *block) {
        SetLink(block, nullptr);
        if (list->tail != nullptr) {
            SetLink(list->tail, block);
        } else {
            list->head = block;
        }
        list->tail = block;
        ++list->count;
        ZERA_POISON(Kept(block), kKeptSize);
    }
    static EventPrefix *Pop(List *list) {
        EventPrefix *block = list->head;
        if (block == nullptr) return nullptr;
        list->head = Link(block);
        if (list->head == nullptr) list->tail = nullptr;
        --list->count;
        ZERA_UNPOISON(Kept(block), kKeptSize);
        return block;
    }
    static void FreeAll(List *list) {
        while (EventPrefix *block = Pop(list)) ReleaseBlock(block);
    }

    // Each on a cache line of its own with its list, so that makers and
    // deleters do not share one (lock order: common/lock_order.h).
    alignas(64) zera::Ranked<zera::LockRank::kEventBlocksTaken, spin::SpinLock> takenLock_;  // guards taken_
    List taken_;
    alignas(64) zera::Ranked<zera::LockRank::kEventBlocksGiven, spin::SpinLock> givenLock_;  // guards given_
    List given_;
};

BlockPool g_blockPool;

}  // namespace

namespace zera {

uint32_t EventAreaSize(const Event *event) { return PrefixOf(event)->dwAreaSize; }

void SetArrivalStamp(Event *event, uint32_t stamp) { PrefixOf(event)->dwArrival = stamp; }

uint32_t ArrivalStampOf(const Event *event) { return PrefixOf(event)->dwArrival; }

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
    prefix->dwPooled = 0;  // no longer of the pool's size
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
    const bool pooled = area <= BlockPool::kArea;
    EventPrefix *prefix = nullptr;
    uint32_t recordId = 0;
    if (!pooled) {
        prefix = static_cast<EventPrefix *>(zera::AllocZero(1, sizeof(EventPrefix) + sizeof(Event) + area));
    } else if (zera::MayAllocate()) {
        prefix = g_blockPool.Take();
        if (prefix != nullptr) {
            recordId = prefix->dwRecordId;
            // What lies behind the area is no part of the event: a growth
            // reallocates and reads no further than the area.
            std::memset(prefix, 0, sizeof(EventPrefix) + sizeof(Event) + area);
        } else {
            prefix = static_cast<EventPrefix *>(std::calloc(1, BlockPool::kBlockSize));
        }
    }
    if (prefix == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    prefix->dwPooled = pooled ? 1 : 0;
    auto *event = reinterpret_cast<Event *>(prefix + 1);
    prefix->dwAreaSize = area;
#if UINTPTR_MAX > 0xFFFFFFFFu
    if (recordId == 0 && !g_liveRecords.Acquire(&recordId)) {
        zera::Free(prefix);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    prefix->dwRecordId = recordId;
    event->dwEventId = prefix->dwRecordId;
#else
    (void)recordId;
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
    // Any value: on a stack with identifier management this is how a cancel
    // gets its wildcard and its owner. The send checks what needs checking.
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
    if (prefix->dwPooled && g_blockPool.Give(prefix)) return 1;  // keeps its record number
    ReleaseBlock(prefix);
    return 1;
}

ZERA_API void ZERA_CALL ZERA_vDeleteEvent(Event *pstEvent) { ZERA_boDeleteEvent(pstEvent); }

}  // extern "C"
