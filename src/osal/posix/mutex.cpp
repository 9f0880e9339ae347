// osal/posix/mutex.cpp - recursive in-process locks on pthread mutexes.
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <new>
#include <thread>

#include "osal/osal_internal.h"

struct OSAL_Mutex {
    pthread_mutex_t mutex;  // recursive; guards whatever its user says
    // The holder, so that an unlock by another thread is refused before it
    // reaches pthread. Written only by the holder while it holds `mutex`, so
    // a thread that reads its own id here needs no ordering to trust it
    // (relaxed: no fence beyond the mutex's own on every lock and unlock).
    std::atomic<std::thread::id> owner;
    uint32_t depth;  // guarded by mutex
};

extern "C" {

OSAL_API OSAL_HMUTEX OSAL_CALL OSAL_hMutexCreate(void) {
    void *block = osal::AllocZeroLines(sizeof(OSAL_Mutex));
    if (!block) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    auto *m = new (block) OSAL_Mutex();
    m->depth = 0;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    int rc = pthread_mutex_init(&m->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        m->~OSAL_Mutex();
        osal::FreeLines(m);
        osal::SetErrorFromErrno(rc == ENOMEM ? OSAL_ERR_NO_MEMORY : OSAL_ERR_SYSTEM, "pthread_mutex_init", rc);
        return nullptr;
    }
    return m;
}

OSAL_API void OSAL_CALL OSAL_vMutexDelete(OSAL_HMUTEX hMutex) {
    if (!hMutex) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    pthread_mutex_destroy(&hMutex->mutex);
    hMutex->~OSAL_Mutex();
    osal::FreeLines(hMutex);
}

OSAL_API BOOL8 OSAL_CALL OSAL_boMutexLock(OSAL_HMUTEX hMutex) {
    if (!hMutex) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    int rc = pthread_mutex_lock(&hMutex->mutex);
    if (rc != 0) {
        osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, "pthread_mutex_lock", rc);
        return 0;
    }
    if (hMutex->depth++ == 0) hMutex->owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    return 1;
}

OSAL_API void OSAL_CALL OSAL_vMutexUnlock(OSAL_HMUTEX hMutex) {
    if (!hMutex) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    if (hMutex->owner.load(std::memory_order_relaxed) != std::this_thread::get_id()) {
        osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, "mutex unlock", EPERM);
        return;
    }
    if (--hMutex->depth == 0) hMutex->owner.store(std::thread::id(), std::memory_order_relaxed);
    pthread_mutex_unlock(&hMutex->mutex);
}

}  // extern "C"
