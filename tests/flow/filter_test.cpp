// flow/filter_test.cpp - the input filter: delivery by the previous level's
// masks (with copies), statistics, stamping, stack status events through a
// stack (communication threads, identifier blocks), the rescheduling of a
// repeating master by its answer, and reading and setting a level's masks.
#include "flow/flow_test_util.h"

namespace {

using namespace ft;

constexpr int64_t kSecond = 1000000;
constexpr uint32_t kAll = 0xFFFFFFFFu;

std::vector<uint32_t> Statistics(StackHandle *h) {
    std::vector<uint32_t> words(ZERA_STATS_WORDS);
    EXPECT_TRUE(ZERA_boGetStatistics(h, h->u8Level, words.data()));
    return words;
}

TEST(InputFilter, DeliversByThePreviousLevelsMasks) {
    Stack stack({"Layer", "Layer", "Layer"});
    StackHandle *h1 = stack[1], *h2 = stack[2], *h3 = stack[3];
    // Level 2 takes nothing, level 1 level-3 events of types 1 and 2, level 0
    // levels 1 to 3.
    ASSERT_TRUE(ZERA_boSetEventTypes(h2, 0, kAll));
    ASSERT_TRUE(ZERA_boSetEventTypes(h1, 1u << 3, 0x6));
    ASSERT_TRUE(ZERA_boSetEventTypes(stack.h0(), 0xE, kAll));
    EXPECT_EQ(h2->dwLowerWantedLevels, 0xEu | 1u << 3);
    EXPECT_EQ(h3->dwLowerWantedLevels & 0xE, 0xEu);

    Event *both = Data(ZERA_EVENT_DATA2, 3, 3);
    ZERA_vInputFilter(h3, both);
    Event *atOne = ZERA_pstReceiveEvent(h1, kAll, kAll, &OSAL_stTimeNoWait);
    Event *atZero = ZERA_pstReceiveEvent(stack.h0(), kAll, kAll, &OSAL_stTimeNoWait);
    ASSERT_NE(atOne, nullptr);
    ASSERT_NE(atZero, nullptr);
    EXPECT_NE(atOne, atZero);
    EXPECT_EQ(atOne->dwEventId, atZero->dwEventId);
    EXPECT_TRUE(atOne->u8Options & ZERA_OPT_COPY);  // level 1 got the copy
    EXPECT_EQ(atZero, both);
    ZERA_boDeleteEvent(atOne);
    ZERA_boDeleteEvent(atZero);

    // Type 5 is not in level 1's type mask; level 0 still takes it.
    ZERA_vInputFilter(h3, ZERA_pstCreateEvent(5, 3, 0));
    EXPECT_EQ(ZERA_pstReceiveEvent(h1, kAll, kAll, &OSAL_stTimeNoWait), nullptr);
    Event *five = ZERA_pstReceiveEvent(stack.h0(), kAll, kAll, &OSAL_stTimeNoWait);
    ASSERT_NE(five, nullptr);
    ZERA_boDeleteEvent(five);

    // Wanted level but not type, and no level below wants it: deleted.
    ASSERT_TRUE(ZERA_boSetEventTypes(stack.h0(), 0x2, kAll));
    ZERA_vInputFilter(h3, ZERA_pstCreateEvent(5, 3, 0));
    EXPECT_TRUE(Queued(h2->hRecvQueue).empty());
    EXPECT_TRUE(Queued(h3->hRecvQueue).empty());
    EXPECT_TRUE(Queued(h1->hRecvQueue).empty());
}

TEST(InputFilter, CountsAndStampsTheEventsOfItsLevel) {
    Stack stack({"Layer"});
    StackHandle *h1 = stack[1];
    ASSERT_TRUE(ZERA_boResetStatistics(h1, 1));
    const struct {
        int32_t type;
        uint32_t flags;
        uint32_t word;  // index of the event counter: kind * 4 + class
    } cases[] = {{2, 0, 0}, {2, 0x4000, 4}, {2, 0x10000 | 0x4000, 8}, {0, 0, 1}, {0, 0x8000, 5}, {0, 0x20000, 9}};
    std::vector<uint32_t> expected(ZERA_STATS_WORDS);
    for (const auto &c : cases) {
        Event *ev = Data(c.type, 1, 10);
        ev->dwFlags = c.flags;
        ZERA_vInputFilter(h1, ev);
        expected[c.word] += 1;
        expected[c.word + 2] += 10;
    }
    EXPECT_EQ(Statistics(h1), expected);
    Drain(h1->hRecvQueue);
    Event *uncounted = Data(ZERA_EVENT_DATA2, 1, 10);
    uncounted->stTimeStamp = Absolute(5);
    const int64_t before = NowMicros();
    ZERA_vInputFilterEx(h1, uncounted, 0);
    EXPECT_EQ(Statistics(h1), expected);
    Event *got = ZERA_pstReceiveEvent(stack.h0(), kAll, kAll, &OSAL_stTimeNoWait);
    ASSERT_EQ(got, uncounted);  // stamped and delivered all the same
    EXPECT_GE(Micros(got->stTimeStamp), before);
    ZERA_boDeleteEvent(got);
    ZERA_vInputFilter(nullptr, nullptr);  // nothing to do, nothing to crash
}

TEST(InputFilter, StackStatusRunsThroughEveryLevel) {
    ComponentTrace trace("Completer");
    Stack stack({"Completer", "Completer", "Completer"});
    StackHandle *top = stack[3];
    Drain(stack[1]->hRecvQueue);
    trace.Clear();
    ZERA_vInputFilter(top, StatusEvent(3, ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED | ZERA_STATUS_BIT31));
    EXPECT_EQ(trace.Levels(kStart), (std::vector<uint32_t>{3, 2, 1}));
    for (uint32_t level = 0; level <= 3; ++level) {
        EXPECT_EQ(stack[level]->dwStatus & 0x80000003u, 0x80000003u) << level;
        EXPECT_TRUE(stack[level]->dwStatus & ZERA_STATUS_NO_EVID) << level;  // not carried: stays
    }
    Event *forHost = ZERA_pstReceiveEvent(stack.h0(), kAll, kAll, &OSAL_stTimeNoWait);
    ASSERT_NE(forHost, nullptr);
    EXPECT_EQ(forHost->u8Level, 1);
    EXPECT_EQ(StatusOf(forHost), 0x80000003u);
    ZERA_boDeleteEvent(forHost);
    EXPECT_TRUE(Queued(stack[1]->hRecvQueue).empty());

    // The same status again changes nothing and starts nothing.
    trace.Clear();
    ZERA_vInputFilter(top, StatusEvent(3, 0x3));
    EXPECT_TRUE(trace.Levels(kStart).empty());
    Drain(stack[1]->hRecvQueue);

    // Stopping: every level above 0 is stopped, after it took the status.
    ZERA_vInputFilter(top, StatusEvent(3, ZERA_STATUS_COMPLETE));
    EXPECT_EQ(trace.Levels(kStop), (std::vector<uint32_t>{3, 2, 1}));
    for (uint32_t level = 0; level <= 3; ++level) EXPECT_EQ(stack[level]->dwStatus & 0x3u, 0x1u) << level;
    Drain(stack[1]->hRecvQueue);
}

TEST(InputFilter, ALevelWithoutStartFunctionsKeepsItsStatus) {
    Stack stack({"Layer", "Completer"});
    const uint32_t layerStatus = stack[1]->dwStatus;
    ZERA_vInputFilter(stack[2], StatusEvent(2, 0x3));
    EXPECT_EQ(stack[2]->dwStatus & 0x3, 0x3u);
    EXPECT_EQ(stack[1]->dwStatus, layerStatus);
    EXPECT_EQ(stack.h0()->dwStatus & 0x3, 0x3u);  // level 0 takes it over
    Drain(stack[1]->hRecvQueue);
}

TEST(InputFilter, LeavingCompleteReturnsTheIdentifierBlocks) {
    Stack stack({"Layer", "Completer"}, true);
    StackHandle *h1 = stack[1];
    Event *ev = ZERA_pstCreateEventEx(h1, ZERA_EVENT_DATA, 2, 0, 0, 0);
    ASSERT_NE(ev, nullptr) << OSAL_pszGetLastErrorText();
    ZERA_boDeleteEvent(ev);
    ASSERT_LT(h1->stEvIdManager.dwNextId, ZERA_EVID_RESERVED_FIRST);

    h1->dwStatus |= ZERA_STATUS_NO_EVID;  // such a level keeps its blocks
    ZERA_vInputFilter(h1, StatusEvent(1, 0));
    EXPECT_LT(h1->stEvIdManager.dwNextId, ZERA_EVID_RESERVED_FIRST);
    h1->dwStatus &= ~(ZERA_STATUS_NO_EVID);
    h1->dwStatus |= ZERA_STATUS_COMPLETE;
    Drain(h1->hRecvQueue);

    ZERA_vInputFilter(h1, StatusEvent(1, 0));
    EXPECT_EQ(h1->stEvIdManager.dwNextId, ZERA_EVID_NONE);
    EXPECT_FALSE(h1->dwStatus & ZERA_STATUS_COMPLETE);
    Drain(h1->hRecvQueue);
}

TEST(InputFilter, AnAnswerReschedulesItsMaster) {
    Stack stack({"Layer"});
    StackHandle *h1 = stack[1];
    Event *master = Master(stack.h0(), 1, 0, 5 * kSecond);
    ASSERT_TRUE(Send(stack.h0(), master, Relative(60 * kSecond), ZERA_EVF_FOLLOW_ANSWERS));
    Event *answer = Data(ZERA_EVENT_DATA2, 1);
    answer->u8Options = ZERA_OPT_REPEATING;
    answer->dwFlags = ZERA_EVF_FOLLOW_ANSWERS;
    answer->dwEventId = master->dwEventId;
    const int64_t before = NowMicros();
    ZERA_vInputFilter(h1, answer);
    EXPECT_GE(Micros(master->stTimeStamp), before + 5 * kSecond);
    EXPECT_LE(Micros(master->stTimeStamp), NowMicros() + 5 * kSecond);
    EXPECT_EQ(Queued(h1->hSendQueue), std::vector<Event *>{master});
    Drain(h1->hRecvQueue);
}

TEST(InputFilter, ConfigReadsAndSetsTheMasksOfALevel) {
    Stack stack({"Layer", "Layer", "Layer", "Layer", "Layer"});
    uint32_t levels = 0x20, types = 0x3;
    ASSERT_TRUE(ZERA_boConfigInputFilter(stack[1], 0x45, &levels, &types, 1));
    EXPECT_EQ(stack[5]->dwWantedLevels, 0x20u);
    EXPECT_EQ(stack[5]->dwWantedTypes, 0x3u);
    uint32_t readLevels = 0, readTypes = 0;
    ASSERT_TRUE(ZERA_boConfigInputFilter(stack.h0(), 5, &readLevels, &readTypes, 0));
    EXPECT_EQ(readLevels, 0x20u);
    EXPECT_EQ(readTypes, 0x3u);
    EXPECT_TRUE(ZERA_boConfigInputFilter(stack[2], 2, nullptr, &readTypes, 0));
    EXPECT_FALSE(ZERA_boConfigInputFilter(stack[2], 2, nullptr, &readTypes, 1));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_ARG});
    EXPECT_FALSE(ZERA_boConfigInputFilter(stack[3], 2, &readLevels, &readTypes, 0));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_LEVEL});
}

}  // namespace
