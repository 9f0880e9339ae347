/*
 * osal/queue/queue_core.h - the portable heart of a time-ordered queue: the ordered
 * items, the cursor positions that walk them, the change count and the
 * per-thread bookkeeping that makes waits neither lose nor invent wake-ups,
 * and the box that puts land in first. The core has no lock of its own: the
 * queue (queue.cpp) wraps it in the platform's lock and condition variable
 * and calls every member with that lock held; the box locks itself.
 *
 * Internal: included by src/osal/ and its halves, and by tests.
 */
#ifndef OSAL_QUEUE_CORE_H
#define OSAL_QUEUE_CORE_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "common/cache_line.h"
#include "common/spin.h"
#include "osal/osal_internal.h"
#include "osal/platform.h"

#if defined(_MSC_VER)
#include <xmmintrin.h>
#define OSAL_PREFETCH(p) _mm_prefetch(static_cast<const char *>(p), _MM_HINT_T0)
#else
#define OSAL_PREFETCH(p) __builtin_prefetch(p)
#endif

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
// (QueueCore::Drain). The box also counts the items of the whole queue, for
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

class QueueCore {
public:
    // Items live in chunks: sorted runs of up to kChunkSlots item pointers in
    // slots [begin, end), linked in queue order and listed in an index that
    // also holds each chunk's last item. A put searches the index and then
    // one chunk, so the memory it touches stays small and close together as
    // the queue grows; a put at the tail appends to the last chunk.
    static constexpr uint32_t kChunkSlots = 128;
    static constexpr uint32_t kMinChunkSlots = 4;
    struct Chunk {
        Chunk *prev;
        Chunk *next;
        uint32_t begin;
        uint32_t end;
        void **slots;  // chunkSlots_ item pointers, in the same block right behind the chunk
    };

    // Where a cursor stands: before the first item, or just after the item in
    // chunk->slots[pos]. `removable` is true while that item is the one Next
    // returned last and it is still linked.
    struct Cursor {
        enum Where { kBeforeFirst, kAfter };
        Where where = kBeforeFirst;
        Chunk *chunk = nullptr;
        uint32_t pos = 0;
        bool removable = false;
        Cursor *prev = nullptr;
        Cursor *next = nullptr;
    };

    // What one thread knows about the queue. A wake (null put or interrupt)
    // ends the waits in progress; a null put also leaves a pending wake for
    // each thread that is not waiting, so that a break fired between that
    // thread's last look and its wait still ends the wait.
    struct Waiter {
        ThreadId thread = 0;
        uint32_t seenChange = 0;  // change count at the thread's last wait-for-change
        bool waiting = false;     // inside a blocking wait now
        bool woken = false;       // a wake ended the current wait
        bool pending = false;     // the next blocking wait ends at once
        uint64_t wokenBy = 0;     // sequence number of the wake that last ended a wait (0: none)
        uint64_t life = 0;        // which of the threads that had this id it belongs to (ThreadLife)
        Waiter *next = nullptr;
    };

    enum class WakeKind { kNullPut, kInterrupt };

    // The box is the queue's, which enforces the capacity. chunkSlots (at
    // least kMinChunkSlots) sets the size of a chunk; only tests choose
    // another than kChunkSlots.
    QueueCore(PutBox *box, OSAL_PFN_QDELETE pfnDelete, uint32_t chunkSlots = kChunkSlots);
    ~QueueCore();
    QueueCore(const QueueCore &) = delete;
    QueueCore &operator=(const QueueCore &) = delete;

    bool Empty() const { return size_ == 0; }
    size_t Size() const { return size_; }
    // Every put counts as a change from the moment it is made, also while
    // it waits in the box or in the backlog.
    uint32_t ChangeCount() const { return changeCount_ + backlog_.Size() + (box_->Puts() - drainedPuts_); }

    // Puts an item behind every item that order says is not later than it.
    // O(1) when it belongs at the tail, O(log n) otherwise. Moves the change
    // count on success; false when a chunk cannot be had (the queue is
    // unchanged then). The caller has counted the item into the box.
    bool Insert(void *item, OSAL_PFN_QORDER order);
    // Places what the box holds behind the items, in put order. When memory
    // runs out, the rest waits in the backlog (counted, not yet ordered) and
    // is placed first by the next drain; false then. Call only while no
    // thread holds the cursor lock: a walk sees no puts of other threads.
    bool Drain();
    // The first item, or null.
    void *Front() const { return head_ ? head_->slots[head_->begin] : nullptr; }
    // Unlinks and returns the first item (null when empty); moves the change count.
    void *PopFront();
    // Hands every item, also those of the backlog, to the delete function
    // (when there is one) and empties the queue. Used when the queue itself
    // goes away.
    void DeleteAll();

    // Cursors must be attached before use and detached before they go away;
    // items unlinked by anyone move the attached cursors off them.
    void Attach(Cursor *c);
    void Detach(Cursor *c);
    // The item after the cursor in queue order, or null at the end.
    void *Next(Cursor *c);
    // Unlinks the item the cursor returned last and stores it in *item; false
    // when there is none (nothing returned yet, already removed, or the last
    // Next reached the end). The cursor then stands where the item was.
    bool RemoveCurrent(Cursor *c, void **item);

    // The record of the calling thread (`thread` is its id), made on first
    // use with the current change count as seen and no pending wake: a null
    // put before the thread first used the queue was not meant for it, and
    // ending a wait that nothing ended would hand its caller a null it did
    // not ask for. A thread that uses the queue again after a break must have
    // used it before its look at its break flag (the receive and take paths
    // do). A record left by an ended thread whose id a new thread now has is
    // started afresh in the same way. Null (only with create) when memory
    // runs out.
    Waiter *FindWaiter(ThreadId thread, bool create);
    // Ends the current waits; a null put also leaves pending wakes (see
    // Waiter). A null put that directly follows an interrupt of the same
    // thread (one break) adds nothing for the threads that interrupt woke,
    // and the thread that wakes never leaves one for itself.
    void Wake(WakeKind kind, ThreadId by);

    OSAL_PFN_QDELETE pfnDelete;

private:
    struct IndexEntry {
        Chunk *chunk;
        void *last;  // chunk->slots[chunk->end - 1]
    };

    // a before b in queue order.
    bool Less(const void *a, const void *b) const { return !order_(b, a); }
    // The first of n elements whose item is later than item; the last one
    // must be. kIndex searches the index of chunks: its probes land all over
    // the queue, so on a large queue they miss the cache and guess their
    // branches wrongly half the time. There the probe moves without a branch
    // on the comparison and the items of both possible next probes are
    // fetched ahead. Inside a chunk the plain search is faster: its few
    // items are close together and the processor runs ahead on its guesses.
    template <bool kIndex, typename T, typename Key>
    const T *FirstLater(const void *item, const T *base, size_t n, Key key) const {
        if (kIndex) {
            while (n > 1) {
                const size_t half = n / 2;
                const size_t next = (n - half) / 2;
                if (next > 0) {
                    OSAL_PREFETCH(key(base[next - 1]));
                    OSAL_PREFETCH(key(base[half + next - 1]));
                }
                base = Less(item, key(base[half - 1])) ? base : base + half;
                n -= half;
            }
            return base;
        }
        size_t lo = 0, hi = n - 1;
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (Less(item, key(base[mid])))
                hi = mid;
            else
                lo = mid + 1;
        }
        return base + lo;
    }
    // Position of a chunk in index_.
    size_t IndexOf(const Chunk *c) const;
    // Makes room for one more index entry and one chunk; false (nothing
    // changed) when memory runs out. The chunk is handed back through *spare.
    bool Prepare(Chunk **spare);
    // Links a new chunk after `after` (null: as the first) at index position at.
    void LinkChunk(Chunk *c, Chunk *after, size_t at);
    // Moves the items of c to the front of its slots.
    void Compact(Chunk *c);
    // Splits the full chunk at index position at; the upper half goes to fresh.
    void Split(size_t at, Chunk *fresh);
    void Append(void *item, Chunk *spare);
    void InsertBefore(size_t at, uint32_t slot, void *item, Chunk *spare);
    void EraseAt(Chunk *c, uint32_t pos);
    void FreeChunks();
    // Appends an item not earlier than the last one; false (nothing
    // changed) when a chunk cannot be had.
    bool AppendItem(void *item);
    // Inserts backlog entries until it is empty (true) or memory runs out.
    bool PlaceBacklog();
    // Appends items[0, n), in queue order behind the last item; returns how
    // many went in before a chunk could not be had.
    uint32_t AppendItems(void *const *items, uint32_t n);
    // True when the backlog, put with one order function, lies in queue order
    // behind the last item, so that it can be appended as it stands (already
    // so), or has been appended after a stable sort (the backlog is then
    // empty). Otherwise what is left of it is in sorted order when it was
    // sorted, which gives the same queue when placed one by one.
    bool OrderBacklog();
    // Sorts items[0, n) stably by order_; tmp has room for n.
    void SortItems(void **items, void **tmp, size_t n) const;
    // Runs at least this long are checked for being in order already before
    // a sort merges them.
    static constexpr size_t kCheckedRun = 8;
    // Backlogs of fewer or more entries are inserted one by one: a sort
    // does not pay for a few, and over many its passes run out of the cache
    // where the searches of the index do not.
    static constexpr uint32_t kSortedBatch = 16;
    static constexpr uint32_t kSortedBatchMost = 4096;
    // The largest box array a drain keeps for the next swap.
    static constexpr uint32_t kKeptEntries = 1024;

    OSAL_PFN_QORDER order_ = nullptr;  // the function of the latest put or insert
    std::vector<IndexEntry, Allocator<IndexEntry>> index_;
    Chunk *head_ = nullptr;
    Chunk *tail_ = nullptr;
    Chunk *spare_ = nullptr;  // an unlinked empty chunk for the next Prepare
    size_t size_ = 0;
    PutBox *box_;
    EntryRun backlog_;         // taken from the box, not yet placed
    uint32_t drainedPuts_ = 0;  // the box's Puts() as of the last take
    uint32_t chunkSlots_;
    uint32_t changeCount_ = 0;
    Cursor *cursors_ = nullptr;
    Waiter *waiters_ = nullptr;
    uint64_t wakeSeq_ = 0;  // number of wakes so far
    WakeKind lastWakeKind_ = WakeKind::kNullPut;
    ThreadId lastWakeBy_ = 0;
};

}  // namespace osal

#endif  // OSAL_QUEUE_CORE_H
