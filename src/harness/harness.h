/*
 * harness/harness.h - the harness's record: its stack's levels, the two
 * lists of what arrived on either side with the threads that fill them, and
 * the error helpers its calls share. The harness is built on the public
 * interface only (VOQ_ZERA_Comp.h, ZERA_Host.h, VOQ_OSAL.h).
 *
 * Internal: included by src/harness/ only.
 */
#ifndef ZERA_HARNESS_HARNESS_H
#define ZERA_HARNESS_HARNESS_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "ZERA_Harness.h"

namespace harness {

// Events that arrived on one side, waiting to be pulled; owns them. Pulls
// wait on real time: the test clock never holds them up.
class EventList {
public:
    EventList() = default;
    ~EventList() { Clear(); }
    EventList(const EventList &) = delete;
    EventList &operator=(const EventList &) = delete;

    // Takes ev (never null); false when memory runs out (ev is deleted).
    bool Push(Event *ev);
    // The first event, waiting up to timeoutMs of real time
    // (ZERA_HARNESS_WAIT_FOREVER: no limit); null when none came.
    Event *Pull(uint32_t timeoutMs);
    uint32_t Size() const;
    // Deletes every event.
    void Clear();

private:
    mutable std::mutex mutex_;  // guards events_
    std::condition_variable arrived_;
    std::deque<Event *> events_;
};

// A thread that takes what arrives on one side into a list, stopped with
// the library's break protocol.
struct Taker {
    OSAL_HMUTEX breakMutex = nullptr;  // guards stop
    BOOL8 stop = 0;
    std::thread thread;
};

}  // namespace harness

// What ZERA_HHARNESS points to.
struct ZERA_Harness {
    static constexpr uint32_t kMagic = 0x48524e53u;
    uint32_t magic = kMagic;  // cleared when the harness goes
    uint32_t flags = 0;
    bool clock = false;       // the test clock is this harness's
    StackHandle *h0 = nullptr;
    StackHandle *h1 = nullptr;
    StackHandle *h2 = nullptr;  // the test level, or null
    harness::EventList up;      // what the component sent up (the test level's taker)
    harness::EventList down;    // what came down to level 0 (the receiver)
    harness::Taker receiver;    // level 0's
    harness::Taker levelTaker;  // the test level's, while the stack runs
};

namespace harness {

// The harness, when h is one; else null with 1027.
ZERA_Harness *Checked(ZERA_HHARNESS h);
// Stores code with a string argument; returns false.
bool Refuse(uint32_t code, const char *argument);
// The test level's record of the harness that is adding it on this thread
// (null outside ZERA_hHarnessCreateA).
ZERA_Harness *Building();
void SetBuilding(ZERA_Harness *h);
// Runs the taker's loop on a thread of its own; false when the thread or
// its mutex cannot be made.
bool StartTaker(Taker *t, void (*run)(ZERA_Harness *), ZERA_Harness *h);
// Breaks the taker's wait with breakWait and joins it; frees its mutex.
void StopTaker(Taker *t, StackHandle *h, void(ZERA_CALL *breakWait)(StackHandle *, BOOL8 *, OSAL_HMUTEX));
// Whether the taker was asked to stop.
bool StopAsked(Taker *t);
// After a take or receive of the taker that returned null: whether it failed
// for want of memory (1026, e.g. for its wait's record) while no stop is
// asked. Then it has paused a few milliseconds and the taker tries again: a
// moment without memory must neither end it nor make it spin.
bool PausedForMemory(Taker *t);

}  // namespace harness

#endif  // ZERA_HARNESS_HARNESS_H
