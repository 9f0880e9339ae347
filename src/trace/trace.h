// trace/trace.h - what the trace subsystem offers the rest of the library:
// debug logging by category and severity (ZERA_DEBUG, ZERA_DEBUG_FILE), and
// the timeline (ZERA_TRACE, or a host's start and stop) written as trace-event
// JSON by a writer thread of its own.
//
// Internal: included by src/ and by tests only. The subsystem knows nothing of
// handles or events: callers hand it plain values (a level's handle serves
// only as the key of its track and is never read). Cost when off: every hook
// in a hot path is one relaxed load and a branch (Hooked, LogOn); everything
// behind them is out of line.
#ifndef ZERA_TRACE_TRACE_H
#define ZERA_TRACE_TRACE_H

#include <atomic>
#include <cstdint>

#include "common/common.h"

namespace zera {
namespace trace {

// Log categories, in ZERA_DEBUG's names: stack, send, filter, recv, evid,
// module, link, error (the codes the library stores, at warning).
enum Category : uint32_t { kStack, kSend, kFilter, kRecv, kEvid, kModule, kLink, kError, kCategories };
// Severities, most severe first; a category set to one logs it and those above.
enum Severity : uint32_t { kErrorLevel = 1, kWarning = 2, kInfo = 3, kDebug = 4 };

// Bit 4c + (s - 1): category c logs severity s. Written only while debug
// output is configured; read by every LogOn.
ZERA_TEST_VISIBLE extern std::atomic<uint32_t> g_logMask;
// Bit c: the category's hook in a hot path has work to do (its debug lines
// or the timeline). One word so that a hook that serves both tests once.
ZERA_TEST_VISIBLE extern std::atomic<uint32_t> g_hookMask;

inline bool LogOn(Category c, Severity s) {
    return (g_logMask.load(std::memory_order_relaxed) >> (4 * c + s - 1)) & 1u;
}
inline bool Hooked(Category c) { return (g_hookMask.load(std::memory_order_relaxed) >> c) & 1u; }
// Bit 31 of g_hookMask: the timeline is being written.
constexpr uint32_t kTimelineBit = 0x80000000u;
inline bool TimelineOn() { return (g_hookMask.load(std::memory_order_relaxed) & kTimelineBit) != 0; }

// ---- Debug output -----------------------------------------------------------------

// Reads ZERA_DEBUG ("category:severity,..."; "*" for every category; a
// severity by name or 1-4; no severity means debug) and ZERA_DEBUG_FILE
// (else stderr). A malformed entry is named in one line on the output and
// skipped. Called at library start; not thread-safe against itself.
void ConfigureDebugFromEnvironment();
// The same from a text (the host kit's call, the tests); null or "" turns
// logging off. `file` null or "" means stderr. False when the file cannot
// be opened (logging then goes to stderr) or an entry was malformed.
bool ConfigureDebug(const char *settings, const char *file);

// Writes one line: seconds since the first line's clock start, the thread's
// number, the severity and the category, then the formatted text. Whole
// lines never interleave. Blocks on the output's lock for one write.
void Log(Category c, Severity s, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
// A block of text (the snapshot) written as it is, lines kept together.
void WriteDebugText(const char *text);

// This thread's number in logs and trace arguments: 1, 2, ... in order of
// first use. Lock-free.
uint32_t ThreadNumber();

// ---- The timeline ------------------------------------------------------------------

// The queue a stay was in.
enum Queue : uint8_t { kSendQueue = 0, kRecvQueue = 1 };

// What a level's hook saw, as the timeline records it.
enum Kind : uint8_t {
    kSent,       // joined the send queue (instant; queue length + 1)
    kTaken,      // taken from the send queue (a slice of its stay; length - 1)
    kCancelled,  // `value` events cancelled from the send queue (instant)
    kFiltered,   // entered the level's input filter (instant)
    kQueued,     // put into the receive queue (instant; length + 1)
    kReceived,   // taken from the receive queue (a slice; length - 1)
    kBreak,      // a wait on the level's queue `queue` broken (instant)
    kStatus,     // the level's status became `value` (instant)
    kDropped,    // deleted instead of joining the receive queue (instant)
    kLoad,       // the level's load figures: `value` = A << 16 | B (counter)
    kLinkIn,     // came in over a link (instant); `value` = its identifier at the peer
};

// The facts of one event that a record names it by.
struct EventFacts {
    int32_t type;
    uint32_t id;
    uint8_t level;
};

// Records what happened at `track` (a level's handle; `level` its number).
// `arrival` (kTaken, kReceived) is the stamp the event got when it joined the
// queue (ArrivalStamp), 0 when it joined before the timeline started; then no
// slice is drawn. Never blocks: a record that finds this thread's buffer full
// is counted as lost. Allocates this thread's buffer on its first record.
void Record(Kind kind, const void *track, uint8_t level, const EventFacts &event, uint64_t value = 0,
            uint32_t arrival = 0);
// The stamp an event takes when it joins a queue: the timeline's clock in
// microseconds, modulo 2^32 and never 0. A stay longer than 71 minutes is
// drawn short by whole multiples of that.
uint32_t ArrivalStamp();
// Names `track` (level `level`) in the timeline by its component, e.g.
// "Loopback" or its module's path; null or "" for the host's level. Copies
// the name. Does nothing while no timeline is written. Forget drops the track when its
// level goes away, so that a handle at the same address is a new track.
void NameTrack(const void *track, uint8_t level, const char *component);
void ForgetTrack(const void *track);

// Records that level `level` links this process to a peer (named
// `peer`) in session `session`, whose timeline clock reads `offsetUs` more
// than this one's, within +-`errorUs`: what merges the two timelines. A
// metadata record; false (1025) while no timeline is written.
bool NoteLinkPeer(uint8_t level, const char *peer, uint64_t session, int64_t offsetUs, uint64_t errorUs);

// Starts writing the timeline into `path` (replacing the file) from a writer
// thread; false with 1028 (null or empty path), 1031 (the file cannot be
// made; its name is the argument: 1031) or 1025 (a timeline is being written
// already). Stop waits for the writer, writes everything recorded and closes
// the file; false when none was being written. Both serialise on one lock.
bool StartTimeline(const char *path);
bool StopTimeline();
// Reads ZERA_TRACE at library start; the timeline then ends at library end.
void StartTimelineFromEnvironment();
// Library end: stops the timeline and closes the debug output.
void Shutdown();

// ---- Within the subsystem -------------------------------------------------------

// Nanoseconds on a steady clock since the subsystem's first use.
uint64_t ClockNs();
// Turns every hook on for the timeline, or back to what logging needs.
void SetTimelineHooks(bool on);
// Turns logging off and closes ZERA_DEBUG_FILE's file (library end).
void CloseDebugOutput();

}  // namespace trace
}  // namespace zera

#endif  // ZERA_TRACE_TRACE_H
