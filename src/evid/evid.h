/*
 * evid/evid.h - what the event-identifier subsystem offers the rest of the
 * library: the machine-wide segment of identifier blocks (opened when the
 * library is loaded, closed when it is unloaded), the reservation and return
 * of runs of blocks in it, and the drawing of one identifier from a level's
 * manager.
 *
 * Locks are taken in the order of common/lock_order.h (a manager's hMutex
 * before the segment lock, OSAL_boSharedMemLock). The block operations take
 * only the segment lock and never a manager's, and no two segment locks are
 * ever held.
 *
 * Internal: included by src/ and by tests only.
 */
#ifndef ZERA_EVID_EVID_H
#define ZERA_EVID_EVID_H

#include <cstdint>

#include "VOQ_ZERA_Comp.h"
#include "common/common.h"
#include "common/platform_locks.h"

namespace zera {

// ---- The shared segment of identifier blocks ---------------------------------

constexpr uint32_t kIdSegmentSize = 65532;
constexpr const char *kIdSegmentName = "ZERA_EVENT_ID";
// Attempts to open the segment at library start; each pass tries an existing
// segment first, then creating it.
constexpr int kIdSegmentOpenPasses = 1000;

// Layout of the segment, in 32-bit words of the machine's order: the taken
// bitmap, the continuation bitmap (bit of block b set while the run goes on
// after b), then the block at which the next search starts.
constexpr uint32_t kIdBlockSize = ZERA_EVID_BLOCK_SIZE;  // identifiers per block
constexpr uint32_t kIdBitmapWords = 8191;
constexpr uint32_t kIdBlockCount = kIdBitmapWords * 32;  // 262112 blocks
constexpr uint32_t kIdTakenWord = 0;
constexpr uint32_t kIdContinuationWord = kIdBitmapWords;
constexpr uint32_t kIdSearchWord = 2 * kIdBitmapWords;
static_assert((kIdSearchWord + 1) * 4 == kIdSegmentSize, "the search position ends the segment");

// The result of a block request that got nothing.
constexpr uint32_t kNoIdRun = 0xFFFFFFFFu;

// Opens the segment; called once at library start, after the platform layer
// started. A failure leaves the segment null and its code (1038 with the
// folder or file and its owner when what lies under the user's names is not
// the user's own) as the loading thread's last error; the library still
// starts.
void OpenIdSegment();
// Closes the segment; called once at library end.
void CloseIdSegment();
// The open segment, or null. Set at library start and end, by the fork hook
// below and by UsableIdSegment, and read without a lock; its contents are
// guarded by the segment's own lock (OSAL_boSharedMemLock).
ZERA_TEST_VISIBLE OSAL_HSHMEM IdSegment();
// The open segment for a block operation: when there is none yet, a few
// attempts to open it (what kept start from it may be gone). Null with the
// code of the last failure to open it (1038 naming the folder or file and
// its owner, or the system's reason), never 1025. May block on the
// segment's files; takes no segment lock.
OSAL_HSHMEM UsableIdSegment();

// For a child process made by fork: the inherited segment handle shares its
// locks with the parent (they belong to the open files, which fork shares),
// so the child opens a handle of its own and drops the inherited one without
// closing it (closing would end the parent's use of the segment). Must run
// before the child's first block operation, while it has one thread. False
// when no handle could be opened; the segment is then null in the child.
ZERA_TEST_VISIBLE bool ReopenIdSegmentAfterFork();

// ---- Runs of blocks in the segment contents ----------------------------------
// `words` addresses the segment's 16383 words; the caller holds the segment
// lock (the tests pass a private copy).

// Reserves a run for `count` identifiers (whole blocks) by next fit from the
// search position, wrapping after the last block, and moves the search
// position on. Returns the run's first identifier, or kNoIdRun when no free
// run lies within one pass (nothing changed; 1025 with a text) or the count
// needs more blocks than exist (1034). A count of 0 reports the first free block's first
// identifier without taking it.
ZERA_TEST_VISIBLE uint32_t ReserveIdRun(uint32_t *words, uint32_t count);

// Returns the run whose first block holds `firstId` (its low 14 bits are
// ignored): clears the taken and continuation bits of each of its blocks.
// False with 1034, nothing changed, when the block lies beyond the last one,
// is not taken, or is not the first block of its run.
ZERA_TEST_VISIBLE bool ReturnIdRun(uint32_t *words, uint32_t firstId);

// Returns a run straight to the open segment, whatever the stack's state:
// a manager gives its runs back this way when its level stops or goes,
// which a request along the chain would refuse once the top is no longer
// complete. False with ReturnIdRun's 1034, the open's code without a segment, or the
// segment lock's code.
bool ReturnRunToSegment(uint32_t firstId);

// Exchanges a manager's spent run for a fresh one through level h: reserves
// a run for `count` identifiers as ZERA_dwEvIdGetBlock(h, count) does and,
// when that succeeds and `oldFirst` is no empty mark, returns the run of
// `oldFirst` as ZERA_boEvIdFreeBlock(h, oldFirst) does. On the level that
// works on the segment itself both happen in one hold of the segment lock.
// The fresh run's first identifier, or kNoIdRun with the request's code (the
// old run then stays reserved); an old run the segment refuses is dropped,
// its code stored.
uint32_t ExchangeIdRun(StackHandle *h, uint32_t count, uint32_t oldFirst);

// ---- The entry slots that pass block requests along the chain -------------------

using PfnEvIdGetBlock = uint32_t(ZERA_CALL *)(StackHandle *h, uint32_t dwCount);
using PfnEvIdFreeBlock = BOOL8(ZERA_CALL *)(StackHandle *h, uint32_t dwFirstId);

// ---- Drawing identifiers -----------------------------------------------------------

// Takes the next identifier of an initialised manager into *id, as
// ZERA_dwEvIdManagerGetNextId(manager, 0) does, but reports the outcome
// apart from the value. Inside a run it takes no lock; at a run's end, or on
// an empty manager, it blocks on the manager's lock, then possibly on the
// segment lock (never the other way round). False with the code of what
// failed: 1028 (null manager or none initialised), 1027 (its level), the
// block request's code (2060 on an incomplete stack), or the lock's own.
bool DrawEventId(EvIdManager *manager, uint32_t *id);

}  // namespace zera

#endif  // ZERA_EVID_EVID_H
