// osal/shared_mem.cpp - named shared memory: the checks of the interface,
// the segment's full name (prefix, user, name) and the in-process side of
// the segment lock. The platform half maps the segment and holds the
// cross-process lock; it lets one thread of the process in at a time, so the
// threads of a process queue here first and the holder is known: a second
// lock by the holder is refused instead of hanging, and so is an unlock by
// another thread.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace {

struct SharedMem {
    OSAL_SharedMem pub;  // first: the interface's view (pvData)
    osal::Mapping mapping;
    osal::Lock lock;        // guards held and holder
    osal::Cond released;    // signalled when held goes false
    bool held = false;      // a thread of this process holds (or is taking) the segment lock
    osal::ThreadId holder = 0;  // that thread
    char *name = nullptr;   // the full name, which the mapping keeps using
};

SharedMem *FromHandle(OSAL_HSHMEM h) { return reinterpret_cast<SharedMem *>(h); }

// Longest name a caller may give; the full name adds the prefix and the user.
constexpr size_t kMaxName = 200;

// "<prefix><user>_<name>" on the heap, or null when memory runs out.
char *FullName(const char *name) {
    const char *prefix = std::getenv("VOQ_OSAL_SHM_PREFIX");
    if (!prefix) prefix = "";
    const char *user = osal::UserTag();
    size_t room = std::strlen(prefix) + std::strlen(user) + std::strlen(name) + 2;
    char *p = static_cast<char *>(osal::Alloc(room));
    if (p) std::snprintf(p, room, "%s%s_%s", prefix, user, name);
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
    void *block = osal::Alloc(sizeof(SharedMem));
    char *name = FullName(pszName);
    if (!block || !name) {
        osal::Free(block);
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
    s->pub.pvData = osal::MappingOpen(&s->mapping, s->name, dwSize, dwMode == OSAL_SHM_CREATE);
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
    osal::MappingClose(&s->mapping);
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
    osal::LockAcquire(&s->lock);
    if (s->held && s->holder == self) {
        osal::LockRelease(&s->lock);
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, "segment lock: already held by this thread");
        return 0;
    }
    while (s->held) osal::CondWaitUntil(&s->released, &s->lock, osal::kNever);
    s->held = true;
    s->holder = self;
    osal::LockRelease(&s->lock);
    // Other threads of this process now wait on `released`; the platform's
    // lock waits for other processes and other handles.
    if (!osal::MappingLock(&s->mapping)) {
        osal::LockAcquire(&s->lock);
        s->held = false;
        osal::CondSignal(&s->released);
        osal::LockRelease(&s->lock);
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
    osal::LockAcquire(&s->lock);
    if (!s->held || s->holder != osal::CurrentThread()) {
        // Releasing the platform's lock would free it under its real holder.
        osal::LockRelease(&s->lock);
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, "segment unlock: not held by this thread");
        return;
    }
    osal::MappingUnlock(&s->mapping);
    s->held = false;
    osal::CondSignal(&s->released);
    osal::LockRelease(&s->lock);
}

}  // extern "C"
