// flow/take_test.cpp - taking due events from a level's send queue: lead
// times, repetition with its counts and lag limits, the time offset of
// answers, the break protocol, sleeping without CPU, and wall-clock steps.
#include <atomic>
#include <thread>

#include "flow/flow_test_util.h"

namespace {

using namespace ft;

constexpr int64_t kSecond = 1000000;

TEST(Take, ComesOutWhenDueMinusTheLead) {
    Stack stack({"Layer"});
    BreakFlag brk;
    Event *past = Data(ZERA_EVENT_DATA, 1);
    ASSERT_TRUE(Send(stack.h0(), past, Absolute(NowMicros() - 5 * kSecond)));
    double start = Seconds();
    EXPECT_EQ(Take(stack[1], brk), past);
    EXPECT_LT(Seconds() - start, 0.5);
    ZERA_boDeleteEvent(past);

    Event *later = Data(ZERA_EVENT_DATA, 1);
    ASSERT_TRUE(Send(stack.h0(), later, Relative(800000)));
    start = Seconds();
    EXPECT_EQ(Take(stack[1], brk), later);
    EXPECT_GE(Seconds() - start, 0.75);
    EXPECT_LT(Seconds() - start, 5.0);
    ZERA_boDeleteEvent(later);

    Event *led = Data(ZERA_EVENT_DATA, 1);
    ASSERT_TRUE(Send(stack.h0(), led, Relative(2000000)));
    start = Seconds();
    EXPECT_EQ(Take(stack[1], brk, 1500000), led);
    EXPECT_GE(Seconds() - start, 0.45);
    EXPECT_LT(Seconds() - start, 1.9);
    ZERA_boDeleteEvent(led);
}

TEST(Take, AnEarlierEventSentDuringTheWaitComesFirst) {
    Stack stack({"Layer"});
    BreakFlag brk;
    Event *far = Data(ZERA_EVENT_DATA, 1);
    ASSERT_TRUE(Send(stack.h0(), far, Relative(60 * kSecond)));
    Event *near = Data(ZERA_EVENT_DATA, 1);
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_TRUE(Send(stack.h0(), near, Relative(0)));
    });
    EXPECT_EQ(Take(stack[1], brk), near);
    sender.join();
    ZERA_boDeleteEvent(near);
}

TEST(Take, RepetitionsHandOutCopiesThenTheMasterItself) {
    Stack stack({"Layer"});
    BreakFlag brk;
    Event *master = Master(stack.h0(), 1, 3, 1000);
    Attachment **node = ZERA_ppstCheckParListA(master, 1, 0, 1, 0);
    ASSERT_NE(*node, nullptr);
    ASSERT_TRUE(Send(stack.h0(), master, Relative(0)));
    const uint32_t id = master->dwEventId;
    for (int copy = 0; copy < 2; ++copy) {
        Event *ev = Take(stack[1], brk);
        ASSERT_NE(ev, nullptr);
        EXPECT_NE(ev, master);
        EXPECT_EQ(ev->dwEventId, id);
        EXPECT_TRUE(ev->u8Options & ZERA_OPT_COPY);
        EXPECT_NE(ev->pstAttachments, nullptr);
        EXPECT_EQ(ev->u8Error, 0);
        ZERA_boDeleteEvent(ev);
    }
    EXPECT_EQ(master->u16RepeatCount, 1);
    Event *last = Take(stack[1], brk);
    EXPECT_EQ(last, master);
    EXPECT_TRUE(last->u8Options & ZERA_OPT_COPY);
    EXPECT_TRUE(Queued(stack[1]->hSendQueue).empty());

    // Sent on by its receiver at level 1, a copy is a one-shot.
    Stack two({"Layer", "Layer"});
    last->u8Level = 2;
    ASSERT_TRUE(Send(two[1], last, Relative(0)));
    EXPECT_FALSE(last->u8Options & ZERA_OPT_REPEATING);
    EXPECT_EQ(last->u16RepeatCount, 0);

    Event *endless = Master(stack.h0(), 1, 0, 1000);
    ASSERT_TRUE(Send(stack.h0(), endless, Relative(0)));
    for (int i = 0; i < 20; ++i) {
        Event *ev = Take(stack[1], brk);
        ASSERT_NE(ev, nullptr);
        EXPECT_NE(ev, endless);
        ZERA_boDeleteEvent(ev);
    }
    EXPECT_EQ(Queued(stack[1]->hSendQueue), std::vector<Event *>{endless});
}

TEST(Take, ARepetitionFarBehindStartsAgainFromNowAndMarksTheCopyLate) {
    Stack stack({"Layer"});
    BreakFlag brk;
    Event *far = Master(stack.h0(), 1, 0, kSecond);
    ASSERT_TRUE(Send(stack.h0(), far, Absolute(NowMicros() - 200 * kSecond)));
    const int64_t before = NowMicros();
    Event *copy = Take(stack[1], brk);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->u8Error, 0xFF);
    EXPECT_TRUE(copy->dwFlags & ZERA_EVF_LATE);
    EXPECT_GE(Micros(far->stTimeStamp), before + kSecond);
    EXPECT_LE(Micros(far->stTimeStamp), NowMicros() + kSecond);
    ZERA_boDeleteEvent(copy);

    // 50 s behind: no reset, it catches up one period per take.
    Event *near = Master(stack.h0(), 1, 0, kSecond);
    near->dwEventId = 77;
    const int64_t start = NowMicros() - 50 * kSecond;
    ASSERT_TRUE(Send(stack.h0(), near, Absolute(start)));
    for (int i = 1; i <= 3; ++i) {
        // The far master waits a second ahead; the near one comes first.
        copy = Take(stack[1], brk);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->dwEventId, 77u);
        EXPECT_EQ(copy->u8Error, 0);
        EXPECT_FALSE(copy->dwFlags & ZERA_EVF_LATE);
        EXPECT_EQ(Micros(near->stTimeStamp), start + i * kSecond);
        ZERA_boDeleteEvent(copy);
    }
}

TEST(Take, OneShotsThatFollowAnswersAreShiftedByTheirDelay) {
    Stack stack({"Layer"});
    BreakFlag brk;
    StackHandle *h1 = stack[1];
    // An answer of level 1 stamped 2 s in the past: the offset grows by 2 s.
    Event *answer = Data(ZERA_EVENT_DATA2, 1);
    answer->stTimeStamp = Absolute(NowMicros() - 2 * kSecond);
    ZERA_vInputFilter(h1, answer);
    const int64_t offset = Micros(h1->stTimeOffset);
    EXPECT_GE(offset, 2 * kSecond);
    EXPECT_LT(offset, 3 * kSecond);

    Event *follows = Data(ZERA_EVENT_DATA, 1);
    const int64_t due = NowMicros() - kSecond;
    ASSERT_TRUE(Send(stack.h0(), follows, Absolute(due), ZERA_EVF_FOLLOW_ANSWERS));
    ASSERT_EQ(Take(h1, brk), follows);
    EXPECT_EQ(Micros(follows->stTimeStamp), due + offset);
    ZERA_boDeleteEvent(follows);
    Event *plain = Data(ZERA_EVENT_DATA, 1);
    ASSERT_TRUE(Send(stack.h0(), plain, Relative(0)));
    ASSERT_EQ(Take(h1, brk), plain);
    EXPECT_EQ(Micros(h1->stTimeOffset), 0);
    ZERA_boDeleteEvent(plain);
}

TEST(Take, ABreakEndsTheWaitAndStaysUntilItsOwnerClearsIt) {
    Stack stack({"Layer"});
    BreakFlag brk;
    std::atomic<double> cpu{-1};
    Event *taken = reinterpret_cast<Event *>(1);
    std::thread taker([&] {
        const double before = ThreadCpuSeconds();
        taken = Take(stack[1], brk);
        cpu = ThreadCpuSeconds() - before;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ZERA_vBreakSendEventWait(stack[1], &brk.flag, brk.mutex);
    taker.join();
    EXPECT_EQ(taken, nullptr);
    EXPECT_LT(cpu.load(), 0.03) << "the idle taker must sleep";

    Event *due = Data(ZERA_EVENT_DATA, 1);
    ASSERT_TRUE(Send(stack.h0(), due, Relative(0)));
    EXPECT_EQ(Take(stack[1], brk), nullptr);  // still broken
    EXPECT_TRUE(brk.Set());
    brk.Clear();
    EXPECT_EQ(Take(stack[1], brk), due);
    ZERA_boDeleteEvent(due);

    // A break fired before the wait begins is not lost.
    ZERA_vBreakSendEventWait(stack[1], nullptr, nullptr);
    const double start = Seconds();
    ZERA_vBreakSendEventWait(stack[1], &brk.flag, brk.mutex);
    EXPECT_EQ(Take(stack[1], brk), nullptr);
    EXPECT_LT(Seconds() - start, 1.0);
    EXPECT_EQ(ZERA_pstGetNextSendEvent(stack[1], nullptr, &brk.flag, brk.mutex), nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_ARG});
}

TEST(Take, WaitsFollowTheWallClock) {
    ClockGuard guard;
    Stack stack({"Layer"});
    BreakFlag brk;
    Event *ev = Data(ZERA_EVENT_DATA, 1);
    ASSERT_TRUE(Send(stack.h0(), ev, Relative(100 * kSecond)));
    std::atomic<Event *> taken{nullptr};
    std::thread taker([&] { taken = Take(stack[1], brk); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(taken.load(), nullptr);
    const double start = Seconds();
    OSAL_vTestSetClockOffset(101 * kSecond);  // a forward step: due now
    taker.join();
    EXPECT_EQ(taken.load(), ev);
    EXPECT_LT(Seconds() - start, 2.0);
    ZERA_boDeleteEvent(ev);

    // A backward step delays what was about to fall due.
    OSAL_vTestSetClockOffset(0);
    Event *soon = Data(ZERA_EVENT_DATA, 1);
    ASSERT_TRUE(Send(stack.h0(), soon, Relative(300000)));
    taken = nullptr;
    std::thread late([&] { taken = Take(stack[1], brk); });
    OSAL_vTestSetClockOffset(-60 * kSecond);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(taken.load(), nullptr);
    OSAL_vTestSetClockOffset(0);
    late.join();
    EXPECT_EQ(taken.load(), soon);
    ZERA_boDeleteEvent(soon);
}

}  // namespace
