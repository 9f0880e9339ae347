// Loopback.cpp - sample component: answers every event that comes down to it
// from the level above with a type-2 event of its own, which goes on down.
//
// In the sample stack (Counter, Loopback, Ticker from level 1 up) Loopback
// sits on level 2: it takes Ticker's ticks out of level 3's receive queue
// (each level wants the events of the level directly above it by default)
// and answers each one, so Counter gets an answer per tick. It takes
// Ticker on top of it and sits on Counter (see the info blocks).
//
// Parameters: "Echo" (1: an answer carries the data of the event it answers;
// 0: answers are empty; settable at any time).
#include <atomic>
#include <cstring>
#include <new>
#include <thread>

#include "ZERA_Component.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Loopback.COMPONENT")

namespace {

constexpr uint32_t kAll = 0xFFFFFFFFu;
// A receive waits in short rounds so that a stop asked for just before its
// first wait is seen at the next round.
constexpr TimeVal kRound = {200000 | OSAL_TIME_RELATIVE, 0};

struct Loopback {
    StackHandle *h = nullptr;
    std::atomic<bool> echo{true};      // the parameter, copied by the notification
    OSAL_HMUTEX breakMutex = nullptr;  // guards stop
    BOOL8 stop = 0;
    std::thread thread;
};

Loopback *Of(StackHandle *h) { return static_cast<Loopback *>(h->pvLevelContext); }

bool StopAsked(Loopback *l) {
    OSAL_boMutexLock(l->breakMutex);
    const bool stop = l->stop != 0;
    OSAL_vMutexUnlock(l->breakMutex);
    return stop;
}

void Answer(Loopback *l, Event *request) {
    const bool hasData = request->i32Type >= ZERA_EVENT_DATA0 && request->i32Type <= ZERA_EVENT_DATA2;
    const uint32_t size = l->echo && hasData ? request->dwDataSize : 0;
    Event *answer = ZERA_pstCreateEventEx(l->h, ZERA_EVENT_DATA2, l->h->u8Level, size, 0, 0);
    if (answer != nullptr) {
        if (size != 0) std::memcpy(answer->pbData, request->pbData, size);
        ZERA_vInputFilter(l->h, answer);
    }
    ZERA_boDeleteEvent(request);
}

void Run(Loopback *l) {
    while (!StopAsked(l)) {
        if (Event *request = ZERA_pstReceiveEvent(l->h, kAll, kAll, &kRound)) Answer(l, request);
    }
}

BOOL8 Start(StackHandle *h) {
    Loopback *l = Of(h);
    if (l == nullptr || l->thread.joinable()) return 0;
    OSAL_boMutexLock(l->breakMutex);
    l->stop = 0;
    OSAL_vMutexUnlock(l->breakMutex);
    try {
        l->thread = std::thread(Run, l);
    } catch (...) {
        return 0;
    }
    return 1;
}

void Stop(Loopback *l) {
    if (!l->thread.joinable()) return;
    ZERA_vBreakRecvEventWait(l->h, &l->stop, l->breakMutex);
    l->thread.join();
}

BOOL8 SetupParList(bool wide, Param **ppstStackParams) {
    uint32_t count = 0;
    ParamValue **values = nullptr;
    if (!ZERA_boCreateParListA(ppstStackParams)) return 0;
    if (wide) {
        return ZERA_boAddParamW(1, 0, ppstStackParams, &count, &values, ZERA_PARAM_DWORD, ZERA_ACCESS_ALWAYS, 0, 0, 0,
                                ZERA_WTEXT("Echo"), 1u);
    }
    return ZERA_boAddParamA(1, 0, ppstStackParams, &count, &values, ZERA_PARAM_DWORD, ZERA_ACCESS_ALWAYS, 0, 0, 0,
                            "Echo", 1u);
}

void Notify(StackHandle *h) {
    Loopback *l = Of(h);
    Param *echo = h->boWide ? ZERA_pastFindParamW(h->pstStackParams, ZERA_WTEXT("Echo"))
                            : ZERA_pastFindParamA(h->pstStackParams, "Echo");
    if (l != nullptr && echo != nullptr) l->echo = echo->uValue.dw != 0;
}

}  // namespace

extern "C" {

ZERA_API void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    // Sample family 0.1; range B: Loopback is place 2 and takes place 3 (Ticker) on top.
    pstInfoBlock->dwVersion = 0x00000001u;
    pstInfoBlock->dwRangeBLow = pstInfoBlock->dwRangeBHigh = 2;
    pstUpperInfoBlock->dwVersion = 0x00000001u;
    pstUpperInfoBlock->dwRangeBLow = pstUpperInfoBlock->dwRangeBHigh = 3;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t, Param **ppstStackParams) {
    return SetupParList(false, ppstStackParams);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetupParListW(uint32_t, Param **ppstStackParams) {
    return SetupParList(true, ppstStackParams);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    auto *l = new (std::nothrow) Loopback;
    if (l == nullptr) return 0;
    l->h = h;
    l->breakMutex = OSAL_hMutexCreate();
    if (l->breakMutex == nullptr) {
        delete l;
        return 0;
    }
    h->pvLevelContext = l;
    Notify(h);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    Loopback *l = Of(h);
    if (l == nullptr) return 1;
    Stop(l);
    OSAL_vMutexDelete(l->breakMutex);
    delete l;
    h->pvLevelContext = nullptr;
    return 1;
}

ZERA_API void ZERA_CALL ZERA_vModuleNotifyA(StackHandle *h) { Notify(h); }
ZERA_API void ZERA_CALL ZERA_vModuleNotifyW(StackHandle *h) { Notify(h); }

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsA(StackHandle *h) { return Start(h); }
ZERA_API BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsW(StackHandle *h) { return Start(h); }

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsA(StackHandle *h) {
    if (Loopback *l = Of(h)) Stop(l);
    return 1;
}
ZERA_API BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsW(StackHandle *h) { return ZERA_boModuleStopCommuThreadsA(h); }

}  // extern "C"
