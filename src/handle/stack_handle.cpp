// handle/stack_handle.cpp - the level handle: creating, binding, closing and
// checking it, the process key and the masked link from level 0 to level 1,
// and the reason the last binding refused a level.
//
// No handle operation takes a lock: levels are created, bound and closed by
// the thread that adds or removes them, and the chain is read without locks.
#include <cstddef>
#include <cstdlib>
#include <new>

#include "handle/handle.h"

namespace {

// Set once by library start, before any operation of the library can run,
// and read without a lock afterwards.
ZERA_UPTR g_pointerKey = 0;

// Why the last binding on this thread refused its level (static texts).
thread_local const char *t_bindingRefusal = nullptr;

uint32_t DrawKeyWord() {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) word = word * 256u + static_cast<uint32_t>(std::rand());
    return word;
}

// The size a valid record states: 316 on 32-bit targets, larger where
// pointers are wider.
constexpr uint32_t kHandleSize = sizeof(StackHandle);

// The block behind a handle: the record first, so that the handle is its
// address, then what the library keeps beside it.
struct LevelBlock {
    StackHandle handle;
    zera::LevelExtras extras;
};
static_assert(offsetof(LevelBlock, handle) == 0, "the handle is the block's address");

// The queues' element-delete function: a queue hands its items over as void*.
void OSAL_CALL DeleteQueuedEvent(void *pvItem) { ZERA_vDeleteEvent(static_cast<Event *>(pvItem)); }

HostStackDescriptor *DescriptorOf(const StackHandle *h) {
    return static_cast<HostStackDescriptor *>(h->pvLevelContext);
}

// Releases a record and whatever of its info blocks, queues and lock exists.
void ReleaseHandle(StackHandle *h) {
    ZERA_ASSERT(h->dwMagic == ZERA_HANDLE_MAGIC && h->dwSize == kHandleSize);  // released once, made whole
    ZERA_boInfoBlockDelete(h->pstInfoBlock);
    ZERA_boInfoBlockDelete(h->pstUpperInfoBlock);
    if (h->hSendQueue != nullptr) OSAL_vQueueDelete(h->hSendQueue);
    if (h->hRecvQueue != nullptr) OSAL_vQueueDelete(h->hRecvQueue);
    if (h->hMutex != nullptr) OSAL_vMutexDelete(h->hMutex);
    h->dwMagic = 0;
    auto *block = reinterpret_cast<LevelBlock *>(h);
    block->extras.~LevelExtras();
    zera::FreeLineAligned(block);
}

// Whether a new level may be created on `parent`; stores the refusal's code.
bool ParentAccepted(StackHandle *parent) {
    if (!ZERA_boHandleCheck(parent, 0)) return false;
    // A level 0 without its descriptor cannot say whether it has a level above.
    if (parent->u8Level == 0 && DescriptorOf(parent) == nullptr) return zera::Fail(OSAL_ERR_INVALID_HANDLE);
    if (zera::NextLevelOf(parent) != nullptr) return zera::Fail(OSAL_ERR_INVALID_HANDLE);
    // Level 31 is the highest: its child's bit would not fit the level masks.
    if (parent->u8Level >= ZERA_MAX_LEVEL) return zera::Fail(OSAL_ERR_INVALID_LEVEL);
    return true;
}

}  // namespace

namespace zera {

ZERA_UPTR PointerKey() { return g_pointerKey; }

void SetPointerKey(ZERA_UPTR key) {
    ZERA_ASSERT(g_pointerKey == 0);  // once per process: links masked with an earlier key would break
    g_pointerKey = key;
}

ZERA_UPTR MakePointerKey(int32_t i32Seconds) {
    std::srand(static_cast<unsigned>(i32Seconds));
    ZERA_UPTR key = DrawKeyWord();
#if UINTPTR_MAX > 0xFFFFFFFFu
    // Pointer-wide builds mask a pointer-wide link: the high half comes from
    // the next four draws, so the low half is the same key a 32-bit build makes.
    key |= static_cast<ZERA_UPTR>(DrawKeyWord()) << 32;
#endif
    return key;
}

const char *BindingRefusal() { return t_bindingRefusal; }

void RecordBindingRefusal(const char *reason) { t_bindingRefusal = reason; }

void WriteLevel1Link(HostStackDescriptor *pstDesc, StackHandle *pstUpper) {
    pstDesc->dwNextLevelLink = reinterpret_cast<ZERA_UPTR>(pstUpper) ^ PointerKey();
}

StackHandle *ReadLevel1Link(const HostStackDescriptor *pstDesc) {
    return reinterpret_cast<StackHandle *>(pstDesc->dwNextLevelLink ^ PointerKey());
}

StackHandle *Level1Of(const StackHandle *h0) {
    const HostStackDescriptor *desc = DescriptorOf(h0);
    return desc != nullptr ? ReadLevel1Link(desc) : nullptr;
}

LevelExtras *ExtrasOf(StackHandle *h) { return &reinterpret_cast<LevelBlock *>(h)->extras; }

StackHandle *CheckedNextLevel(const StackHandle *h) {
    StackHandle *next = NextLevelOf(h);
    return ZERA_boHandleCheck(next, 0) ? next : nullptr;
}

}  // namespace zera

extern "C" {

ZERA_API StackHandle *ZERA_CALL ZERA_hHandleCreate(StackHandle *hParent) {
    // On a line of its own: receivers read the links and the entry table
    // while the level's own thread writes its statistics and time offset.
    void *memory = zera::AllocZeroLineAligned(sizeof(LevelBlock));
    if (memory == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    auto *block = static_cast<LevelBlock *>(memory);
    new (&block->extras) zera::LevelExtras();
    StackHandle *h = &block->handle;
    h->dwMagic = ZERA_HANDLE_MAGIC;
    h->dwSize = kHandleSize;
    h->stTimeOffset = OSAL_stTimeNoWait;

    h->pstInfoBlock = ZERA_pstInfoBlockCreate();
    h->pstUpperInfoBlock = ZERA_pstInfoBlockCreate();
    h->hSendQueue = OSAL_hQueueCreate(ZERA_QUEUE_CAPACITY, DeleteQueuedEvent);
    h->hRecvQueue = OSAL_hQueueCreate(ZERA_QUEUE_CAPACITY, DeleteQueuedEvent);
    h->hMutex = OSAL_hMutexCreate();
    if (h->pstInfoBlock == nullptr || h->pstUpperInfoBlock == nullptr || h->hSendQueue == nullptr ||
        h->hRecvQueue == nullptr || h->hMutex == nullptr) {
        ReleaseHandle(h);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    // The record came zero-filled: statistics, load figures, masks, links,
    // level, width and context are all clear.
    h->dwWantedTypes = 0xFFFFFFFFu;
    if (hParent == nullptr) return h;

    if (!ParentAccepted(hParent)) {
        ReleaseHandle(h);
        return nullptr;
    }
    h->u8Level = static_cast<uint8_t>(hParent->u8Level + 1);
    hParent->dwWantedLevels |= 1u << h->u8Level;
    h->dwLowerWantedLevels = hParent->dwLowerWantedLevels | hParent->dwWantedLevels;
    return h;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHandleBind(StackHandle *hLower, StackHandle *hUpper) {
    if (!ZERA_boHandleCheck(hLower, 0) || !ZERA_boHandleCheck(hUpper, 0)) return 0;
    if (hLower == hUpper) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    HostStackDescriptor *desc = hLower->u8Level == 0 ? DescriptorOf(hLower) : nullptr;
    if (hLower->u8Level == 0 && desc == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    if (zera::NextLevelOf(hLower) != nullptr || hUpper->pstPrevLevel != nullptr) return 0;
    if (desc != nullptr) {
        zera::WriteLevel1Link(desc, hUpper);
    } else {
        hLower->pstNextLevel = hUpper;
    }
    hUpper->pstPrevLevel = hLower;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHandleClose(StackHandle *h) {
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    if (zera::NextLevelOf(h) != nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    StackHandle *prev = h->pstPrevLevel;
    if (prev != nullptr) {
        if (!ZERA_boHandleCheck(prev, 0)) {
            OSAL_vSetLastError(OSAL_ERR_PREV_LEVEL);
            return 0;
        }
        if (prev->u8Level != 0) {
            prev->pstNextLevel = nullptr;
        } else if (HostStackDescriptor *desc = DescriptorOf(prev)) {
            zera::WriteLevel1Link(desc, nullptr);
        }
    }
    ReleaseHandle(h);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHandleCheck(StackHandle *h, uint32_t /*dwFlag*/) {
    if (!zera::HandleValid(h)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    return 1;
}

ZERA_API StackHandle *ZERA_CALL ZERA_hHandleGetNextLevel(StackHandle *h) {
    return h != nullptr ? zera::NextLevelOf(h) : nullptr;
}

}  // extern "C"
