/*
 * zera/evid.h - event identifiers: blocks of identifiers reserved in one
 * segment of shared memory that every process of the user on the machine
 * sees, and the per-level manager that hands them out one by one.
 *
 * The segment "ZERA_EVENT_ID" holds one taken bit and one continuation bit
 * for each of 262112 blocks of 16384 identifiers, and the block where the
 * next search starts; it is worked on only by the topmost level of a stack:
 * every level passes block requests on to the level above it (through entry
 * slots 30 and 31 of that level's table).
 *
 * A manager (StackHandle::stEvIdManager) keeps a ring of reserved runs and
 * hands out the even identifiers of the run in use, in ascending order. Its
 * operations lock the manager (hMutex), then possibly the segment; the block
 * operations lock only the segment.
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_EVID_H
#define ZERA_EVID_H

#include "zera/types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Identifiers per block of the segment. */
#define ZERA_EVID_BLOCK_SIZE 16384u
/* The result of a block or identifier request that failed; in a manager's
 * fields any value from ZERA_EVID_RESERVED_FIRST up means "none". */
#define ZERA_EVID_NONE 0xFFFFFFFFu

/* ---- Blocks in the shared segment ---------------------------------------------- */

/* 16384, for any handle (null included). */
ZERA_API uint32_t ZERA_CALL ZERA_dwEvIdGetBlockSize(StackHandle *h);

/* Reserves a run of whole blocks for dwCount identifiers and returns its first
 * identifier; the caller returns it with ZERA_boEvIdFreeBlock. A count of 0
 * reports the first free block without reserving it. The request travels up
 * to the topmost level, which works on the segment. ZERA_EVID_NONE on
 * failure: 1027 for an invalid handle or level on the way (also one whose
 * slot 30 is empty), 2060 when a level on the way is not complete, 1025 when
 * the segment could not be opened or no free run lies within one pass over
 * it (the segment is then unchanged; the text says so), 1034 for a count
 * above 262112 blocks, the platform's code when the segment lock cannot be
 * taken. */
ZERA_API uint32_t ZERA_CALL ZERA_dwEvIdGetBlock(StackHandle *h, uint32_t dwCount);

/* Returns the run whose first block holds dwFirstId (the low 14 bits are
 * ignored), through the topmost level as above (slot 31). False with 1034,
 * the segment unchanged, when the block lies beyond the last one, is not
 * reserved or is not the first block of its run; the other codes as for
 * ZERA_dwEvIdGetBlock. */
ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdFreeBlock(StackHandle *h, uint32_t dwFirstId);

/* ---- The manager of a level ------------------------------------------------------ */

/* Initialises a zero-filled (or deinitialised) manager for level h: creates
 * its lock and its table of pstConfig->u8NumBlocks slots of
 * pstConfig->u16BlockSize identifiers each (3 slots of 16384 when either is
 * 0); reserves nothing yet. False with 1027 (h), 1028 (null manager or
 * configuration, or a manager that is initialised already), the lock's code,
 * or 1026 (the slot table); the manager is then unchanged. */
ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdManagerInit(StackHandle *h, EvIdManager *pstManager,
                                                const EvIdManagerConfig *pstConfig);

/* Returns every reserved run straight to the segment (whatever the state of
 * the stack), frees the slot table and the lock, and zeroes the record. False with 1028 (null manager or none initialised), 1027 (its
 * level is invalid) or the lock's code; nothing changed then. */
ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdManagerDeinit(EvIdManager *pstManager);

/* Reserves a run for every empty slot and starts at slot 0. False with 1028
 * (null manager or none initialised), 1027, 2060 (the level is not complete)
 * or the lock's code. Slots that get no run stay empty (no failure). */
ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdManagerPreAllocIdBlocks(EvIdManager *pstManager);

/* Returns every reserved run straight to the segment (also when the stack is
 * no longer complete) and empties the manager; the next request fills it
 * anew from slot 0. The input filter calls it when a stack status that is not
 * "complete and started" reaches a complete level. False with 1028, 1027 or
 * the lock's code. */
ZERA_API BOOL8 ZERA_CALL ZERA_boEvIdManagerFreeIdBlocks(EvIdManager *pstManager);

/* The next identifier: even, never 0, ascending within the run in use; when the run
 * is used up the manager moves to the next slot and exchanges the block held
 * there (used u8NumBlocks - 1 exchanges ago) for a fresh one. A spent run is
 * never handed out again: while no fresh run is to be had the requests give
 * ZERA_EVID_NONE with the block request's code (1025 when the segment is
 * full) and the slot keeps its old run reserved. boReserved must be 0 (else
 * 1025 and ZERA_EVID_NONE). A null manager or one without level gives 1028
 * and 0; an invalid level 1027 and 0; a manager that can reserve no run
 * stays empty and gives ZERA_EVID_NONE with the block request's code. */
ZERA_API uint32_t ZERA_CALL ZERA_dwEvIdManagerGetNextId(EvIdManager *pstManager, BOOL8 boReserved);

#ifdef __cplusplus
}
#endif

#endif /* ZERA_EVID_H */
