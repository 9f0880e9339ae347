// osal/queue/ordered_items.cpp - the items of a queue in queue order: chunks
// and their index, inserting and unlinking (with the cursors moved along),
// and the backlog of puts taken from the box, placed by one stable sort
// when a burst came (see ordered_items.h). The caller holds the queue's
// mutex.
#include "osal/queue/ordered_items.h"

#include <cstring>
#include <new>
#include <utility>

#include "common/contract.h"

namespace osal {

OrderedItems::OrderedItems(PutBox *box, OSAL_PFN_QDELETE pfnDeleteItem, uint32_t chunkSlots)
    : pfnDelete(pfnDeleteItem), box_(box), chunkSlots_(chunkSlots < kMinChunkSlots ? kMinChunkSlots : chunkSlots) {}

OrderedItems::~OrderedItems() {
    FreeChunks();
    Free(backlog_.entries);
}

void OrderedItems::FreeChunks() {
    while (head_) {
        Chunk *c = head_;
        head_ = c->next;
        Free(c);
    }
    Free(spare_);
    spare_ = nullptr;
    tail_ = nullptr;
    index_.clear();
    size_ = 0;
}

size_t OrderedItems::IndexOf(const Chunk *c) const {
    if (c == head_) return 0;
    if (c == tail_) return index_.size() - 1;
    size_t i = 1;
    while (index_[i].chunk != c) ++i;
    return i;
}

bool OrderedItems::Prepare(Chunk **spare) {
    if (index_.size() == index_.capacity()) {
        try {
            index_.reserve(index_.empty() ? 16 : index_.capacity() * 2);
        } catch (const std::bad_alloc &) {
            return false;
        }
    }
    if (spare_) {
        *spare = spare_;
        spare_ = nullptr;
        return true;
    }
    void *block = Alloc(sizeof(Chunk) + chunkSlots_ * sizeof(void *));
    if (!block) return false;
    Chunk *c = static_cast<Chunk *>(block);
    c->slots = reinterpret_cast<void **>(c + 1);
    *spare = c;
    return true;
}

void OrderedItems::LinkChunk(Chunk *c, Chunk *after, size_t at) {
    c->prev = after;
    c->next = after ? after->next : head_;
    if (c->next)
        c->next->prev = c;
    else
        tail_ = c;
    if (after)
        after->next = c;
    else
        head_ = c;
    index_.insert(index_.begin() + static_cast<std::ptrdiff_t>(at), IndexEntry{c, nullptr});  // room reserved
    ZERA_ASSERT(index_.front().chunk == head_ && index_.back().chunk == tail_ && index_[at].chunk == c);
}

void OrderedItems::Compact(Chunk *c) {
    const uint32_t shift = c->begin;
    std::memmove(c->slots, c->slots + shift, (c->end - shift) * sizeof(void *));
    for (Cursor *k = cursors_; k; k = k->next)
        if (k->where == Cursor::kAfter && k->chunk == c) k->pos -= shift;
    c->end -= shift;
    c->begin = 0;
}

void OrderedItems::Split(size_t at, Chunk *fresh) {
    Chunk *c = index_[at].chunk;
    const uint32_t mid = chunkSlots_ / 2;
    void *oldLast = index_[at].last;
    std::memcpy(fresh->slots, c->slots + mid, (c->end - mid) * sizeof(void *));
    fresh->begin = 0;
    fresh->end = c->end - mid;
    c->end = mid;
    for (Cursor *k = cursors_; k; k = k->next) {
        if (k->where == Cursor::kAfter && k->chunk == c && k->pos >= mid) {
            k->chunk = fresh;
            k->pos -= mid;
        }
    }
    LinkChunk(fresh, c, at + 1);
    index_[at + 1].last = oldLast;
    index_[at].last = c->slots[mid - 1];
}

void OrderedItems::Append(void *item, Chunk *spare) {
    if (!tail_ || tail_->end == chunkSlots_) {
        if (tail_ && tail_->begin >= chunkSlots_ / 4) {
            Compact(tail_);
        } else {
            spare->begin = spare->end = 0;
            LinkChunk(spare, tail_, index_.size());
        }
    }
    tail_->slots[tail_->end++] = item;
    index_.back().last = item;
}

void OrderedItems::InsertBefore(size_t at, uint32_t slot, void *item, Chunk *spare) {
    Chunk *c = index_[at].chunk;
    if (slot == c->begin && c->begin > 0) {
        c->slots[--c->begin] = item;  // no item moves, so no cursor does
    } else if (c->end < chunkSlots_) {
        std::memmove(c->slots + slot + 1, c->slots + slot, (c->end - slot) * sizeof(void *));
        c->slots[slot] = item;
        ++c->end;
        for (Cursor *k = cursors_; k; k = k->next)
            if (k->where == Cursor::kAfter && k->chunk == c && k->pos >= slot) ++k->pos;
    } else if (c->begin > 0) {
        std::memmove(c->slots + c->begin - 1, c->slots + c->begin, (slot - c->begin) * sizeof(void *));
        --c->begin;
        c->slots[slot - 1] = item;
        for (Cursor *k = cursors_; k; k = k->next)
            if (k->where == Cursor::kAfter && k->chunk == c && k->pos < slot) --k->pos;
    } else {
        Split(at, spare);
        const uint32_t mid = chunkSlots_ / 2;
        if (slot <= mid)
            InsertBefore(at, slot, item, nullptr);
        else
            InsertBefore(at + 1, slot - mid, item, nullptr);
        return;
    }
    index_[at].last = c->slots[c->end - 1];
}

bool OrderedItems::AppendItem(void *item) {
    Chunk *spare = nullptr;
    const bool needChunk = !tail_ || (tail_->end == chunkSlots_ && tail_->begin < chunkSlots_ / 4);
    if (needChunk && !Prepare(&spare)) return false;
    Append(item, spare);
    ++size_;
    ++changeCount_;
    return true;
}

bool OrderedItems::Insert(void *item, OSAL_PFN_QORDER order) {
    order_ = order;
    // Not earlier than the last item: it goes to the tail.
    if (!tail_ || !Less(item, index_.back().last)) return AppendItem(item);
    // Behind every item that is not later than it: the first chunk whose
    // last item is later, then the first such item inside it.
    const IndexEntry *entry =
        FirstLater<true>(item, index_.data(), index_.size(), [](const IndexEntry &e) { return e.last; });
    const size_t at = static_cast<size_t>(entry - index_.data());
    Chunk *c = entry->chunk;
    const uint32_t a = static_cast<uint32_t>(
        FirstLater<false>(item, c->slots + c->begin, c->end - c->begin, [](void *p) { return p; }) - c->slots);
    Chunk *spare = nullptr;
    const bool full = c->begin == 0 && c->end == chunkSlots_;
    if (full && !Prepare(&spare)) return false;
    InsertBefore(at, a, item, spare);
    ++size_;
    ++changeCount_;
    return true;
}

void *OrderedItems::PopFront() {
    if (!head_) return nullptr;
    void *item = head_->slots[head_->begin];
    if (!cursors_ && head_->end - head_->begin > 1) {
        // A taker's usual case: no cursor to move, the chunk and its last item stay.
        ++head_->begin;
        --size_;
        ++changeCount_;
        return item;
    }
    EraseAt(head_, head_->begin);
    return item;
}

void OrderedItems::EraseAt(Chunk *c, uint32_t pos) {
    ZERA_ASSERT(pos >= c->begin && pos < c->end && size_ > 0);
    for (Cursor *k = cursors_; k; k = k->next) {
        if (k->where == Cursor::kAfter && k->chunk == c && k->pos == pos) {
            // The cursor stays where the item was: just after the one before.
            k->removable = false;
            if (pos > c->begin) {
                k->pos = pos - 1;
            } else if (c->prev) {
                k->chunk = c->prev;
                k->pos = c->prev->end - 1;
            } else {
                k->where = Cursor::kBeforeFirst;
            }
        }
    }
    const bool wasLast = pos == c->end - 1;
    if (pos == c->begin) {
        ++c->begin;
    } else {
        std::memmove(c->slots + pos, c->slots + pos + 1, (c->end - pos - 1) * sizeof(void *));
        --c->end;
        for (Cursor *k = cursors_; k; k = k->next)
            if (k->where == Cursor::kAfter && k->chunk == c && k->pos > pos) --k->pos;
    }
    --size_;
    ++changeCount_;
    if (c->begin == c->end) {
        // Empty chunks do not stay; no cursor stands in one (see above).
        index_.erase(index_.begin() + static_cast<std::ptrdiff_t>(IndexOf(c)));
        if (c->prev)
            c->prev->next = c->next;
        else
            head_ = c->next;
        if (c->next)
            c->next->prev = c->prev;
        else
            tail_ = c->prev;
        ZERA_ASSERT((head_ == nullptr) == (tail_ == nullptr) && (head_ == nullptr) == index_.empty());
        // One empty chunk is kept, so that a queue that keeps running empty
        // does not free and allocate a chunk for every item.
        if (spare_)
            Free(c);
        else
            spare_ = c;
    } else if (wasLast) {
        index_[IndexOf(c)].last = c->slots[c->end - 1];
    }
}

namespace {

// Merges the sorted runs [a, aEnd) and [b, bEnd) into `to`, stably (on a tie
// the left run goes first). A branch on each compare, although random stamps
// make it a coin toss: a choice without one makes every step wait for the
// order function's answer, where the processor's guess runs ahead.
void MergeRuns(OSAL_PFN_QORDER order, void **a, void **aEnd, void **b, void **bEnd, void **to) {
    while (a < aEnd && b < bEnd) *to++ = order(*a, *b) ? *a++ : *b++;
    while (a < aEnd) *to++ = *a++;
    while (b < bEnd) *to++ = *b++;
}

}  // namespace

void OrderedItems::SortItems(void **items, void **tmp, size_t n) const {
    // Bottom-up merges from pairs: fewer compares than sorting short runs by
    // insertion first.
    const OSAL_PFN_QORDER order = order_;
    // The pairs go where the last merge then ends in items.
    size_t merges = 0;
    for (size_t width = 2; width < n; width *= 2) ++merges;
    void **from = merges % 2 ? tmp : items, **to = merges % 2 ? items : tmp;
    for (size_t lo = 0; lo < n; lo += 2) {
        void *x = items[lo];
        if (lo + 1 == n) {
            from[lo] = x;
            break;
        }
        void *y = items[lo + 1];
        const bool swap = !order(x, y);  // equal stamps keep their order
        from[lo] = swap ? y : x;
        from[lo + 1] = swap ? x : y;
    }
    for (size_t width = 2; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            const size_t mid = lo + width < n ? lo + width : n;
            const size_t hi = lo + 2 * width < n ? lo + 2 * width : n;
            // Runs already in order (a backlog of interleaved in-order
            // streams) are copied; checked only on wide runs, where the
            // extra compare is cheap beside the merge.
            if (mid < hi && width >= kCheckedRun && !Less(from[mid], from[mid - 1])) {
                std::memcpy(to + lo, from + lo, (hi - lo) * sizeof(void *));
            } else {
                MergeRuns(order, from + lo, from + mid, from + mid, from + hi, to + lo);
            }
        }
        std::swap(from, to);
    }
}

uint32_t OrderedItems::AppendItems(void *const *items, uint32_t n) {
    uint32_t done = 0;
    while (done < n) {
        if (tail_ && tail_->end < chunkSlots_) {
            // The room left in the last chunk, in one copy.
            const uint32_t k = chunkSlots_ - tail_->end < n - done ? chunkSlots_ - tail_->end : n - done;
            std::memcpy(tail_->slots + tail_->end, items + done, k * sizeof(void *));
            tail_->end += k;
            done += k;
            size_ += k;
            changeCount_ += k;
            index_.back().last = tail_->slots[tail_->end - 1];
        } else if (!AppendItem(items[done])) {
            break;
        } else {
            ++done;
        }
    }
    return done;
}

bool OrderedItems::OrderBacklog() {
    QueueEntry *e = backlog_.entries + backlog_.begin;
    const uint32_t n = backlog_.Size();
    for (uint32_t i = 1; i < n; ++i)
        if (e[i].order != e[0].order) return false;
    order_ = e[0].order;
    if (tail_ && Less(e[0].item, index_.back().last)) return false;
    uint32_t inOrder = 1;
    while (inOrder < n && !Less(e[inOrder].item, e[inOrder - 1].item)) ++inOrder;
    if (inOrder == n) return true;
    auto **items = static_cast<void **>(Alloc(2 * size_t{n} * sizeof(void *)));
    if (!items) return false;  // placed one by one
    for (uint32_t i = 0; i < n; ++i) items[i] = e[i].item;
    SortItems(items, items + n, n);
    uint32_t placed = 0;
    if (!tail_ || !Less(items[0], index_.back().last)) placed = AppendItems(items, n);
    // What is left (all when the sorted burst does not lie behind the last
    // item) is placed one by one; in this order it gives the same queue.
    for (uint32_t i = placed; i < n; ++i) e[i].item = items[i];
    backlog_.begin += placed;
    Free(items);
    return placed == n;
}

bool OrderedItems::PlaceBacklog() {
    // A burst put while nobody looked - the common case of a busy producer
    // and an idle taker - is placed by one sort rather than by a search and
    // a move of the chunk's items per put.
    const uint32_t n = backlog_.Size();
    if (n >= kSortedBatch && n <= kSortedBatchMost && OrderBacklog()) {
        for (; backlog_.begin < backlog_.end; ++backlog_.begin)
            if (!AppendItem(backlog_.entries[backlog_.begin].item)) return false;
    }
    while (backlog_.begin < backlog_.end) {
        const QueueEntry &e = backlog_.entries[backlog_.begin];
        if (!Insert(e.item, e.order)) return false;
        ++backlog_.begin;
    }
    backlog_.begin = backlog_.end = 0;
    return true;
}

bool OrderedItems::Drain() {
    if (!PlaceBacklog()) return false;
    if (box_->Puts() == drainedPuts_) return true;
    drainedPuts_ = box_->TakeAll(&backlog_);
    if (!PlaceBacklog()) return false;
    // The array a burst grew goes back to the heap once it is empty; the
    // box grows a new one for the next burst. Steady streams keep theirs.
    if (backlog_.room > kKeptEntries) {
        Free(backlog_.entries);
        backlog_ = EntryRun{};
    }
    return true;
}

void OrderedItems::DeleteAll() {
    for (Cursor *c = cursors_; c; c = c->next) {
        c->where = Cursor::kBeforeFirst;
        c->removable = false;
    }
    if (pfnDelete) {
        for (Chunk *c = head_; c; c = c->next)
            for (uint32_t i = c->begin; i < c->end; ++i) pfnDelete(c->slots[i]);
        for (uint32_t i = backlog_.begin; i < backlog_.end; ++i) pfnDelete(backlog_.entries[i].item);
    }
    backlog_.begin = backlog_.end = 0;
    FreeChunks();
}

}  // namespace osal
