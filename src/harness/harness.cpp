// harness/harness.cpp - making and ending a harness, starting its stack,
// and the events pushed at the component and pulled from either side.
#include "harness/harness.h"

#include <chrono>
#include <new>
#include <string>

#include "ZERA_Host.h"

namespace harness {

namespace {

constexpr uint32_t kAll = 0xFFFFFFFFu;
constexpr uint32_t kKnownFlags =
    ZERA_HARNESS_TEST_CLOCK | ZERA_HARNESS_TEST_LEVEL | ZERA_HARNESS_STATUS_EVENTS | ZERA_HARNESS_NO_EVID;
// The level 0 of a harness takes any component of its version family.
constexpr uint32_t kAcceptsAny = 0x01u;

thread_local ZERA_Harness *t_building = nullptr;

bool IsStatusEvent(const Event *ev) {
    if (ev->i32Type != ZERA_EVENT_ITEMS || ev->dwItemCount != 1 || ev->pbItems == nullptr) return false;
    const auto *item = reinterpret_cast<const EventItem *>(ev->pbItems);
    return item->dwKind == 0;
}

// Level 0's receiver: everything that comes down, waiting without a
// deadline (so never a pending wait of the test clock).
void Receive(ZERA_Harness *h) {
    const TimeVal forever = OSAL_stTimeInfinite;
    while (!StopAsked(&h->receiver)) {
        OSAL_vSetLastError(OSAL_ERR_NONE);
        Event *ev = ZERA_pstReceiveEvent(h->h0, kAll, kAll, &forever);
        if (ev == nullptr) {
            PausedForMemory(&h->receiver);
            continue;
        }
        if (IsStatusEvent(ev) && (h->flags & ZERA_HARNESS_STATUS_EVENTS) == 0) {
            ZERA_boDeleteEvent(ev);
            continue;
        }
        h->down.Push(ev);
    }
}

// The code and argument of the last error, put back after a clean-up that
// may have stored others.
struct SavedError {
    uint32_t code;
    std::string argument;
    bool hasArgument;
    SavedError() : code(OSAL_dwGetLastError()), hasArgument(false) {
        if (const char *arg = OSAL_pszGetLastErrorArg()) {
            argument = arg;
            hasArgument = true;
        }
    }
    void Restore() const {
        if (hasArgument)
            OSAL_vSetLastErrorArgs(code, OSAL_ARG_STRING, argument.c_str());
        else
            OSAL_vSetLastError(code);
    }
};

// Removes the levels and the clock of a harness being made or ended; the
// receiver has stopped. False when a level could not be removed.
bool Teardown(ZERA_Harness *h) {
    if (h->h0 != nullptr) {
        ZERA_boHostStopStack(h->h0);
        if (!ZERA_boHostStackDestroy(h->h0)) return false;
        h->h0 = h->h1 = h->h2 = nullptr;
    }
    h->up.Clear();
    h->down.Clear();
    if (h->clock) {
        OSAL_boManualClockStop();
        h->clock = false;
    }
    return true;
}

ZERA_HHARNESS Fail(ZERA_Harness *h) {
    const SavedError error;
    StopTaker(&h->receiver, h->h0, ZERA_vBreakRecvEventWait);
    Teardown(h);
    h->magic = 0;
    delete h;
    error.Restore();
    return nullptr;
}

bool ValidType(int32_t type) { return type >= ZERA_EVENT_DATA0 && type <= ZERA_EVENT_INTERVAL; }

}  // namespace

ZERA_Harness *Checked(ZERA_HHARNESS h) {
    if (h == nullptr || h->magic != ZERA_Harness::kMagic) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return nullptr;
    }
    return h;
}

bool Refuse(uint32_t code, const char *argument) {
    OSAL_vSetLastErrorArgs(code, OSAL_ARG_STRING, argument);
    return false;
}

ZERA_Harness *Building() { return t_building; }
void SetBuilding(ZERA_Harness *h) { t_building = h; }

bool StopAsked(Taker *t) {
    OSAL_boMutexLock(t->breakMutex);
    const bool stop = t->stop != 0;
    OSAL_vMutexUnlock(t->breakMutex);
    return stop;
}

bool PausedForMemory(Taker *t) {
    if (OSAL_dwGetLastError() != OSAL_ERR_NO_MEMORY || StopAsked(t)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return true;
}

bool StartTaker(Taker *t, void (*run)(ZERA_Harness *), ZERA_Harness *h) {
    if (t->thread.joinable()) return true;
    if (t->breakMutex == nullptr && (t->breakMutex = OSAL_hMutexCreate()) == nullptr) return false;
    t->stop = 0;
    try {
        t->thread = std::thread([run, h] { run(h); });  // a closure: nothing of std::thread is exported
    } catch (...) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return false;
    }
    return true;
}

void StopTaker(Taker *t, StackHandle *h, void(ZERA_CALL *breakWait)(StackHandle *, BOOL8 *, OSAL_HMUTEX)) {
    if (t->thread.joinable()) {
        breakWait(h, &t->stop, t->breakMutex);
        t->thread.join();
    }
    if (t->breakMutex != nullptr) OSAL_vMutexDelete(t->breakMutex);
    t->breakMutex = nullptr;
}

bool EventList::Push(Event *ev) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        try {
            events_.push_back(ev);
        } catch (...) {
            ZERA_boDeleteEvent(ev);
            return false;
        }
    }
    arrived_.notify_all();
    return true;
}

Event *EventList::Pull(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> hold(mutex_);
    const auto there = [this] { return !events_.empty(); };
    if (timeoutMs == ZERA_HARNESS_WAIT_FOREVER)
        arrived_.wait(hold, there);
    else if (!arrived_.wait_for(hold, std::chrono::milliseconds(timeoutMs), there))
        return nullptr;
    Event *ev = events_.front();
    events_.pop_front();
    return ev;
}

uint32_t EventList::Size() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return static_cast<uint32_t>(events_.size());
}

void EventList::Clear() {
    std::deque<Event *> gone;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        gone.swap(events_);
    }
    for (Event *ev : gone) ZERA_boDeleteEvent(ev);
}

}  // namespace harness

using harness::Checked;
using harness::Refuse;

extern "C" {

ZERA_HARNESS_API ZERA_HHARNESS ZERA_CALL ZERA_hHarnessCreateA(const char *pszComponent, uint32_t dwFlags,
                                                             const TimeVal *pstClockStart) {
    if (pszComponent == nullptr || *pszComponent == '\0' || (dwFlags & ~harness::kKnownFlags) != 0 ||
        (pstClockStart != nullptr && (pstClockStart->dwMicroseconds & OSAL_TIME_RELATIVE) != 0)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    auto *h = new (std::nothrow) ZERA_Harness;
    if (h == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    h->flags = dwFlags;
    if (dwFlags & ZERA_HARNESS_TEST_CLOCK) {
        const TimeVal start = pstClockStart ? *pstClockStart : TimeVal{0, ZERA_HARNESS_CLOCK_START_SECONDS};
        if (!OSAL_boManualClockStart(&start)) return harness::Fail(h);
        h->clock = true;
    }
    if ((h->h0 = ZERA_hHostStackCreate(nullptr)) == nullptr) return harness::Fail(h);
    if (dwFlags & ZERA_HARNESS_NO_EVID) h->h0->dwStatus |= ZERA_STATUS_NO_EVID;
    h->h0->pstUpperInfoBlock->dwFlags |= harness::kAcceptsAny;
    if (ZERA_bHostAddComponentA(h->h0, pszComponent) == 0) return harness::Fail(h);
    h->h1 = ZERA_hHandleGetNextLevel(h->h0);
    if (dwFlags & ZERA_HARNESS_TEST_LEVEL) {
        harness::SetBuilding(h);
        const uint8_t level = ZERA_bHostAddComponentA(h->h0, "HarnessLevel");
        harness::SetBuilding(nullptr);
        if (level == 0) return harness::Fail(h);
        h->h2 = ZERA_hHandleGetNextLevel(h->h1);
    }
    if (!harness::StartTaker(&h->receiver, harness::Receive, h)) return harness::Fail(h);
    return h;
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessDestroy(ZERA_HHARNESS hHarness) {
    ZERA_Harness *h = Checked(hHarness);
    if (h == nullptr) return 0;
    if (h->h0 != nullptr) ZERA_boHostStopStack(h->h0);  // no more comes down
    harness::StopTaker(&h->receiver, h->h0, ZERA_vBreakRecvEventWait);
    if (!harness::Teardown(h)) return 0;
    h->magic = 0;
    delete h;
    return 1;
}

ZERA_HARNESS_API StackHandle *ZERA_CALL ZERA_hHarnessLevel(ZERA_HHARNESS hHarness, uint8_t u8Level) {
    ZERA_Harness *h = Checked(hHarness);
    if (h == nullptr) return nullptr;
    StackHandle *levels[] = {h->h0, h->h1, h->h2};
    if (u8Level > 2 || levels[u8Level] == nullptr) {
        Refuse(OSAL_ERR_INVALID_LEVEL, "the harness has levels 0 to 1, and 2 with a test level");
        return nullptr;
    }
    return levels[u8Level];
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessStart(ZERA_HHARNESS hHarness) {
    ZERA_Harness *h = Checked(hHarness);
    return h != nullptr ? ZERA_boHostStartStack(h->h0) : 0;
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessStop(ZERA_HHARNESS hHarness) {
    ZERA_Harness *h = Checked(hHarness);
    return h != nullptr ? ZERA_boHostStopStack(h->h0) : 0;
}

ZERA_HARNESS_API Event *ZERA_CALL ZERA_pstHarnessCreateEvent(ZERA_HHARNESS hHarness, uint8_t u8Side,
                                                           int32_t i32Type, uint32_t dwDataSize) {
    ZERA_Harness *h = Checked(hHarness);
    if (h == nullptr) return nullptr;
    if ((u8Side != ZERA_HARNESS_BELOW && u8Side != ZERA_HARNESS_ABOVE) || !harness::ValidType(i32Type)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    if (u8Side == ZERA_HARNESS_BELOW) return ZERA_pstHostCreateEvent(h->h0, i32Type, 1, dwDataSize);
    if (h->h2 == nullptr) {
        Refuse(OSAL_ERR_INVALID_LEVEL, "the harness has no test level");
        return nullptr;
    }
    return ZERA_pstCreateEventEx(h->h2, i32Type, h->h2->u8Level, dwDataSize, 0, 0);
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessPushBelow(ZERA_HHARNESS hHarness, Event *pstEvent,
                                                         const TimeVal *pstSendTime) {
    ZERA_Harness *h = Checked(hHarness);
    if (h == nullptr) return 0;
    const TimeVal now = {OSAL_TIME_RELATIVE, 0};
    return ZERA_boSendEvent(h->h0, pstEvent, 0, pstSendTime != nullptr ? pstSendTime : &now);
}

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessPushAbove(ZERA_HHARNESS hHarness, Event *pstEvent) {
    ZERA_Harness *h = Checked(hHarness);
    if (h == nullptr) return 0;
    if (h->h2 == nullptr) return Refuse(OSAL_ERR_INVALID_LEVEL, "the harness has no test level");
    if (pstEvent == nullptr || pstEvent->u8Level != h->h2->u8Level) {
        return Refuse(OSAL_ERR_INVALID_ARG, "an event of the test level (ZERA_HARNESS_ABOVE)");
    }
    ZERA_vInputFilter(h->h2, pstEvent);
    return 1;
}

ZERA_HARNESS_API Event *ZERA_CALL ZERA_pstHarnessPullUp(ZERA_HHARNESS hHarness, uint32_t dwTimeoutMs) {
    ZERA_Harness *h = Checked(hHarness);
    if (h == nullptr) return nullptr;
    if (h->h2 == nullptr) {
        Refuse(OSAL_ERR_INVALID_LEVEL, "the harness has no test level");
        return nullptr;
    }
    OSAL_vSetLastError(OSAL_ERR_NONE);
    return h->up.Pull(dwTimeoutMs);
}

ZERA_HARNESS_API Event *ZERA_CALL ZERA_pstHarnessPullDown(ZERA_HHARNESS hHarness, uint32_t dwTimeoutMs) {
    ZERA_Harness *h = Checked(hHarness);
    if (h == nullptr) return nullptr;
    OSAL_vSetLastError(OSAL_ERR_NONE);
    return h->down.Pull(dwTimeoutMs);
}

ZERA_HARNESS_API uint32_t ZERA_CALL ZERA_dwHarnessQueuedUp(ZERA_HHARNESS hHarness) {
    ZERA_Harness *h = Checked(hHarness);
    return h != nullptr ? h->up.Size() : 0;
}

ZERA_HARNESS_API uint32_t ZERA_CALL ZERA_dwHarnessQueuedDown(ZERA_HHARNESS hHarness) {
    ZERA_Harness *h = Checked(hHarness);
    return h != nullptr ? h->down.Size() : 0;
}

}  // extern "C"
