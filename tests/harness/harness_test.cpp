// harness/harness_test.cpp - the harness's refusals, the ownership of the
// events it hands over, its typed parameters and the manual clock beneath
// its test clock (queue waits of the platform layer and of the library).
// Needs no test hook: it runs in release builds too.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "ZERA_Harness.h"
#include "support/refusal.h"

namespace {

using namespace std::chrono_literals;
using zera::EventPtr;
using zera::Harness;

const Harness::Time kStart = std::chrono::seconds(ZERA_HARNESS_CLOCK_START_SECONDS);

Harness::Options Opts(bool testLevel, bool testClock = true) {
    Harness::Options o;
    o.testLevel = testLevel;
    o.testClock = testClock;
    return o;
}

// The code and argument of a failed call.
std::string Failure() {
    const char *arg = OSAL_pszGetLastErrorArg();
    return std::to_string(OSAL_dwGetLastError()) + (arg ? std::string(" ") + arg : std::string());
}

TEST(Harness, RefusalsStoreTheirCodeAndLeaveNothingBehind) {
    const TimeVal relative = {OSAL_TIME_RELATIVE, 5};
    const struct {
        const char *component;
        uint32_t flags;
        const TimeVal *start;
        const char *failure;  // code, then the start of the argument
    } cases[] = {
        {nullptr, 0, nullptr, "1028"},
        {"", 0, nullptr, "1028"},
        {"Relay", 0x10, nullptr, "1028"},
        {"Relay", ZERA_HARNESS_TEST_CLOCK, &relative, "1028"},
        {"NoSuchThing", 0, nullptr, "1030"},
        {"NotComponent", 0, nullptr, "1035"},
        {"InitFailsCode", 0, nullptr, "2056"},  // the component's own code
        {"Ticker", ZERA_HARNESS_TEST_LEVEL, nullptr, "2055 flags"},  // nothing goes on top of Ticker
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.component ? c.component : "(null)");
        EXPECT_EQ(ZERA_hHarnessCreateA(c.component, c.flags, c.start), nullptr);
        EXPECT_EQ(Failure().rfind(c.failure, 0), 0u) << Failure();
    }
    // The failures above gave the test clock back.
    Harness first("Relay");
    EXPECT_EQ(ZERA_hHarnessCreateA("Relay", ZERA_HARNESS_TEST_CLOCK, nullptr), nullptr);
    EXPECT_EQ(Failure(), "1025 a manual clock runs already");
    Harness second("Relay", Opts(false, false));  // without it
    EXPECT_FALSE(second.crank(1, 0ms));
    EXPECT_EQ(Failure(), "1025 the harness runs without the test clock");
    EventPtr none;
    EXPECT_REFUSED(second.push_above(none), 2048u);
    EXPECT_FALSE(second.above(ZERA_EVENT_DATA0));
    EXPECT_REFUSED(second.pull_up(0ms), 2048u);
    EXPECT_EQ(ZERA_hHarnessLevel(second.get(), 2), nullptr);
    EXPECT_REFUSED(ZERA_boHarnessDestroy(nullptr), 1027u);
}

// A start that the component refuses names it; the stack stays stopped.
TEST(Harness, ARefusedStartReportsTheComponentsCode) {
    Harness h("Starter", Opts(true));
    ASSERT_TRUE(h.set("Refuse", 1u));
    EXPECT_REFUSED(h.start(), 1036u);
    EXPECT_NE(std::string(OSAL_pszGetLastErrorText()).find("level 1 (Starter)"), std::string::npos)
        << OSAL_pszGetLastErrorText();
    EXPECT_EQ(h.level(1)->dwStatus & ZERA_STATUS_STARTED, 0u);
    ASSERT_TRUE(h.set("Refuse", 0u));
    EXPECT_TRUE(h.start());
    EXPECT_NE(h.level(2)->dwStatus & ZERA_STATUS_STARTED, 0u);
    Harness half("HalfThreads", Opts(true, false));
    EXPECT_REFUSED(half.start(), 1035u);
    EXPECT_NE(std::string(OSAL_pszGetLastErrorText()).find("level 1 (HalfThreads)"), std::string::npos);
}

TEST(Harness, TypedParametersCheckTheirTypeAndPermittedValues) {
    Harness h("Params", Opts(true));
    EXPECT_TRUE(h.set("Ratio", 0.25));
    EXPECT_EQ(h.real("Ratio"), 0.25);
    EXPECT_TRUE(h.set("Text", "changed"));
    EXPECT_EQ(h.string("Text"), "changed");
    const struct {
        std::function<bool()> set;
        const char *failure;
    } refused[] = {
        {[&] { return h.set("Text", 1u); }, "1028 Text"},     // a string set as a dword
        {[&] { return h.set("Ratio", "x"); }, "1028 Ratio"},  // a real set as a string
        {[&] { return h.set("Nope", 1u); }, "1028"},
        {[&] { return h.set("Clamp", 500u); }, "1034"},  // the component's notification held it at 100
        {[&] { return h.set("A8", 1u); }, "1034"},       // access class: never
    };
    for (const auto &r : refused) {
        EXPECT_FALSE(r.set());
        EXPECT_EQ(Failure().rfind(r.failure, 0), 0u) << r.failure << ": " << Failure();
    }
    EXPECT_EQ(h.dword("Clamp"), 100u);
    EXPECT_EQ(h.dword("Text", 7u), 7u);
    EXPECT_EQ(h.string("Text"), "changed");
}

// Ownership: a refused push leaves the event with the caller (the pointer
// still holds it); events left on either side go with the harness
// (LeakSanitizer and valgrind see any that would not).
TEST(Harness, EventsStayTheCallersOnARefusalAndGoWithTheHarness) {
    Harness h("Relay", Opts(true));
    ASSERT_TRUE(h.start());
    EventPtr lost = h.below(ZERA_EVENT_DATA0, "x", 1);
    lost->u8Level = 9;  // no such level
    EXPECT_REFUSED(h.push_below(lost), 1027u);
    EXPECT_TRUE(lost);
    EventPtr wrong = h.below(ZERA_EVENT_DATA0);
    EXPECT_FALSE(h.push_above(wrong));  // not of the test level
    EXPECT_TRUE(wrong);
    for (int i = 0; i < 3; ++i) {
        EventPtr up = h.below(ZERA_EVENT_DATA, "u", 1);
        EventPtr down = h.above(ZERA_EVENT_DATA0, "d", 1);
        ASSERT_TRUE(h.push_below(up) && h.push_above(down));
    }
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         (h.queued_up() < 3 || h.queued_down() < 3) && std::chrono::steady_clock::now() < deadline;)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(h.queued_up(), 3u);
    EXPECT_EQ(h.queued_down(), 3u);
}

// The manual clock beneath: a wait of the platform layer's queue and a
// receive of the library with a time-out are pending waits with their
// deadlines, end only when the clock reaches them, and a move short of the
// deadline leaves them waiting; the layer's time is the clock's.
TEST(ManualClock, QueueWaitsAndReceivesEndWhenTheClockReachesTheirDeadline) {
    Harness h("Relay", Opts(true));
    OSAL_HQUEUE q = OSAL_hQueueCreate(4, nullptr);
    ASSERT_NE(q, nullptr);
    void *got = &got;
    std::thread queueWait([&] { got = OSAL_pvQueueGet(q, 1, TimeVal{OSAL_TIME_RELATIVE | 500000, 2}); });
    Event *received = reinterpret_cast<Event *>(&got);
    std::thread receive([&] {
        const TimeVal timeout = {OSAL_TIME_RELATIVE, 4};
        received = ZERA_pstReceiveEvent(h.level(1), 0xFFFFFFFFu, 0xFFFFFFFFu, &timeout);
    });
    ASSERT_TRUE(h.wait_pending(2));
    EXPECT_EQ(h.next_deadline(), kStart + 2500ms);
    TimeVal now;
    OSAL_vGetSystemTime(&now);
    EXPECT_EQ(Harness::ToMicros(now), kStart);
    ASSERT_TRUE(h.advance(2s));  // short of both: each wakes, looks and waits again
    ASSERT_TRUE(h.wait_pending(2));
    ASSERT_TRUE(h.crank());
    queueWait.join();
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(h.now(), kStart + 2500ms);
    ASSERT_TRUE(h.wait_pending(1));  // the receive, woken by the move, waits again
    EXPECT_EQ(h.next_deadline(), kStart + 4s);
    ASSERT_TRUE(h.set_time(kStart + 10s));
    receive.join();
    EXPECT_EQ(received, nullptr);
    EXPECT_EQ(h.pending(), 0u);
    EXPECT_EQ(h.next_deadline(), Harness::Time::max());
    EXPECT_REFUSED(h.crank(1, 20ms), 0u);  // nothing waits: the clock stays
    EXPECT_EQ(h.now(), kStart + 10s);
    OSAL_vQueueDelete(q);
}

// Once the harness is gone the layer's time is the wall clock's again.
TEST(ManualClock, StopsWithItsHarness) {
    { Harness h("Relay"); }
    TimeVal now;
    OSAL_vGetSystemTime(&now);
    EXPECT_GT(now.i32Seconds, 1600000000);
    EXPECT_REFUSED(OSAL_dwManualClockPending(nullptr), 1025u);
    EXPECT_EQ(OSAL_boManualClockStop(), 0);
}

}  // namespace
