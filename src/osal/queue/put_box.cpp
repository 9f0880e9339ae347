// osal/queue/put_box.cpp - the box a queue's puts land in first: its growth,
// the counts of items that go straight among the ordered ones, the taker's
// swap of the whole box, and the sleepers a put must wake (see put_box.h).
#include "osal/queue/put_box.h"

#include <cstring>
#include <mutex>
#include <utility>

#include "common/contract.h"

namespace osal {

PutBox::~PutBox() { Free(entries_); }

bool PutBox::Grow() {
    // Grows by doubling; the arrays are swapped with the backlog's, so both
    // soon have the room a burst needs and growing stops.
    const uint32_t room = room_ ? room_ * 2 : 32;
    auto *grown = static_cast<QueueEntry *>(Alloc(room * sizeof(QueueEntry)));
    if (!grown) return false;
    if (count_) std::memcpy(grown, entries_, count_ * sizeof(QueueEntry));
    Free(entries_);
    entries_ = grown;
    room_ = room;
    return true;
}

bool PutBox::Enter(uint32_t capacity) {
    std::lock_guard<spin::SpinLock> hold(lock_);
    if (Full(capacity)) return false;
    entered_.store(entered_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return true;
}

uint32_t PutBox::TakeAll(EntryRun *run) {
    std::lock_guard<spin::SpinLock> hold(lock_);
    if (count_) entries_[0] = first_;
    std::swap(entries_, run->entries);
    std::swap(room_, run->room);
    run->begin = 0;
    run->end = count_;
    count_ = 0;
    return puts_.load(std::memory_order_relaxed);
}

void PutBox::DeleteAll(OSAL_PFN_QDELETE del) {
    std::lock_guard<spin::SpinLock> hold(lock_);
    if (count_) entries_[0] = first_;
    if (del)
        for (uint32_t i = 0; i < count_; ++i) del(entries_[i].item);
    count_ = 0;
}

bool PutBox::AddSleeper(uint32_t seen) {
    std::lock_guard<spin::SpinLock> hold(lock_);
    if (puts_.load(std::memory_order_relaxed) != seen) return false;
    ++sleepers_;
    woken_ = false;  // this one needs a wake of its own
    return true;
}

void PutBox::RemoveSleeper() {
    std::lock_guard<spin::SpinLock> hold(lock_);
    ZERA_ASSERT(sleepers_ > 0);
    --sleepers_;
}

}  // namespace osal
