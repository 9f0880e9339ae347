// Counter.cpp - sample component: counts the events that come down to it
// from the level above and hands them on to the host.
//
// In the sample stack (Counter, Loopback, Ticker from level 1 up) Counter
// sits on level 1, directly on the host's level 0: it takes Loopback's
// answers out of level 2's receive queue, counts each one in its own
// level's statistics (the host reads them with ZERA_boGetStatistics for
// level 1: events in the first column, bytes in the third, of the kind the
// "Kind" parameter names), and hands it on as an event of its own level,
// which the host receives with ZERA_pstReceiveEvent on level 0.
//
// Parameters: "Forward" (1: hand counted events on to the host, 0: drop
// them; settable at any time), "Kind" (the statistics kind 0 to 2 to count
// in; settable while the stack is stopped; the notification holds it at 2
// at most, so a set of 3 reports 1034 and leaves 2).
#include <atomic>
#include <new>
#include <thread>

#include "ZERA_Component.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Counter.COMPONENT")

namespace {

constexpr uint32_t kAll = 0xFFFFFFFFu;
constexpr uint32_t kHighestKind = 2;
// A receive waits in short rounds so that a stop asked for just before its
// first wait is seen at the next round.
constexpr TimeVal kRound = {200000 | OSAL_TIME_RELATIVE, 0};

struct Counter {
    StackHandle *h = nullptr;
    std::atomic<bool> forward{true};  // the parameters, copied by the notification
    std::atomic<uint32_t> kind{0};
    OSAL_HMUTEX breakMutex = nullptr;  // guards stop
    BOOL8 stop = 0;
    std::thread thread;
};

Counter *Of(StackHandle *h) { return static_cast<Counter *>(h->pvLevelContext); }

bool StopAsked(Counter *c) {
    OSAL_boMutexLock(c->breakMutex);
    const bool stop = c->stop != 0;
    OSAL_vMutexUnlock(c->breakMutex);
    return stop;
}

void Count(Counter *c, Event *ev) {
    const bool hasData = ev->i32Type >= ZERA_EVENT_DATA0 && ev->i32Type <= ZERA_EVENT_DATA2;
    ZERA_vUpdateStatistics(c->h, c->kind, 1, 0, hasData ? ev->dwDataSize : 0, 0);
    if (!c->forward) {
        ZERA_boDeleteEvent(ev);
        return;
    }
    ev->u8Level = c->h->u8Level;            // from here on an event of this level
    ZERA_vInputFilterEx(c->h, ev, 0);        // counted already
}

void Run(Counter *c) {
    while (!StopAsked(c)) {
        if (Event *ev = ZERA_pstReceiveEvent(c->h, kAll, kAll, &kRound)) Count(c, ev);
    }
}

BOOL8 Start(StackHandle *h) {
    Counter *c = Of(h);
    if (c == nullptr || c->thread.joinable()) return 0;
    OSAL_boMutexLock(c->breakMutex);
    c->stop = 0;
    OSAL_vMutexUnlock(c->breakMutex);
    try {
        c->thread = std::thread(Run, c);
    } catch (...) {
        return 0;
    }
    return 1;
}

void Stop(Counter *c) {
    if (!c->thread.joinable()) return;
    ZERA_vBreakRecvEventWait(c->h, &c->stop, c->breakMutex);
    c->thread.join();
}

BOOL8 AddDWord(bool wide, Param **list, uint32_t *count, const char *name, const WCHAR16 *wideName,
               uint32_t access, uint32_t value) {
    ParamValue **values = nullptr;
    if (wide) return ZERA_boAddParamW(1, 0, list, count, &values, ZERA_PARAM_DWORD, access, 0, 0, 0, wideName, value);
    return ZERA_boAddParamA(1, 0, list, count, &values, ZERA_PARAM_DWORD, access, 0, 0, 0, name, value);
}

BOOL8 SetupParList(bool wide, Param **ppstStackParams) {
    uint32_t count = 0;
    return ZERA_boCreateParListA(ppstStackParams) &&
           AddDWord(wide, ppstStackParams, &count, "Forward", ZERA_WTEXT("Forward"), ZERA_ACCESS_ALWAYS, 1) &&
           AddDWord(wide, ppstStackParams, &count, "Kind", ZERA_WTEXT("Kind"), ZERA_ACCESS_STOPPED, 0);
}

Param *Find(StackHandle *h, const char *name, const WCHAR16 *wideName) {
    return h->boWide ? ZERA_pastFindParamW(h->pstStackParams, wideName) : ZERA_pastFindParamA(h->pstStackParams, name);
}

void Notify(StackHandle *h) {
    Counter *c = Of(h);
    Param *forward = Find(h, "Forward", ZERA_WTEXT("Forward"));
    Param *kind = Find(h, "Kind", ZERA_WTEXT("Kind"));
    if (c == nullptr || forward == nullptr || kind == nullptr) return;
    if (kind->uValue.dw > kHighestKind) kind->uValue.dw = kHighestKind;
    c->forward = forward->uValue.dw != 0;
    c->kind = kind->uValue.dw;
}

}  // namespace

extern "C" {

ZERA_API void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    // Sample family 0.1 (a host level 0 made by the host kit takes version
    // 0 components); range B: Counter is place 1 and takes place 2 (Loopback) on top.
    pstInfoBlock->dwVersion = 0x00000001u;
    pstInfoBlock->dwRangeBLow = pstInfoBlock->dwRangeBHigh = 1;
    pstUpperInfoBlock->dwVersion = 0x00000001u;
    pstUpperInfoBlock->dwRangeBLow = pstUpperInfoBlock->dwRangeBHigh = 2;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t, Param **ppstStackParams) {
    return SetupParList(false, ppstStackParams);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boSetupParListW(uint32_t, Param **ppstStackParams) {
    return SetupParList(true, ppstStackParams);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    auto *c = new (std::nothrow) Counter;
    if (c == nullptr) return 0;
    c->h = h;
    c->breakMutex = OSAL_hMutexCreate();
    if (c->breakMutex == nullptr) {
        delete c;
        return 0;
    }
    h->pvLevelContext = c;
    Notify(h);
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    Counter *c = Of(h);
    if (c == nullptr) return 1;
    Stop(c);
    OSAL_vMutexDelete(c->breakMutex);
    delete c;
    h->pvLevelContext = nullptr;
    return 1;
}

ZERA_API void ZERA_CALL ZERA_vModuleNotifyA(StackHandle *h) { Notify(h); }
ZERA_API void ZERA_CALL ZERA_vModuleNotifyW(StackHandle *h) { Notify(h); }

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsA(StackHandle *h) { return Start(h); }
ZERA_API BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreadsW(StackHandle *h) { return Start(h); }

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsA(StackHandle *h) {
    if (Counter *c = Of(h)) Stop(c);
    return 1;
}
ZERA_API BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreadsW(StackHandle *h) { return ZERA_boModuleStopCommuThreadsA(h); }

}  // extern "C"
