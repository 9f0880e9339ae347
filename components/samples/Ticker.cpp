// Ticker.cpp - sample component: produces a tick every Period milliseconds
// while the stack runs.
//
// The sample stack, bottom to top: Counter (level 1), Loopback (level 2),
// Ticker (level 3). Ticker completes the stack (own dwFlags 8) and takes
// nothing on top of it. Its ticks (type-0 events holding the tick number)
// go down through the input filter; by default each level wants the events
// of the level directly above it, so Loopback receives them.
//
// How it keeps time: a timer event sent to its own level falls due after one
// period; the level's thread takes it with ZERA_pstGetNextSendEvent, sends
// the next one and produces a tick. (On a stack without identifier
// management one repeating event, ZERA_pstCreateEventEx with boRepeat, could
// stand in for the chain of timers.)
//
// Parameters: "Period" (milliseconds, at least 10; settable while the stack
// is stopped). What a component's threads need from its parameters it copies
// in its notification, so they never read the list while the host sets it.
#include <atomic>
#include <cstring>

#include "sample_level.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Ticker.COMPONENT")
ZERA_COMPONENT_ABOUT("VOQ_ZERA_Comp samples", "Sends an event down every period", "as VOQ_ZERA_Comp")

namespace {

constexpr uint32_t kDefaultPeriodMs = 1000;
constexpr uint32_t kShortestPeriodMs = 10;

struct Ticker : sample::Level {
    std::atomic<uint32_t> periodMs{kDefaultPeriodMs};  // the parameter, copied by the notification
    uint32_t run = 0;    // which start the queued timers belong to
    uint32_t ticks = 0;  // used by the thread only
};

TimeVal Milliseconds(uint32_t ms) {
    return TimeVal{(ms % 1000) * 1000 | OSAL_TIME_RELATIVE, static_cast<int32_t>(ms / 1000)};
}

// Sends a timer to the own level, due one period from now; it carries the
// run it belongs to, so that one left over from an earlier run is ignored.
bool SendTimer(Ticker *t) {
    Event *timer = ZERA_pstCreateEventEx(t->h, ZERA_EVENT_DATA, t->h->u8Level, sizeof t->run, 0, 0);
    if (timer == nullptr) return false;
    std::memcpy(timer->pbData, &t->run, sizeof t->run);
    const TimeVal due = Milliseconds(t->periodMs);
    if (ZERA_boSendEvent(t->h, timer, 0, &due)) return true;
    ZERA_boDeleteEvent(timer);
    return false;
}

void Tick(Ticker *t) {
    Event *tick = ZERA_pstCreateEventEx(t->h, ZERA_EVENT_DATA0, t->h->u8Level, sizeof t->ticks, 0, 0);
    if (tick == nullptr) return;
    ++t->ticks;
    std::memcpy(tick->pbData, &t->ticks, sizeof t->ticks);
    ZERA_vInputFilter(t->h, tick);  // the filter owns it now
}

void Run(Ticker *t) {
    while (Event *due = t->thread.NextSendEvent()) {
        uint32_t run = 0;
        if (due->i32Type == ZERA_EVENT_DATA && due->dwDataSize == sizeof run) {
            std::memcpy(&run, due->pbData, sizeof run);
        }
        ZERA_boDeleteEvent(due);
        if (run != t->run) continue;  // a timer of an earlier run
        if (!SendTimer(t)) break;
        Tick(t);
    }
}

BOOL8 Start(StackHandle *h) {
    Ticker *t = sample::Of<Ticker>(h);
    if (t == nullptr || t->thread.Started()) return 0;
    ++t->run;
    if (!SendTimer(t)) return 0;
    return t->thread.Start<Run>(t);
}

void Stop(Ticker *t) { t->thread.Stop(); }

void DeclareParams(ZERA_PARAM_LIST *l) { ZERA_DECLARE_DWORD(l, "Period", ZERA_ACCESS_STOPPED, kDefaultPeriodMs); }

void Notify(StackHandle *h) {
    Ticker *t = sample::Of<Ticker>(h);
    Param *period = sample::Find(h, "Period", ZERA_WTEXT("Period"));
    if (t == nullptr || period == nullptr) return;
    // Too short a period is raised: the set that asked for it reports 1034.
    if (period->uValue.dw < kShortestPeriodMs) period->uValue.dw = kShortestPeriodMs;
    t->periodMs = period->uValue.dw;
}

}  // namespace

extern "C" {

ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    // The sample family, version 0.1. Range B names a sample's place in the
    // stack (1 Counter, 2 Loopback, 3 Ticker); an upper block names the one
    // it takes on top.
    pstInfoBlock->dwVersion = 0x00000001u;
    pstInfoBlock->dwFlags = ZERA_INFO_COMPLETES_STACK;
    pstInfoBlock->dwRangeBLow = pstInfoBlock->dwRangeBHigh = 3;
    pstUpperInfoBlock->dwVersion = 0x00000001u;
    pstUpperInfoBlock->dwFlags = ZERA_INFO_COMPLETES_STACK;  // without ZERA_INFO_TAKES_ON_TOP: nothing goes on top
}

}  // extern "C"

ZERA_SAMPLE_EXPORTS(Ticker)
