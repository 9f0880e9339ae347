// sample_level.h - what the sample components share: a level's record with
// the one thread that serves it, starting and stopping that thread with the
// break protocol, and the module exports every sample has (parameters,
// init, deinit, notification, thread start and stop). Copy it with the
// sample you start from.
//
// A sample defines, in its own file: a record type derived from
// sample::Level, and the functions DeclareParams(ZERA_PARAM_LIST *) (with
// the kit's ZERA_DECLARE_ helpers), Notify(StackHandle *),
// Start(StackHandle *) and Stop(Record *); then ZERA_SAMPLE_EXPORTS(Record)
// defines the exports that call them.
#ifndef ZERA_SAMPLE_LEVEL_H
#define ZERA_SAMPLE_LEVEL_H

#include <new>
#include <thread>

#include "ZERA_Component.h"

namespace sample {

// What a sample keeps per level (one module may serve several levels).
struct Level {
    StackHandle *h = nullptr;
    OSAL_HMUTEX breakMutex = nullptr;  // guards stop
    BOOL8 stop = 0;
    std::thread thread;
};

template <typename Record>
Record *Of(StackHandle *h) {
    return static_cast<Record *>(h->pvLevelContext);
}

inline bool StopAsked(Level *l) {
    OSAL_boMutexLock(l->breakMutex);
    const bool stop = l->stop != 0;
    OSAL_vMutexUnlock(l->breakMutex);
    return stop;
}

// Clears the stop flag and runs run(l) on the level's thread; false when the
// thread runs already or cannot be started.
template <typename Record>
BOOL8 StartThread(Record *l, void (*run)(Record *)) {
    if (l->thread.joinable()) return 0;
    OSAL_boMutexLock(l->breakMutex);
    l->stop = 0;
    OSAL_vMutexUnlock(l->breakMutex);
    try {
        l->thread = std::thread(run, l);
    } catch (...) {
        return 0;
    }
    return 1;
}

// Sets the stop flag and ends the thread's wait with breakWait
// (ZERA_vBreakRecvEventWait or ZERA_vBreakSendEventWait), then joins it.
template <typename BreakWait>
void StopThread(Level *l, BreakWait breakWait) {
    if (!l->thread.joinable()) return;
    breakWait(l->h, &l->stop, l->breakMutex);
    l->thread.join();
}

// The level's parameter of that name, in the level's width; null if none.
inline Param *Find(StackHandle *h, const char *name, const WCHAR16 *wideName) {
    return h->boWide ? ZERA_pastFindParamW(h->pstStackParams, wideName) : ZERA_pastFindParamA(h->pstStackParams, name);
}

// The record of a new level, with its break mutex, as the level's context.
template <typename Record>
BOOL8 Init(StackHandle *h) {
    auto *l = new (std::nothrow) Record;
    if (l == nullptr) return 0;
    l->h = h;
    l->breakMutex = OSAL_hMutexCreate();
    if (l->breakMutex == nullptr) {
        delete l;
        return 0;
    }
    h->pvLevelContext = l;
    return 1;
}

// Releases the record after its thread has been stopped with stop(l).
template <typename Record>
void Deinit(StackHandle *h, void (*stop)(Record *)) {
    Record *l = Of<Record>(h);
    if (l == nullptr) return;
    stop(l);
    OSAL_vMutexDelete(l->breakMutex);
    delete l;
    h->pvLevelContext = nullptr;
}

}  // namespace sample

#define ZERA_SAMPLE_EXPORTS(Record)                                                                              \
    ZERA_COMPONENT_DECLARE_PARAMS(DeclareParams)                                                                 \
    extern "C" {                                                                                                 \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {                                               \
        if (!sample::Init<Record>(h)) return 0;                                                                  \
        Notify(h);                                                                                               \
        return 1;                                                                                                \
    }                                                                                                            \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {                                             \
        sample::Deinit<Record>(h, Stop);                                                                         \
        return 1;                                                                                                \
    }                                                                                                            \
    ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyA(StackHandle *h) { Notify(h); }                                 \
    ZERA_EXPORT void ZERA_CALL ZERA_vModuleNotifyW(StackHandle *h) { Notify(h); }                                 \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsA(StackHandle *h) { return Start(h); }              \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsW(StackHandle *h) { return Start(h); }              \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsA(StackHandle *h) {                                  \
        if (Record *l = sample::Of<Record>(h)) Stop(l);                                                          \
        return 1;                                                                                                \
    }                                                                                                            \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsW(StackHandle *h) {                                  \
        return ZERA_boModuleStopCommuThreadsA(h);                                                                \
    }                                                                                                            \
    }
#endif  // ZERA_SAMPLE_LEVEL_H
