// trace/timeline.cpp - the timeline: per-thread record buffers that the
// stack's threads fill without waiting, and a writer thread that drains
// them every few milliseconds into trace-event JSON (one object per line).
//
// Tracks: each level (keyed by its handle) gets a track named "level N
// (Component)" for its instant marks and counters, and lanes beside it for
// the stays in its send and receive queues. Stays overlap while a queue
// holds several events, and slices on one track must nest, so each stay goes
// to the first lane whose last stay ended before it began.
//
// Buffers: one single-producer ring per thread that ever records, linked
// into a list that only grows; a thread's ring outlives the thread (a thread
// variable with a destructor is not dependable in a Windows DLL) and goes
// with the library. A full ring loses the record and counts it.
#include <algorithm>
#include <chrono>
#include <cctype>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "VOQ_OSAL.h"
#include "common/lock_order.h"
#include "trace/trace.h"

namespace zera {
namespace trace {

namespace {

constexpr uint32_t kRingSize = 4096;  // records; a power of two
constexpr auto kDrainPeriod = std::chrono::milliseconds(5);
constexpr uint32_t kTrackStride = 1000;    // thread ids a level's track and lanes use
constexpr uint32_t kRecvLaneBase = 500;    // offset of the receive queue's lanes
constexpr uint32_t kMaxLanes = 499;        // per queue; beyond, stays share the last lane

// What a ring holds besides the hooks' kinds.
constexpr uint8_t kNamed = 100;     // `value` points at a heap copy of the component's name
constexpr uint8_t kForgotten = 101;

struct Entry {
    uint64_t ns;
    const void *track;
    uint64_t value;
    uint32_t id;
    int32_t type;
    uint32_t thread;
    uint32_t arrival;
    uint8_t kind;
    uint8_t level;
    uint8_t eventLevel;
};

struct Ring {
    std::atomic<uint32_t> head{0};  // written by the owning thread only
    std::atomic<uint32_t> tail{0};  // written by the draining thread only
    std::atomic<uint64_t> lost{0};
    Ring *next = nullptr;
    Entry entries[kRingSize];
};

std::atomic<Ring *> g_rings{nullptr};
thread_local Ring *t_ring = nullptr;

Ring *ThisThreadsRing() {
    if (t_ring != nullptr) return t_ring;
    Ring *ring = new (std::nothrow) Ring;
    if (ring == nullptr) return nullptr;
    ring->next = g_rings.load(std::memory_order_relaxed);
    while (!g_rings.compare_exchange_weak(ring->next, ring, std::memory_order_release, std::memory_order_relaxed)) {
    }
    t_ring = ring;
    return ring;
}

bool Push(const Entry &entry) {
    Ring *ring = ThisThreadsRing();
    if (ring == nullptr) return false;
    const uint32_t head = ring->head.load(std::memory_order_relaxed);
    if (head - ring->tail.load(std::memory_order_acquire) >= kRingSize) {
        ring->lost.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    ring->entries[head % kRingSize] = entry;
    ring->head.store(head + 1, std::memory_order_release);
    return true;
}

// One level as the writer draws it.
struct Track {
    uint32_t tid = 0;
    uint8_t level = 0;
    std::string name;
    std::vector<uint64_t> laneEnds[2];  // per queue: the end of each lane's last stay (ns)
    int64_t length[2] = {0, 0};
};

const char *const kQueueNames[2] = {"send queue", "receive queue"};

// The writer's state. Everything but `thread` and the flags is touched only
// by the draining thread: the writer thread, or Stop after joining it.
class Writer {
public:
    explicit Writer(FILE *file) : file_(file) {}

    void Begin() {
        const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
        std::fprintf(file_,
                     "{\"displayTimeUnit\":\"ns\",\"otherData\":{\"clock\":\"steady\",\"wallclock_at_ts0_us\":%lld},"
                     "\n\"traceEvents\":[\n{\"ph\":\"M\",\"name\":\"process_name\",\"ts\":0,\"pid\":1,\"tid\":0,"
                     "\"args\":{\"name\":\"stack\"}}",
                     static_cast<long long>(wall - static_cast<long long>(ClockNs() / 1000u)));
        // Records made before this start belong to no file.
        for (Ring *ring = g_rings.load(std::memory_order_acquire); ring != nullptr; ring = ring->next) {
            ring->tail.store(ring->head.load(std::memory_order_acquire), std::memory_order_release);
            lostBefore_ += ring->lost.load(std::memory_order_relaxed);
        }
    }

    void Drain() {
        batch_.clear();
        for (Ring *ring = g_rings.load(std::memory_order_acquire); ring != nullptr; ring = ring->next) {
            const uint32_t head = ring->head.load(std::memory_order_acquire);
            uint32_t tail = ring->tail.load(std::memory_order_relaxed);
            for (; tail != head; ++tail) batch_.push_back(ring->entries[tail % kRingSize]);
            ring->tail.store(tail, std::memory_order_release);
        }
        std::stable_sort(batch_.begin(), batch_.end(), [](const Entry &a, const Entry &b) { return a.ns < b.ns; });
        for (const Entry &entry : batch_) Draw(entry);
        std::fflush(file_);
    }

    // Closes the JSON; returns the number of records lost.
    uint64_t End() {
        uint64_t lost = 0;
        for (Ring *ring = g_rings.load(std::memory_order_acquire); ring != nullptr; ring = ring->next) {
            lost += ring->lost.load(std::memory_order_relaxed);
        }
        lost -= lostBefore_;
        if (lost != 0) {
            Line("{\"ph\":\"M\",\"name\":\"records_lost\",\"ts\":0,\"pid\":1,\"tid\":0,\"args\":{\"count\":%llu}}",
                 static_cast<unsigned long long>(lost));
        }
        std::fputs("\n]}\n", file_);
        std::fclose(file_);
        file_ = nullptr;
        return lost;
    }

    std::mutex lock;  // guards stopping and exited
    std::condition_variable wake;
    bool stopping = false;
    bool exited = false;  // the writer thread left its loop
    std::thread thread;

private:
    void Line(const char *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
    {
        std::fputs(",\n", file_);
        va_list args;
        va_start(args, format);
        std::vfprintf(file_, format, args);
        va_end(args);
    }

    static void Micros(char *out, size_t room, uint64_t ns) {
        std::snprintf(out, room, "%llu.%03u", static_cast<unsigned long long>(ns / 1000u),
                      static_cast<unsigned>(ns % 1000u));
    }

    void NameThread(uint32_t tid, const std::string &name) {
        Line("{\"ph\":\"M\",\"name\":\"thread_name\",\"ts\":0,\"pid\":1,\"tid\":%u,\"args\":{\"name\":\"%s\"}}", tid,
             name.c_str());
        Line("{\"ph\":\"M\",\"name\":\"thread_sort_index\",\"ts\":0,\"pid\":1,\"tid\":%u,\"args\":{\"sort_index\":%u}}",
             tid, tid);
    }

    // The entry's track; a new one is named `name`, else "level N".
    Track &TrackOf(const Entry &entry, const std::string *name = nullptr) {
        Track &track = tracks_[entry.track];
        if (track.tid == 0) {
            track.tid = ++trackCount_ * kTrackStride;
            track.level = entry.level;
            track.name = name != nullptr           ? *name
                         : entry.level == 0 ? std::string("level 0 (host)")
                                            : "level " + std::to_string(entry.level);
            NameThread(track.tid, track.name);
        }
        return track;
    }

    // The lane's thread id for a stay from `start` to `end` in `queue`.
    uint32_t LaneFor(Track &track, int queue, uint64_t start, uint64_t end) {
        std::vector<uint64_t> &ends = track.laneEnds[queue];
        size_t lane = 0;
        while (lane < ends.size() && ends[lane] > start) ++lane;
        if (lane >= kMaxLanes) lane = kMaxLanes - 1;
        const uint32_t tid = track.tid + (queue == kRecvQueue ? kRecvLaneBase : 1) + static_cast<uint32_t>(lane);
        if (lane >= ends.size()) {
            ends.resize(lane + 1, 0);
            NameThread(tid, track.name + " " + kQueueNames[queue] + (lane == 0 ? "" : " " + std::to_string(lane + 1)));
        }
        ends[lane] = std::max(ends[lane], end);
        return tid;
    }

    void Length(Track &track, int queue, int64_t change, const char *ts) {
        track.length[queue] = std::max<int64_t>(0, track.length[queue] + change);
        Line("{\"ph\":\"C\",\"name\":\"%s %s\",\"ts\":%s,\"pid\":1,\"tid\":%u,\"args\":{\"events\":%lld}}",
             track.name.c_str(), kQueueNames[queue], ts, track.tid, static_cast<long long>(track.length[queue]));
    }

    void Instant(const Track &track, const char *what, const Entry &e, const char *ts) {
        Line("{\"ph\":\"i\",\"s\":\"t\",\"name\":\"%s type %d L%u\",\"ts\":%s,\"pid\":1,\"tid\":%u,"
             "\"args\":{\"id\":%u,\"thread\":%u,\"value\":%llu}}",
             what, e.type, e.eventLevel, ts, track.tid, e.id, e.thread, static_cast<unsigned long long>(e.value));
    }

    void Stay(Track &track, int queue, const Entry &e) {
        if (e.arrival == 0) return;
        const uint32_t nowMicros = static_cast<uint32_t>(e.ns / 1000u);
        const uint64_t stayNs = static_cast<uint64_t>(nowMicros - e.arrival) * 1000u + e.ns % 1000u;
        const uint64_t start = e.ns > stayNs ? e.ns - stayNs : 0;
        char ts[32], dur[32];
        Micros(ts, sizeof ts, start);
        Micros(dur, sizeof dur, e.ns - start);
        Line("{\"ph\":\"X\",\"cat\":\"%s\",\"name\":\"type %d L%u\",\"ts\":%s,\"dur\":%s,\"pid\":1,\"tid\":%u,"
             "\"args\":{\"id\":%u,\"level\":%u,\"thread\":%u}}",
             kQueueNames[queue], e.type, e.eventLevel, ts, dur, LaneFor(track, queue, start, e.ns), e.id, track.level,
             e.thread);
    }

    void Draw(const Entry &e) {
        if (e.kind == kForgotten) {
            tracks_.erase(e.track);
            return;
        }
        char ts[32];
        Micros(ts, sizeof ts, e.ns);
        if (e.kind == kNamed) {
            auto *component = reinterpret_cast<char *>(static_cast<uintptr_t>(e.value));
            const std::string name = "level " + std::to_string(e.level) + " (" +
                                     (component != nullptr && component[0] != '\0' ? component : "host") + ")";
            std::free(component);
            const bool known = tracks_.count(e.track) != 0;
            Track &track = TrackOf(e, &name);
            if (known && track.name != name) {
                track.name = name;
                NameThread(track.tid, track.name);
            }
            return;
        }
        Track &track = TrackOf(e);
        // How the event kinds are drawn: a mark, a stay, a change of a queue's length.
        struct Drawing {
            const char *mark;  // null: none
            int stay;          // the queue whose stay ends, or -1
            int queue;         // the queue whose length changes, or -1
            int64_t change;    // 0 with a queue: by the entry's value, less
        };
        static const Drawing kDrawings[] = {
            {"sent", -1, kSendQueue, 1},        {nullptr, kSendQueue, kSendQueue, -1},
            {"cancelled", -1, kSendQueue, 0},   {"filtered", -1, -1, 0},
            {"queued", -1, kRecvQueue, 1},      {nullptr, kRecvQueue, kRecvQueue, -1},
            {nullptr, -1, -1, 0},               {nullptr, -1, -1, 0},
            {"dropped", -1, -1, 0},             {nullptr, -1, -1, 0},
        };
        const Drawing &drawing = kDrawings[e.kind];
        if (drawing.mark != nullptr) Instant(track, drawing.mark, e, ts);
        if (drawing.stay >= 0) Stay(track, drawing.stay, e);
        if (drawing.queue >= 0) {
            Length(track, drawing.queue, drawing.change != 0 ? drawing.change : -static_cast<int64_t>(e.value), ts);
        }
        switch (static_cast<Kind>(e.kind)) {
            case kBreak:
                Line("{\"ph\":\"i\",\"s\":\"t\",\"name\":\"break (%s wait)\",\"ts\":%s,\"pid\":1,\"tid\":%u,"
                     "\"args\":{\"thread\":%u}}",
                     e.value == kRecvQueue ? "receive" : "send", ts, track.tid, e.thread);
                break;
            case kStatus:
                Line("{\"ph\":\"i\",\"s\":\"t\",\"name\":\"status 0x%08llx\",\"ts\":%s,\"pid\":1,\"tid\":%u,"
                     "\"args\":{\"status\":%llu,\"thread\":%u}}",
                     static_cast<unsigned long long>(e.value), ts, track.tid,
                     static_cast<unsigned long long>(e.value), e.thread);
                break;
            case kLoad:
                Line("{\"ph\":\"C\",\"name\":\"%s load\",\"ts\":%s,\"pid\":1,\"tid\":%u,\"args\":{\"A\":%u,\"B\":%u}}",
                     track.name.c_str(), ts, track.tid, static_cast<unsigned>(e.value >> 16),
                     static_cast<unsigned>(e.value & 0xFFFFu));
                break;
            default: break;
        }
    }

    FILE *file_;
    std::unordered_map<const void *, Track> tracks_;
    uint32_t trackCount_ = 0;
    uint64_t lostBefore_ = 0;
    std::vector<Entry> batch_;
};

// Guards g_writer (its creation, start and end). Taken by Start and Stop only.
zera::Ranked<zera::LockRank::kTraceTimeline, std::mutex> g_timelineLock;
Writer *g_writer = nullptr;

void WriterLoop(Writer *writer) {
    std::unique_lock<std::mutex> hold(writer->lock);
    while (!writer->stopping) {
        writer->wake.wait_for(hold, kDrainPeriod);
        hold.unlock();
        writer->Drain();
        hold.lock();
    }
    writer->exited = true;
    writer->wake.notify_all();
}

// Ends the writer thread. At process end on Windows the system has ended
// every other thread before the library hears of it (maybe inside the
// writer's lock), so there the wait is bounded and a thread that does not
// answer is let go.
bool EndWriterThread(Writer *writer, bool atExit) {
    if (!atExit) {
        {
            std::lock_guard<std::mutex> hold(writer->lock);
            writer->stopping = true;
        }
        writer->wake.notify_all();
        writer->thread.join();
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::unique_lock<std::mutex> hold(writer->lock, std::defer_lock);
    while (!hold.try_lock()) {
        if (std::chrono::steady_clock::now() > deadline) {
            writer->thread.detach();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer->stopping = true;
    writer->wake.notify_all();
    const bool exited = writer->wake.wait_until(hold, deadline, [writer] { return writer->exited; });
    hold.unlock();
    if (exited) {
        writer->thread.join();
    } else {
        writer->thread.detach();
    }
    return exited;
}

bool StopWriter(bool atExit) {
    std::lock_guard<decltype(g_timelineLock)> hold(g_timelineLock);
    Writer *writer = g_writer;
    if (writer == nullptr) return false;
    SetTimelineHooks(false);
    const bool joined = EndWriterThread(writer, atExit);
    writer->Drain();
    const uint64_t lost = writer->End();
    if (lost != 0 && LogOn(kStack, kWarning)) {
        Log(kStack, kWarning, "timeline: %llu records lost (a thread's buffer was full)",
            static_cast<unsigned long long>(lost));
    }
    // A writer let go may still run: it keeps its state.
    if (!joined) return true;
    delete writer;
    g_writer = nullptr;
    return true;
}

}  // namespace

uint64_t ClockNs() {
    // Set at the first call, which may come from the library's start before
    // the other globals of this file are made.
    static const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
}

uint32_t ArrivalStamp() {
    const auto micros = static_cast<uint32_t>(ClockNs() / 1000u);
    return micros != 0 ? micros : 1;
}

void Record(Kind kind, const void *track, uint8_t level, const EventFacts &event, uint64_t value, uint32_t arrival) {
    if (!TimelineOn()) return;
    Push(Entry{ClockNs(), track, value, event.id, event.type, ThreadNumber(), arrival, static_cast<uint8_t>(kind),
               level, event.level});
}

void NameTrack(const void *track, uint8_t level, const char *component) {
    if (!TimelineOn()) return;
    char *copy = nullptr;
    if (component != nullptr) {
        // A module file's name stands for its component: no folder, no suffix.
        for (const char *at = component; *at != '\0'; ++at) {
            if (*at == '/' || *at == '\\') component = at + 1;
        }
        size_t n = std::strlen(component);
        static const char kSuffix[] = ".COMPONENT";
        const size_t suffix = sizeof kSuffix - 1;
        if (n > suffix) {
            bool same = true;
            for (size_t i = 0; i < suffix; ++i) {
                same = same && std::toupper(static_cast<unsigned char>(component[n - suffix + i])) == kSuffix[i];
            }
            if (same) n -= suffix;
        }
        copy = static_cast<char *>(std::malloc(n + 1));
        if (copy == nullptr) return;
        std::memcpy(copy, component, n);
        copy[n] = '\0';
    }
    if (!Push(Entry{ClockNs(), track, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(copy)), 0, 0, ThreadNumber(), 0,
                    kNamed, level, level})) {
        std::free(copy);
    }
}

void ForgetTrack(const void *track) {
    if (!TimelineOn()) return;
    Push(Entry{ClockNs(), track, 0, 0, 0, ThreadNumber(), 0, kForgotten, 0, 0});
}

bool StartTimeline(const char *path) {
    if (path == nullptr || path[0] == '\0') {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;
    }
    std::lock_guard<decltype(g_timelineLock)> hold(g_timelineLock);
    if (g_writer != nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
        return false;
    }
    FILE *file = std::fopen(path, "wb");
    if (file == nullptr) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, path);
        return false;
    }
    auto *writer = new (std::nothrow) Writer(file);
    if (writer == nullptr) {
        std::fclose(file);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return false;
    }
    writer->Begin();
    try {
        writer->thread = std::thread(WriterLoop, writer);
    } catch (...) {
        writer->End();
        delete writer;
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, "the timeline's writer thread cannot start");
        return false;
    }
    g_writer = writer;
    SetTimelineHooks(true);
    if (LogOn(kStack, kInfo)) Log(kStack, kInfo, "timeline: writing %s", path);
    return true;
}

bool StopTimeline() { return StopWriter(false); }

void StartTimelineFromEnvironment() {
    const char *path = std::getenv("ZERA_TRACE");
    if (path == nullptr || path[0] == '\0') return;
    if (!StartTimeline(path) && LogOn(kStack, kWarning)) {
        Log(kStack, kWarning, "ZERA_TRACE: %s", OSAL_pszGetLastErrorText());
    }
}

void Shutdown() {
    const bool stopped = StopWriter(true);
    CloseDebugOutput();
    if (stopped && g_writer != nullptr) return;  // a writer let go may still read the buffers
    // Every thread of the process is done with the library now.
    Ring *ring = g_rings.exchange(nullptr);
    while (ring != nullptr) {
        Ring *next = ring->next;
        delete ring;
        ring = next;
    }
}

}  // namespace trace
}  // namespace zera
