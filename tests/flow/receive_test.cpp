// flow/receive_test.cpp - receiving by masks, time-outs and breaks.
#include "flow/flow_test_util.h"

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
    EXPECT_REFUSED(ZERA_pstReceiveEvent(h1, kAll, kAll, nullptr), OSAL_ERR_INVALID_ARG);
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
        for (int i = 0; i < 200 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(returned) << "the break was lost";
        while (!returned) {  // frees a receiver that missed it
            ZERA_vBreakRecvEventWait(h0, &brk.flag, brk.mutex);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        receiver.join();
        g_noiseLevel = nullptr;
        Drain(stack[1]->hRecvQueue);
    }
    ZERA_vTestSetReceiveWokenHook(nullptr);
}

}  // namespace
