/*
 * trace/timeline_buffers.h - the timeline's per-thread record buffers: one
 * single-producer list of chunks per thread that ever records, linked into
 * a list that only grows, and the draining thread's cursor over one. A
 * thread's buffer outlives the thread (a thread variable with a destructor
 * is not dependable in a Windows DLL) and goes with the library. A burst
 * faster than the writer grows the thread's buffer by a chunk (an
 * allocation every kChunkEntries records) up to a bound for the process;
 * past it a record is lost and counted.
 *
 * Internal: included by src/trace's timeline files only.
 */
#ifndef ZERA_TRACE_TIMELINE_BUFFERS_H
#define ZERA_TRACE_TIMELINE_BUFFERS_H

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zera {
namespace trace {

// A thread's buffer grows by chunks of this many records (48 bytes each)
// while the writer is behind, up to kMaxBufferedBytes for all threads
// together; the writer frees each chunk it has written.
constexpr uint32_t kChunkEntries = 4096;
constexpr size_t kMaxBufferedBytes = sizeof(void *) == 4 ? (64u << 20) : (256u << 20);

// What a buffer holds besides the hooks' kinds.
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

struct Chunk {
    std::atomic<uint32_t> count{0};       // entries written; by the owning thread only
    std::atomic<Chunk *> next{nullptr};   // set by the owning thread when this one is full
    Entry entries[kChunkEntries];
};

// One thread's records: a list of chunks, written at its tail by the
// thread and read from its head by the writer, so that neither waits.
struct Ring {
    std::atomic<Chunk *> tail{nullptr};  // written by the owning thread only
    Chunk *head = nullptr;               // the draining thread's
    uint32_t read = 0;                   // the draining thread's: entries of head written out
    std::atomic<uint64_t> lost{0};
    Ring *next = nullptr;
};

// Every thread's ring, newest first; grows only, until FreeBuffers.
extern std::atomic<Ring *> g_rings;

// Appends to the calling thread's buffer (made at its first record); false
// when the record was lost (no memory, or the bound was reached).
bool Push(const Entry &entry);

// Gives a chunk the writer has read back, uncounting it.
void FreeChunk(Chunk *chunk);

// Frees every buffer, at library end when no thread records any more.
void FreeBuffers();

// The draining thread's place in a ring: what it may read now.
struct Cursor {
    Ring *ring;
    Chunk *end;       // the ring's tail when the drain began
    uint32_t endCount;  // and its count then
    bool AtEnd() const { return ring->head == end && ring->read >= endCount; }
    const Entry &Peek() const { return ring->head->entries[ring->read]; }
    void Advance() {
        ++ring->read;
        Settle();
    }
    // Past a chunk read to its end, which is freed, when the thread went on to another.
    void Settle() {
        while (ring->read == kChunkEntries && ring->head != end) {
            Chunk *done = ring->head;
            ring->head = done->next.load(std::memory_order_acquire);
            ring->read = 0;
            FreeChunk(done);
        }
    }
};

// A cursor over what `ring` holds now.
Cursor CursorOf(Ring *ring);

}  // namespace trace
}  // namespace zera

#endif  // ZERA_TRACE_TIMELINE_BUFFERS_H
