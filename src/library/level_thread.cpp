// library/level_thread.cpp - the component kit's level thread
// (ZERA_Component.h): a component's worker thread with its break flag and
// break mutex, started by the level's start export and stopped, through the
// breaks of the send and receive waits, by its stop export.
//
// The stop protocol lives here once, so that no component can get it
// wrong: the flag is read and set under the break mutex only, a stop breaks
// both kinds of wait (the loop may use either), and the loop's receives are
// made known to the receive queue before the loop first looks at the flag,
// so a stop that comes before its first receive still ends it. A call on
// the level thread itself is told apart by a thread-local mark set around
// the loop: it can neither join itself nor wait for the lock that a stop
// from another thread holds while it joins.
#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "ZERA_Component.h"
#include "common/common.h"
#include "common/platform_locks.h"

struct ZERA_LevelThread {
    static constexpr uint32_t kMagic = 0x4c564c54u;
    uint32_t magic = kMagic;  // cleared when the record goes
    StackHandle *h = nullptr;
    OSAL_HMUTEX breakMutex = nullptr;  // guards stop
    BOOL8 stop = 0;                    // the break flag of the loop's waits
    // Guards thread, loop and context (start, stop and delete).
    zera::Ranked<zera::LockRank::kLevelThread, std::mutex> life;
    std::thread thread;                // joinable from a start until the stop that joins it
    std::atomic<bool> started{false};  // written under life; read by the loop's own calls too
    ZERA_PFN_LEVEL_LOOP loop = nullptr;
    void *context = nullptr;
};

namespace {

// The level thread whose loop runs on this thread, or null.
thread_local ZERA_LevelThread *t_running = nullptr;

// The record, when hThread is one; else null with 1027.
ZERA_LevelThread *Checked(ZERA_HLEVELTHREAD hThread) {
    if (hThread == nullptr || hThread->magic != ZERA_LevelThread::kMagic) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_HANDLE, OSAL_ARG_STRING, "no level thread");
        return nullptr;
    }
    return hThread;
}

// 1025 with what refused, as a text.
bool Refuse(const char *what) {
    OSAL_vSetLastErrorArgs(OSAL_ERR_NOT_AVAILABLE, OSAL_ARG_STRING, what);
    return false;
}

bool StopAsked(ZERA_LevelThread *t) {
    zera::MutexHold hold(t->breakMutex, zera::LockRank::kBreakMutex);
    return t->stop != 0;
}

// How long a loop's take or receive pauses before it tries again after its
// wait could not be set up: short, so that a stop still ends it at once.
constexpr std::chrono::milliseconds kNoMemoryPause{2};

// After a take or receive that returned null: whether it failed for want of
// memory (1026, e.g. for the wait's record) while no stop is asked. Then it
// has paused and the caller tries again (the try looks at the flag first),
// so that a moment without memory does not end the loop.
bool PausedForMemory(ZERA_LevelThread *t) {
    if (OSAL_dwGetLastError() != OSAL_ERR_NO_MEMORY || StopAsked(t)) return false;
    std::this_thread::sleep_for(kNoMemoryPause);
    return true;
}

// Sets the flag and ends both kinds of wait. The send break sets the flag
// even on the top level, whose receive break finds no queue to break.
void Break(ZERA_LevelThread *t) {
    ZERA_vBreakSendEventWait(t->h, &t->stop, t->breakMutex);
    ZERA_vBreakRecvEventWait(t->h, &t->stop, t->breakMutex);
}

void RunLoop(ZERA_LevelThread *t) {
    t_running = t;
    // A receive that finds nothing makes this thread known to the queue:
    // every break after it ends this thread's next receive wait. (No queue
    // above the top level: the code of that look is not the loop's.)
    const uint32_t none = 0;
    ZERA_boWaitEvent(t->h, none, none, &OSAL_stTimeNoWait);
    OSAL_vSetLastError(OSAL_ERR_NONE);
    t->loop(t, t->context);
    t_running = nullptr;
}

// Joins the thread; the caller holds t->life.
void StopAndJoin(ZERA_LevelThread *t) {
    ZERA_ASSERT(t->started == t->thread.joinable());
    if (!t->thread.joinable()) return;
    Break(t);
    t->thread.join();
    t->started = false;
}

}  // namespace

extern "C" {

ZERA_API ZERA_HLEVELTHREAD ZERA_CALL ZERA_hLevelThreadCreate(StackHandle *h) {
    if (h == nullptr) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, "a level thread needs its level");
        return nullptr;
    }
    ZERA_LevelThread *t = zera::MayAllocate() ? new (std::nothrow) ZERA_LevelThread : nullptr;
    if (t == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    t->h = h;
    t->breakMutex = OSAL_hMutexCreate();
    if (t->breakMutex == nullptr) {
        delete t;
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    return t;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boLevelThreadDelete(ZERA_HLEVELTHREAD hThread) {
    if (hThread == nullptr) return 1;
    ZERA_LevelThread *t = Checked(hThread);
    if (t == nullptr) return 0;
    if (t_running == t) return Refuse("a level thread cannot delete itself");
    {
        std::lock_guard<decltype(t->life)> hold(t->life);
        StopAndJoin(t);
    }
    OSAL_vMutexDelete(t->breakMutex);
    t->magic = 0;
    delete t;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boLevelThreadStart(ZERA_HLEVELTHREAD hThread, ZERA_PFN_LEVEL_LOOP pfnLoop,
                                                void *pvContext) {
    ZERA_LevelThread *t = Checked(hThread);
    if (t == nullptr) return 0;
    if (pfnLoop == nullptr) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, "a level thread needs a loop");
        return 0;
    }
    if (t_running == t) return Refuse("a level thread cannot start itself");
    std::lock_guard<decltype(t->life)> hold(t->life);
    if (t->thread.joinable()) return Refuse("the level thread runs already: stop it first");
    if (!zera::MayAllocate()) {  // the thread's own record
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return 0;
    }
    BOOL8 stopBefore = 0;
    {
        zera::MutexHold hold(t->breakMutex, zera::LockRank::kBreakMutex);
        stopBefore = t->stop;
        t->stop = 0;
    }
    t->loop = pfnLoop;
    t->context = pvContext;
    try {
        t->thread = std::thread(RunLoop, t);
    } catch (const std::system_error &) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, "the level thread cannot start");
    } catch (...) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
    }
    if (!t->thread.joinable()) {
        zera::MutexHold hold(t->breakMutex, zera::LockRank::kBreakMutex);
        t->stop = stopBefore;
        return 0;
    }
    t->started = true;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boLevelThreadStop(ZERA_HLEVELTHREAD hThread) {
    if (hThread == nullptr) return 1;
    ZERA_LevelThread *t = Checked(hThread);
    if (t == nullptr) return 0;
    if (t_running == t) {
        Break(t);
        return Refuse("a level thread cannot wait for its own end: the next stop joins it");
    }
    std::lock_guard<decltype(t->life)> hold(t->life);
    StopAndJoin(t);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boLevelThreadStarted(ZERA_HLEVELTHREAD hThread) {
    ZERA_LevelThread *t = Checked(hThread);
    return t != nullptr && t->started ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boLevelThreadStopAsked(ZERA_HLEVELTHREAD hThread) {
    ZERA_LevelThread *t = Checked(hThread);
    return t != nullptr && StopAsked(t) ? 1 : 0;
}

ZERA_API Event *ZERA_CALL ZERA_pstLevelThreadNextSendEvent(ZERA_HLEVELTHREAD hThread, const TimeVal *pstLead) {
    ZERA_LevelThread *t = Checked(hThread);
    if (t == nullptr) return nullptr;
    for (;;) {
        Event *ev = ZERA_pstGetNextSendEvent(t->h, pstLead, &t->stop, t->breakMutex);
        if (ev != nullptr || !PausedForMemory(t)) return ev;
    }
}

ZERA_API Event *ZERA_CALL ZERA_pstLevelThreadReceiveEvent(ZERA_HLEVELTHREAD hThread, uint32_t dwLevelMask,
                                                         uint32_t dwTypeMask, const TimeVal *pstTimeout) {
    ZERA_LevelThread *t = Checked(hThread);
    if (t == nullptr) return nullptr;
    if (pstTimeout == nullptr) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, "no time-out");
        return nullptr;
    }
    const bool endless = pstTimeout->dwMicroseconds == OSAL_stTimeInfinite.dwMicroseconds &&
                         pstTimeout->i32Seconds == OSAL_stTimeInfinite.i32Seconds;
    for (;;) {
        // The flag first: a break between this look and the wait ends the
        // wait (the queue knows this thread since the loop began).
        if (StopAsked(t)) return nullptr;
        OSAL_vSetLastError(OSAL_ERR_NONE);
        if (Event *ev = ZERA_pstReceiveEvent(t->h, dwLevelMask, dwTypeMask, pstTimeout)) return ev;
        if (!endless || (OSAL_dwGetLastError() != OSAL_ERR_NONE && !PausedForMemory(t))) return nullptr;
    }
}

}  // extern "C"
