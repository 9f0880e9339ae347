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
// The threads' buffers are timeline_buffers.cpp's.
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
#include "trace/timeline_buffers.h"
#include "trace/trace.h"

namespace zera {
namespace trace {

namespace {

// The writer's sleep when it found little to write; with more it goes on at once.
constexpr auto kDrainPeriod = std::chrono::milliseconds(2);
constexpr size_t kLittle = 256;
constexpr uint32_t kTrackStride = 1000;    // thread ids a level's track and lanes use
constexpr uint32_t kRecvLaneBase = 500;    // offset of the receive queue's lanes
constexpr uint32_t kMaxLanes = 499;        // per queue; beyond, stays share the last lane

// Metadata records made ready by NoteLinkPeer, for the writer.
zera::Ranked<zera::LockRank::kTraceNotes, std::mutex> g_notesLock;  // guards g_notes
std::vector<std::string> g_notes;

// One level as the writer draws it.
struct Track {
    uint32_t tid = 0;
    uint8_t level = 0;
    std::string name;  // JSON-escaped
    std::vector<uint64_t> laneEnds[2];  // per queue: the end of each lane's last stay (ns)
    int64_t length[2] = {0, 0};
};

const char *const kQueueNames[2] = {"send queue", "receive queue"};

// `text` as the inside of a JSON string.
std::string Escaped(const char *text) {
    std::string out;
    for (const char *at = text; *at != '\0'; ++at) {
        const auto c = static_cast<unsigned char>(*at);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The writer's output: records are formatted by hand into one buffer that
// goes to the file in large writes, since at a stream's rate the formatting
// is what decides how many records a thread's buffer loses.
class Out {
public:
    explicit Out(FILE *file) : file_(file) { buffer_.reserve(kFlushAt + 4096); }
    Out &operator<<(const char *text) {
        buffer_ += text;
        return *this;
    }
    Out &operator<<(const std::string &text) {
        buffer_ += text;
        return *this;
    }
    Out &operator<<(uint64_t v) {
        char digits[24];
        char *at = digits + sizeof digits;
        do {
            *--at = static_cast<char>('0' + v % 10u);
            v /= 10u;
        } while (v != 0);
        buffer_.append(at, static_cast<size_t>(digits + sizeof digits - at));
        return *this;
    }
    Out &operator<<(uint32_t v) { return *this << static_cast<uint64_t>(v); }
    Out &Signed(int64_t v) {
        if (v < 0) buffer_ += '-';
        return *this << (v < 0 ? 0u - static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
    }
    // Nanoseconds as microseconds with three decimals.
    Out &Micros(uint64_t ns) {
        *this << ns / 1000u;
        const auto rest = static_cast<unsigned>(ns % 1000u);
        const char decimals[5] = {'.', static_cast<char>('0' + rest / 100u), static_cast<char>('0' + rest / 10u % 10u),
                                  static_cast<char>('0' + rest % 10u), '\0'};
        buffer_ += decimals;
        return *this;
    }
    // Starts the next record (the first follows the header's).
    Out &Next() {
        if (buffer_.size() >= kFlushAt) Flush(false);
        buffer_ += ",\n";
        return *this;
    }
    void Flush(bool toDisk) {
        if (!buffer_.empty()) std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
        buffer_.clear();
        if (toDisk) std::fflush(file_);
    }

private:
    static constexpr size_t kFlushAt = 256 * 1024;
    FILE *file_;
    std::string buffer_;
};

// The writer's state. Everything but `thread` and the flags is touched only
// by the draining thread: the writer thread, or Stop after joining it.
class Writer {
public:
    explicit Writer(FILE *file) : file_(file), out_(file) {}

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
        {
            std::lock_guard<decltype(g_notesLock)> hold(g_notesLock);
            g_notes.clear();
        }
        for (Ring *ring = g_rings.load(std::memory_order_acquire); ring != nullptr; ring = ring->next) {
            for (Cursor c = CursorOf(ring); !c.AtEnd(); c.Advance()) {
            }
            lostBefore_ += ring->lost.load(std::memory_order_relaxed);
        }
    }

    // Writes what the buffers held when it began, in time order (each
    // thread's records are in order already: they are merged); how many
    // records that was.
    size_t Drain() {
        cursors_.clear();
        for (Ring *ring = g_rings.load(std::memory_order_acquire); ring != nullptr; ring = ring->next) {
            const Cursor c = CursorOf(ring);
            if (!c.AtEnd()) cursors_.push_back(c);
        }
        size_t drawn = 0;
        while (!cursors_.empty()) {
            size_t first = 0;
            for (size_t i = 1; i < cursors_.size(); ++i) {
                if (cursors_[i].Peek().ns < cursors_[first].Peek().ns) first = i;
            }
            Draw(cursors_[first].Peek());
            ++drawn;
            cursors_[first].Advance();
            if (cursors_[first].AtEnd()) cursors_.erase(cursors_.begin() + static_cast<std::ptrdiff_t>(first));
        }
        WriteNotes();
        out_.Flush(true);
        return drawn;
    }

    // Closes the JSON; returns the number of records lost.
    uint64_t End() {
        uint64_t lost = 0;
        for (Ring *ring = g_rings.load(std::memory_order_acquire); ring != nullptr; ring = ring->next) {
            lost += ring->lost.load(std::memory_order_relaxed);
        }
        lost -= lostBefore_;
        if (lost != 0) {
            Meta("records_lost", 0) << "\"count\":" << lost << "}}";
        }
        out_.Flush(false);
        std::fputs("\n]}\n", file_);
        std::fclose(file_);
        file_ = nullptr;
        return lost;
    }

    using Lock = zera::Ranked<zera::LockRank::kTraceWriter, std::mutex>;
    Lock lock;  // guards stopping and exited
    std::condition_variable_any wake;
    bool stopping = false;
    bool exited = false;  // the writer thread left its loop
    std::thread thread;

private:
    // An instant mark up to its arguments' opening brace.
    Out &Instant(const char *name, uint64_t ns, uint32_t tid) {
        out_.Next() << "{\"ph\":\"i\",\"s\":\"t\",\"name\":\"" << name << "\",\"ts\":";
        return out_.Micros(ns) << ",\"pid\":1,\"tid\":" << tid << ",\"args\":{";
    }
    Out &Meta(const char *name, uint32_t tid) {
        return out_.Next() << "{\"ph\":\"M\",\"name\":\"" << name << "\",\"ts\":0,\"pid\":1,\"tid\":" << tid
                           << ",\"args\":{";
    }

    void WriteNotes() {
        std::vector<std::string> notes;
        {
            std::lock_guard<decltype(g_notesLock)> hold(g_notesLock);
            notes.swap(g_notes);
        }
        for (const std::string &note : notes) out_.Next() << note;
    }

    void NameThread(uint32_t tid, const std::string &name) {
        Meta("thread_name", tid) << "\"name\":\"" << name << "\"}}";
        Meta("thread_sort_index", tid) << "\"sort_index\":" << tid << "}}";
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

    void Length(Track &track, int queue, int64_t change, uint64_t ns) {
        track.length[queue] = std::max<int64_t>(0, track.length[queue] + change);
        out_.Next() << "{\"ph\":\"C\",\"name\":\"" << track.name << " " << kQueueNames[queue] << "\",\"ts\":";
        out_.Micros(ns) << ",\"pid\":1,\"tid\":" << track.tid << ",\"args\":{\"events\":";
        out_.Signed(track.length[queue]) << "}}";
    }

    // An instant mark named "<what> type T L<level>".
    Out &Mark(const Track &track, const char *what, const Entry &e) {
        out_.Next() << "{\"ph\":\"i\",\"s\":\"t\",\"name\":\"" << what << " type ";
        out_.Signed(e.type) << " L" << static_cast<uint32_t>(e.eventLevel) << "\",\"ts\":";
        return out_.Micros(e.ns) << ",\"pid\":1,\"tid\":" << track.tid << ",\"args\":{\"id\":" << e.id
                                 << ",\"thread\":" << e.thread;
    }

    void Stay(Track &track, int queue, const Entry &e) {
        if (e.arrival == 0) return;
        const uint32_t nowMicros = static_cast<uint32_t>(e.ns / 1000u);
        const uint64_t stayNs = static_cast<uint64_t>(nowMicros - e.arrival) * 1000u + e.ns % 1000u;
        const uint64_t start = e.ns > stayNs ? e.ns - stayNs : 0;
        const uint32_t lane = LaneFor(track, queue, start, e.ns);
        out_.Next() << "{\"ph\":\"X\",\"cat\":\"" << kQueueNames[queue] << "\",\"name\":\"type ";
        out_.Signed(e.type) << " L" << static_cast<uint32_t>(e.eventLevel) << "\",\"ts\":";
        out_.Micros(start) << ",\"dur\":";
        out_.Micros(e.ns - start) << ",\"pid\":1,\"tid\":" << lane << ",\"args\":{\"id\":" << e.id
                                  << ",\"level\":" << static_cast<uint32_t>(track.level) << ",\"thread\":" << e.thread
                                  << "}}";
    }

    void Draw(const Entry &e) {
        if (e.kind == kForgotten) {
            tracks_.erase(e.track);
            return;
        }
        if (e.kind == kNamed) {
            auto *component = reinterpret_cast<char *>(static_cast<uintptr_t>(e.value));
            const std::string name = "level " + std::to_string(e.level) + " (" +
                                     Escaped(component != nullptr && component[0] != '\0' ? component : "host") + ")";
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
            {nullptr, -1, -1, 0},
        };
        static_assert(sizeof kDrawings / sizeof kDrawings[0] == kLinkIn + 1, "a drawing per kind");
        const Drawing &drawing = kDrawings[e.kind];
        if (drawing.mark != nullptr) Mark(track, drawing.mark, e) << ",\"value\":" << e.value << "}}";
        if (drawing.stay >= 0) Stay(track, drawing.stay, e);
        if (drawing.queue >= 0) {
            Length(track, drawing.queue, drawing.change != 0 ? drawing.change : -static_cast<int64_t>(e.value), e.ns);
        }
        switch (static_cast<Kind>(e.kind)) {
            case kBreak:
                Instant(e.value == kRecvQueue ? "break (receive wait)" : "break (send wait)", e.ns, track.tid)
                    << "\"thread\":" << e.thread << "}}";
                break;
            case kStatus: {
                char name[32];
                std::snprintf(name, sizeof name, "status 0x%08llx", static_cast<unsigned long long>(e.value));
                Instant(name, e.ns, track.tid)
                    << "\"status\":" << e.value << ",\"thread\":" << e.thread << "}}";
                break;
            }
            case kLoad:
                out_.Next() << "{\"ph\":\"C\",\"name\":\"" << track.name << " load\",\"ts\":";
                out_.Micros(e.ns) << ",\"pid\":1,\"tid\":" << track.tid << ",\"args\":{\"A\":"
                                  << static_cast<uint32_t>(e.value >> 16)
                                  << ",\"B\":" << static_cast<uint32_t>(e.value & 0xFFFFu) << "}}";
                break;
            case kLinkIn:
                Mark(track, "link in", e) << ",\"peer_id\":" << e.value << ",\"level\":"
                                          << static_cast<uint32_t>(track.level) << "}}";
                break;
            default: break;
        }
    }

    FILE *file_;
    Out out_;
    std::unordered_map<const void *, Track> tracks_;
    uint32_t trackCount_ = 0;
    uint64_t lostBefore_ = 0;
    std::vector<Cursor> cursors_;
};

// Guards g_writer (its creation, start and end). Taken by Start and Stop only.
zera::Ranked<zera::LockRank::kTraceTimeline, std::mutex> g_timelineLock;
Writer *g_writer = nullptr;

void WriterLoop(Writer *writer) {
    std::unique_lock<Writer::Lock> hold(writer->lock);
    size_t drained = 0;
    while (!writer->stopping) {
        if (drained < kLittle) writer->wake.wait_for(hold, kDrainPeriod);
        hold.unlock();
        drained = writer->Drain();
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
            std::lock_guard<Writer::Lock> hold(writer->lock);
            writer->stopping = true;
        }
        writer->wake.notify_all();
        writer->thread.join();
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::unique_lock<Writer::Lock> hold(writer->lock, std::defer_lock);
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

bool NoteLinkPeer(uint8_t level, const char *peer, uint64_t session, int64_t offsetUs,
                  uint64_t errorUs) {
    if (!TimelineOn()) {
        OSAL_vSetLastError(OSAL_ERR_NOT_AVAILABLE);
        return false;
    }
    // The session as text: JSON readers keep numbers in doubles.
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  "\",\"session\":\"%016llx\",\"offset_us\":%lld,\"error_us\":%llu,\"at_us\":%llu}}",
                  static_cast<unsigned long long>(session), static_cast<long long>(offsetUs),
                  static_cast<unsigned long long>(errorUs), static_cast<unsigned long long>(ClockNs() / 1000u));
    try {
        std::string note = "{\"ph\":\"M\",\"name\":\"link_peer\",\"ts\":0,\"pid\":1,\"tid\":0,\"args\":{\"level\":" +
                           std::to_string(level) + ",\"peer\":\"" + Escaped(peer != nullptr ? peer : "") + numbers;
        std::lock_guard<decltype(g_notesLock)> hold(g_notesLock);
        g_notes.push_back(std::move(note));
    } catch (const std::bad_alloc &) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return false;
    }
    return true;
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
    FreeBuffers();
}

}  // namespace trace
}  // namespace zera
