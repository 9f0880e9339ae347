/*
 * ZERA_Harness.h - the harness for component authors: one component under
 * test on level 1 of a stack whose level 0 is the harness, events pushed at
 * it from below and from above and pulled from both sides, its parameters,
 * statistics and start, and a clock that moves only when the test says so.
 *
 *     ZERA_HHARNESS h = ZERA_hHarnessCreateA("Ticker", ZERA_HARNESS_TEST_CLOCK, NULL);
 *     ZERA_boHarnessSetDWord(h, "Period", 1000);
 *     ZERA_boHarnessStart(h);
 *     ZERA_boHarnessClockCrank(h, 1, 5000);        the first period has passed
 *     Event *tick = ZERA_pstHarnessPullDown(h, 5000);
 *     ZERA_boDeleteEvent(tick);
 *     ZERA_boHarnessDestroy(h);
 *
 * The stack: level 0 is the harness's; level 1 the component; with
 * ZERA_HARNESS_TEST_LEVEL a test level 2 on top of it, which completes the
 * stack (for components that do not), records every event the component
 * sends up (as it falls due in the test level's send queue, as a real level
 * would take it) and produces what the test pushes from above. Two threads
 * of the harness take what arrives on either side: level 0's receiver (what
 * comes down to level 0) and the test level's taker. Both wait without a
 * deadline, so neither is ever a pending wait of the test clock. Pulls wait
 * on real time, never on the test clock.
 *
 * The test clock (ZERA_HARNESS_TEST_CLOCK) is the platform layer's manual
 * clock (VOQ_OSAL.h): while the harness lives, every time the library and
 * the platform layer read, every queue wait's deadline, every send time and
 * every repeat period of the whole process are on it, and it stands still
 * until the test moves it. It is process-wide: other stacks in the process
 * run on it too, and only one harness at a time can have it.
 *
 * Ownership of events: an event from ZERA_pstHarnessCreateEvent is the
 * caller's until a push succeeds; a push that fails leaves it the caller's.
 * A pulled event is the caller's (ZERA_boDeleteEvent). Events still queued
 * on either side when the harness goes are deleted with it.
 *
 * A call that fails returns false, 0 or null after storing an error code for
 * the calling thread (OSAL_dwGetLastError, OSAL_pszGetLastErrorText); the
 * harness's own refusals: 1027 for a null or destroyed harness, 1028 for a
 * bad argument, 2048 for the test level's side on a harness without one,
 * 1025 for a clock call on a harness without the test clock. One thread
 * drives a harness; its pulls may run on another thread.
 *
 * The C++ face (namespace zera, below the C interface) wraps a harness in an
 * object that destroys it, hands events out in pointers that delete them,
 * and takes std::chrono durations.
 *
 * Pure C (C11 and C++17 clean); the C++ face only for C++.
 */
#ifndef ZERA_HARNESS_H
#define ZERA_HARNESS_H

#include "VOQ_ZERA_Comp.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The harness library's operations: exported by VOQ_ZERA_Harness.dll,
 * imported by everyone else. */
#if defined(_WIN32)
#if defined(VOQ_ZERA_Harness_EXPORTS)
#define ZERA_HARNESS_API __declspec(dllexport)
#else
#define ZERA_HARNESS_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define ZERA_HARNESS_API __attribute__((visibility("default")))
#else
#define ZERA_HARNESS_API
#endif

typedef struct ZERA_Harness *ZERA_HHARNESS;

/* ---- Making and ending a harness ------------------------------------------- */

/* dwFlags of ZERA_hHarnessCreateA. */
#define ZERA_HARNESS_TEST_CLOCK 0x01u    /* run on the test clock */
#define ZERA_HARNESS_TEST_LEVEL 0x02u    /* a test level 2 above the component */
#define ZERA_HARNESS_STATUS_EVENTS 0x04u /* pull the stack status events down too */
#define ZERA_HARNESS_NO_EVID 0x08u       /* a stack without identifier management */

/* Where the test clock starts when no start is given: 1,000,000 s after the
 * epoch (away from the special time values). */
#define ZERA_HARNESS_CLOCK_START_SECONDS 1000000

/* Makes a harness: starts the test clock at *pstClockStart (absolute; null:
 * the default above) when asked, makes level 0, adds the component pszName
 * on level 1 (a bare name is looked for on the component search path as
 * ZERA_bHostAddComponentA does, a name with a folder is the module file),
 * adds the test level when asked (the module HarnessLevel.COMPONENT, which
 * installs with the library), and starts level 0's receiver. The stack is
 * not started. The caller owns the harness (ZERA_boHarnessDestroy). Null
 * with the code of what failed, everything undone: 1028 (no name, a
 * RELATIVE clock start, unknown flags), 1025 (the test clock is another
 * harness's), the add's code with the file name as argument (1030 no such
 * module, 1035 refused, 2055/2057 info blocks: a component that completes
 * the stack takes no test level), 1026 memory. */
ZERA_HARNESS_API ZERA_HHARNESS ZERA_CALL ZERA_hHarnessCreateA(const char *pszComponent, uint32_t dwFlags,
                                                             const TimeVal *pstClockStart);

/* Stops the stack if it runs, stops level 0's receiver, removes the levels,
 * deletes every event still queued on either side, stops the test clock and
 * frees the harness. False with 1027 for a null harness; false with the
 * removal's code when a level cannot be removed: the harness stays, its
 * receiver stopped, and the call may be repeated. */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessDestroy(ZERA_HHARNESS hHarness);

/* The handle of level 0, 1 (the component) or 2 (the test level) for calls
 * of the library itself; it belongs to the harness. Null with 2048 for
 * another level or the test level of a harness without one. */
ZERA_HARNESS_API StackHandle *ZERA_CALL ZERA_hHarnessLevel(ZERA_HHARNESS hHarness, uint8_t u8Level);

/* ---- Starting and stopping ---------------------------------------------------- */

/* Starts the stack as ZERA_boHostStartStack does: each level's start export
 * runs (the test level's first). False, the stack left stopped, with the
 * code that refused: the component's own code and text when its start
 * export stored one, 1036 when it returned false without one, 1035 when it
 * lacks a name of the start or stop pair, 2060 when nothing completes the
 * stack; the argument names the level ("level 1 (Counter)"). */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessStart(ZERA_HHARNESS hHarness);
/* Stops the stack; each level's stop export runs. True for a stack that is
 * not started. */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessStop(ZERA_HHARNESS hHarness);

/* ---- Events ---------------------------------------------------------------------- */

/* The side an event comes from. */
#define ZERA_HARNESS_BELOW 0u /* level 0: sent up to the component */
#define ZERA_HARNESS_ABOVE 2u /* the test level: comes down to the component */

/* A wait without end for the pulls. */
#define ZERA_HARNESS_WAIT_FOREVER 0xFFFFFFFFu

/* Makes an event of i32Type with dwDataSize bytes of data (pbData) for
 * u8Side: from below, an event addressed to level 1 whose owner is level 0;
 * from above, an event of level 2 whose owner is the test level. The caller
 * owns it until a push succeeds (or deletes it with ZERA_boDeleteEvent).
 * Null with 1028 (side, type), 2048 (above without a test level), 1026. */
ZERA_HARNESS_API Event *ZERA_CALL ZERA_pstHarnessCreateEvent(ZERA_HHARNESS hHarness, uint8_t u8Side,
                                                           int32_t i32Type, uint32_t dwDataSize);

/* Sends an event from below as level 0 sends: it climbs to its level (1 or
 * higher) and waits in that level's send queue until its time stamp falls
 * due for the component's taker. pstSendTime: RELATIVE (that long from the
 * stack's time), absolute, or null for now. True: the stack owns the event.
 * False: the caller still owns it, with the send's code (ZERA_boSendEvent). */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessPushBelow(ZERA_HHARNESS hHarness, Event *pstEvent,
                                                         const TimeVal *pstSendTime);
/* Hands an event of level 2 (from ZERA_pstHarnessCreateEvent above) to the
 * test level's input filter, as if the level above had produced it: it is
 * stamped with the stack's time, counted in the test level's statistics and
 * goes down into the receive queue the component reads. True: the filter
 * owns the event. False, the caller still owning it: 2048 without a test
 * level, 1028 for a null event or one not of level 2. */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessPushAbove(ZERA_HHARNESS hHarness, Event *pstEvent);

/* Takes the earliest event the test level has recorded (what the component
 * sent up, in the order it fell due), waiting up to dwTimeoutMs
 * milliseconds of real time (0: no wait). The caller owns it. Null with 0
 * stored when none came in time; 2048 without a test level. */
ZERA_HARNESS_API Event *ZERA_CALL ZERA_pstHarnessPullUp(ZERA_HHARNESS hHarness, uint32_t dwTimeoutMs);
/* Takes the earliest event that came down to level 0, as the receiver took
 * them (stack status events only with ZERA_HARNESS_STATUS_EVENTS), waiting
 * as ZERA_pstHarnessPullUp. The caller owns it. Null with 0 stored when
 * none came in time. */
ZERA_HARNESS_API Event *ZERA_CALL ZERA_pstHarnessPullDown(ZERA_HHARNESS hHarness, uint32_t dwTimeoutMs);
/* How many events wait to be pulled up or down (0 with 1027 for a bad
 * harness). */
ZERA_HARNESS_API uint32_t ZERA_CALL ZERA_dwHarnessQueuedUp(ZERA_HHARNESS hHarness);
ZERA_HARNESS_API uint32_t ZERA_CALL ZERA_dwHarnessQueuedDown(ZERA_HHARNESS hHarness);

/* ---- The component's stack parameters, typed ---------------------------------
 *
 * A set checks, before the library sees the value, that the component's
 * level has a parameter of that name (1028, the name as argument), that it
 * has the type of the call (1028: dword for types 1 and 2, real for 3,
 * string for 0) and that the value is among its permitted values or ranges
 * when it has any (1034, the name as argument); then it is the library's
 * set (ZERA_boSetStackParamA), with the library's codes: 1034 when the
 * access class refuses now or the component's notification changed the
 * value. Nothing changes on a refusal. A string is copied. */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessSetDWord(ZERA_HHARNESS hHarness, const char *pszName,
                                                        uint32_t dwValue);
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessSetReal(ZERA_HHARNESS hHarness, const char *pszName, double rValue);
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessSetString(ZERA_HHARNESS hHarness, const char *pszName,
                                                         const char *pszValue);
/* Reads a parameter of the component's level into *pValue; false with 1028
 * (no such parameter, another type, a null address). */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessGetDWord(ZERA_HHARNESS hHarness, const char *pszName,
                                                        uint32_t *pdwValue);
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessGetReal(ZERA_HHARNESS hHarness, const char *pszName,
                                                       double *prValue);
/* A string parameter's value; it belongs to the level's list and stays
 * valid until the parameter changes. Null with 1028. */
ZERA_HARNESS_API const char *ZERA_CALL ZERA_hsHarnessGetString(ZERA_HHARNESS hHarness, const char *pszName);

/* ---- Statistics and load -------------------------------------------------------- */

/* The component level's figures (ZERA_boGetStatistics, unpacked). */
typedef struct ZERA_HarnessStatistics {
    uint32_t adwCounters[3][4]; /* kinds 0-2: events A, events B, bytes A, bytes B */
    uint16_t u16LoadA;
    uint16_t u16LoadB;
    uint16_t u16LoadAMax;
    uint16_t u16LoadBMax;
} ZERA_HarnessStatistics;

ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessGetStatistics(ZERA_HHARNESS hHarness,
                                                             ZERA_HarnessStatistics *pstStatistics);
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessResetStatistics(ZERA_HHARNESS hHarness);

/* ---- The test clock --------------------------------------------------------------
 *
 * Each call below fails with 1025 on a harness made without
 * ZERA_HARNESS_TEST_CLOCK. A wait is pending while its deadline lies after
 * the clock's time: a component's taker waiting for its next send event, a
 * receive with a time-out. A move to or past its deadline releases it. */

/* The clock's time (absolute). */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessClockNow(ZERA_HHARNESS hHarness, TimeVal *pstNow);
/* Sets the clock (absolute; a backward step delays what was due). 1028 for
 * null or a RELATIVE time. */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessClockSet(ZERA_HHARNESS hHarness, const TimeVal *pstNow);
/* Moves the clock on by *pstBy (a duration; its RELATIVE bit is not a part
 * of it), releasing every wait whose deadline it reaches. 1028 for null. */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessClockAdvance(ZERA_HHARNESS hHarness, const TimeVal *pstBy);
/* Waits, at most dwRealLimitMs milliseconds of real time, until dwWaits
 * waits (0 counts as 1) are pending; then moves the clock to the earliest of
 * their deadlines and releases the waits of that deadline, which run on by
 * themselves. False with 0 stored when too few waits came in time (the
 * clock unchanged). */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessClockCrank(ZERA_HHARNESS hHarness, uint32_t dwWaits,
                                                          uint32_t dwRealLimitMs);
/* Waits as ZERA_boHarnessClockCrank does, but leaves the clock as it is:
 * true once dwWaits waits are pending. */
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessClockWaitPending(ZERA_HHARNESS hHarness, uint32_t dwWaits,
                                                                uint32_t dwRealLimitMs);
/* How many waits are pending; *pstNext (when given) the earliest deadline
 * among them (OSAL_stTimeInfinite: none). 0 with 0 stored when none is. */
ZERA_HARNESS_API uint32_t ZERA_CALL ZERA_dwHarnessClockPending(ZERA_HHARNESS hHarness, TimeVal *pstNext);

/* ---- The test level's module ------------------------------------------------------
 *
 * HarnessLevel.COMPONENT forwards its component exports to these; they are
 * not for tests. Outside a harness the module refuses to be added (1028). */
ZERA_HARNESS_API void ZERA_CALL ZERA_vHarnessLevelInfo(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock);
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessLevelInit(StackHandle *h);
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessLevelDeinit(StackHandle *h);
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessLevelStart(StackHandle *h);
ZERA_HARNESS_API BOOL8 ZERA_CALL ZERA_boHarnessLevelStop(StackHandle *h);

#ifdef __cplusplus
}  /* extern "C" */

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace zera {

/* Deletes an event when its pointer goes. */
struct EventDeleter {
    void operator()(Event *ev) const noexcept {
        if (ev != nullptr) ZERA_boDeleteEvent(ev);
    }
};
using EventPtr = std::unique_ptr<Event, EventDeleter>;

/* A harness that could not be made: the code and text of the failure. */
class HarnessError : public std::runtime_error {
public:
    HarnessError(uint32_t code, const char *text) : std::runtime_error(text ? text : "harness error"), code_(code) {}
    uint32_t code() const noexcept { return code_; }

private:
    uint32_t code_;
};

class Harness {
public:
    /* Time on the test clock: microseconds since the epoch. */
    using Time = std::chrono::microseconds;

    struct Options {
        bool testClock = true;
        bool testLevel = false;
        bool statusEvents = false;
        bool noEvid = false;
        Time clockStart = std::chrono::seconds(ZERA_HARNESS_CLOCK_START_SECONDS);
    };

    /* Throws HarnessError when ZERA_hHarnessCreateA fails. */
    explicit Harness(const char *component) : Harness(component, Options()) {}
    Harness(const char *component, const Options &options) {
        const uint32_t flags = (options.testClock ? ZERA_HARNESS_TEST_CLOCK : 0u) |
                               (options.testLevel ? ZERA_HARNESS_TEST_LEVEL : 0u) |
                               (options.statusEvents ? ZERA_HARNESS_STATUS_EVENTS : 0u) |
                               (options.noEvid ? ZERA_HARNESS_NO_EVID : 0u);
        const TimeVal start = FromMicros(options.clockStart);
        h_ = ZERA_hHarnessCreateA(component, flags, &start);
        if (h_ == nullptr) throw HarnessError(OSAL_dwGetLastError(), OSAL_pszGetLastErrorText());
    }
    ~Harness() {
        if (h_ != nullptr) ZERA_boHarnessDestroy(h_);
    }
    Harness(const Harness &) = delete;
    Harness &operator=(const Harness &) = delete;
    Harness(Harness &&other) noexcept : h_(other.h_) { other.h_ = nullptr; }
    Harness &operator=(Harness &&other) noexcept {
        if (this != &other) {
            if (h_ != nullptr) ZERA_boHarnessDestroy(h_);
            h_ = other.h_;
            other.h_ = nullptr;
        }
        return *this;
    }

    ZERA_HHARNESS get() const noexcept { return h_; }
    StackHandle *level(uint8_t n) const noexcept { return ZERA_hHarnessLevel(h_, n); }

    bool start() { return ZERA_boHarnessStart(h_) != 0; }
    bool stop() { return ZERA_boHarnessStop(h_) != 0; }

    /* An event from below (to the component) or from above (the test
     * level's), with a copy of `size` bytes of `data` when given. */
    EventPtr below(int32_t type, const void *data = nullptr, uint32_t size = 0) {
        return Made(ZERA_HARNESS_BELOW, type, data, size);
    }
    EventPtr above(int32_t type, const void *data = nullptr, uint32_t size = 0) {
        return Made(ZERA_HARNESS_ABOVE, type, data, size);
    }
    /* A push that succeeds takes the event out of ev; one that fails leaves
     * it there. */
    template <class Rep, class Period>
    bool push_below(EventPtr &ev, std::chrono::duration<Rep, Period> delay) {
        TimeVal at = FromMicros(std::chrono::duration_cast<std::chrono::microseconds>(delay));
        at.dwMicroseconds |= OSAL_TIME_RELATIVE;
        return Released(ev, ZERA_boHarnessPushBelow(h_, ev.get(), &at));
    }
    bool push_below(EventPtr &ev) { return Released(ev, ZERA_boHarnessPushBelow(h_, ev.get(), nullptr)); }
    bool push_above(EventPtr &ev) { return Released(ev, ZERA_boHarnessPushAbove(h_, ev.get())); }

    /* Null when none came within the real-time limit. */
    EventPtr pull_up(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return EventPtr(ZERA_pstHarnessPullUp(h_, Millis(timeout)));
    }
    EventPtr pull_down(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return EventPtr(ZERA_pstHarnessPullDown(h_, Millis(timeout)));
    }
    uint32_t queued_up() const { return ZERA_dwHarnessQueuedUp(h_); }
    uint32_t queued_down() const { return ZERA_dwHarnessQueuedDown(h_); }

    bool set(const char *name, uint32_t value) { return ZERA_boHarnessSetDWord(h_, name, value) != 0; }
    bool set(const char *name, double value) { return ZERA_boHarnessSetReal(h_, name, value) != 0; }
    bool set(const char *name, const char *value) { return ZERA_boHarnessSetString(h_, name, value) != 0; }
    bool set(const char *name, const std::string &value) { return set(name, value.c_str()); }
    /* The value, or `otherwise` when the parameter has another type or none. */
    uint32_t dword(const char *name, uint32_t otherwise = 0) const {
        uint32_t v = 0;
        return ZERA_boHarnessGetDWord(h_, name, &v) ? v : otherwise;
    }
    double real(const char *name, double otherwise = 0) const {
        double v = 0;
        return ZERA_boHarnessGetReal(h_, name, &v) ? v : otherwise;
    }
    std::string string(const char *name) const {
        const char *v = ZERA_hsHarnessGetString(h_, name);
        return v != nullptr ? std::string(v) : std::string();
    }

    ZERA_HarnessStatistics statistics() const {
        ZERA_HarnessStatistics s{};
        ZERA_boHarnessGetStatistics(h_, &s);
        return s;
    }
    bool reset_statistics() { return ZERA_boHarnessResetStatistics(h_) != 0; }

    /* The test clock. */
    Time now() const {
        TimeVal t{};
        ZERA_boHarnessClockNow(h_, &t);
        return ToMicros(t);
    }
    bool set_time(Time t) {
        const TimeVal v = FromMicros(t);
        return ZERA_boHarnessClockSet(h_, &v) != 0;
    }
    template <class Rep, class Period>
    bool advance(std::chrono::duration<Rep, Period> by) {
        const TimeVal v = FromMicros(std::chrono::duration_cast<std::chrono::microseconds>(by));
        return ZERA_boHarnessClockAdvance(h_, &v) != 0;
    }
    bool crank(uint32_t waits = 1, std::chrono::milliseconds realLimit = std::chrono::seconds(10)) {
        return ZERA_boHarnessClockCrank(h_, waits, Millis(realLimit)) != 0;
    }
    bool wait_pending(uint32_t waits = 1, std::chrono::milliseconds realLimit = std::chrono::seconds(10)) {
        return ZERA_boHarnessClockWaitPending(h_, waits, Millis(realLimit)) != 0;
    }
    uint32_t pending() const { return ZERA_dwHarnessClockPending(h_, nullptr); }
    /* The earliest pending deadline; Time::max() when none is pending. */
    Time next_deadline() const {
        TimeVal next{};
        if (ZERA_dwHarnessClockPending(h_, &next) == 0) return Time::max();
        return ToMicros(next);
    }

    static Time ToMicros(const TimeVal &t) {
        return Time(static_cast<int64_t>(t.i32Seconds) * 1000000 +
                    static_cast<int64_t>(t.dwMicroseconds & OSAL_TIME_USEC_MASK));
    }
    static TimeVal FromMicros(Time t) {
        int64_t us = t.count(), s = us / 1000000, rest = us % 1000000;
        if (rest < 0) {
            rest += 1000000;
            --s;
        }
        TimeVal v;
        v.dwMicroseconds = static_cast<uint32_t>(rest);
        v.i32Seconds = static_cast<int32_t>(s);
        return v;
    }

private:
    static uint32_t Millis(std::chrono::milliseconds ms) {
        return ms.count() < 0 ? 0u
                              : ms.count() >= static_cast<int64_t>(ZERA_HARNESS_WAIT_FOREVER)
                                    ? ZERA_HARNESS_WAIT_FOREVER - 1u
                                    : static_cast<uint32_t>(ms.count());
    }
    EventPtr Made(uint8_t side, int32_t type, const void *data, uint32_t size) {
        EventPtr ev(ZERA_pstHarnessCreateEvent(h_, side, type, size));
        if (ev && data != nullptr && size != 0 && type >= ZERA_EVENT_DATA0 && type <= ZERA_EVENT_DATA2) {
            const auto *from = static_cast<const uint8_t *>(data);
            for (uint32_t i = 0; i < size; ++i) ev->pbData[i] = from[i];
        }
        return ev;
    }
    static bool Released(EventPtr &ev, BOOL8 pushed) {
        if (pushed) ev.release();
        return pushed != 0;
    }

    ZERA_HHARNESS h_ = nullptr;
};

}  // namespace zera
#endif /* __cplusplus */

#endif /* ZERA_HARNESS_H */
