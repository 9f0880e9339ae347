// Relay.cpp - an example component for the harness's tests: it carries
// events both ways through its level. What is sent to its level from below
// goes on up to the level above, Delay milliseconds later; what comes down
// from the level above goes on down as its own level's event. Each event it
// sends up counts in its statistics (kind 0, class A).
//
// Parameters: "Delay" (milliseconds, 0 to 60000, settable at any time).
#include <atomic>
#include <cstring>

#include "sample_level.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Relay.COMPONENT")

namespace {

constexpr uint32_t kAll = 0xFFFFFFFFu;
constexpr uint32_t kLongestDelayMs = 60000;

struct Relay : sample::Level {
    std::atomic<uint32_t> delayMs{0};  // the parameter, copied by the notification
    zera::LevelThread down;            // the second thread: what comes down
};

void SendUp(Relay *r, Event *from) {
    const bool hasData = from->i32Type >= ZERA_EVENT_DATA0 && from->i32Type <= ZERA_EVENT_DATA2;
    const uint32_t size = hasData ? from->dwDataSize : 0;
    Event *up = ZERA_pstCreateEventEx(r->h, from->i32Type, static_cast<uint8_t>(r->h->u8Level + 1), size, 0, 0);
    if (up != nullptr) {
        if (size != 0) std::memcpy(up->pbData, from->pbData, size);
        const uint32_t ms = r->delayMs;
        const TimeVal after = {(ms % 1000) * 1000 | OSAL_TIME_RELATIVE, static_cast<int32_t>(ms / 1000)};
        if (ZERA_boSendEvent(r->h, up, 0, &after))
            ZERA_vUpdateStatistics(r->h, 0, 1, 0, size, 0);
        else
            ZERA_boDeleteEvent(up);
    }
    ZERA_boDeleteEvent(from);
}

void RunUp(Relay *r) {
    while (Event *ev = r->thread.NextSendEvent()) SendUp(r, ev);
}

void RunDown(Relay *r) {
    while (Event *ev = r->down.ReceiveEvent(kAll, kAll)) {
        ev->u8Level = r->h->u8Level;
        ZERA_vInputFilterEx(r->h, ev, 0);
    }
}

// Both threads or neither.
BOOL8 Start(StackHandle *h) {
    Relay *r = sample::Of<Relay>(h);
    if (r == nullptr || (r->down.handle() == nullptr && !r->down.Create(h))) return 0;
    if (!r->thread.Start<RunUp>(r)) return 0;
    if (r->down.Start<RunDown>(r)) return 1;
    r->thread.Stop();
    return 0;
}

void Stop(Relay *r) {
    r->thread.Stop();
    r->down.Stop();
}

void DeclareParams(ZERA_PARAM_LIST *l) {
    ZERA_DECLARE_DWORD(l, "Delay", ZERA_ACCESS_ALWAYS, 0);
    ZERA_PERMIT_DWORDS(l, 0, kLongestDelayMs);
}

void Notify(StackHandle *h) {
    Relay *r = sample::Of<Relay>(h);
    Param *delay = sample::Find(h, "Delay", ZERA_WTEXT("Delay"));
    if (r != nullptr && delay != nullptr) r->delayMs = delay->uValue.dw;
}

}  // namespace

extern "C" {

ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    // Version 0.1; fits on any level and takes anything on top.
    pstInfoBlock->dwVersion = 0x00000001u;
    pstUpperInfoBlock->dwVersion = 0x00000001u;
    pstUpperInfoBlock->dwFlags = 0x01u;
}

}  // extern "C"

ZERA_SAMPLE_EXPORTS(Relay)
