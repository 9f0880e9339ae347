// stack/sample_stack_test.cpp - the sample components (Counter, Loopback,
// Ticker from level 1 up) stacked, started, ticking and stopped under the
// sanitizers. Skipped where the samples are not built.
#include "stack/stack_test_util.h"

namespace {

TEST(SampleStack, TicksComeDownAnsweredAndCounted) {
    OSAL_HMODULE ticker = OSAL_hLoadLibraryA("Ticker.COMPONENT");
    if (ticker == nullptr) GTEST_SKIP() << "the sample components are not built";
    OSAL_boFreeLibrary(ticker);
    const size_t blocks = st::TakenIdBlocks();
    st::Stack stack{"Counter", "Loopback"};
    ASSERT_NE(stack.AddWide(u"Ticker"), nullptr);
    StackHandle *h0 = stack.h0();
    ASSERT_TRUE(ZERA_boSetStackParamW(h0, 3, st::W(u"Period"), 20u));
    ASSERT_TRUE(ZERA_boSetStackParamA(h0, 1, "Kind", 1u));
    st::StartStack(stack);
    // The host receives each tick as Counter's event, answered by Loopback.
    const TimeVal wait = {OSAL_TIME_RELATIVE, 5};
    for (uint32_t n = 0, last = 0, tick = 0; n < 3; ++n, last = tick) {
        Event *ev = ZERA_pstReceiveEvent(h0, 1u << 1, 1u << ZERA_EVENT_DATA2, &wait);
        ASSERT_NE(ev, nullptr) << "tick " << n;
        ASSERT_EQ(ev->u8Level * 100 + ev->dwDataSize, 104u);
        std::memcpy(&tick, ev->pbData, sizeof tick);
        EXPECT_GT(tick, last);
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }
    uint32_t words[ZERA_STATS_WORDS];
    ASSERT_TRUE(ZERA_boGetStatistics(h0, 1, words));
    EXPECT_TRUE(words[4] >= 3u && words[6] >= 3u * 4) << words[4];  // kind 1: events, bytes
    EXPECT_TRUE(ZERA_boRemoveFromStackA(h0, 1));  // stops every thread first (a hang is the failure)
    EXPECT_EQ(h0->dwStatus & ZERA_STATUS_STARTED, 0u);
    EXPECT_EQ(st::TakenIdBlocks(), blocks);  // every level gave its identifier blocks back
}

}  // namespace
