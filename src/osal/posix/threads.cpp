// osal/posix/threads.cpp - locks and condition variables on pthreads (the
// thread id is inline in posix/platform_types.h; waits on a word are the
// system's own, in linux/word_wait.cpp), and the per-thread record pointer
// with its release at thread end (a thread key's destructor, made when the
// layer is loaded).
#include <pthread.h>

#include <cerrno>
#include <ctime>

#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace osal {

namespace {

// The record pointer is read through a thread-local variable (cheap, and a
// root that leak checkers see); the key only serves its destructor.
thread_local void *t_record = nullptr;
pthread_key_t g_recordKey;
pthread_once_t g_recordKeyOnce = PTHREAD_ONCE_INIT;
bool g_recordKeyMade = false;  // written once under g_recordKeyOnce

// At thread end, after the thread's own destructors have run.
void ReleaseAtThreadEnd(void *record) {
    t_record = nullptr;  // a later store in this thread makes a new one
    ReleaseThreadRecord(record);
}

void MakeRecordKey() { g_recordKeyMade = pthread_key_create(&g_recordKey, ReleaseAtThreadEnd) == 0; }

__attribute__((constructor)) void MakeRecordKeyAtLoad() { pthread_once(&g_recordKeyOnce, MakeRecordKey); }

__attribute__((destructor)) void DeleteRecordKeyAtUnload() {
    // The threads that remain keep their records; this thread's goes now.
    if (g_recordKeyMade) pthread_key_delete(g_recordKey);
    g_recordKeyMade = false;
    ReleaseThreadRecord(t_record);
    t_record = nullptr;
}

}  // namespace

bool LockInit(Lock *lock) {
#if defined(PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP)
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
    const int rc = pthread_mutex_init(&lock->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    return rc == 0;
#else
    return pthread_mutex_init(&lock->mutex, nullptr) == 0;
#endif
}

void LockDestroy(Lock *lock) { pthread_mutex_destroy(&lock->mutex); }

// The calls below fail only on a lock or condition that is not what the
// caller says (never made, freed, not held): a broken program.
void LockAcquire(Lock *lock) {
    const int rc = pthread_mutex_lock(&lock->mutex);
    if (rc != 0 || TestLockFails()) SystemCallFailed("pthread_mutex_lock", rc != 0 ? rc : EINVAL);
}

void LockRelease(Lock *lock) {
    if (const int rc = pthread_mutex_unlock(&lock->mutex)) SystemCallFailed("pthread_mutex_unlock", rc);
}

bool CondInit(Cond *cond) { return pthread_cond_init(&cond->cond, nullptr) == 0; }  // CLOCK_REALTIME
void CondDestroy(Cond *cond) { pthread_cond_destroy(&cond->cond); }
void CondBroadcast(Cond *cond) {
    if (const int rc = pthread_cond_broadcast(&cond->cond)) SystemCallFailed("pthread_cond_broadcast", rc);
}

void CondSignal(Cond *cond) {
    if (const int rc = pthread_cond_signal(&cond->cond)) SystemCallFailed("pthread_cond_signal", rc);
}

void CondWaitUntil(Cond *cond, Lock *lock, int64_t realDeadline) {
    if (realDeadline == kNever) {
        if (const int rc = pthread_cond_wait(&cond->cond, &lock->mutex)) SystemCallFailed("pthread_cond_wait", rc);
        return;
    }
    if (realDeadline < 0) realDeadline = 0;
    timespec ts;
    ts.tv_sec = static_cast<time_t>(realDeadline / kMicrosPerSecond);
    ts.tv_nsec = static_cast<long>(realDeadline % kMicrosPerSecond) * 1000;
    const int rc = pthread_cond_timedwait(&cond->cond, &lock->mutex, &ts);
    if (rc != 0 && rc != ETIMEDOUT) SystemCallFailed("pthread_cond_timedwait", rc);
}

void *ThreadRecord() { return t_record; }

bool SetThreadRecord(void *record) {
    pthread_once(&g_recordKeyOnce, MakeRecordKey);
    if (!g_recordKeyMade || pthread_setspecific(g_recordKey, record) != 0) return false;
    t_record = record;
    return true;
}

}  // namespace osal
