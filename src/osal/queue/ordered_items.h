/*
 * osal/queue/ordered_items.h - the items of a time-ordered queue in queue
 * order: sorted chunks with an index over them, the backlog of puts taken
 * from the box and not yet placed (sorted in one pass when a burst came),
 * the change count, and the cursors that walk the items (moved off an item
 * that anyone unlinks). No lock of its own: the queue calls every member
 * with its mutex held (see queue.h).
 *
 * Internal: included by src/osal/queue/ only.
 */
#ifndef OSAL_QUEUE_ORDERED_ITEMS_H
#define OSAL_QUEUE_ORDERED_ITEMS_H

#include <cstdint>
#include <vector>

#include "osal/osal_internal.h"
#include "osal/queue/put_box.h"

#if defined(_MSC_VER)
#include <xmmintrin.h>
#define OSAL_PREFETCH(p) _mm_prefetch(static_cast<const char *>(p), _MM_HINT_T0)
#else
#define OSAL_PREFETCH(p) __builtin_prefetch(p)
#endif

namespace osal {

class OrderedItems {
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

    // The box is the queue's, which enforces the capacity. chunkSlots (at
    // least kMinChunkSlots) sets the size of a chunk; only tests choose
    // another than kChunkSlots.
    OrderedItems(PutBox *box, OSAL_PFN_QDELETE pfnDelete, uint32_t chunkSlots = kChunkSlots);
    ~OrderedItems();
    OrderedItems(const OrderedItems &) = delete;
    OrderedItems &operator=(const OrderedItems &) = delete;

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
};

}  // namespace osal

#endif  // OSAL_QUEUE_ORDERED_ITEMS_H
