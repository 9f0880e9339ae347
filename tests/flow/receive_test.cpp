// flow/receive_test.cpp - receiving by masks, time-outs and breaks.
#include <functional>
#include <random>

#include "flow/flow_test_util.h"
#include "support/soak.h"

namespace {

using namespace st;

// An event "from" level `level`, put into h's receive queue by hand.
Event *PutFrom(StackHandle *h, uint8_t level, int32_t type, int64_t stampMicros) {
    Event *ev = ZERA_pstCreateEvent(type, level, 0);
    ev->stTimeStamp = Absolute(stampMicros);
    EXPECT_TRUE(OSAL_boQueuePut(h->hRecvQueue, ev, ZERA_boTimeStampCompare));
    return ev;
}

TEST(Receive, ChoosesByMaskWaitsAsToldAndWakesForABreakOrAWantedEvent) {
    FlowStack stack{"Layer", "Layer"};
    StackHandle *h1 = stack[1], *h2 = stack[2];
    EXPECT_EQ(ReceiveNow(h1), nullptr);
    Event *fromThree = PutFrom(h2, 3, 1, 100);
    Event *fromTwo = PutFrom(h2, 2, 1, 200);
    Event *typeFive = PutFrom(h2, 2, 5, 300);
    EXPECT_TRUE(ZERA_boWaitEvent(h1, 1u << 2, 1u << 5, &OSAL_stTimeNoWait));
    EXPECT_EQ(ReceiveNow(h1, 1u << 2, 1u << 5), typeFive);
    EXPECT_EQ(ReceiveNow(h1, 1u << 2), fromTwo);
    EXPECT_EQ(ReceiveNow(h1, 1u << 2), nullptr);
    EXPECT_EQ(Queued(h2->hRecvQueue), std::vector<Event *>{fromThree});
    EXPECT_EQ(ReceiveNow(h1), fromThree);
    for (Event *ev : {fromThree, fromTwo, typeFive}) ZERA_boDeleteEvent(ev);

    EXPECT_REFUSED(ReceiveNow(h2), OSAL_ERR_INVALID_HANDLE);  // the top has no next level
    ZERA_vBreakRecvEventWait(h2, nullptr, nullptr);  // nor anything to break

    // Every time-out form and a break, with all levels wanted and with a mask.
    StackHandle *h0 = stack.h0();
    for (uint32_t masks : {kAll, 0x2u}) {
        SCOPED_TRACE(masks);
        const TimeVal half = Relative(500000), past = Absolute(NowMicros() - kSecond);
        const double start = Seconds();
        EXPECT_EQ(ZERA_pstReceiveEvent(h0, masks, kAll, &past), nullptr);
        EXPECT_LT(Seconds() - start, 1.0);
        EXPECT_EQ(ZERA_pstReceiveEvent(h0, masks, kAll, &half), nullptr);
        EXPECT_GE(Seconds() - start, 0.45);
        EXPECT_LT(Seconds() - start, 3.0);

        BreakFlag brk;
        const double cpu = IdleWaitCpu([&] { return ZERA_pstReceiveEvent(h0, masks, kAll, &OSAL_stTimeInfinite); },
                                       [&] { ZERA_vBreakRecvEventWait(h0, &brk.flag, brk.mutex); });
        EXPECT_TRUE(brk.Set());
        EXPECT_LT(cpu, 0.03) << "the idle receiver must sleep";
    }

    // An unwanted event wakes the receive, which goes on waiting for a wanted one.
    Event *wanted = ZERA_pstCreateEvent(ZERA_EVENT_DATA, 1, 0);
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        PutFrom(stack[1], 2, 1, NowMicros());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        wanted->stTimeStamp = Absolute(NowMicros());
        EXPECT_TRUE(OSAL_boQueuePut(stack[1]->hRecvQueue, wanted, ZERA_boTimeStampCompare));
    });
    EXPECT_EQ(ZERA_pstReceiveEvent(h0, 0x2, kAll, &OSAL_stTimeInfinite), wanted);
    producer.join();
    ZERA_boDeleteEvent(wanted);
    Drain(stack[1]->hRecvQueue);
}

// A break between the receiver's look at its flag and its receive is not
// lost, nor hidden by an unwanted event arriving with the wake (the hook).
StackHandle *g_noiseLevel = nullptr;
void PutNoiseOnce(StackHandle *) {
    if (g_noiseLevel == nullptr) return;
    PutFrom(g_noiseLevel, 2, 1, NowMicros());
    g_noiseLevel = nullptr;
}

TEST(Receive, ABreakBetweenTheFlagLookAndTheReceiveIsNotLost) {
    FlowStack stack{"Layer"};
    StackHandle *h0 = stack.h0();
    ZERA_vTestSetReceiveWokenHook(PutNoiseOnce);
    for (uint32_t masks : {kAll, 0x2u}) {
        SCOPED_TRACE(masks);
        BreakFlag brk;
        std::atomic<int> step{0};  // 1: the receiver looked at its flag; 2: the break is done
        std::atomic<bool> returned{false};
        std::thread receiver([&] {
            const TimeVal brief = Relative(1000);
            EXPECT_EQ(ZERA_pstReceiveEvent(h0, masks, kAll, &brief), nullptr);  // a receive before: nothing seen
            EXPECT_FALSE(brk.Set());
            step = 1;
            while (step != 2) std::this_thread::yield();
            EXPECT_EQ(ZERA_pstReceiveEvent(h0, masks, kAll, &OSAL_stTimeInfinite), nullptr);
            returned = true;
        });
        while (step != 1) std::this_thread::yield();
        g_noiseLevel = stack[1];
        ZERA_vBreakRecvEventWait(h0, &brk.flag, brk.mutex);
        step = 2;
        EXPECT_TRUE(ReturnsSoon(returned, [&] { ZERA_vBreakRecvEventWait(h0, &brk.flag, brk.mutex); }))
            << "the break was lost";
        receiver.join();
        g_noiseLevel = nullptr;
        Drain(stack[1]->hRecvQueue);
    }
    ZERA_vTestSetReceiveWokenHook(nullptr);
}

// Level 0 made by hand from a bare handle, without identifier management,
// with one Layer on it: what a host without the kit builds.
struct RawStack {
    RawStack() {
        ZERA_vHostDescriptorInit(&desc);
        h0->pvLevelContext = &desc;
        h0->dwStatus = ZERA_STATUS_NO_EVID;
        ZERA_vModuleInitAPIHooksUp(h0->apfnEntry);
        ZERA_vModuleInitAPIHooksDown(h0->apfnEntry, nullptr);
        EXPECT_TRUE(ZERA_boCreateParListA(&h0->pstStackParams) && ZERA_bAddToStackA(h0, "Layer") == 1) << LastText();
    }
    ~RawStack() {
        EXPECT_TRUE(ZERA_boRemoveFromStackA(h0, 1)) << LastText();
        ZERA_vDeleteParamListA(h0->pstStackParams);
        ZERA_boHandleClose(h0);
    }
    HostStackDescriptor desc{};
    StackHandle *h0 = ZERA_hHandleCreate(nullptr);
};

// Endless receives at h0, each on a fresh thread, each broken from here
// `delayMs()` after the thread is ready; none may return before its break,
// nor miss it. With `look` the thread first receives without waiting: its
// window opens there. Then one more break lands while the ended receiver no
// longer waits, which the next thread (often with the same id) must not
// take for its own. Odd rounds want level 1 by mask, even ones everything.
void FreshReceiversEndOnlyByTheirBreaks(StackHandle *h0, int rounds, bool look, std::function<int()> delayMs) {
    BreakFlag brk;
    auto fire = [&] { ZERA_vBreakRecvEventWait(h0, &brk.flag, brk.mutex); };
    for (int round = 0; round < rounds && !::testing::Test::HasFailure(); ++round) {
        const uint32_t levels = round % 2 == 0 ? kAll : 0x2u;
        std::atomic<bool> ready{false}, broken{false}, returned{false};
        std::thread receiver([&] {
            EXPECT_TRUE(!look || ZERA_pstReceiveEvent(h0, levels, kAll, &OSAL_stTimeNoWait) == nullptr);
            ready = true;
            EXPECT_EQ(ZERA_pstReceiveEvent(h0, levels, kAll, &OSAL_stTimeInfinite), nullptr);
            EXPECT_TRUE(broken) << "round " << round << ": the receive returned before its break";
            returned = true;
        });
        while (!ready) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs()));
        broken = true;
        fire();
        EXPECT_TRUE(ReturnsSoon(returned, fire)) << "round " << round << ": the break was lost";
        fire();
        receiver.join();
        brk.Set(true);
    }
}

// A receive that a thread starts after a break made for another thread is
// not ended by it: a host that hands its receive loop to a new thread after
// a restart, a pool of receiving threads. On a kit-made stack with
// identifier management and on a raw level 0 without, at once.
TEST(Receive, AFreshThreadsEndlessReceiveEndsOnlyWithItsOwnBreak) {
    Stack kit{"Layer"};
    RawStack raw;
    auto delays = [](unsigned seed) {  // 20 to 50 ms
        return [random = std::mt19937(seed)]() mutable { return std::uniform_int_distribution<int>(20, 50)(random); };
    };
    for (StackHandle *h0 : {kit.h0(), raw.h0}) FreshReceiversEndOnlyByTheirBreaks(h0, 2, false, [] { return 300; });
    std::thread other([&] { FreshReceiversEndOnlyByTheirBreaks(raw.h0, zt::SoakRounds(1000), true, delays(7)); });
    FreshReceiversEndOnlyByTheirBreaks(kit.h0(), zt::SoakRounds(1000), true, delays(8));
    other.join();
}

}  // namespace
