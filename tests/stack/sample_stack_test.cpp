// stack/sample_stack_test.cpp - the sample components of examples/components
// stacked through the library: Counter, Loopback, Ticker from level 1 up,
// started, ticking and stopped. Skipped where the samples are not built.
#include "stack/stack_test_util.h"

namespace {

TEST(SampleStack, TicksComeDownAnsweredAndCounted) {
    OSAL_HMODULE ticker = OSAL_hLoadLibraryA("Ticker.COMPONENT");
    if (ticker == nullptr) GTEST_SKIP() << "the sample components are not built";
    OSAL_boFreeLibrary(ticker);
    st::Stack stack{"Counter", "Loopback"};
    ASSERT_NE(stack.AddWide(u"Ticker"), nullptr);
    StackHandle *h0 = stack.h0();

    EXPECT_REFUSED(ZERA_boSetStackParamW(h0, 3, st::W(u"Period"), 5u), OSAL_ERR_INVALID_SIZE);  // held at 10 ms
    EXPECT_EQ(ZERA_pstGetStackParamW(h0, 3, st::W(u"Period"))->uValue.dw, 10u);
    ASSERT_TRUE(ZERA_boSetStackParamW(h0, 3, st::W(u"Period"), 20u));
    EXPECT_FALSE(ZERA_boSetStackParamA(h0, 1, "Kind", 3u));
    ASSERT_TRUE(ZERA_boSetStackParamA(h0, 1, "Kind", 1u));

    st::StartStack(stack);
    EXPECT_EQ(h0->dwStatus & ZERA_STATUS_STARTED, ZERA_STATUS_STARTED);
    EXPECT_FALSE(ZERA_boSetStackParamW(h0, 3, st::W(u"Period"), 30u));  // not while started

    // The host receives each tick as Counter's event, answered by Loopback.
    const TimeVal wait = {OSAL_TIME_RELATIVE, 5};
    uint32_t last = 0;
    for (int n = 0; n < 5; ++n) {
        Event *ev = ZERA_pstReceiveEvent(h0, 1u << 1, 1u << ZERA_EVENT_DATA2, &wait);
        ASSERT_NE(ev, nullptr) << "tick " << n;
        EXPECT_EQ(ev->u8Level, 1);
        ASSERT_EQ(ev->dwDataSize, sizeof last);
        uint32_t tick = 0;
        std::memcpy(&tick, ev->pbData, sizeof tick);
        EXPECT_GT(tick, last);
        last = tick;
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }
    uint32_t words[ZERA_STATS_WORDS];
    ASSERT_TRUE(ZERA_boGetStatistics(h0, 1, words));
    EXPECT_GE(words[4], 5u);  // kind 1, events
    EXPECT_GE(words[6], 5u * 4);  // kind 1, bytes

    // Removal stops every thread first (a hang here is the failure).
    EXPECT_TRUE(ZERA_boRemoveFromStackA(h0, 1));
    EXPECT_EQ(h0->dwStatus & ZERA_STATUS_STARTED, 0u);
}

}  // namespace
