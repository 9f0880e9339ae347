// trace/timeline_buffers.cpp - the timeline's per-thread record buffers
// (see timeline_buffers.h): filled by the stack's threads without a wait,
// drained by the timeline's writer.
#include "trace/timeline_buffers.h"

#include <new>

namespace zera {
namespace trace {

std::atomic<Ring *> g_rings{nullptr};

namespace {

std::atomic<size_t> g_buffered{0};  // bytes of chunks allocated and not yet freed
thread_local Ring *t_ring = nullptr;

// A new chunk, counted against the bound; null when memory or the bound ran out.
Chunk *NewChunk() {
    if (g_buffered.fetch_add(sizeof(Chunk), std::memory_order_relaxed) + sizeof(Chunk) > kMaxBufferedBytes) {
        g_buffered.fetch_sub(sizeof(Chunk), std::memory_order_relaxed);
        return nullptr;
    }
    Chunk *chunk = new (std::nothrow) Chunk;
    if (chunk == nullptr) g_buffered.fetch_sub(sizeof(Chunk), std::memory_order_relaxed);
    return chunk;
}

}  // namespace

void FreeChunk(Chunk *chunk) {
    delete chunk;
    g_buffered.fetch_sub(sizeof(Chunk), std::memory_order_relaxed);
}

Ring *ThisThreadsRing() {
    if (t_ring != nullptr) return t_ring;
    Ring *ring = new (std::nothrow) Ring;
    if (ring == nullptr) return nullptr;
    Chunk *first = NewChunk();
    if (first == nullptr) {
        delete ring;
        return nullptr;
    }
    ring->head = first;
    ring->tail.store(first, std::memory_order_relaxed);
    ring->next = g_rings.load(std::memory_order_relaxed);
    while (!g_rings.compare_exchange_weak(ring->next, ring, std::memory_order_release, std::memory_order_relaxed)) {
    }
    t_ring = ring;
    return ring;
}

bool Push(const Entry &entry) {
    Ring *ring = ThisThreadsRing();
    if (ring == nullptr) return false;
    Chunk *chunk = ring->tail.load(std::memory_order_relaxed);
    uint32_t n = chunk->count.load(std::memory_order_relaxed);
    if (n == kChunkEntries) {
        Chunk *more = NewChunk();
        if (more == nullptr) {
            ring->lost.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        chunk->next.store(more, std::memory_order_release);
        ring->tail.store(more, std::memory_order_release);
        chunk = more;
        n = 0;
    }
    chunk->entries[n] = entry;
    chunk->count.store(n + 1, std::memory_order_release);
    return true;
}

Cursor CursorOf(Ring *ring) {
    Chunk *end = ring->tail.load(std::memory_order_acquire);
    Cursor c{ring, end, end->count.load(std::memory_order_acquire)};
    c.Settle();
    return c;
}

void FreeBuffers() {
    Ring *ring = g_rings.exchange(nullptr);
    while (ring != nullptr) {
        Ring *next = ring->next;
        for (Chunk *chunk = ring->head; chunk != nullptr;) {
            Chunk *after = chunk->next.load(std::memory_order_relaxed);
            FreeChunk(chunk);
            chunk = after;
        }
        delete ring;
        ring = next;
    }
}

}  // namespace trace
}  // namespace zera
