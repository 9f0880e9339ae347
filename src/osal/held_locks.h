/*
 * osal/held_locks.h - the platform layer's locks taken and given in the one
 * lock order (common/lock_order.h): where that order is checked (debug and
 * test builds), each acquire is checked against the locks the thread holds,
 * and "caller holds the lock" contracts can be asserted
 * (ZERA_ASSERT(osal::HoldsLock(&lock))). Release builds take the plain lock.
 *
 * Internal: included by src/osal only. A thread blocked in CondWaitUntil
 * still counts as holding the lock it waits with.
 */
#ifndef OSAL_HELD_LOCKS_H
#define OSAL_HELD_LOCKS_H

#include "common/lock_order.h"
#include "osal/platform.h"

namespace osal {

using zera::LockRank;

#if defined(ZERA_LOCK_ORDER_CHECKED)
inline bool HoldsLock(const Lock *lock) { return zera::lock_order::Holds(lock); }
inline void AcquireTracked(Lock *lock, LockRank rank) {
    zera::lock_order::NoteAcquire(lock, rank);
    LockAcquire(lock);
}
inline void ReleaseTracked(Lock *lock) {
    LockRelease(lock);
    zera::lock_order::NoteRelease(lock);
}
#else
inline void AcquireTracked(Lock *lock, LockRank) { LockAcquire(lock); }
inline void ReleaseTracked(Lock *lock) { LockRelease(lock); }
#endif

}  // namespace osal

#endif  // OSAL_HELD_LOCKS_H
