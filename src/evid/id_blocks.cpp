// evid/id_blocks.cpp - runs of identifier blocks in the shared segment: the
// next-fit reservation and the return of a run, and the exported block
// operations that pass a request up the chain of levels to the topmost one,
// which alone works on the segment.
#include "evid/evid.h"
#include "handle/handle.h"

namespace zera {

namespace {

bool BitOf(const uint32_t *bitmap, uint32_t block) { return ((bitmap[block / 32] >> (block % 32)) & 1u) != 0; }
void SetBit(uint32_t *bitmap, uint32_t block) { bitmap[block / 32] |= 1u << (block % 32); }
void ClearBit(uint32_t *bitmap, uint32_t block) { bitmap[block / 32] &= ~(1u << (block % 32)); }

uint32_t NextBlock(uint32_t block) { return block + 1 == kIdBlockCount ? 0 : block + 1; }
uint32_t PreviousBlock(uint32_t block) { return block == 0 ? kIdBlockCount - 1 : block - 1; }

// Whether h may carry out a block operation, and where: on the level above
// (*next, which passed its check) or, with *next null, on the segment itself.
// False with the code stored when h or the level above is refused.
bool RouteBlockRequest(StackHandle *h, StackHandle **next) {
    if (!ZERA_boHandleCheck(h, 1)) return false;
    // The status word changes under running component threads: read it whole.
    if ((zera::LoadRelaxed(h->dwStatus) & ZERA_STATUS_COMPLETE) == 0) {
        OSAL_vSetLastError(OSAL_ERR_NOT_COMPLETE);
        return false;
    }
    *next = NextLevelOf(h);
    return *next == nullptr || ZERA_boHandleCheck(*next, 0);
}

// The entry of the level above for a block operation; null with 1027 when
// that level has not been bound yet.
ZERA_PFN BoundEntry(StackHandle *next, EntrySlot slot) {
    ZERA_PFN entry = next->apfnEntry[slot];
    if (entry == nullptr) OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
    return entry;
}

// Locks the segment for the topmost level's work. Null when it cannot be
// opened (why it cannot, see UsableIdSegment) or its lock cannot be taken
// (the platform's code).
OSAL_HSHMEM LockSegment() {
    OSAL_HSHMEM segment = UsableIdSegment();
    if (segment == nullptr) return nullptr;
    return LockSharedMem(segment, LockRank::kIdSegment) ? segment : nullptr;
}

uint32_t *WordsOf(OSAL_HSHMEM segment) { return static_cast<uint32_t *>(segment->pvData); }

}  // namespace

bool ReturnRunToSegment(uint32_t firstId) {
    OSAL_HSHMEM segment = LockSegment();
    if (segment == nullptr) return false;
    const bool returned = ReturnIdRun(WordsOf(segment), firstId);
    UnlockSharedMem(segment);
    return returned;
}

uint32_t ReserveIdRun(uint32_t *words, uint32_t count) {
    const uint64_t wanted = (static_cast<uint64_t>(count) + kIdBlockSize - 1) / kIdBlockSize;
    if (wanted > kIdBlockCount) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_SIZE);
        return kNoIdRun;
    }
    const uint32_t blocks = static_cast<uint32_t>(wanted);
    uint32_t *taken = words + kIdTakenWord;
    uint32_t *continuation = words + kIdContinuationWord;
    // A position out of range (the segment is writable by every process) is
    // taken modulo the block count, so the search still covers one pass.
    const uint32_t start = words[kIdSearchWord] % kIdBlockCount;

    // Steps are counted as the allocator always has, so that the search
    // position moves on alike in every process: a taken block that ends an
    // attempted run costs one step for the interruption and one when passed.
    uint32_t position = start;
    uint64_t steps = 0;
    bool found = false;
    while (steps < kIdBlockCount) {
        if (BitOf(taken, position)) {
            position = NextBlock(position);
            ++steps;
            continue;
        }
        uint32_t freeBlocks = 1;  // the first block included
        uint32_t block = NextBlock(position);
        while (freeBlocks < blocks && !BitOf(taken, block)) {
            ++freeBlocks;
            block = NextBlock(block);
        }
        if (freeBlocks >= blocks) {
            found = true;
            break;
        }
        steps += freeBlocks + 1;
        position = block;
    }
    if (!found) {
        // Every block of the user's machine is reserved: a code of its own,
        // so that a create that needed an identifier never fails without one.
        OSAL_vSetLastErrorText(OSAL_ERR_NOT_AVAILABLE, OSAL_SEVERITY_ERROR,
                               "no free run of event identifiers in the shared segment", OSAL_ARG_NONE, nullptr);
        return kNoIdRun;
    }

    uint32_t block = position;
    for (uint32_t i = 0; i < blocks; ++i) {
        SetBit(taken, block);
        if (i + 1 < blocks) {
            SetBit(continuation, block);
        } else {
            ClearBit(continuation, block);
        }
        block = NextBlock(block);
    }
    words[kIdSearchWord] = static_cast<uint32_t>((start + steps + blocks) % kIdBlockCount);
    return position * kIdBlockSize;
}

bool ReturnIdRun(uint32_t *words, uint32_t firstId) {
    uint32_t *taken = words + kIdTakenWord;
    uint32_t *continuation = words + kIdContinuationWord;
    uint32_t block = firstId / kIdBlockSize;
    if (block >= kIdBlockCount || !BitOf(taken, block) || BitOf(continuation, PreviousBlock(block))) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_SIZE);
        return false;
    }
    // Bounded by the block count, so a damaged bitmap cannot loop for ever.
    for (uint32_t i = 0; i < kIdBlockCount; ++i) {
        const bool more = BitOf(continuation, block);
        ClearBit(taken, block);
        ClearBit(continuation, block);
        if (!more) break;
        block = NextBlock(block);
    }
    return true;
}

uint32_t ExchangeIdRun(StackHandle *h, uint32_t count, uint32_t oldFirst) {
    const bool hasOld = oldFirst < ZERA_EVID_RESERVED_FIRST;
    StackHandle *next = nullptr;
    if (!RouteBlockRequest(h, &next)) return kNoIdRun;
    if (next != nullptr) {  // along the chain: two requests
        const uint32_t fresh = ZERA_dwEvIdGetBlock(h, count);
        if (fresh != kNoIdRun && hasOld) ZERA_boEvIdFreeBlock(h, oldFirst);
        return fresh;
    }
    // The segment lock costs system calls each way: taken once for both.
    OSAL_HSHMEM segment = LockSegment();
    if (segment == nullptr) return kNoIdRun;
    const uint32_t fresh = ReserveIdRun(WordsOf(segment), count);
    if (fresh != kNoIdRun && hasOld) ReturnIdRun(WordsOf(segment), oldFirst);
    UnlockSharedMem(segment);
    return fresh;
}

}  // namespace zera

extern "C" {

ZERA_API uint32_t ZERA_CALL ZERA_dwEvIdGetBlockSize(StackHandle * /*h*/) { return zera::kIdBlockSize; }

ZERA_API uint32_t ZERA_CALL ZERA_dwEvIdGetBlock(StackHandle *h, uint32_t dwCount) {
    StackHandle *next = nullptr;
    if (!zera::RouteBlockRequest(h, &next)) return zera::kNoIdRun;
    if (next != nullptr) {
        ZERA_PFN entry = zera::BoundEntry(next, zera::kEntryEvIdGetBlock);
        if (entry == nullptr) return zera::kNoIdRun;
        return reinterpret_cast<zera::PfnEvIdGetBlock>(entry)(next, dwCount);
    }
    OSAL_HSHMEM segment = zera::LockSegment();
    if (segment == nullptr) return zera::kNoIdRun;
    const uint32_t first = zera::ReserveIdRun(zera::WordsOf(segment), dwCount);
    zera::UnlockSharedMem(segment);
    return first;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdFreeBlock(StackHandle *h, uint32_t dwFirstId) {
    StackHandle *next = nullptr;
    if (!zera::RouteBlockRequest(h, &next)) return 0;
    if (next != nullptr) {
        ZERA_PFN entry = zera::BoundEntry(next, zera::kEntryEvIdFreeBlock);
        if (entry == nullptr) return 0;
        return reinterpret_cast<zera::PfnEvIdFreeBlock>(entry)(next, dwFirstId);
    }
    return zera::ReturnRunToSegment(dwFirstId) ? 1 : 0;
}

}  // extern "C"
