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

#include "sample_level.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Loopback.COMPONENT")
ZERA_COMPONENT_ABOUT("VOQ_ZERA_Comp samples", "Answers every event that comes down to it with one of its own", "as VOQ_ZERA_Comp")

namespace {

struct Loopback : sample::Level {
    std::atomic<bool> echo{true};  // the parameter, copied by the notification
};

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
ZERA_SAMPLE_RECEIVER(Loopback, Answer)

void DeclareParams(ZERA_PARAM_LIST *l) {
    ZERA_DECLARE_DWORD(l, "Echo", ZERA_ACCESS_ALWAYS, 1);
    ZERA_PERMIT_DWORDS(l, 0, 1);
}

void Notify(StackHandle *h) {
    Loopback *l = sample::Of<Loopback>(h);
    Param *echo = sample::Find(h, "Echo", ZERA_WTEXT("Echo"));
    if (l != nullptr && echo != nullptr) l->echo = echo->uValue.dw != 0;
}

}  // namespace

// Sample family 0.1; range B: Loopback is place 2 and takes place 3 (Ticker) on top.
ZERA_COMPONENT_INFO(ZERA_INFO_VERSION(0, 1) ZERA_INFO_RANGE_B(2, 2), ZERA_INFO_VERSION(0, 1) ZERA_INFO_RANGE_B(3, 3))
ZERA_SAMPLE_EXPORTS(Loopback)
