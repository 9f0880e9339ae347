// osal/mutex.cpp - recursive in-process locks: the platform's plain lock
// with the holder and the depth kept here.
#include <atomic>
#include <new>

#include "osal/osal_internal.h"
#include "osal/platform.h"

struct OSAL_Mutex {
    osal::Lock lock;  // guards whatever the mutex's user says, and depth
    // The holder, so that an unlock by another thread is refused before it
    // reaches the lock, and so that the holder may lock again. Written only
    // by the holder while it holds `lock`, so a thread that reads its own id
    // here needs no ordering to trust it (relaxed: no fence beyond the
    // lock's own on every lock and unlock).
    std::atomic<osal::ThreadId> owner{0};
    uint32_t depth = 0;  // guarded by lock
};

extern "C" {

OSAL_API OSAL_HMUTEX OSAL_CALL OSAL_hMutexCreate(void) {
    void *block = osal::AllocZeroLines(sizeof(OSAL_Mutex));
    if (!block) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    auto *m = new (block) OSAL_Mutex();
    // No spinning: these guard identifier draws and statistics, which
    // several threads take per event; a contender that sleeps at once lets
    // the holder take the lock again and again on its own processor.
    if (!osal::LockInit(&m->lock, false)) {
        m->~OSAL_Mutex();
        osal::FreeLines(m);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    return m;
}

OSAL_API void OSAL_CALL OSAL_vMutexDelete(OSAL_HMUTEX hMutex) {
    if (!hMutex) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    osal::LockDestroy(&hMutex->lock);
    hMutex->~OSAL_Mutex();
    osal::FreeLines(hMutex);
}

OSAL_API BOOL8 OSAL_CALL OSAL_boMutexLock(OSAL_HMUTEX hMutex) {
    if (!hMutex) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    const osal::ThreadId self = osal::CurrentThread();
    if (hMutex->owner.load(std::memory_order_relaxed) == self) {
        ++hMutex->depth;
        return 1;
    }
    osal::LockAcquire(&hMutex->lock);
    hMutex->owner.store(self, std::memory_order_relaxed);
    hMutex->depth = 1;
    return 1;
}

OSAL_API void OSAL_CALL OSAL_vMutexUnlock(OSAL_HMUTEX hMutex) {
    if (!hMutex) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    if (hMutex->owner.load(std::memory_order_relaxed) != osal::CurrentThread()) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, "mutex unlock: not held by this thread");
        return;
    }
    if (--hMutex->depth > 0) return;
    hMutex->owner.store(0, std::memory_order_relaxed);
    osal::LockRelease(&hMutex->lock);
}

}  // extern "C"
