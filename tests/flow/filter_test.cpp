// flow/filter_test.cpp - the input filter: delivery by the masks below (with
// copies), statistics, stamping, status events through a stack and back.
#include "flow/flow_test_util.h"

namespace {

using namespace st;

TEST(InputFilter, CountsStampsAndDeliversByThePreviousLevelsMasks) {
    FlowStack stack{"Layer", "Layer", "Layer"};
    StackHandle *h0 = stack.h0(), *h1 = stack[1], *h3 = stack[3];
    // A type-0 event flagged 0x20000 counts as kind 2, class 1 (counter word 9,
    // its bytes in word 11); the filter stamps it with the time of arrival.
    const int64_t before = NowMicros();
    Event *counted = Data(0, 1, 10);
    counted->dwFlags = 0x20000;
    counted->stTimeStamp = Absolute(5);
    ZERA_vInputFilter(h1, counted);
    ASSERT_EQ(ReceiveNow(h0), counted);
    EXPECT_GE(Micros(counted->stTimeStamp), before);
    ZERA_boDeleteEvent(counted);
    std::vector<uint32_t> expected(ZERA_STATS_WORDS), words(ZERA_STATS_WORDS);
    expected[9] = 1;
    expected[11] = 10;
    ASSERT_TRUE(ZERA_boGetStatistics(h1, 1, words.data()));
    EXPECT_EQ(words, expected);
    ZERA_vInputFilter(nullptr, nullptr);  // nothing to do, nothing to crash

    // Level 2 takes nothing, level 1 level 3's types 1 and 2, level 0 levels 1 to 3.
    ASSERT_TRUE(ZERA_boSetEventTypes(stack[2], 0, kAll));
    ASSERT_TRUE(ZERA_boSetEventTypes(h1, 1u << 3, 0x6));
    ASSERT_TRUE(ZERA_boSetEventTypes(h0, 0xE, kAll));
    EXPECT_EQ(stack[2]->dwLowerWantedLevels, 0xEu | 1u << 3);

    Event *both = Data(ZERA_EVENT_DATA2, 3, 3);
    ZERA_vInputFilter(h3, both);
    Event *atOne = ReceiveNow(h1), *atZero = ReceiveNow(h0);
    ASSERT_NE(atOne, nullptr);
    EXPECT_EQ(atZero, both);
    // Level 1 got the copy.
    EXPECT_TRUE(atOne != atZero && atOne->dwEventId == both->dwEventId && (atOne->u8Options & ZERA_OPT_COPY));
    for (Event *ev : {atOne, atZero}) ZERA_boDeleteEvent(ev);

    // Type 5 is not in level 1's type mask; level 0 still takes it.
    Event *five = ZERA_pstCreateEvent(5, 3, 0);
    ZERA_vInputFilter(h3, five);
    EXPECT_EQ(ReceiveNow(h1), nullptr);
    EXPECT_EQ(ReceiveNow(h0), five);
    ZERA_boDeleteEvent(five);

    // Wanted level but not type, and no level below wants it: deleted.
    ASSERT_TRUE(ZERA_boSetEventTypes(h0, 0x2, kAll));
    ZERA_vInputFilter(h3, ZERA_pstCreateEvent(5, 3, 0));
    for (uint32_t level : {1, 2, 3}) EXPECT_TRUE(Queued(stack[level]->hRecvQueue).empty());
}

TEST(InputFilter, MasksAreSetForALevelAndPropagateUpwards) {
    FlowStack stack{"Layer", "Layer", "Layer", "Layer", "Layer"};
    ASSERT_TRUE(ZERA_boSetEventTypes(stack.h0(), 0, kAll));
    EXPECT_EQ(stack.h0()->dwWantedLevels, 0x2u);  // with a level above, level 0 keeps its events
    ASSERT_TRUE(ZERA_boSetEventTypes(stack[1], 0x4, 0x6));
    EXPECT_EQ(stack[3]->dwLowerWantedLevels, 0x2u | 0x4u | stack[2]->dwWantedLevels);
    uint32_t levels = 0x20, types = 0x3;  // level 5's, named by the low six bits
    ASSERT_TRUE(ZERA_boConfigInputFilter(stack[1], 0x45, &levels, &types, 1));
    EXPECT_EQ(stack[5]->dwWantedTypes, 0x3u);
    EXPECT_REFUSED(ZERA_boConfigInputFilter(stack[3], 2, &levels, &types, 0), OSAL_ERR_INVALID_LEVEL);
}

TEST(InputFilter, StackStatusRunsThroughEveryLevelAndTurnsAtTheTop) {
    ComponentTrace trace("Completer");
    FlowStack stack{"Completer", "Completer", "Completer"};
    StackHandle *top = stack[3];
    trace.Clear();
    ZERA_vInputFilter(top, StatusEvent(3, ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED | ZERA_STATUS_BIT31));
    EXPECT_EQ(trace.Levels(kStart), (std::vector<uint32_t>{3, 2, 1}));
    EXPECT_EQ(stack.h0()->dwStatus, 0x80000003u | ZERA_STATUS_NO_EVID);  // the latter is not carried: it stays
    // Stopping stops every level above 0 after it took the status.
    ZERA_vInputFilter(top, StatusEvent(3, ZERA_STATUS_COMPLETE));
    EXPECT_EQ(trace.Levels(kStop), (std::vector<uint32_t>{3, 2, 1}));
    for (uint32_t level = 0; level <= 3; ++level) EXPECT_EQ(stack[level]->dwStatus & 0x3u, 0x1u) << level;

    // Sent up with the other bit 31, it turns at the top and comes back down.
    Drain(stack[1]->hRecvQueue);
    trace.Clear();
    const uint32_t toggled = top->dwStatus ^ ZERA_STATUS_BIT31;
    ASSERT_TRUE(Send(stack.h0(), StatusEvent(0, toggled & ZERA_STATUS_BIT31), Relative(0)));
    EXPECT_EQ(top->dwStatus, toggled);
    EXPECT_EQ(trace.Levels(kNotify), std::vector<uint32_t>{3});
    Event *got = ReceiveNow(stack.h0());
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(StatusOf(got), toggled);
    ZERA_boDeleteEvent(got);
}

// A full receive queue loses what comes after, but never without a count:
// of every event entered, each is received or counted dropped, exactly, and
// only at the level whose queue was full. A copy that cannot be made for
// the queue counts too.
TEST(InputFilter, EveryEventAFullReceiveQueueRefusesIsCounted) {
    FlowStack stack{"Layer", "Layer"};
    StackHandle *h0 = stack.h0(), *h1 = stack[1], *h2 = stack[2];
    constexpr uint64_t kOver = 100;
    const uint64_t sent = ZERA_QUEUE_CAPACITY + kOver;
    for (uint64_t i = 0; i < sent; ++i) ZERA_vInputFilterEx(h1, Data(ZERA_EVENT_DATA0, 1, 0), 0);
    auto dropped = [&](uint8_t level) {
        uint64_t n = ~0ull;
        EXPECT_TRUE(ZERA_boHostGetDropCount(h0, level, &n)) << LastText();
        return n;
    };
    EXPECT_EQ((std::vector<uint64_t>{dropped(0), dropped(1), dropped(2)}), (std::vector<uint64_t>{0, kOver, 0}));
    uint64_t taken = 0;
    for (Event *ev; (ev = ZERA_pstHostReceiveEvent(h0, 0)) != nullptr; ++taken) ZERA_boDeleteEvent(ev);
    EXPECT_EQ(taken, ZERA_QUEUE_CAPACITY);
    EXPECT_EQ(sent, taken + dropped(1));

    // Level 1 wants level 2's events and so does level 0: without memory for
    // the copy, level 2's queue misses one; the event itself goes on down.
    ASSERT_TRUE(ZERA_boSetEventTypes(h0, 0x6, kAll));
    Event *uncopied = Data(ZERA_EVENT_DATA0, 2, 0);
    OSAL_vTestFailOneAllocAfter(0);
    ZERA_vInputFilterEx(h2, uncopied, 0);
    OSAL_vTestFailAllocAfter(-1);
    EXPECT_EQ(dropped(2), 1u);
    EXPECT_EQ(ReceiveNow(h1), nullptr);
    EXPECT_EQ(ReceiveNow(h0), uncopied);
    ZERA_boDeleteEvent(uncopied);

    uint64_t untouched = 7;
    EXPECT_REFUSED(ZERA_boHostGetDropCount(h1, 1, &untouched), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(ZERA_boHostGetDropCount(h0, 3, &untouched), OSAL_ERR_INVALID_LEVEL);
    EXPECT_EQ(untouched, 7u);
}

}  // namespace
