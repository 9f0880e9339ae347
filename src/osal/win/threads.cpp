// osal/win/threads.cpp - slim reader/writer locks, condition variables,
// thread ids, and the per-thread record pointer in a TLS slot; DllMain makes
// the slot when the layer is loaded, releases a thread's record when the
// thread ends and the slot when the layer is unloaded.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "osal/osal_internal.h"
#include "osal/platform.h"

static_assert(sizeof(SRWLOCK) == sizeof(osal::Lock), "a Lock holds an SRWLOCK");
static_assert(sizeof(CONDITION_VARIABLE) == sizeof(osal::Cond), "a Cond holds a CONDITION_VARIABLE");

namespace osal {

namespace {

DWORD g_recordSlot = TLS_OUT_OF_INDEXES;  // written by DllMain while no other thread runs the layer

SRWLOCK *Srw(Lock *lock) { return reinterpret_cast<SRWLOCK *>(&lock->srw); }
CONDITION_VARIABLE *Cv(Cond *cond) { return reinterpret_cast<CONDITION_VARIABLE *>(&cond->cv); }

void ReleaseThisThreadsRecord() {
    if (g_recordSlot == TLS_OUT_OF_INDEXES) return;
    void *record = TlsGetValue(g_recordSlot);
    TlsSetValue(g_recordSlot, nullptr);
    ReleaseThreadRecord(record);
}

}  // namespace

bool LockInit(Lock *lock) {  // an SRW lock spins a little by itself
    InitializeSRWLock(Srw(lock));
    return true;
}

void LockDestroy(Lock *) {}  // an SRW lock holds nothing of the system's
void LockAcquire(Lock *lock) {
    AcquireSRWLockExclusive(Srw(lock));  // cannot fail
    if (TestLockFails()) SystemCallFailed("AcquireSRWLockExclusive", ERROR_INVALID_HANDLE);
}
void LockRelease(Lock *lock) { ReleaseSRWLockExclusive(Srw(lock)); }

bool CondInit(Cond *cond) {
    InitializeConditionVariable(Cv(cond));
    return true;
}

void CondDestroy(Cond *) {}
void CondBroadcast(Cond *cond) { WakeAllConditionVariable(Cv(cond)); }
void CondSignal(Cond *cond) { WakeConditionVariable(Cv(cond)); }

void CondWaitUntil(Cond *cond, Lock *lock, int64_t realDeadline) {
    DWORD millis = INFINITE;
    if (realDeadline != kNever) {
        // Rounded up, so that a wait does not end just before its deadline
        // and spin; the caller bounds it far below 2^32 ms.
        const int64_t left = realDeadline - WallClockMicros();
        millis = left <= 0 ? 0 : static_cast<DWORD>((left + 999) / 1000);
        if (millis == INFINITE) --millis;
    }
    // Fails only on a timeout, or on a lock the caller does not hold.
    if (!SleepConditionVariableSRW(Cv(cond), Srw(lock), millis, 0) && GetLastError() != ERROR_TIMEOUT)
        SystemCallFailed("SleepConditionVariableSRW", LastSystemError());
}

ThreadId CurrentThread() { return static_cast<ThreadId>(GetCurrentThreadId()); }

void *ThreadRecord() { return g_recordSlot == TLS_OUT_OF_INDEXES ? nullptr : TlsGetValue(g_recordSlot); }

bool SetThreadRecord(void *record) {
    return g_recordSlot != TLS_OUT_OF_INDEXES && TlsSetValue(g_recordSlot, record) != 0;
}

}  // namespace osal

// The loader's notifications: what the ELF constructor and destructor do on
// the POSIX side, plus the end of each thread, which the POSIX half learns
// from a thread key instead. The DLL always reports success; without a slot
// errors fall back to a code without record (errors.cpp).
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            osal::g_recordSlot = TlsAlloc();
            break;
        case DLL_THREAD_DETACH:
            osal::ReleaseThisThreadsRecord();
            break;
        case DLL_PROCESS_DETACH:
            // The records of threads still running are left to the system
            // when the process ends; this thread's goes now.
            osal::ReleaseThisThreadsRecord();
            if (osal::g_recordSlot != TLS_OUT_OF_INDEXES) TlsFree(osal::g_recordSlot);
            osal::g_recordSlot = TLS_OUT_OF_INDEXES;
            break;
        default:
            break;
    }
    return TRUE;
}
