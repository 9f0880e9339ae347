// osal/queue/cursors_and_waiters.cpp - walks and waits: the cursors that
// walk a queue's ordered items (see ordered_items.h), and the per-thread
// records with the wakes that end waits (see waiters.h). The caller holds
// the queue's mutex.
#include <atomic>
#include <new>

#include "common/contract.h"
#include "osal/queue/ordered_items.h"
#include "osal/queue/waiters.h"

namespace osal {

void OrderedItems::Attach(Cursor *c) {
    c->where = Cursor::kBeforeFirst;
    c->removable = false;
    c->prev = nullptr;
    c->next = cursors_;
    if (cursors_) cursors_->prev = c;
    cursors_ = c;
}

void OrderedItems::Detach(Cursor *c) {
    if (c->prev)
        c->prev->next = c->next;
    else if (cursors_ == c)
        cursors_ = c->next;
    if (c->next) c->next->prev = c->prev;
    c->prev = c->next = nullptr;
}

void *OrderedItems::Next(Cursor *k) {
    Chunk *c;
    uint32_t pos;
    if (k->where == Cursor::kBeforeFirst) {
        c = head_;
        pos = c ? c->begin : 0;
    } else {
        c = k->chunk;
        pos = k->pos + 1;
        if (pos >= c->end) {
            c = c->next;
            pos = c ? c->begin : 0;
        }
    }
    if (!c) {
        k->removable = false;  // stays where it is, so a later item is still found
        return nullptr;
    }
    k->where = Cursor::kAfter;
    k->chunk = c;
    k->pos = pos;
    k->removable = true;
    return c->slots[pos];
}

bool OrderedItems::RemoveCurrent(Cursor *k, void **item) {
    if (!k->removable) return false;
    *item = k->chunk->slots[k->pos];
    EraseAt(k->chunk, k->pos);  // moves k to the item before, or before the first
    return true;
}

Waiters::~Waiters() {
    while (waiters_) {
        Waiter *w = waiters_;
        waiters_ = w->next;
        if (w >= kept_ && w < kept_ + kKept) continue;
        w->~Waiter();
        Free(w);
    }
}

namespace {

// Thread ids come back once their threads have ended: a number that no
// other thread of the process ever has tells a record's thread from a later
// one with the same id.
std::atomic<uint64_t> g_threadLives{0};

uint64_t ThreadLife() {
    thread_local uint64_t life = 0;
    if (life == 0) life = g_threadLives.fetch_add(1, std::memory_order_relaxed) + 1;
    return life;
}

}  // namespace

Waiter *Waiters::Find(ThreadId thread, bool create, const OrderedItems &items) {
    const uint64_t life = ThreadLife();
    for (Waiter *w = waiters_; w; w = w->next) {
        if (w->thread != thread) continue;
        if (w->life != life) {
            ZERA_ASSERT(!w->waiting);  // the ended thread left no wait behind
            w->life = life;
            w->seenChange = items.ChangeCount();
            w->woken = w->pending = false;
            w->wokenBy = 0;
        }
        return w;
    }
    if (!create) return nullptr;
    Waiter *w = nullptr;
    if (keptUsed_ < kKept) {
        w = &kept_[keptUsed_++];
    } else {
        void *block = Alloc(sizeof(Waiter));
        if (!block) return nullptr;
        w = new (block) Waiter();
    }
    w->thread = thread;
    w->life = life;
    w->seenChange = items.ChangeCount();
    w->next = waiters_;
    waiters_ = w;
    return w;
}

void Waiters::Wake(WakeKind kind, ThreadId by) {
    uint64_t seq = ++wakeSeq_;
    // A break is an interrupt followed by a null put from the same thread:
    // the threads the interrupt woke have already been told.
    bool sameBreak = kind == WakeKind::kNullPut && lastWakeKind_ == WakeKind::kInterrupt && lastWakeBy_ == by;
    for (Waiter *w = waiters_; w; w = w->next) {
        if (w->waiting) {
            if (!w->woken) {
                w->woken = true;
                w->wokenBy = seq;
            }
        } else if (kind == WakeKind::kNullPut && w->thread != by && !(sameBreak && w->wokenBy == seq - 1)) {
            w->pending = true;
        }
    }
    lastWakeKind_ = kind;
    lastWakeBy_ = by;
}

}  // namespace osal
