// sample_level.h - what the sample components share: a level's record with
// the level thread that serves it (the component kit's zera::LevelThread,
// which owns the stop protocol), and the module exports every sample has
// (parameters, init, deinit, notification, thread start and stop). Copy it
// with the sample you start from.
//
// A sample defines, in its own file: a record type derived from
// sample::Level, and the functions DeclareParams(ZERA_PARAM_LIST *) (with
// the kit's ZERA_DECLARE_ helpers), Notify(StackHandle *),
// Start(StackHandle *) and Stop(Record *) (ZERA_SAMPLE_RECEIVER defines
// both for a sample that handles what comes down to it); then
// ZERA_SAMPLE_EXPORTS(Record) defines the exports that call them.
#ifndef ZERA_SAMPLE_LEVEL_H
#define ZERA_SAMPLE_LEVEL_H

#include <new>

#include "ZERA_Component.h"

namespace sample {

// What a sample keeps per level (one module may serve several levels).
struct Level {
    StackHandle *h = nullptr;
    zera::LevelThread thread;  // stopped and joined when the record goes
};

template <typename Record>
Record *Of(StackHandle *h) {
    return static_cast<Record *>(h->pvLevelContext);
}

// The level's parameter of that name, in the level's width; null if none.
inline Param *Find(StackHandle *h, const char *name, const WCHAR16 *wideName) {
    return h->boWide ? ZERA_pastFindParamW(h->pstStackParams, wideName) : ZERA_pastFindParamA(h->pstStackParams, name);
}

// The record of a new level, with its level thread, as the level's context.
template <typename Record>
BOOL8 Init(StackHandle *h) {
    auto *l = new (std::nothrow) Record;
    if (l == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return 0;
    }
    l->h = h;
    if (!l->thread.Create(h)) {
        delete l;
        return 0;
    }
    h->pvLevelContext = l;
    return 1;
}

// Releases the record after its threads have been stopped with stop(l).
template <typename Record>
void Deinit(StackHandle *h, void (*stop)(Record *)) {
    Record *l = Of<Record>(h);
    if (l == nullptr) return;
    stop(l);
    delete l;
    h->pvLevelContext = nullptr;
}

}  // namespace sample

// Run, Start and Stop of a sample whose level thread hands every event that
// comes down to the level to take(Record *, Event *), which owns it. The
// receive returns null once the level is stopped.
#define ZERA_SAMPLE_RECEIVER(Record, take)                                               \
    void Run(Record *l) {                                                                \
        while (Event *ev = l->thread.ReceiveEvent(0xFFFFFFFFu, 0xFFFFFFFFu)) take(l, ev); \
    }                                                                                    \
    BOOL8 Start(StackHandle *h) {                                                        \
        Record *l = sample::Of<Record>(h);                                               \
        return l != nullptr && l->thread.Start<Run>(l);                                  \
    }                                                                                    \
    void Stop(Record *l) { l->thread.Stop(); }

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
