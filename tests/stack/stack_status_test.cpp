// stack/stack_status_test.cpp - the stack status event, statistics and load
// figures (also from several threads), the order of time stamps, and the
// stack's time.
#include <thread>

#include "handle/handle.h"
#include "stack/stack_test_util.h"

namespace {

using st::Stack;
using Words = std::vector<uint32_t>;

std::vector<Event *> g_filtered;
void ZERA_CALL RecordFiltered(StackHandle *, Event *ev) { g_filtered.push_back(ev); }

TEST(StackStatus, AnnouncedOnlyWhenChangedWhileComplete) {
    Stack stack;
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
    EXPECT_EQ(ev->dwItemsSize * 10 + ev->dwItemCount, 121u);
    const uint32_t expected[3] = {0, 12, ZERA_STATUS_NO_EVID | ZERA_STATUS_COMPLETE};  // kind, size, status
    EXPECT_EQ(std::memcmp(ev->pbItems, expected, sizeof expected), 0);
    EXPECT_EQ(st::StatusOf(ev), expected[2]);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    // Only item events of one 32-bit item of kind 0 are status events.
    const struct {
        int32_t type;
        uint32_t size, count;
        uint8_t kind;
    } notStatus[] = {{ZERA_EVENT_ITEMS, 12, 1, 1}, {ZERA_EVENT_ITEMS, 12, 2, 0}, {ZERA_EVENT_ITEMS, 8, 1, 0},
                     {ZERA_EVENT_DATA, 12, 1, 0}};
    uint32_t status = 0;
    for (const auto &c : notStatus) {
        ev = ZERA_pstCreateEvent(c.type, 1, c.size);
        ev->dwItemCount = c.count;
        if (c.type == ZERA_EVENT_ITEMS) ev->pbItems[0] = c.kind;
        EXPECT_FALSE(zera::ReadStackStatusEvent(ev, &status)) << &c - notStatus;
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }
    EXPECT_FALSE(zera::ReadStackStatusEvent(nullptr, &status));
}

Words Statistics(StackHandle *h, uint8_t level) {
    Words words(ZERA_STATS_WORDS, 0xDEADBEEF);
    EXPECT_TRUE(ZERA_boGetStatistics(h, level, words.data()));
    return words;
}

TEST(Statistics, CountersHalveBeforeTheyWouldPassTheTopAndLoadKeepsItsMaxima) {
    Stack stack;
    StackHandle *h0 = stack.h0();
    for (auto &kind : h0->astStatistics) {
        for (uint32_t column = 0; column < 4; ++column) kind[column] = 100 + column;
    }
    h0->astStatistics[0][2] = 0xFFFFFFF0u;
    ZERA_vUpdateStatistics(h0, 0, 1, 0, 0x20, 3);
    EXPECT_EQ(Statistics(h0, 0)[0], 50u + 1);  // every column and every kind is halved
    EXPECT_EQ(Statistics(h0, 0)[2], 0x7FFFFFF8u + 0x20);
    EXPECT_EQ(Statistics(h0, 0)[3], 51u + 3);
    EXPECT_EQ(Statistics(h0, 0)[11], 51u);
    const Words before = Statistics(h0, 0);
    ZERA_vUpdateStatistics(h0, 3, 1, 1, 1, 1);  // no such kind
    EXPECT_EQ(Statistics(h0, 0), before);

    ZERA_vUpdateLoad(h0, 10, 20);
    ZERA_vUpdateLoad(h0, 4, 0xFFFF);  // B unchanged
    ZERA_vUpdateLoad(h0, 0xFFFF, 30);
    EXPECT_EQ(Statistics(h0, 0)[12], 4u | 30u << 16);
    EXPECT_EQ(Statistics(h0, 0)[13], 10u | 30u << 16);
}

TEST(Statistics, ReadAndResetTheLevelAskedFor) {
    Stack stack{"Layer", "Layer"};
    StackHandle *h0 = stack.h0(), *h1 = stack[1], *h2 = stack[2];
    ASSERT_NE(h2, nullptr);
    ZERA_vUpdateStatistics(h1, 1, 1, 2, 3, 4);
    ZERA_vUpdateStatistics(h2, 0, 5, 6, 7, 8);
    ZERA_vUpdateLoad(h2, 9, 10);
    const Words top = Statistics(h0, 2);
    EXPECT_EQ(Words(top.begin(), top.begin() + 4), (Words{5, 6, 7, 8}));
    EXPECT_EQ(top[12], 9u | 10u << 16);
    EXPECT_EQ(Statistics(h0, 200), top);  // above the top: the top's
    EXPECT_EQ(Statistics(h2, 1), top);    // below the handle: the handle's own

    EXPECT_TRUE(ZERA_boResetStatistics(h0, 2));
    EXPECT_EQ(Statistics(h2, 2), Words(ZERA_STATS_WORDS, 0));
    EXPECT_EQ(Statistics(h0, 1)[4], 1u);  // level 1 kept its counters
    EXPECT_REFUSED(ZERA_boGetStatistics(h0, 1, nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boGetStatistics(nullptr, 1, Words(ZERA_STATS_WORDS).data()), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(ZERA_boResetStatistics(nullptr, 1), OSAL_ERR_INVALID_HANDLE);
}

TEST(Statistics, UpdatesFromSeveralThreadsAreNotLost) {
    Stack stack;
    StackHandle *h0 = stack.h0();
    constexpr int kThreads = 4, kRounds = 5000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([h0, t] {
            uint32_t words[ZERA_STATS_WORDS];
            for (int i = 0; i < kRounds; ++i) {
                ZERA_vUpdateStatistics(h0, static_cast<uint32_t>(t % 3), 1, 0, 10, 0);
                ZERA_vUpdateLoad(h0, static_cast<uint16_t>(i % 100), 0xFFFF);
                if (i % 100 == 0) ZERA_boGetStatistics(h0, 0, words);
            }
        });
    }
    for (std::thread &t : threads) t.join();
    const Words words = Statistics(h0, 0);
    EXPECT_EQ(words[0] + words[4] + words[8], static_cast<uint32_t>(kThreads * kRounds));
    EXPECT_EQ(words[2] + words[6] + words[10], static_cast<uint32_t>(10 * kThreads * kRounds));
    EXPECT_EQ(words[13] & 0xFFFF, 99u);
}

TEST(TimeStampCompare, SecondNotEarlierThanFirst) {
    const struct {
        TimeVal first, second;
        bool notEarlier;
    } cases[] = {
        {{5, 10}, {5, 10}, true}, {{6, 10}, {5, 10}, false}, {{999999, 10}, {0, 11}, true},
        {{0, 11}, {999999, 10}, false},
        {{5 | OSAL_TIME_RELATIVE, 10}, {5, 10}, true},  // the RELATIVE bit plays no part
        {{0, INT32_MAX}, {0, INT32_MIN}, true},  // seconds compare by their wrapped difference
    };
    for (const auto &c : cases) {
        Event a{}, b{};
        a.stTimeStamp = c.first;
        b.stTimeStamp = c.second;
        EXPECT_EQ(ZERA_boTimeStampCompare(&a, &b) != 0, c.notEarlier) << &c - cases;
    }
}

BOOL8 ZERA_CALL FixedTime(StackHandle *, uint8_t u8Level, TimeVal *t) {
    *t = TimeVal{u8Level, 1234};  // shows which level number was passed on
    return 1;
}

TEST(StackTime, TheTopmostLevelAnswers) {
    Stack stack{"Layer", "Layer"};
    StackHandle *h2 = stack[2];
    TimeVal before{}, now{};
    OSAL_vGetSystemTime(&before);
    h2->apfnEntry[zera::kEntryGetTime] = reinterpret_cast<ZERA_PFN>(FixedTime);
    ASSERT_TRUE(ZERA_boGetTime(stack.h0(), 7, &now));
    EXPECT_EQ(now.i32Seconds, 1234);
    EXPECT_EQ(now.dwMicroseconds, 0u);  // passed on as level 0
    EXPECT_REFUSED(ZERA_boGetTime(stack.h0(), 0, nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boGetTime(nullptr, 0, &now), OSAL_ERR_INVALID_HANDLE);
    h2->apfnEntry[zera::kEntryGetTime] = nullptr;  // a level that cannot answer
    EXPECT_REFUSED(ZERA_boGetTime(stack.h0(), 0, &now), OSAL_ERR_INVALID_HANDLE);
    h2->apfnEntry[zera::kEntryGetTime] = reinterpret_cast<ZERA_PFN>(ZERA_boGetTime);
    // The top reads the platform's clock, shifted clock included.
    OSAL_vTestSetClockOffset(3600LL * 1000000);
    EXPECT_TRUE(ZERA_boGetTime(stack[1], 0, &now));
    OSAL_vTestSetClockOffset(0);
    EXPECT_GE(now.i32Seconds, before.i32Seconds + 3600);
}

}  // namespace
