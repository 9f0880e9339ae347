// stack/sample_stack_test.cpp - the sample components of examples/components
// as the host tool stacks them: Counter, Loopback, Ticker from level 1 up.
// Skipped where the samples are not built (builds without the tools).
#include <cstring>

#include "stack/stack_test_util.h"

namespace {

bool SamplesBuilt() {
    OSAL_HMODULE module = OSAL_hLoadLibraryA("Ticker.COMPONENT");
    if (module == nullptr) return false;
    OSAL_boFreeLibrary(module);
    return true;
}

TEST(SampleStack, InfoBlocksFixTheOrder) {
    if (!SamplesBuilt()) GTEST_SKIP() << "the sample components are not built";
    st::HostStack stack;
    ASSERT_NE(stack.Add("Counter"), nullptr);
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Ticker"), 0);  // Counter takes Loopback only
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INFO_MISMATCH));
    EXPECT_EQ(st::LastArg(), "range B");
    ASSERT_NE(stack.Add("Loopback"), nullptr);
    ASSERT_NE(stack.Add("Ticker"), nullptr);
    EXPECT_EQ(stack.Top()->dwStatus & ZERA_STATUS_COMPLETE, ZERA_STATUS_COMPLETE);
    EXPECT_EQ(ZERA_bAddToStackA(stack.h0(), "Counter"), 0);  // nothing on top of Ticker
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INFO_MISMATCH));
}

TEST(SampleStack, TicksComeDownAnsweredAndCounted) {
    if (!SamplesBuilt()) GTEST_SKIP() << "the sample components are not built";
    st::HostStack stack;
    for (const char *name : {"Counter", "Loopback"}) ASSERT_NE(stack.Add(name), nullptr);
    ASSERT_NE(stack.AddWide(u"Ticker"), nullptr);
    StackHandle *h0 = stack.h0();

    EXPECT_FALSE(ZERA_boSetStackParamW(h0, 3, st::W(u"Period"), 5u));  // held at 10 ms at least
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_SIZE));
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
