/*
 * common/platform_locks.h - the library's locks that live in the platform
 * layer (a mutex, a queue's cursor lock, a segment's lock), taken and given
 * through the platform's public calls in the one lock order
 * (common/lock_order.h). Where the order is checked, each take is checked
 * against the locks the thread holds through the library and noted in the
 * library's record, a take that fails is not, and each give is noted; so a
 * lock taken in one function and given in another stays in the record
 * between. Release builds make the plain calls.
 *
 * Every take of such a lock in the library goes through these, so that none
 * escapes the check.
 *
 * Internal: header-only, included by src/ of the library and by tests.
 */
#ifndef ZERA_COMMON_PLATFORM_LOCKS_H
#define ZERA_COMMON_PLATFORM_LOCKS_H

#include "VOQ_OSAL.h"
#include "common/lock_order.h"

namespace zera {

namespace platform_locks {

// Runs take(), which locks `lock` and tells whether it did, noted in the
// order. A null handle has no place in the order: the platform refuses it.
template <class Take>
inline bool TakeNoted(const void *lock, LockRank rank, Take take) {
#if defined(ZERA_LOCK_ORDER_CHECKED)
    if (lock == nullptr) return take();
    lock_order::NoteAcquire(lock, rank);
    if (take()) return true;
    lock_order::NoteRelease(lock);
    return false;
#else
    static_cast<void>(lock);
    static_cast<void>(rank);
    return take();
#endif
}

// After the lock was given up.
inline void NoteGiven(const void *lock) {
#if defined(ZERA_LOCK_ORDER_CHECKED)
    if (lock != nullptr) lock_order::NoteRelease(lock);
#else
    static_cast<void>(lock);
#endif
}

}  // namespace platform_locks

// ---- Mutexes (OSAL_hMutexCreate: re-entrant) ---------------------------------

// Blocks until `mutex` is taken. False with 1027 for a null handle.
inline bool LockMutex(OSAL_HMUTEX mutex, LockRank rank) {
    return platform_locks::TakeNoted(mutex, rank, [mutex] { return OSAL_boMutexLock(mutex) != 0; });
}
inline void UnlockMutex(OSAL_HMUTEX mutex) {
    OSAL_vMutexUnlock(mutex);
    platform_locks::NoteGiven(mutex);
}

// Holds a mutex for a scope. A null mutex is no lock to take (a caller's
// optional break mutex): nothing is held and no code stored.
class MutexHold {
public:
    MutexHold(OSAL_HMUTEX mutex, LockRank rank)
        : mutex_(mutex != nullptr && LockMutex(mutex, rank) ? mutex : nullptr) {}
    ~MutexHold() {
        if (mutex_ != nullptr) UnlockMutex(mutex_);
    }
    MutexHold(const MutexHold &) = delete;
    MutexHold &operator=(const MutexHold &) = delete;

private:
    OSAL_HMUTEX mutex_;
};

// ---- A queue's cursor lock (OSAL_hQueueLock: re-entrant for its holder) -------

// A walk of a queue under its cursor lock (rank kQueueCursor), from the
// lock to Unlock or the end of the scope. The lock is the queue's, so
// a nested walk of the same queue is no new step in the order.
class QueueWalk {
public:
    // Locks the queue. Locked() is false when it could not be (the
    // platform's code stored: 1027, 1026 for a nested lock without memory).
    explicit QueueWalk(OSAL_HQUEUE queue) : queue_(queue) {
        platform_locks::TakeNoted(queue, LockRank::kQueueCursor, [this] {
            cursor_ = OSAL_hQueueLock(queue_);
            return cursor_ != nullptr;
        });
    }
    ~QueueWalk() { Unlock(); }
    QueueWalk(const QueueWalk &) = delete;
    QueueWalk &operator=(const QueueWalk &) = delete;

    bool Locked() const { return cursor_ != nullptr; }
    OSAL_HQCURSOR Cursor() const { return cursor_; }
    // The next item in queue order, or null at the end (OSAL_pvQueueNext).
    void *Next() const { return OSAL_pvQueueNext(cursor_); }
    // Releases the cursor and the lock; later calls do nothing.
    void Unlock() {
        if (cursor_ == nullptr) return;
        OSAL_vQueueUnlock(cursor_);
        cursor_ = nullptr;
        platform_locks::NoteGiven(queue_);
    }

private:
    OSAL_HQUEUE queue_;
    OSAL_HQCURSOR cursor_ = nullptr;
};

// ---- A segment's lock (OSAL_boSharedMemLock: not re-entrant) ----------------

// Blocks until the segment's lock is taken. False with the platform's code
// (1027; 1031 for a second lock by the holding thread).
inline bool LockSharedMem(OSAL_HSHMEM segment, LockRank rank) {
    return platform_locks::TakeNoted(segment, rank, [segment] { return OSAL_boSharedMemLock(segment) != 0; });
}
inline void UnlockSharedMem(OSAL_HSHMEM segment) {
    OSAL_vSharedMemUnlock(segment);
    platform_locks::NoteGiven(segment);
}

}  // namespace zera

#endif  // ZERA_COMMON_PLATFORM_LOCKS_H
