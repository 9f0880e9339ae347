// evid/evid_manager.cpp - the identifier manager of a level: a ring of
// reserved runs from which the even identifiers are handed out in order.
//
// Every field of an EvIdManager is guarded by its hMutex, except pstLevel and
// hMutex themselves, which change only in init and deinit (the owner of the
// level must not run those concurrently with other manager operations). The
// segment is reached with the manager's lock held (lock order in
// evid/evid.h): runs are reserved and exchanged through the block operations
// of the manager's level, and given back straight to the segment when the
// level stops or goes.
#include <cstring>

#include "evid/evid.h"
#include "handle/handle.h"

namespace zera {

namespace {

constexpr uint8_t kDefaultSlots = 3;
constexpr uint16_t kDefaultIdsPerSlot = 16384;
// dwNextId of a manager whose run in use is spent and whose slot found no
// fresh run yet: the next request tries the exchange again rather than hand
// out the slot's old identifiers a second time.
constexpr uint32_t kExchangePending = ZERA_EVID_NONE - 1;
static_assert(kExchangePending >= ZERA_EVID_RESERVED_FIRST, "an empty mark");

bool IsEmptyMark(uint32_t value) { return value >= ZERA_EVID_RESERVED_FIRST; }

// Where the identifiers of the run in use end (wide: a run may end at 2^32).
// Lock held.
uint64_t RunEnd(const EvIdManager *manager) {
    return static_cast<uint64_t>(manager->padwBlocks[manager->u8CurBlock]) + manager->u16BlockSize;
}

// Checks an initialised manager's level and locks the manager. False with
// 1028 (null manager or none initialised), 1027 (the level) or the lock's
// code.
inline bool LockManager(EvIdManager *manager) {
    if (manager == nullptr || manager->pstLevel == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;
    }
    if (!OSAL_boMutexLock(manager->hMutex)) return false;
    // Checked on every draw, inline rather than through the export. Under
    // the lock (which does not guard the level's record: no handle
    // operation takes one), so that the check's chain of loads overlaps the
    // draw's own instead of delaying the lock's atomic operation.
    if (!HandleValid(manager->pstLevel)) {
        OSAL_vMutexUnlock(manager->hMutex);
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return false;
    }
    return true;
}

// Reserves a run for every empty slot, in slot order, and starts over at
// slot 0; a slot that gets no run keeps the empty mark. Lock held.
void FillSlots(EvIdManager *manager) {
    for (uint32_t slot = 0; slot < manager->u8NumBlocks; ++slot) {
        if (IsEmptyMark(manager->padwBlocks[slot]))
            manager->padwBlocks[slot] = ZERA_dwEvIdGetBlock(manager->pstLevel, manager->u16BlockSize);
    }
    manager->u8CurBlock = 0;
    manager->dwNextId = manager->padwBlocks[0];
}

// Returns every reserved run straight to the segment and marks its slot
// empty; a run the segment refuses is dropped all the same. Lock held.
void ReturnAllRuns(EvIdManager *manager) {
    for (uint32_t slot = 0; slot < manager->u8NumBlocks; ++slot) {
        uint32_t &run = manager->padwBlocks[slot];
        if (!IsEmptyMark(run)) ReturnRunToSegment(run);
        run = ZERA_EVID_NONE;
    }
}

// Exchanges the run of the slot in use (spent u8NumBlocks - 1 exchanges ago,
// so identifiers handed out from it have had time to die) for a fresh one.
// Without a fresh run the slot keeps its old run reserved but hands nothing
// out of it: false with the block request's code, and the next request tries
// again. An old run the segment refuses to take back is dropped: handing it
// out again could repeat a live identifier. Lock held.
bool ExchangeRun(EvIdManager *manager) {
    uint32_t &run = manager->padwBlocks[manager->u8CurBlock];
    const uint32_t fresh = ZERA_dwEvIdGetBlock(manager->pstLevel, manager->u16BlockSize);
    if (fresh == kNoIdRun) {
        manager->dwNextId = kExchangePending;
        return false;
    }
    // An empty slot (its earlier fill failed) takes the fresh run as it is.
    if (!IsEmptyMark(run)) ZERA_boEvIdFreeBlock(manager->pstLevel, run);
    run = fresh;
    manager->dwNextId = fresh;
    return true;
}

// TakeNextId for a manager that is empty, whose run in use ends with this
// identifier, or that is at identifier 0. Lock held.
[[gnu::noinline]] bool TakeNextIdSlow(EvIdManager *manager, uint32_t *id) {
    do {
        if (manager->dwNextId == kExchangePending) {
            if (!ExchangeRun(manager)) return false;
        } else if (IsEmptyMark(manager->dwNextId)) {
            FillSlots(manager);
            if (IsEmptyMark(manager->dwNextId)) return false;
        }
        *id = manager->dwNextId;
        manager->dwNextId += 2;
        if (manager->dwNextId >= RunEnd(manager)) {
            manager->u8CurBlock = static_cast<uint8_t>((manager->u8CurBlock + 1) % manager->u8NumBlocks);
            ExchangeRun(manager);  // a failure shows at the next request
        }
    } while (*id == 0);
    return true;
}

// Hands out the next identifier into *id, filling an empty manager first.
// Identifier 0 (the first of block 0) is skipped: it is the failure value of
// ZERA_dwEvIdManagerGetNextId. False, with the block request's code, when no
// run is to be had. Lock held.
inline bool TakeNextId(EvIdManager *manager, uint32_t *id) {
    // Nearly every draw: an increment that stays inside the run in use.
    const uint32_t next = manager->dwNextId;
    if (next != 0 && !IsEmptyMark(next) && next + uint64_t{2} < RunEnd(manager)) {
        *id = next;
        manager->dwNextId = next + 2;
        return true;
    }
    return TakeNextIdSlow(manager, id);
}

}  // namespace

bool DrawEventId(EvIdManager *manager, uint32_t *id) {
    if (!LockManager(manager)) return false;
    const bool drawn = TakeNextId(manager, id);
    OSAL_vMutexUnlock(manager->hMutex);
    return drawn;
}

}  // namespace zera

extern "C" {

ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdManagerInit(StackHandle *h, EvIdManager *pstManager,
                                                const EvIdManagerConfig *pstConfig) {
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    // An initialised manager would lose its lock, its table and its runs.
    if (pstManager == nullptr || pstConfig == nullptr || pstManager->pstLevel != nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    OSAL_HMUTEX mutex = OSAL_hMutexCreate();
    if (mutex == nullptr) return 0;
    if (!OSAL_boMutexLock(mutex)) {
        OSAL_vMutexDelete(mutex);
        return 0;
    }
    uint8_t slots = pstConfig->u8NumBlocks;
    uint16_t idsPerSlot = pstConfig->u16BlockSize;
    if (slots == 0 || idsPerSlot == 0) {
        slots = zera::kDefaultSlots;
        idsPerSlot = zera::kDefaultIdsPerSlot;
    }
    auto *table = static_cast<uint32_t *>(zera::Alloc(slots * sizeof(uint32_t)));
    if (table == nullptr) {
        OSAL_vMutexUnlock(mutex);
        OSAL_vMutexDelete(mutex);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return 0;
    }
    for (uint32_t slot = 0; slot < slots; ++slot) table[slot] = ZERA_EVID_NONE;
    pstManager->hMutex = mutex;
    pstManager->dwNextId = ZERA_EVID_NONE;
    pstManager->u8CurBlock = 0;
    pstManager->u8NumBlocks = slots;
    pstManager->u16BlockSize = idsPerSlot;
    pstManager->padwBlocks = table;
    pstManager->pstLevel = h;
    OSAL_vMutexUnlock(mutex);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdManagerDeinit(EvIdManager *pstManager) {
    if (!zera::LockManager(pstManager)) return 0;
    OSAL_HMUTEX mutex = pstManager->hMutex;
    pstManager->hMutex = nullptr;
    zera::ReturnAllRuns(pstManager);
    zera::Free(pstManager->padwBlocks);
    std::memset(pstManager, 0, sizeof *pstManager);
    OSAL_vMutexUnlock(mutex);
    OSAL_vMutexDelete(mutex);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdManagerPreAllocIdBlocks(EvIdManager *pstManager) {
    if (!zera::LockManager(pstManager)) return 0;
    if ((zera::LoadRelaxed(pstManager->pstLevel->dwStatus) & ZERA_STATUS_COMPLETE) == 0) {
        OSAL_vMutexUnlock(pstManager->hMutex);
        OSAL_vSetLastError(OSAL_ERR_NOT_COMPLETE);
        return 0;
    }
    zera::FillSlots(pstManager);
    OSAL_vMutexUnlock(pstManager->hMutex);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdManagerFreeIdBlocks(EvIdManager *pstManager) {
    if (!zera::LockManager(pstManager)) return 0;
    zera::ReturnAllRuns(pstManager);
    pstManager->dwNextId = ZERA_EVID_NONE;
    OSAL_vMutexUnlock(pstManager->hMutex);
    return 1;
}

ZERA_API uint32_t ZERA_CALL ZERA_dwEvIdManagerGetNextId(EvIdManager *pstManager, BOOL8 boReserved) {
    if (boReserved) {
        OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
        return ZERA_EVID_NONE;
    }
    // The reported failures of this operation are 0 (no usable manager or
    // level; never an identifier) and ZERA_EVID_NONE (no run to be had).
    if (!zera::LockManager(pstManager)) return 0;
    uint32_t id = 0;
    const bool drawn = zera::TakeNextId(pstManager, &id);
    OSAL_vMutexUnlock(pstManager->hMutex);
    return drawn ? id : ZERA_EVID_NONE;
}

}  // extern "C"
