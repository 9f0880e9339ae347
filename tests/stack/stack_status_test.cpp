// stack/stack_status_test.cpp - the stack status event, statistics and load
// figures (also from several threads), the queue order of time stamps, and
// the stack's time.
#include <thread>
#include <vector>

#include "handle/handle.h"
#include "stack/stack_test_util.h"

namespace {

using st::HostStack;

// ---- The stack status event --------------------------------------------------

std::vector<Event *> g_filtered;
void ZERA_CALL RecordFiltered(StackHandle *, Event *ev) { g_filtered.push_back(ev); }

TEST(StackStatus, AnnouncedOnlyWhenChangedWhileComplete) {
    HostStack stack;
    StackHandle *h0 = stack.h0();
    h0->apfnEntry[zera::kEntryInputFilter] = reinterpret_cast<ZERA_PFN>(RecordFiltered);
    h0->dwStatus = ZERA_STATUS_NO_EVID;  // no manager to draw an identifier from
    g_filtered.clear();

    ZERA_vUpdateStackStatus(h0, ZERA_STATUS_NO_EVID | ZERA_STATUS_COMPLETE);  // changed, but not complete
    h0->dwStatus |= ZERA_STATUS_COMPLETE;
    ZERA_vUpdateStackStatus(h0, h0->dwStatus);  // complete, but unchanged
    EXPECT_TRUE(g_filtered.empty());

    ZERA_vUpdateStackStatus(h0, ZERA_STATUS_NO_EVID);
    ASSERT_EQ(g_filtered.size(), 1u);
    Event *ev = g_filtered[0];
    EXPECT_EQ(ev->i32Type, ZERA_EVENT_ITEMS);
    EXPECT_EQ(ev->u8Level, 0);
    EXPECT_EQ(ev->dwItemsSize, 12u);
    EXPECT_EQ(ev->dwItemCount, 1u);
    uint32_t item[3];
    std::memcpy(item, ev->pbItems, sizeof item);
    EXPECT_EQ(item[0], 0u);
    EXPECT_EQ(item[1], 12u);
    EXPECT_EQ(item[2], ZERA_STATUS_NO_EVID | ZERA_STATUS_COMPLETE);
    uint32_t status = 0;
    EXPECT_TRUE(zera::ReadStackStatusEvent(ev, &status));
    EXPECT_EQ(status, item[2]);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

TEST(StackStatus, OnlyItemEventsOfOneDWordItemAreStatusEvents) {
    uint32_t status = 0;
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_ITEMS, 1, 12);
    ev->dwItemCount = 1;
    EXPECT_TRUE(zera::ReadStackStatusEvent(ev, &status));
    ev->pbItems[0] = 1;  // kind 1: a 64-bit item
    EXPECT_FALSE(zera::ReadStackStatusEvent(ev, &status));
    ev->pbItems[0] = 0;
    ev->dwItemCount = 2;
    EXPECT_FALSE(zera::ReadStackStatusEvent(ev, &status));
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    ev = ZERA_pstCreateEvent(ZERA_EVENT_ITEMS, 1, 8);  // too small for an item
    ev->dwItemCount = 1;
    EXPECT_FALSE(zera::ReadStackStatusEvent(ev, &status));
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    ev = ZERA_pstCreateEvent(ZERA_EVENT_DATA, 1, 12);
    EXPECT_FALSE(zera::ReadStackStatusEvent(ev, &status));
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    EXPECT_FALSE(zera::ReadStackStatusEvent(nullptr, &status));
}

// ---- Statistics and load -------------------------------------------------------

std::vector<uint32_t> Statistics(StackHandle *h, uint8_t level) {
    std::vector<uint32_t> words(ZERA_STATS_WORDS, 0xDEADBEEF);
    EXPECT_TRUE(ZERA_boGetStatistics(h, level, words.data()));
    return words;
}

TEST(Statistics, CountersHalveBeforeTheyWouldPassTheTop) {
    HostStack stack;
    StackHandle *h0 = stack.h0();
    for (uint32_t kind = 0; kind < 3; ++kind) {
        for (uint32_t column = 0; column < 4; ++column) h0->astStatistics[kind][column] = 100 + column;
    }
    h0->astStatistics[0][2] = 0xFFFFFFF0u;
    ZERA_vUpdateStatistics(h0, 0, 1, 0, 0x20, 3);
    EXPECT_EQ(h0->astStatistics[0][0], 50u + 1);
    EXPECT_EQ(h0->astStatistics[0][1], 50u);
    EXPECT_EQ(h0->astStatistics[0][2], 0x7FFFFFF8u + 0x20);
    EXPECT_EQ(h0->astStatistics[0][3], 51u + 3);
    EXPECT_EQ(h0->astStatistics[2][3], 51u);  // every kind is halved

    ZERA_vUpdateStatistics(h0, 2, 1, 2, 3, 4);
    EXPECT_EQ(h0->astStatistics[2][0], 51u);
    EXPECT_EQ(h0->astStatistics[2][3], 55u);
    const std::vector<uint32_t> before = Statistics(h0, 0);
    ZERA_vUpdateStatistics(h0, 3, 1, 1, 1, 1);  // no such kind
    EXPECT_EQ(Statistics(h0, 0), before);
}

TEST(Statistics, LoadFiguresAndTheirMaxima) {
    HostStack stack;
    StackHandle *h0 = stack.h0();
    ZERA_vUpdateLoad(h0, 10, 20);
    ZERA_vUpdateLoad(h0, 4, 0xFFFF);  // B unchanged
    ZERA_vUpdateLoad(h0, 0xFFFF, 30);
    EXPECT_EQ(h0->u16LoadA, 4);
    EXPECT_EQ(h0->u16LoadAMax, 10);
    EXPECT_EQ(h0->u16LoadB, 30);
    EXPECT_EQ(h0->u16LoadBMax, 30);
    const std::vector<uint32_t> words = Statistics(h0, 0);
    EXPECT_EQ(words[12], 4u | 30u << 16);
    EXPECT_EQ(words[13], 10u | 30u << 16);
}

TEST(Statistics, ReadAndResetTheLevelAskedFor) {
    HostStack stack;
    StackHandle *h1 = stack.Add("Layer");
    StackHandle *h2 = stack.Add("Layer");
    ASSERT_NE(h2, nullptr);
    ZERA_vUpdateStatistics(h1, 1, 1, 2, 3, 4);
    ZERA_vUpdateStatistics(h2, 0, 5, 6, 7, 8);
    ZERA_vUpdateLoad(h2, 9, 10);

    EXPECT_EQ(Statistics(stack.h0(), 1)[4], 1u);
    const std::vector<uint32_t> top = Statistics(stack.h0(), 2);
    EXPECT_EQ(std::vector<uint32_t>(top.begin(), top.begin() + 4), (std::vector<uint32_t>{5, 6, 7, 8}));
    EXPECT_EQ(top[12], 9u | 10u << 16);
    EXPECT_EQ(Statistics(stack.h0(), 200), top);  // above the top: the top's
    EXPECT_EQ(Statistics(h2, 1), top);            // below the handle: the handle's own

    EXPECT_TRUE(ZERA_boResetStatistics(stack.h0(), 2));
    EXPECT_EQ(Statistics(h2, 2), std::vector<uint32_t>(ZERA_STATS_WORDS, 0));
    EXPECT_EQ(Statistics(h1, 1)[4], 1u);  // level 1 kept its counters
    EXPECT_TRUE(ZERA_boResetStatistics(h1, 1));
    EXPECT_EQ(Statistics(h1, 1), std::vector<uint32_t>(ZERA_STATS_WORDS, 0));

    uint32_t words[ZERA_STATS_WORDS];
    EXPECT_FALSE(ZERA_boGetStatistics(stack.h0(), 1, nullptr));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
    EXPECT_FALSE(ZERA_boGetStatistics(nullptr, 1, words));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    EXPECT_FALSE(ZERA_boResetStatistics(nullptr, 1));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    h2->dwMagic = 0;  // a level on the way that fails the check
    EXPECT_FALSE(ZERA_boGetStatistics(stack.h0(), 2, words));
    EXPECT_FALSE(ZERA_boResetStatistics(stack.h0(), 2));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    h2->dwMagic = ZERA_HANDLE_MAGIC;
}

TEST(Statistics, UpdatesFromSeveralThreadsAreNotLost) {
    HostStack stack;
    StackHandle *h0 = stack.h0();
    constexpr int kThreads = 4, kRounds = 5000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([h0, t] {
            for (int i = 0; i < kRounds; ++i) {
                ZERA_vUpdateStatistics(h0, static_cast<uint32_t>(t % 3), 1, 0, 10, 0);
                ZERA_vUpdateLoad(h0, static_cast<uint16_t>(i % 100), 0xFFFF);
                uint32_t words[ZERA_STATS_WORDS];
                if (i % 100 == 0) ZERA_boGetStatistics(h0, 0, words);
            }
        });
    }
    for (std::thread &t : threads) t.join();
    const std::vector<uint32_t> words = Statistics(h0, 0);
    EXPECT_EQ(words[0] + words[4] + words[8], static_cast<uint32_t>(kThreads * kRounds));
    EXPECT_EQ(words[2] + words[6] + words[10], static_cast<uint32_t>(10 * kThreads * kRounds));
    EXPECT_EQ(words[13] & 0xFFFF, 99u);
}

// ---- Time stamps and time --------------------------------------------------------

bool NotEarlier(TimeVal first, TimeVal second) {
    Event a{}, b{};
    a.stTimeStamp = first;
    b.stTimeStamp = second;
    return ZERA_boTimeStampCompare(&a, &b) != 0;
}

TEST(TimeStampCompare, SecondNotEarlierThanFirst) {
    EXPECT_TRUE(NotEarlier({5, 10}, {5, 10}));
    EXPECT_FALSE(NotEarlier({6, 10}, {5, 10}));
    EXPECT_TRUE(NotEarlier({5, 10}, {6, 10}));
    EXPECT_FALSE(NotEarlier({0, 11}, {999999, 10}));
    EXPECT_TRUE(NotEarlier({999999, 10}, {0, 11}));
    EXPECT_TRUE(NotEarlier({5, 10}, {5 | OSAL_TIME_RELATIVE, 10}));  // the RELATIVE bit plays no part
    EXPECT_TRUE(NotEarlier({5 | OSAL_TIME_RELATIVE, 10}, {5, 10}));
    EXPECT_TRUE(NotEarlier({0, INT32_MAX}, {0, INT32_MIN}));  // seconds compare by their wrapped difference
}

void OSAL_CALL DeleteQueued(void *item) { ZERA_vDeleteEvent(static_cast<Event *>(item)); }

TEST(TimeStampCompare, OrdersAQueueEarliestFirst) {
    OSAL_HQUEUE queue = OSAL_hQueueCreate(0, DeleteQueued);
    ASSERT_NE(queue, nullptr);
    const TimeVal stamps[] = {{500, 3}, {0, 1}, {999999, 2}, {0, 3}, {1, 1}};
    for (const TimeVal &t : stamps) {
        Event *ev = ZERA_pstCreateEvent(5, 0, 0);
        ev->stTimeStamp = t;
        ASSERT_TRUE(OSAL_boQueuePut(queue, ev, ZERA_boTimeStampCompare));
    }
    const TimeVal expected[] = {{0, 1}, {1, 1}, {999999, 2}, {0, 3}, {500, 3}};
    for (const TimeVal &t : expected) {
        auto *ev = static_cast<Event *>(OSAL_pvQueueGet(queue, 0, OSAL_stTimeNoWait));
        ASSERT_NE(ev, nullptr);
        EXPECT_EQ(ev->stTimeStamp.i32Seconds, t.i32Seconds);
        EXPECT_EQ(ev->stTimeStamp.dwMicroseconds, t.dwMicroseconds);
        ZERA_boDeleteEvent(ev);
    }
    OSAL_vQueueDelete(queue);
}

BOOL8 ZERA_CALL FixedTime(StackHandle *, uint8_t u8Level, TimeVal *t) {
    t->i32Seconds = 1234;
    t->dwMicroseconds = u8Level;  // shows which level number was passed on
    return 1;
}

TEST(StackTime, TheTopmostLevelAnswers) {
    HostStack stack;
    TimeVal before{}, now{}, after{};
    OSAL_vGetSystemTime(&before);
    ASSERT_TRUE(ZERA_boGetTime(stack.h0(), 0, &now));
    OSAL_vGetSystemTime(&after);
    EXPECT_GE(now.i32Seconds, before.i32Seconds);
    EXPECT_LE(now.i32Seconds, after.i32Seconds);

    StackHandle *h2 = nullptr;
    stack.Add("Layer");
    h2 = stack.Add("Layer");
    ASSERT_NE(h2, nullptr);
    h2->apfnEntry[zera::kEntryGetTime] = reinterpret_cast<ZERA_PFN>(FixedTime);
    ASSERT_TRUE(ZERA_boGetTime(stack.h0(), 7, &now));
    EXPECT_EQ(now.i32Seconds, 1234);
    EXPECT_EQ(now.dwMicroseconds, 0u);  // passed on as level 0

    EXPECT_FALSE(ZERA_boGetTime(stack.h0(), 0, nullptr));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
    EXPECT_FALSE(ZERA_boGetTime(nullptr, 0, &now));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    h2->apfnEntry[zera::kEntryGetTime] = nullptr;  // a level that cannot answer
    EXPECT_FALSE(ZERA_boGetTime(stack.h0(), 0, &now));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    h2->apfnEntry[zera::kEntryGetTime] = reinterpret_cast<ZERA_PFN>(ZERA_boGetTime);

    // The top reads the platform's clock, shifted clock included.
    OSAL_vTestSetClockOffset(3600LL * 1000000);
    EXPECT_TRUE(ZERA_boGetTime(stack.Level(1), 0, &now));
    OSAL_vTestSetClockOffset(0);
    EXPECT_GE(now.i32Seconds, before.i32Seconds + 3600);
}

}  // namespace
