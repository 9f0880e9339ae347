// evid/evid_manager.cpp - the identifier manager of a level: a ring of
// reserved runs from which the even identifiers are handed out in order.
//
// Every field of an EvIdManager is guarded by its hMutex, except pstLevel and
// hMutex themselves, which change only in init and deinit (the owner of the
// level must not run those concurrently with other manager operations), and
// dwNextId, which a draw also moves on without the lock: one compare-and-swap
// from an identifier to the next one of the same run, while that run goes on
// beyond it (see TakeNextId). Whatever changes dwNextId under the lock does so
// only while it marks no such identifier (empty, exchange pending, 0 or the
// last of a run), or replaces it by one store that a racing swap then fails
// on; so a swap that succeeds hands out an identifier that the locked draw
// would have handed out at that moment, and a run is never given back while
// dwNextId still lies in it. The segment is reached with the manager's lock
// held (lock order in common/lock_order.h): runs are reserved and exchanged through
// the block operations of the manager's level, and given back straight to
// the segment when the level stops or goes.
#include <cstring>
#if defined(_MSC_VER)
#include <intrin.h>
#endif

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

// dwNextId is read and changed whole, since a draw swaps it without the lock.
// Acquire and release order a fresh run's reservation before its first
// identifier.
uint32_t LoadNext(const EvIdManager *manager) {
#if defined(_MSC_VER)
    return *static_cast<const volatile uint32_t *>(&manager->dwNextId);
#else
    return __atomic_load_n(&manager->dwNextId, __ATOMIC_ACQUIRE);
#endif
}
void StoreNext(EvIdManager *manager, uint32_t value) {
#if defined(_MSC_VER)
    _InterlockedExchange(reinterpret_cast<volatile long *>(&manager->dwNextId), static_cast<long>(value));
#else
    __atomic_store_n(&manager->dwNextId, value, __ATOMIC_RELEASE);
#endif
}
// Moves dwNextId from `expected` to `desired`; false, with the value found
// in `expected`, when it held another.
bool SwapNext(EvIdManager *manager, uint32_t &expected, uint32_t desired) {
#if defined(_MSC_VER)
    auto *word = reinterpret_cast<volatile long *>(&manager->dwNextId);
    const auto found = static_cast<uint32_t>(
        _InterlockedCompareExchange(word, static_cast<long>(desired), static_cast<long>(expected)));
    const bool swapped = found == expected;
    expected = found;
    return swapped;
#else
    return __atomic_compare_exchange_n(&manager->dwNextId, &expected, desired, false, __ATOMIC_ACQ_REL,
                                       __ATOMIC_RELAXED);
#endif
}

// Whether identifier `next` may be handed out by a swap without the lock: not
// 0, no mark, and not the last of its run. Runs begin on a block boundary (the
// segment hands out whole blocks), so for a manager whose runs fit in one
// block this reads nothing but `next` and the run size, which is fixed from
// init to deinit; larger runs always take the lock.
inline bool SwappableWithoutLock(uint32_t next, uint32_t idsPerRun) {
    return next != 0 && !IsEmptyMark(next) && idsPerRun <= kIdBlockSize && next % kIdBlockSize + 2 < idsPerRun;
}

// Where the identifiers of the run in use end (wide: a run may end at 2^32).
// Lock held.
uint64_t RunEnd(const EvIdManager *manager) {
    return static_cast<uint64_t>(manager->padwBlocks[manager->u8CurBlock]) + manager->u16BlockSize;
}

// Checks an initialised manager and its level. False with 1028 (null
// manager or none initialised) or 1027 (the level).
inline bool ManagerUsable(const EvIdManager *manager) {
    if (manager == nullptr || manager->pstLevel == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;
    }
    // Checked on every draw, inline rather than through the export; the
    // level's record is guarded by no lock of the manager's.
    if (!HandleValid(manager->pstLevel)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return false;
    }
    return true;
}

// Checks an initialised manager's level and locks the manager. False with
// 1028 (null manager or none initialised), 1027 (the level) or the lock's
// code.
inline bool LockManager(EvIdManager *manager) {
    if (manager == nullptr || manager->pstLevel == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;
    }
    if (!LockMutex(manager->hMutex, LockRank::kIdManager)) return false;
    if (!HandleValid(manager->pstLevel)) {
        UnlockMutex(manager->hMutex);
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
    StoreNext(manager, manager->padwBlocks[0]);
}

// Returns every reserved run straight to the segment and marks its slot
// empty; a run the segment refuses is dropped all the same. The manager is
// marked empty first, so that no draw without the lock hands out an
// identifier of a run already given back. Lock held.
void ReturnAllRuns(EvIdManager *manager) {
    StoreNext(manager, ZERA_EVID_NONE);
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
// out again could repeat a live identifier. dwNextId marks no identifier that
// a draw without the lock could take meanwhile. Lock held.
bool ExchangeRun(EvIdManager *manager) {
    uint32_t &run = manager->padwBlocks[manager->u8CurBlock];
    // An empty slot (its earlier fill failed) gives nothing back.
    const uint32_t fresh = ExchangeIdRun(manager->pstLevel, manager->u16BlockSize, run);
    if (fresh == kNoIdRun) {
        StoreNext(manager, kExchangePending);
        return false;
    }
    run = fresh;
    StoreNext(manager, fresh);
    return true;
}

// TakeNextId for a manager that is empty, whose run in use ends with this
// identifier, that is at identifier 0, or whose runs span blocks. Draws
// without the lock may move dwNextId on meanwhile, but never out of the run
// in use nor from a value this leaves it at. Lock held.
[[gnu::noinline]] bool TakeNextIdLocked(EvIdManager *manager, uint32_t *id) {
    for (;;) {
        const uint32_t next = LoadNext(manager);
        if (next == kExchangePending) {
            if (!ExchangeRun(manager)) return false;
            continue;
        }
        if (IsEmptyMark(next)) {
            FillSlots(manager);
            if (IsEmptyMark(LoadNext(manager))) return false;
            continue;
        }
        // Identifiers are even, drawn in order from the run in use.
        ZERA_ASSERT(next % 2 == 0 && next >= manager->padwBlocks[manager->u8CurBlock] && next < RunEnd(manager));
        if (next + uint64_t{2} < RunEnd(manager)) {
            uint32_t expected = next;
            if (!SwapNext(manager, expected, next + 2)) continue;  // a draw without the lock came first
        } else {
            // The last of the run: no draw without the lock takes it.
            manager->u8CurBlock = static_cast<uint8_t>((manager->u8CurBlock + 1) % manager->u8NumBlocks);
            ExchangeRun(manager);  // a failure shows at the next request
        }
        if (next != 0) {  // identifier 0 is skipped
            *id = next;
            return true;
        }
    }
}

// What TakeNextId got.
enum class Draw {
    kId,        // an identifier
    kRefused,   // no usable manager or level, or its lock refused (the code stored)
    kNoRun,     // no run to be had (the block request's code)
};

// Hands out the next identifier into *id, filling an empty manager first.
// Identifier 0 (the first of block 0) is skipped: it is the failure value of
// ZERA_dwEvIdManagerGetNextId. Codes: 1028 or 1027 (the manager or its
// level), the lock's, or the block request's.
inline Draw TakeNextId(EvIdManager *manager, uint32_t *id) {
    if (!ManagerUsable(manager)) return Draw::kRefused;
    // Nearly every draw: one swap inside the run in use, without the lock,
    // which would cost an atomic operation each way.
    const uint32_t idsPerRun = manager->u16BlockSize;
    uint32_t next = LoadNext(manager);
    while (SwappableWithoutLock(next, idsPerRun)) {
        if (SwapNext(manager, next, next + 2)) {
            *id = next;
            return Draw::kId;
        }
    }
    if (!LockMutex(manager->hMutex, LockRank::kIdManager)) return Draw::kRefused;
    const bool drawn = TakeNextIdLocked(manager, id);
    UnlockMutex(manager->hMutex);
    return drawn ? Draw::kId : Draw::kNoRun;
}

}  // namespace

bool DrawEventId(EvIdManager *manager, uint32_t *id) { return TakeNextId(manager, id) == Draw::kId; }

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
    if (!zera::LockMutex(mutex, zera::LockRank::kIdManager)) {
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
        zera::UnlockMutex(mutex);
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
    zera::UnlockMutex(mutex);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdManagerDeinit(EvIdManager *pstManager) {
    if (!zera::LockManager(pstManager)) return 0;
    OSAL_HMUTEX mutex = pstManager->hMutex;
    pstManager->hMutex = nullptr;
    zera::ReturnAllRuns(pstManager);
    zera::Free(pstManager->padwBlocks);
    std::memset(pstManager, 0, sizeof *pstManager);
    zera::UnlockMutex(mutex);
    OSAL_vMutexDelete(mutex);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdManagerPreAllocIdBlocks(EvIdManager *pstManager) {
    if (!zera::LockManager(pstManager)) return 0;
    if ((zera::LoadRelaxed(pstManager->pstLevel->dwStatus) & ZERA_STATUS_COMPLETE) == 0) {
        zera::UnlockMutex(pstManager->hMutex);
        OSAL_vSetLastError(OSAL_ERR_NOT_COMPLETE);
        return 0;
    }
    zera::FillSlots(pstManager);
    zera::UnlockMutex(pstManager->hMutex);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdManagerFreeIdBlocks(EvIdManager *pstManager) {
    if (!zera::LockManager(pstManager)) return 0;
    zera::ReturnAllRuns(pstManager);
    pstManager->dwNextId = ZERA_EVID_NONE;
    zera::UnlockMutex(pstManager->hMutex);
    return 1;
}

ZERA_API uint32_t ZERA_CALL ZERA_dwEvIdManagerGetNextId(EvIdManager *pstManager, BOOL8 boReserved) {
    if (boReserved) {
        OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
        return ZERA_EVID_NONE;
    }
    // The reported failures of this operation are 0 (no usable manager or
    // level, or its lock refused; never an identifier) and ZERA_EVID_NONE
    // (no run to be had).
    uint32_t id = 0;
    switch (zera::TakeNextId(pstManager, &id)) {
    case zera::Draw::kId: return id;
    case zera::Draw::kRefused: return 0;
    default: return ZERA_EVID_NONE;
    }
}

}  // extern "C"
