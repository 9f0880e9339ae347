// stack/stack_status_test.cpp - the stack status event, statistics and load, the stack's time.
#include <ctime>
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

    ZERA_vUpdateStackStatus(h0, ZERA_STATUS_NO_EVID);  // changed while complete
    ASSERT_EQ(g_filtered.size(), 1u);
    Event *ev = g_filtered[0];
    EXPECT_EQ((Words{static_cast<uint32_t>(ev->i32Type), ev->u8Level, ev->dwItemsSize, ev->dwItemCount}),
              (Words{ZERA_EVENT_ITEMS, 0, 12, 1}));
    const uint32_t expected[3] = {0, 12, ZERA_STATUS_NO_EVID | ZERA_STATUS_COMPLETE};  // kind, size, status
    EXPECT_EQ(std::memcmp(ev->pbItems, expected, sizeof expected), 0);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    // Only item events of one 32-bit item of kind 0 are status events.
    const std::vector<uint32_t> notStatus[] = {{ZERA_EVENT_ITEMS, 12, 1, 1}, {ZERA_EVENT_ITEMS, 12, 2, 0},
                                               {ZERA_EVENT_ITEMS, 8, 1, 0}, {ZERA_EVENT_DATA, 12, 1, 0}};
    uint32_t status = 0;
    for (const auto &c : notStatus) {  // type, size, count, kind
        ev = ZERA_pstCreateEvent(static_cast<int32_t>(c[0]), 1, c[1]);
        ev->dwItemCount = c[2];
        if (c[0] == ZERA_EVENT_ITEMS) ev->pbItems[0] = static_cast<uint8_t>(c[3]);
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

// Counters halve before they would pass the top, load keeps its maxima, each level is read and reset apart.
TEST(Statistics, CountersHalveLoadKeepsItsMaximaLevelsReadAndResetApart) {
    Stack stack{"Layer", "Layer"};
    StackHandle *h0 = stack.h0(), *h1 = stack[1], *h2 = stack[2];
    ASSERT_NE(h2, nullptr);
    for (auto &kind : h0->astStatistics) {
        for (uint32_t column = 0; column < 4; ++column) kind[column] = 100 + column;
    }
    h0->astStatistics[0][2] = 0xFFFFFFF0u;
    ZERA_vUpdateStatistics(h0, 0, 1, 0, 0x20, 3);
    const Words halved = Statistics(h0, 0);  // every column and every kind is halved
    EXPECT_EQ((Words{halved[0], halved[2], halved[3], halved[11]}), (Words{50 + 1, 0x7FFFFFF8u + 0x20, 51 + 3, 51}));
    ZERA_vUpdateStatistics(h0, 3, 1, 1, 1, 1);  // no such kind
    EXPECT_EQ(Statistics(h0, 0), halved);
    ZERA_vUpdateLoad(h0, 10, 20);
    ZERA_vUpdateLoad(h0, 4, 0xFFFF);  // B unchanged
    ZERA_vUpdateLoad(h0, 0xFFFF, 30);
    EXPECT_EQ((Words{Statistics(h0, 0)[12], Statistics(h0, 0)[13]}), (Words{4u | 30u << 16, 10u | 30u << 16}));
    ZERA_vUpdateStatistics(h1, 1, 1, 2, 3, 4);
    ZERA_vUpdateStatistics(h2, 0, 5, 6, 7, 8);
    const Words top = Statistics(h0, 2);
    EXPECT_EQ(Words(top.begin(), top.begin() + 4), (Words{5, 6, 7, 8}));
    EXPECT_EQ(Statistics(h2, 1), top);  // below the handle: the handle's own
    EXPECT_TRUE(ZERA_boResetStatistics(h0, 2));
    EXPECT_EQ(Statistics(h2, 2), Words(ZERA_STATS_WORDS, 0));
    EXPECT_EQ(Statistics(h0, 1)[4], 1u);  // level 1 kept its counters
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

BOOL8 ZERA_CALL FixedTime(StackHandle *, uint8_t u8Level, TimeVal *t) {
    *t = TimeVal{u8Level, 1234};  // shows which level number was passed on
    return 1;
}

TEST(StackTime, TheTopmostLevelAnswers) {
    Stack stack{"Layer", "Layer"};
    StackHandle *h2 = stack[2];
    TimeVal now{};
    h2->apfnEntry[zera::kEntryGetTime] = reinterpret_cast<ZERA_PFN>(FixedTime);
    ASSERT_TRUE(ZERA_boGetTime(stack.h0(), 7, &now));
    EXPECT_TRUE(now.i32Seconds == 1234 && now.dwMicroseconds == 0u);  // passed on as level 0
    h2->apfnEntry[zera::kEntryGetTime] = nullptr;  // a level that cannot answer
    EXPECT_REFUSED(ZERA_boGetTime(stack.h0(), 0, &now), OSAL_ERR_INVALID_HANDLE);
    h2->apfnEntry[zera::kEntryGetTime] = reinterpret_cast<ZERA_PFN>(ZERA_boGetTime);
    OSAL_vTestSetClockOffset(3600LL * 1000000);  // the top reads the platform's (shifted) clock
    EXPECT_TRUE(ZERA_boGetTime(stack[1], 0, &now));
    OSAL_vTestSetClockOffset(0);
    EXPECT_GE(now.i32Seconds, static_cast<int32_t>(std::time(nullptr)) + 3500);
}

}  // namespace
