// flow/take_test.cpp - taking due events: lead times, repetitions, answer
// offsets, breaks, sleeping without CPU and wall-clock steps.
#include <future>
#include <random>

#include "flow/flow_test_util.h"
#include "support/alloc_sweep.h"
#include "support/soak.h"

namespace {

using namespace st;

// Level 1 of a one-layer stack with its taker's break flag.
class Take : public ::testing::Test {
protected:
    Event *Sent(Event *ev, const TimeVal &when, uint32_t flags = 0) {
        EXPECT_TRUE(Send(stack.h0(), ev, when, flags));
        return ev;
    }
    Event *Next(int64_t leadMicros = 0) { return st::Take(stack[1], brk, leadMicros); }

    FlowStack stack{"Layer"};
    BreakFlag brk;
};

TEST_F(Take, ComesOutWhenDueMinusTheLeadOrWhenAWaitIsCutShort) {
    // Due relative to now, the lead, and the seconds the take waits.
    const struct { int64_t due, lead; double atLeast, below; } cases[] = {
        {-5 * kSecond, 0, 0, 0.5}, {800000, 0, 0.75, 5.0}, {2 * kSecond, 1500000, 0.45, 1.9}};
    for (const auto &c : cases) {
        Event *ev = Sent(Data(ZERA_EVENT_DATA, 1), Absolute(NowMicros() + c.due));
        const double start = Seconds();
        EXPECT_EQ(Next(c.lead), ev);
        EXPECT_GE(Seconds() - start, c.atLeast) << c.due;
        EXPECT_LT(Seconds() - start, c.below) << c.due;
        ZERA_boDeleteEvent(ev);
    }

    // An earlier event sent during the wait comes first; then a forward step
    // of the wall clock ends the wait for the one 100 s away.
    Event *far = Sent(Data(ZERA_EVENT_DATA, 1), Relative(100 * kSecond)), *near = Data(ZERA_EVENT_DATA, 1);
    const double start = Seconds();
    std::thread stepper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Sent(near, Relative(0));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        OSAL_vTestSetClockOffset(101 * kSecond);
    });
    EXPECT_EQ(Next(), near);
    EXPECT_EQ(Next(), far);
    stepper.join();
    OSAL_vTestSetClockOffset(0);
    EXPECT_LT(Seconds() - start, 2.0);
    for (Event *ev : {near, far}) ZERA_boDeleteEvent(ev);
}

TEST_F(Take, RepetitionsHandOutCopiesThenTheMasterItself) {
    FlowStack two{"Layer", "Layer"};
    Event *master = Master(stack.h0(), 1, 3, 1000), *endless = Master(stack.h0(), 1, 0, 1000);
    ASSERT_NE(*ZERA_ppstCheckParListA(master, 1, 0, 1, 0), nullptr);
    Sent(master, Relative(0));
    for (int copy = 0; copy < 2; ++copy) {
        Event *ev = Next();
        ASSERT_NE(ev, nullptr);
        EXPECT_TRUE(ev != master && ev->dwEventId == master->dwEventId && ev->pstAttachments != nullptr);
        EXPECT_TRUE(ev->u8Options & ZERA_OPT_COPY);
        ZERA_boDeleteEvent(ev);
    }
    EXPECT_EQ(Next(), master);
    EXPECT_TRUE(master->u8Options & ZERA_OPT_COPY);
    // Sent on by its receiver at level 1, a copy is a one-shot.
    master->u8Level = 2;
    ASSERT_TRUE(Send(two[1], master, Relative(0)));
    EXPECT_FALSE(master->u8Options & ZERA_OPT_REPEATING);
    EXPECT_EQ(master->u16RepeatCount, 0);

    // Count 0: copies without end, the master stays queued.
    Sent(endless, Relative(0));
    for (int i = 0; i < 4; ++i) ZERA_boDeleteEvent(Next());
    EXPECT_EQ(Queued(stack[1]->hSendQueue), std::vector<Event *>{endless});
}

// 200 s behind a master restarts from now (copy marked late); 50 s behind it steps one period.
TEST_F(Take, ARepetitionFarBehindStartsAgainFromNowAndMarksTheCopyLate) {
    Event *far = Sent(Master(stack.h0(), 1, 0, kSecond), Absolute(NowMicros() - 200 * kSecond));
    const int64_t before = NowMicros();
    Event *copy = Next();
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->u8Error == 0xFF && (copy->dwFlags & ZERA_EVF_LATE));
    EXPECT_GE(Micros(far->stTimeStamp), before + kSecond);
    EXPECT_LE(Micros(far->stTimeStamp), NowMicros() + kSecond);
    ZERA_boDeleteEvent(copy);

    const int64_t start = NowMicros() - 50 * kSecond;
    Event *near = Sent(Master(stack.h0(), 1, 0, kSecond), Absolute(start));
    copy = Next();  // the far master waits a second ahead
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->dwEventId, near->dwEventId);
    EXPECT_EQ(copy->u8Error | (copy->dwFlags & ZERA_EVF_LATE), 0u);
    EXPECT_EQ(Micros(near->stTimeStamp), start + kSecond);
    ZERA_boDeleteEvent(copy);
}

// An answer 2 s late shifts the events that follow answers; a repeating one reschedules its master.
TEST_F(Take, WhatFollowsAnswersIsMovedByThem) {
    StackHandle *h1 = stack[1];
    Event *answer = Data(ZERA_EVENT_DATA2, 1);
    answer->stTimeStamp = Absolute(NowMicros() - 2 * kSecond);
    ZERA_vInputFilter(h1, answer);
    const int64_t offset = Micros(h1->stTimeOffset), due = NowMicros() - kSecond;
    EXPECT_GE(offset, 2 * kSecond);
    EXPECT_LT(offset, 3 * kSecond);
    Event *follows = Sent(Data(ZERA_EVENT_DATA, 1), Absolute(due), ZERA_EVF_FOLLOW_ANSWERS);
    ASSERT_EQ(Next(), follows);
    EXPECT_EQ(Micros(follows->stTimeStamp), due + offset);
    Event *plain = Sent(Data(ZERA_EVENT_DATA, 1), Relative(0));
    ASSERT_EQ(Next(), plain);  // taking one without the flag resets the offset
    EXPECT_EQ(Micros(h1->stTimeOffset), 0);

    Event *master = Sent(Master(stack.h0(), 1, 0, 5 * kSecond), Relative(60 * kSecond), ZERA_EVF_FOLLOW_ANSWERS);
    answer = Data(ZERA_EVENT_DATA2, 1);
    answer->u8Options = ZERA_OPT_REPEATING;
    answer->dwFlags = ZERA_EVF_FOLLOW_ANSWERS;
    answer->dwEventId = master->dwEventId;
    const int64_t before = NowMicros();
    ZERA_vInputFilter(h1, answer);
    EXPECT_GE(Micros(master->stTimeStamp), before + 5 * kSecond);
    EXPECT_LE(Micros(master->stTimeStamp), NowMicros() + 5 * kSecond);
    for (Event *ev : {follows, plain}) ZERA_boDeleteEvent(ev);
    Drain(h1->hRecvQueue);
}

TEST_F(Take, ABreakEndsTheWaitAndStaysUntilItsOwnerClearsIt) {
    const double cpu = IdleWaitCpu([&] { return Next(); },
                                   [&] { ZERA_vBreakSendEventWait(stack[1], &brk.flag, brk.mutex); });
    EXPECT_LT(cpu, 0.03) << "the idle taker must sleep";

    Event *due = Sent(Data(ZERA_EVENT_DATA, 1), Relative(0));
    EXPECT_EQ(Next(), nullptr);  // still broken
    EXPECT_TRUE(brk.Set(true));
    EXPECT_EQ(Next(), due);
    ZERA_boDeleteEvent(due);

    // A break fired before the wait begins is not lost.
    ZERA_vBreakSendEventWait(stack[1], nullptr, nullptr);
    const double start = Seconds();
    ZERA_vBreakSendEventWait(stack[1], &brk.flag, brk.mutex);
    EXPECT_EQ(Next(), nullptr);
    EXPECT_LT(Seconds() - start, 1.0);
    EXPECT_REFUSED(ZERA_pstGetNextSendEvent(stack[1], nullptr, &brk.flag, brk.mutex), OSAL_ERR_INVALID_ARG);
}

void ZERA_CALL TakeAll(ZERA_HLEVELTHREAD t, void *ended) {
    while (Event *ev = ZERA_pstLevelThreadNextSendEvent(t, &OSAL_stTimeNoWait)) ZERA_boDeleteEvent(ev);
    *static_cast<std::atomic<bool> *>(ended) = true;
}

// A taker whose wait cannot be set up (the queue's four records that need
// no memory are in use, and memory runs out) ends with 1026, not spinning;
// a level thread's take pauses and tries again, and still stops at once.
TEST_F(Take, AWaitThatCannotBeSetUpEndsTheTakeWithItsCode) {
    std::atomic<int> known{0};
    std::atomic<bool> returned{false}, ended{false}, done{false};
    std::vector<std::thread> others;  // alive till the takers return: they get none of their records
    while (others.size() < 4) {
        others.emplace_back([&] {
            OSAL_boQueueWaitChange(stack[1]->hSendQueue, OSAL_stTimeNoWait);
            for (++known; !done;) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    }
    while (known < 4) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ZERA_HLEVELTHREAD level = ZERA_hLevelThreadCreate(stack[1]);
    zt::AllocFailureGuard guard;
    OSAL_vTestFailAllocAfter(1);  // the level thread's start; no wait gets a record
    EXPECT_TRUE(ZERA_boLevelThreadStart(level, TakeAll, &ended));
    auto taker = std::async(std::launch::async, [&] {
        const bool none = Next() == nullptr;
        returned = true;
        return none ? OSAL_dwGetLastError() : 0u;
    });
    EXPECT_TRUE(ReturnsSoon(returned, [&] { ZERA_vBreakSendEventWait(stack[1], &brk.flag, brk.mutex); }));
    EXPECT_EQ(taker.get(), OSAL_ERR_NO_MEMORY);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(ended);
    const double start = Seconds();
    EXPECT_TRUE(ZERA_boLevelThreadDelete(level) && ended && Seconds() - start < 1.0);
    done = true;
    for (std::thread &t : others) t.join();
}

// A taker thread new to the queue, broken at any moment of its first call
// (before its look at the flag, between the look and its first use of the
// queue, or in its wait): the break is never lost.
TEST_F(Take, ABreakAtAnyMomentOfAFreshTakersFirstCallIsNotLost) {
    std::mt19937 random(11);
    auto fire = [&] { ZERA_vBreakSendEventWait(stack[1], &brk.flag, brk.mutex); };
    for (int round = 0; round < zt::SoakRounds(1000) && !HasFailure(); ++round) {
        brk.Set(true);
        std::atomic<bool> returned{false};
        std::thread taker([&] {
            EXPECT_EQ(Next(), nullptr);
            returned = true;
        });
        for (volatile int spin = std::uniform_int_distribution<int>(0, 20000)(random); spin > 0; --spin) continue;
        fire();
        EXPECT_TRUE(ReturnsSoon(returned, fire)) << "round " << round << ": the break was lost";
        taker.join();
    }
}

}  // namespace
