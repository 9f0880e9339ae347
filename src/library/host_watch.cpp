// library/host_watch.cpp - the host kit's calls that watch a stack: the
// timeline's start and stop, the debug output's settings, and the snapshot
// of every level written to the debug output (on call, or on SIGUSR1 where
// the platform has it and the host asked for it: never over a handler the
// host installed itself).
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "ZERA_Host.h"
#include "event/event.h"
#include "handle/handle.h"
#include "trace/trace.h"

namespace {

bool IsLevelZero(StackHandle *h0) {
    if (!ZERA_boHandleCheck(h0, 1)) return false;
    if (h0->u8Level == 0) return true;
    OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
    return false;
}

// Events in a queue, counted under its cursor lock; -1 when it cannot be walked.
long CountQueued(OSAL_HQUEUE queue) {
    zera::QueueWalk walk(queue);
    if (!walk.Locked()) return -1;
    long count = 0;
    while (walk.Next() != nullptr) ++count;
    return count;
}

void Append(std::string *text, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

void Append(std::string *text, const char *format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0) text->append(line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
}

void DescribeLevel(std::string *text, StackHandle *h) {
    zera::KeepLastError keep;
    const char *name = h->u8Level == 0 ? "host" : ZERA_hsComponentNameA(h, h->u8Level);
    Append(text, "  level %u (%s): status 0x%08" PRIx32 ", wanted levels 0x%08" PRIx32 " types 0x%08" PRIx32
           ", send queue %ld, receive queue %ld, dropped %llu\n",
           h->u8Level, name != nullptr ? name : "?", zera::LoadRelaxed(h->dwStatus),
           zera::LoadRelaxed(h->dwWantedLevels), zera::LoadRelaxed(h->dwWantedTypes), CountQueued(h->hSendQueue),
           CountQueued(h->hRecvQueue),
           static_cast<unsigned long long>(zera::ExtrasOf(h)->dropped.load(std::memory_order_relaxed)));
    uint32_t stats[ZERA_STATS_WORDS];
    if (!ZERA_boGetStatistics(h, h->u8Level, stats)) return;
    for (int kind = 0; kind < 3; ++kind) {
        Append(text, "    statistics kind %d: answers %" PRIu32 ", data %" PRIu32 ", answer bytes %" PRIu32
               ", data bytes %" PRIu32 "\n",
               kind, stats[4 * kind], stats[4 * kind + 1], stats[4 * kind + 2], stats[4 * kind + 3]);
    }
    Append(text, "    load A %u (max %u), B %u (max %u)\n", stats[12] & 0xFFFFu, stats[13] & 0xFFFFu,
           stats[12] >> 16, stats[13] >> 16);
}

std::string Snapshot(StackHandle *h0) {
    std::string text;
    uint32_t levels = 0;
    for (StackHandle *h = zera::NextLevelOf(h0); h != nullptr; h = zera::NextLevelOf(h)) ++levels;
    Append(&text, "snapshot: stack of %u level(s) above the host, thread t%u\n", levels, zera::trace::ThreadNumber());
    for (StackHandle *h = h0; h != nullptr && ZERA_boHandleCheck(h, 0); h = zera::NextLevelOf(h)) {
        DescribeLevel(&text, h);
    }
    return text;
}

// The thread that answers the user's signal with a snapshot of one stack.
// The signal's handler only counts; this thread looks at the count a few
// times a second, so that the snapshot is taken outside the handler.
class SignalWatch {
public:
    bool Start(StackHandle *h0) {
        std::lock_guard<decltype(lock_)> hold(lock_);
        if (running_) {
            OSAL_vSetLastErrorArgs(OSAL_ERR_NOT_AVAILABLE, OSAL_ARG_STRING, "a stack answers the signal already");
            return false;
        }
        if (!OSAL_boCatchUserSignal(1)) return false;
        stop_ = false;
        try {
            thread_ = std::thread(&SignalWatch::Run, this, h0, OSAL_dwGetUserSignalCount());
        } catch (...) {
            OSAL_boCatchUserSignal(0);
            OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, "the snapshot thread cannot start");
            return false;
        }
        running_ = true;
        return true;
    }

    bool Stop() {
        std::lock_guard<decltype(lock_)> hold(lock_);
        if (!running_) return false;
        OSAL_boCatchUserSignal(0);
        {
            std::lock_guard<decltype(stopLock_)> holdStop(stopLock_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
        running_ = false;
        return true;
    }

private:
    void Run(StackHandle *h0, uint32_t seen) {
        std::unique_lock<decltype(stopLock_)> hold(stopLock_);
        while (!wake_.wait_for(hold, std::chrono::milliseconds(100), [this] { return stop_; })) {
            const uint32_t count = OSAL_dwGetUserSignalCount();
            if (count == seen) continue;
            seen = count;
            zera::trace::WriteDebugText(Snapshot(h0).c_str());
        }
    }

    zera::Ranked<zera::LockRank::kHostWatch, std::mutex> lock_;  // guards running_ and thread_ (Start and Stop)
    bool running_ = false;
    std::thread thread_;
    zera::Ranked<zera::LockRank::kHostWatchStop, std::mutex> stopLock_;  // guards stop_
    std::condition_variable_any wake_;
    bool stop_ = false;
};

// Never destroyed: a host that leaves the watch on at its end would have a
// running thread in a destroyed object.
// Null when memory ran out at the first call.
SignalWatch *TheSignalWatch() {
    static SignalWatch *watch = new (std::nothrow) SignalWatch;
    return watch;
}

}  // namespace

extern "C" {

ZERA_API BOOL8 ZERA_CALL ZERA_boHostTraceStart(StackHandle *h0, const char *pszFile) {
    if (h0 != nullptr && !IsLevelZero(h0)) return 0;
    if (!zera::trace::StartTimeline(pszFile)) return 0;
    for (StackHandle *h = h0; h != nullptr && ZERA_boHandleCheck(h, 0); h = zera::NextLevelOf(h)) {
        zera::KeepLastError keep;
        zera::trace::NameTrack(h, h->u8Level, h->u8Level == 0 ? nullptr : ZERA_hsComponentNameA(h, h->u8Level));
    }
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostTraceStop(void) {
    if (zera::trace::StopTimeline()) return 1;
    OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
    return 0;
}

ZERA_API uint64_t ZERA_CALL ZERA_u64HostTraceClock(void) { return zera::trace::ClockNs() / 1000u; }

ZERA_API void ZERA_CALL ZERA_vHostTraceLinkArrival(StackHandle *h, const Event *pstEvent, uint32_t dwPeerId) {
    if (!zera::trace::TimelineOn() || pstEvent == nullptr) return;
    zera::KeepLastError keep;
    if (!ZERA_boHandleCheck(h, 0)) return;
    zera::trace::Record(zera::trace::kLinkIn, h, h->u8Level,
                        zera::trace::EventFacts{pstEvent->i32Type, pstEvent->dwEventId, pstEvent->u8Level}, dwPeerId);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostTraceLinkPeer(StackHandle *h, const char *pszPeer, uint64_t u64Session,
                                                 int64_t i64PeerOffsetUs, uint64_t u64ErrorUs) {
    if (!ZERA_boHandleCheck(h, 1)) return 0;
    return zera::trace::NoteLinkPeer(h->u8Level, pszPeer, u64Session, i64PeerOffsetUs, u64ErrorUs) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostSetDebug(const char *pszCategories, const char *pszFile) {
    if (zera::trace::ConfigureDebug(pszCategories, pszFile)) return 1;
    OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, pszCategories != nullptr ? pszCategories : "");
    return 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostSnapshot(StackHandle *h0) {
    if (!IsLevelZero(h0)) return 0;
    zera::trace::WriteDebugText(Snapshot(h0).c_str());
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostSnapshotOnSignal(StackHandle *h0, BOOL8 boOn) {
    SignalWatch *watch = TheSignalWatch();
    if (watch == nullptr) return zera::Fail(OSAL_ERR_NO_MEMORY);
    if (boOn) return IsLevelZero(h0) && watch->Start(h0) ? 1 : 0;
    if (watch->Stop()) return 1;
    OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
    return 0;
}

}  // extern "C"
