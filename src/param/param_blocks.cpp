// param/param_blocks.cpp - the blocks of decoded parameter lists, cut from a
// few large heap blocks ("runs") instead of one heap block each, and the one
// release path that knows both kinds.
//
// A decoded list owns a name block per parameter, string values and value
// records: some thirty blocks for an ordinary list, and making and freeing
// them costs more than reading the packet. A run is one heap block with a
// header in front; every run alive is registered by address, so that a
// release can tell a block cut from a run (the run's count goes down; the
// run goes back to the heap with its last block) from an ordinary heap block
// (freed). While no run is alive, a release takes no lock at all.
#include <atomic>
#include <functional>
#include <mutex>

#include "common/common.h"
#include "param/param.h"

namespace zera {

struct ParamRun {
    uint8_t *end;   // one past the run's last byte
    int64_t live;   // blocks cut and not yet released; below 0 while sealed is false
    bool sealed;    // the cutting run has ended; at live == 0 the run is freed
};

namespace {

constexpr size_t kHeader = (sizeof(ParamRun) + kParamBlockAlign - 1) / kParamBlockAlign * kParamBlockAlign;
constexpr size_t kSmallestRun = 256;
constexpr size_t kFirstRunAtMost = 4096;  // a list may stand in front of much else
constexpr size_t kLargestRun = 64 * 1024;

// Leaf lock: nothing else is taken while it is held. Guards g_runs,
// g_runCount, g_runRoom and the live and sealed fields of every run.
std::mutex g_runLock;
ParamRun **g_runs = nullptr;  // the runs alive, by address
size_t g_runCount = 0;
size_t g_runRoom = 0;
// g_runCount as last stored under the lock; read without it only to skip
// the lock when no run lives (a block of a run is only reached after the
// run's registration happened before, in the thread that handed it over).
std::atomic<size_t> g_runsAlive{0};

uint8_t *Begin(ParamRun *run) { return reinterpret_cast<uint8_t *>(run); }

// The first run whose start is above p. Caller holds g_runLock.
size_t UpperBound(const void *p) {
    size_t lo = 0, hi = g_runCount;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (std::less<const void *>()(p, Begin(g_runs[mid]))) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return lo;
}

// The run p was cut from, or null. Caller holds g_runLock.
ParamRun *RunOf(const void *p) {
    const size_t at = UpperBound(p);
    if (at == 0) return nullptr;
    ParamRun *run = g_runs[at - 1];
    return std::less<const void *>()(p, run->end) ? run : nullptr;
}

// False when the registry cannot grow. Caller holds g_runLock.
bool Register(ParamRun *run) {
    if (g_runCount == g_runRoom) {
        const size_t room = g_runRoom == 0 ? 16 : g_runRoom * 2;
        auto **grown = static_cast<ParamRun **>(Realloc(g_runs, room * sizeof(ParamRun *)));
        if (grown == nullptr) return false;
        g_runs = grown;
        g_runRoom = room;
    }
    const size_t at = UpperBound(Begin(run));
    for (size_t i = g_runCount; i > at; --i) g_runs[i] = g_runs[i - 1];
    g_runs[at] = run;
    g_runsAlive.store(++g_runCount, std::memory_order_release);
    return true;
}

// Unregisters and frees a run. Caller holds g_runLock.
void Drop(ParamRun *run) {
    const size_t at = UpperBound(Begin(run)) - 1;
    for (size_t i = at; i + 1 < g_runCount; ++i) g_runs[i] = g_runs[i + 1];
    g_runsAlive.store(--g_runCount, std::memory_order_release);
    Free(run);
}

}  // namespace

ParamBlockRun::ParamBlockRun(size_t expected)
    : next_(expected < kSmallestRun ? kSmallestRun : expected > kFirstRunAtMost ? kFirstRunAtMost : expected) {}

ParamBlockRun::~ParamBlockRun() { Seal(); }

// Hands the blocks cut from the current run over to their owners.
void ParamBlockRun::Seal() {
    if (run_ == nullptr) return;
    std::lock_guard<std::mutex> hold(g_runLock);
    run_->live += taken_;
    run_->sealed = true;
    if (run_->live == 0) Drop(run_);
    run_ = nullptr;
    at_ = end_ = nullptr;
    taken_ = 0;
}

void *ParamBlockRun::TakeFromNewRun(size_t bytes) {
    const size_t rounded = (bytes + kParamBlockAlign - 1) / kParamBlockAlign * kParamBlockAlign;
    if (rounded < bytes || !NewRun(rounded)) return Alloc(bytes);  // an ordinary block serves as well
    void *block = at_;
    at_ += rounded;
    ++taken_;
    return block;
}

bool ParamBlockRun::NewRun(size_t rounded) {
    if (refused_ || rounded > kLargestRun) return false;
    Seal();
    size_t size = next_;
    if (size < kHeader + rounded) size = kHeader + rounded;
    next_ = size * 2 > kLargestRun ? kLargestRun : size * 2;
    auto *run = static_cast<ParamRun *>(Alloc(size));
    if (run == nullptr) {
        refused_ = true;
        return false;
    }
    run->end = Begin(run) + size;
    run->live = 0;
    run->sealed = false;
    {
        std::lock_guard<std::mutex> hold(g_runLock);
        if (!Register(run)) {
            Free(run);
            refused_ = true;
            return false;
        }
    }
    run_ = run;
    at_ = Begin(run) + kHeader;
    end_ = run->end;
    return true;
}

ParamBlockFreer::ParamBlockFreer() : locked_(g_runsAlive.load(std::memory_order_acquire) != 0) {
    if (locked_) g_runLock.lock();
}

ParamBlockFreer::~ParamBlockFreer() {
    if (!locked_) return;
    Settle();
    g_runLock.unlock();
}

// Counts the pending releases from last_. Caller holds g_runLock.
void ParamBlockFreer::Settle() {
    if (last_ != nullptr) {
        last_->live -= pending_;
        if (last_->live == 0 && last_->sealed) Drop(last_);
    }
    last_ = nullptr;
    lastBegin_ = lastEnd_ = 0;
    pending_ = 0;
}

void ParamBlockFreer::ReleaseElsewhere(void *block) {
    ParamRun *run = locked_ ? RunOf(block) : nullptr;
    if (run == nullptr) {
        Free(block);
        return;
    }
    Settle();
    last_ = run;
    lastBegin_ = reinterpret_cast<uintptr_t>(run);
    lastEnd_ = reinterpret_cast<uintptr_t>(run->end);
    pending_ = 1;
}

void FreeParamBlock(void *block) {
    ParamBlockFreer freer;
    freer.Release(block);
}

}  // namespace zera
