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

#include "sample_level.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Counter.COMPONENT")
ZERA_COMPONENT_ABOUT("VOQ_ZERA_Comp samples", "Counts the events that come down to it and hands them on", "as VOQ_ZERA_Comp")

namespace {

constexpr uint32_t kHighestKind = 2;

struct Counter : sample::Level {
    std::atomic<bool> forward{true};  // the parameters, copied by the notification
    std::atomic<uint32_t> kind{0};
};

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
ZERA_SAMPLE_RECEIVER(Counter, Count)

void DeclareParams(ZERA_PARAM_LIST *l) {
    ZERA_DECLARE_DWORD(l, "Forward", ZERA_ACCESS_ALWAYS, 1);
    ZERA_PERMIT_DWORDS(l, 0, 1);
    ZERA_DECLARE_DWORD(l, "Kind", ZERA_ACCESS_STOPPED, 0);
}

void Notify(StackHandle *h) {
    Counter *c = sample::Of<Counter>(h);
    Param *forward = sample::Find(h, "Forward", ZERA_WTEXT("Forward"));
    Param *kind = sample::Find(h, "Kind", ZERA_WTEXT("Kind"));
    if (c == nullptr || forward == nullptr || kind == nullptr) return;
    if (kind->uValue.dw > kHighestKind) kind->uValue.dw = kHighestKind;
    c->forward = forward->uValue.dw != 0;
    c->kind = kind->uValue.dw;
}

}  // namespace

// Sample family 0.1 (a host level 0 made by the host kit takes version 0
// components); range B: Counter is place 1 and takes place 2 (Loopback) on top.
ZERA_COMPONENT_INFO(ZERA_INFO_VERSION(0, 1) ZERA_INFO_RANGE_B(1, 1), ZERA_INFO_VERSION(0, 1) ZERA_INFO_RANGE_B(2, 2))
ZERA_SAMPLE_EXPORTS(Counter)
