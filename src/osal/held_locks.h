/*
 * osal/held_locks.h - which platform locks the calling thread holds, kept in
 * debug builds only, so that "caller holds the lock" contracts can be
 * checked (ZERA_ASSERT(osal::HoldsLock(&lock))). With NDEBUG the tracked
 * acquire and release are the plain ones and nothing is kept.
 *
 * Internal: included by src/osal only. The record is per thread; a thread
 * blocked in CondWaitUntil still counts as holding the lock it waits with.
 */
#ifndef OSAL_HELD_LOCKS_H
#define OSAL_HELD_LOCKS_H

#include "common/contract.h"
#include "osal/platform.h"

namespace osal {

#if defined(NDEBUG)
inline void AcquireTracked(Lock *lock) { LockAcquire(lock); }
inline void ReleaseTracked(Lock *lock) { LockRelease(lock); }
#else
// The locks this thread holds, innermost last; deeper nesting than the
// lock order allows is itself a broken contract.
struct HeldLocks {
    static constexpr int kMax = 8;
    const Lock *held[kMax];
    int count;
};
inline thread_local HeldLocks t_heldLocks{};

inline bool HoldsLock(const Lock *lock) {
    for (int i = 0; i < t_heldLocks.count; ++i)
        if (t_heldLocks.held[i] == lock) return true;
    return false;
}
inline void AcquireTracked(Lock *lock) {
    LockAcquire(lock);
    ZERA_ASSERT(t_heldLocks.count < HeldLocks::kMax);
    t_heldLocks.held[t_heldLocks.count++] = lock;
}
inline void ReleaseTracked(Lock *lock) {
    ZERA_ASSERT(HoldsLock(lock));
    for (int i = 0; i < t_heldLocks.count; ++i) {
        if (t_heldLocks.held[i] != lock) continue;
        t_heldLocks.held[i] = t_heldLocks.held[--t_heldLocks.count];
        break;
    }
    LockRelease(lock);
}
#endif

}  // namespace osal

#endif  // OSAL_HELD_LOCKS_H
