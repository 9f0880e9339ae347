/*
 * osal/queue/put_box.h - where a queue's puts land first: an array behind a
 * spin lock of its own that a taker empties in one step, with the counts of
 * the whole queue (for its capacity and for threads that watch without the
 * queue's mutex) and the sleepers a put must wake.
 *
 * Internal: included by src/osal/queue/ only.
 */
#ifndef OSAL_QUEUE_PUT_BOX_H
#define OSAL_QUEUE_PUT_BOX_H

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/cache_line.h"
#include "common/spin.h"
#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace osal {

// An item with the order function it was put with.
struct QueueEntry {
    void *item;
    OSAL_PFN_QORDER order;
};

// Entries in put order: [begin, end) of an array with room for `room`.
struct EntryRun {
    QueueEntry *entries = nullptr;
    uint32_t begin = 0;
    uint32_t end = 0;
    uint32_t room = 0;
    uint32_t Size() const { return end - begin; }
};

// Where the puts of every thread but the cursor lock's holder land first: an
// array behind a spin lock of its own. A putting thread then touches neither
// the queue's mutex nor its ordered items, which stay in the cache of the
// threads that take, and a taker moves everything that came in one step
// (OrderedItems::Drain). The box also counts the items of the whole queue, for
// the capacity and for threads that watch without the mutex.
class alignas(lines::kCacheLine) PutBox {
public:
    enum class Result { kOk, kFull, kNoMemory };

    PutBox() = default;
    ~PutBox();
    PutBox(const PutBox &) = delete;
    PutBox &operator=(const PutBox &) = delete;

    // Adds an entry unless `capacity` items (0: no limit) are in the queue.
    // *wake: a thread sleeps on the queue and must be woken (once: a put
    // that finds the sleepers being woken already leaves it false). Inline:
    // a put of a burst is little more than the lock's one atomic operation.
    Result Put(QueueEntry entry, uint32_t capacity, bool *wake) {
        std::lock_guard<spin::SpinLock> hold(lock_);
        if (Full(capacity)) return Result::kFull;
        if (count_ == room_ && !Grow()) return Result::kNoMemory;
        if (count_ == 0)
            first_ = entry;
        else
            entries_[count_] = entry;
        ++count_;
        entered_.store(entered_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        puts_.store(puts_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        *wake = sleepers_ != 0 && !woken_;
        woken_ = woken_ || *wake;
        return Result::kOk;
    }
    // Counts in an item that goes straight into the ordered items; false when
    // `capacity` items are in the queue.
    bool Enter(uint32_t capacity);
    // Counts out n items that left the queue. Caller holds the queue's mutex,
    // which makes it the only writer.
    void Leave(uint32_t n) { left_.store(left_.load(std::memory_order_relaxed) + n, std::memory_order_relaxed); }
    // Items in the queue (ordered, waiting to be placed, and in the box).
    uint32_t Total() const {
        return entered_.load(std::memory_order_relaxed) - left_.load(std::memory_order_relaxed);
    }
    // Moves with every put into the box; read without a lock.
    uint32_t Puts() const { return puts_.load(std::memory_order_acquire); }
    // Swaps the box's entries with the empty run's array; returns Puts() as
    // of the swap.
    uint32_t TakeAll(EntryRun *run);
    // Hands every entry to del (when given) and empties the box.
    void DeleteAll(OSAL_PFN_QDELETE del);

    // A thread about to sleep registers here unless a put came after it saw
    // Puts() == seen (then it must look again: false). Every registration is
    // followed by RemoveSleeper once the sleep is over.
    bool AddSleeper(uint32_t seen);
    void RemoveSleeper();

private:
    // `capacity` items (0: no limit) are in the queue. Caller holds lock_.
    bool Full(uint32_t capacity) const { return capacity != 0 && Total() >= capacity; }
    // Doubles the room of entries_; false when memory runs out. Caller holds lock_.
    bool Grow();

    // All on one line with `holder`: a put touches no other line of the box
    // while the taker keeps up.
    // Guards entries_, first_, count_, room_, sleepers_, woken_ and the
    // writes of entered_ and puts_.
    spin::SpinLock lock_;
    // A put has asked for the sleepers to be woken since the last one lay
    // down: the next puts need not ask again (each would take the queue's
    // mutex from the thread that was woken to take).
    bool woken_ = false;
    uint32_t count_ = 0;
    uint32_t room_ = 0;
    uint32_t sleepers_ = 0;
    std::atomic<uint32_t> puts_{0};
    std::atomic<uint32_t> entered_{0};
    std::atomic<uint32_t> left_{0};  // written under the queue's mutex
    QueueEntry *entries_ = nullptr;  // [1, count_): the entries after the first; [0] is kept for it
    QueueEntry first_{};             // the first entry, moved to entries_[0] when the box is emptied

public:
    // The thread that holds the queue's cursor lock (0: none).
    // Written under the queue's mutex by the holder alone (its id on its
    // first lock, none on its last unlock), so a thread that reads its own
    // id here needs no lock to trust it; anybody else reads it under the
    // mutex.
    std::atomic<ThreadId> holder{0};
};

static_assert(sizeof(PutBox) == lines::kCacheLine, "a put touches one line of the box");

}  // namespace osal

#endif  // OSAL_QUEUE_PUT_BOX_H
