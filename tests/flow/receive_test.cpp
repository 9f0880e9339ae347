// flow/receive_test.cpp - receiving by masks, time-outs and breaks.
#include <functional>
#include <mutex>
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

// Level 0 made by hand from a bare handle, without identifier management,
// with one Layer on it: what a host without the kit builds.
class RawStack {
public:
    RawStack() : h0_(ZERA_hHandleCreate(nullptr)) {
        ZERA_vHostDescriptorInit(&desc_);
        h0_->pvLevelContext = &desc_;
        h0_->dwStatus = ZERA_STATUS_NO_EVID;
        ZERA_vModuleInitAPIHooksUp(h0_->apfnEntry);
        ZERA_vModuleInitAPIHooksDown(h0_->apfnEntry, nullptr);
        EXPECT_TRUE(ZERA_boCreateParListA(&h0_->pstStackParams));
        EXPECT_EQ(ZERA_bAddToStackA(h0_, "Layer"), 1) << LastText();
    }
    ~RawStack() {
        EXPECT_TRUE(ZERA_boRemoveFromStackA(h0_, 1)) << LastText();
        Drain(h0_->hRecvQueue);
        ZERA_vDeleteParamListA(h0_->pstStackParams);
        EXPECT_TRUE(ZERA_boHandleClose(h0_));
    }
    RawStack(const RawStack &) = delete;
    RawStack &operator=(const RawStack &) = delete;
    StackHandle *h0() const { return h0_; }

private:
    HostStackDescriptor desc_{};
    StackHandle *h0_;
};

// Endless receives at h0, each on a fresh thread, each broken from here
// `delay` later; none may return before its break, and none may miss it.
// With `look` the thread receives once without waiting before it is
// counted ready: its window opens there (a break after it is never lost).
// After each, one more break lands while the ended receiver no longer
// waits: the thread that comes next, often with the same id, must not take
// it for its own. Even rounds want every level, odd ones level 1 by mask.
void FreshReceiversEndOnlyByTheirBreaks(StackHandle *h0, int rounds, bool look, std::function<int()> delayMs) {
    BreakFlag brk;
    for (int round = 0; round < rounds; ++round) {
        const uint32_t levels = round % 2 == 0 ? kAll : 0x2u;
        std::atomic<bool> ready{false}, broken{false}, returned{false}, early{false};
        std::thread receiver([&] {
            if (look) {
                EXPECT_EQ(ZERA_pstReceiveEvent(h0, levels, kAll, &OSAL_stTimeNoWait), nullptr);
            }
            ready = true;
            EXPECT_EQ(ZERA_pstReceiveEvent(h0, levels, kAll, &OSAL_stTimeInfinite), nullptr);
            early = !broken;
            returned = true;
        });
        while (!ready) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs()));
        broken = true;
        ZERA_vBreakRecvEventWait(h0, &brk.flag, brk.mutex);
        for (int i = 0; i < 10000 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(returned) << "round " << round << ": the break was lost";
        while (!returned) {  // frees a receiver that missed it
            ZERA_vBreakRecvEventWait(h0, &brk.flag, brk.mutex);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ZERA_vBreakRecvEventWait(h0, &brk.flag, brk.mutex);
        receiver.join();
        EXPECT_FALSE(early) << "round " << round << ": the receive returned before its break";
        brk.Set(true);
        if (::testing::Test::HasFailure()) return;
    }
}

// A receive that a thread starts after a break (made for another thread) is
// not ended by it: the host that hands its receive loop to a new thread
// after a restart, and a pool of receiving threads. On a kit-made stack with
// identifier management and on a raw level 0 without.
TEST(Receive, AFreshThreadsEndlessReceiveEndsOnlyWithItsOwnBreak) {
    Stack kit{"Layer"};
    RawStack raw;
    const int rounds = zt::SoakRounds(1000);
    std::mt19937 random(7);
    std::mutex randomLock;  // guards random
    auto delay = [&] {
        std::lock_guard<std::mutex> hold(randomLock);
        return std::uniform_int_distribution<int>(20, 50)(random);
    };
    for (StackHandle *h0 : {kit.h0(), raw.h0()}) {
        SCOPED_TRACE(h0 == kit.h0() ? "kit" : "raw");
        FreshReceiversEndOnlyByTheirBreaks(h0, 2, false, [] { return 300; });
    }
    // Both stacks at once, to halve the time.
    std::thread other([&] { FreshReceiversEndOnlyByTheirBreaks(raw.h0(), rounds, true, delay); });
    FreshReceiversEndOnlyByTheirBreaks(kit.h0(), rounds, true, delay);
    other.join();
}

}  // namespace
