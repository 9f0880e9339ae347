// osal/shared_mem.cpp - named shared memory: the checks of the interface,
// the segment's full name (prefix, user, name), the in-process side of the
// segment lock and the segments' passage through fork. The platform half
// maps the segment and holds the cross-process lock; it lets one thread of
// the process in at a time, so the threads of a process queue here first
// and the holder is known: a second lock by the holder is refused instead of
// hanging, and so is an unlock by another thread.
//
// Lock order: common/lock_order.h.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "osal/held_locks.h"
#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace {

struct SharedMem {
    OSAL_SharedMem pub;  // first: the interface's view (pvData)
    osal::Mapping mapping;       // its lock taken by the holder; the rest guarded by g_segmentsLock
    osal::Lock lock;             // guards held and holder
    osal::Cond released;         // signalled when held goes false
    bool held = false;           // a thread of this process holds (or is taking) the segment lock
    osal::ThreadId holder = 0;   // that thread
    char *name = nullptr;        // the full name, which the mapping keeps using
    SharedMem *next = nullptr;   // registry link; guarded by g_segmentsLock
};

SharedMem *FromHandle(OSAL_HSHMEM h) { return reinterpret_cast<SharedMem *>(h); }

// Every open segment, for the passage through fork. Opens and closes hold
// the lock throughout, so a fork never copies a handle half made or half
// closed.
osal::Lock g_segmentsLock = OSAL_LOCK_INITIALIZER;  // guards g_segments, the links and g_watchingForks
SharedMem *g_segments = nullptr;
bool g_watchingForks = false;

// Before a fork: no segment changes hands until it is done, and each gets
// the child's own locks ready.
void PrepareFork() {
    osal::AcquireTracked(&g_segmentsLock, osal::LockRank::kSegments);
    for (SharedMem *s = g_segments; s; s = s->next) {
        osal::AcquireTracked(&s->lock, osal::LockRank::kSegment);
        osal::MappingPrepareFork(&s->mapping);
    }
}

void ResumeParent() {
    for (SharedMem *s = g_segments; s; s = s->next) {
        osal::MappingAfterFork(&s->mapping, false);
        osal::ReleaseTracked(&s->lock);
    }
    osal::ReleaseTracked(&g_segmentsLock);
}

// The child has this thread only: whatever thread held or waited for a
// segment lock was the parent's, and the lock the child takes over is free.
void StartChild() {
    for (SharedMem *s = g_segments; s; s = s->next) {
        osal::MappingAfterFork(&s->mapping, true);
        s->held = false;
        s->holder = 0;
        osal::CondInit(&s->released);  // anew: its waiters stayed in the parent
        osal::ReleaseTracked(&s->lock);
    }
    osal::ReleaseTracked(&g_segmentsLock);
}

// Longest name a caller may give, and longest full name (with the prefix
// and the user), which leaves the halves room for a suffix of their own in
// a file or object name.
constexpr size_t kMaxName = 200;
constexpr size_t kMaxFullName = 240;

// "<prefix><user>_<name>" on the heap; null with the code stored when memory
// runs out (1026) or it is too long (1028).
char *FullName(const char *name) {
    const char *prefix = std::getenv("VOQ_OSAL_SHM_PREFIX");
    if (!prefix) prefix = "";
    const char *user = osal::UserTag();
    size_t room = std::strlen(prefix) + std::strlen(user) + std::strlen(name) + 2;
    if (room - 1 > kMaxFullName) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, "segment name with VOQ_OSAL_SHM_PREFIX too long");
        return nullptr;
    }
    char *p = static_cast<char *>(osal::Alloc(room));
    if (p) std::snprintf(p, room, "%s%s_%s", prefix, user, name);
    if (!p) OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
    return p;
}

void Release(SharedMem *s) {
    osal::Free(s->name);
    s->~SharedMem();
    osal::Free(s);
}

}  // namespace

extern "C" {

OSAL_API OSAL_HSHMEM OSAL_CALL OSAL_hSharedMemOpen(uint32_t dwSize, const char *pszName, uint32_t dwMode) {
    if (!pszName || !*pszName || std::strpbrk(pszName, "/\\") || std::strlen(pszName) > kMaxName ||
        (dwMode != OSAL_SHM_OPEN && dwMode != OSAL_SHM_CREATE)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    if (dwSize == 0) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_SIZE);
        return nullptr;
    }
    char *name = FullName(pszName);
    if (!name) return nullptr;
    void *block = osal::Alloc(sizeof(SharedMem));
    if (!block) {
        osal::Free(name);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    auto *s = new (block) SharedMem();
    s->name = name;
    bool made = osal::LockInit(&s->lock);
    if (made && !osal::CondInit(&s->released)) {
        osal::LockDestroy(&s->lock);
        made = false;
    }
    if (!made) {
        Release(s);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    osal::AcquireTracked(&g_segmentsLock, osal::LockRank::kSegments);
    if (!g_watchingForks) osal::WatchForks(PrepareFork, ResumeParent, StartChild);
    g_watchingForks = true;
    s->pub.pvData = osal::MappingOpen(&s->mapping, s->name, dwSize, dwMode == OSAL_SHM_CREATE);
    if (s->pub.pvData) {
        s->next = g_segments;
        g_segments = s;
    }
    osal::ReleaseTracked(&g_segmentsLock);
    if (!s->pub.pvData) {
        osal::CondDestroy(&s->released);
        osal::LockDestroy(&s->lock);
        Release(s);
        return nullptr;
    }
    return &s->pub;
}

OSAL_API void OSAL_CALL OSAL_vSharedMemClose(OSAL_HSHMEM hShm) {
    if (!hShm) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    SharedMem *s = FromHandle(hShm);
    osal::AcquireTracked(&g_segmentsLock, osal::LockRank::kSegments);
    SharedMem **link = &g_segments;
    while (*link && *link != s) link = &(*link)->next;
    if (!*link) {  // closed already, or never opened: refused, not used
        osal::ReleaseTracked(&g_segmentsLock);
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    *link = s->next;
    osal::AcquireTracked(&s->lock, osal::LockRank::kSegment);
    // A lock of the closing thread goes with the handle. (One of another
    // thread does too on POSIX; on Windows it goes when that thread ends.)
    if (s->held && s->holder == osal::CurrentThread()) osal::MappingUnlock(&s->mapping);
    osal::ReleaseTracked(&s->lock);
    osal::MappingClose(&s->mapping);
    osal::ReleaseTracked(&g_segmentsLock);
    osal::CondDestroy(&s->released);
    osal::LockDestroy(&s->lock);
    Release(s);
}

OSAL_API BOOL8 OSAL_CALL OSAL_boSharedMemLock(OSAL_HSHMEM hShm) {
    if (!hShm) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    SharedMem *s = FromHandle(hShm);
    const osal::ThreadId self = osal::CurrentThread();
    osal::AcquireTracked(&s->lock, osal::LockRank::kSegment);
    if (s->held && s->holder == self) {
        osal::ReleaseTracked(&s->lock);
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, "segment lock: already held by this thread");
        return 0;
    }
    while (s->held) osal::CondWaitUntil(&s->released, &s->lock, osal::kNever);
    s->held = true;
    s->holder = self;
    osal::ReleaseTracked(&s->lock);
    // Other threads of this process now wait on `released`; the platform's
    // lock waits for other processes and other handles.
    if (!osal::MappingLock(&s->mapping)) {
        osal::AcquireTracked(&s->lock, osal::LockRank::kSegment);
        s->held = false;
        osal::CondSignal(&s->released);
        osal::ReleaseTracked(&s->lock);
        return 0;
    }
    return 1;
}

OSAL_API void OSAL_CALL OSAL_vSharedMemUnlock(OSAL_HSHMEM hShm) {
    if (!hShm) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    SharedMem *s = FromHandle(hShm);
    osal::AcquireTracked(&s->lock, osal::LockRank::kSegment);
    if (!s->held || s->holder != osal::CurrentThread()) {
        // Releasing the platform's lock would free it under its real holder.
        osal::ReleaseTracked(&s->lock);
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, "segment unlock: not held by this thread");
        return;
    }
    osal::MappingUnlock(&s->mapping);
    s->held = false;
    osal::CondSignal(&s->released);
    osal::ReleaseTracked(&s->lock);
}

}  // extern "C"
