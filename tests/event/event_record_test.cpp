// event/event_record_test.cpp - creating, identifying and deleting events:
// the limits, the areas behind the header (also in recycled blocks),
// identifiers of events without a manager, identifiers and owners from a
// level's manager, and every refusal with its code and the state it leaves.
#include <algorithm>
#include <set>

#include "event/event_test_util.h"

namespace {

using zt::Area;
using zt::ExpectCode;
using zt::LevelChain;

// Data and item events get a zeroed area of the size asked behind a zeroed
// header; any other type is a bare header, its size checked but not used.
// Blocks of small events are recycled, so dirty ones are given back first.
TEST(EventCreate, AreasByTypeBehindAZeroedHeader) {
    std::vector<Event *> dirty;
    for (int i = 0; i < 200; ++i) {
        Event *ev = ZERA_pstCreateEvent(1, 9, 64);
        std::memset(ev->pbData, 0xAB, 64);
        ev->dwFlags = ev->u8Error = ev->u8Options = ev->u8QueueOp = 0xAB;
        dirty.push_back(ev);
    }
    for (Event *ev : dirty) EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    const struct {
        int32_t type;
        uint32_t size, area;
    } cases[] = {{0, 10, 10}, {1, 0, 0},  {1, 64, 64}, {2, 1000, 1000}, {3, 24, 24},
                 {3, 65, 65}, {4, 8, 0}, {7, 1000, 0}, {-1, ZERA_EVENT_MAX_SIZE, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " size " << c.size);
        Event *ev = ZERA_pstCreateEvent(c.type, 5, c.size);
        ASSERT_NE(ev, nullptr);
        EXPECT_EQ(zera::EventAreaSize(ev), c.area);
        EXPECT_TRUE(std::all_of(Area(ev), Area(ev) + c.area, [](uint8_t b) { return b == 0; }));
        Event expected{};
        expected.i32Type = c.type;
        expected.u8Level = 5;
        expected.dwEventId = ev->dwEventId;
        if (c.type >= 0 && c.type <= 2) {
            expected.dwDataSize = c.size;
            expected.pbData = Area(ev);
        } else if (c.type == 3) {
            expected.dwItemsSize = c.size;
            expected.pbItems = Area(ev);
        }
        EXPECT_EQ(std::memcmp(ev, &expected, sizeof expected), 0);
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }
}

TEST(EventCreate, RefusesLevelsAndSizesAboveTheLimitsAndFailedAllocations) {
    Event *top = ZERA_pstCreateEvent(1, 63, 0);
    ASSERT_NE(top, nullptr);
    EXPECT_TRUE(ZERA_boDeleteEvent(top));
    OSAL_vSetLastError(0);
    for (uint8_t level : {64, 128, 255}) {
        EXPECT_EQ(ZERA_pstCreateEvent(1, level, 0), nullptr);
        ExpectCode(OSAL_ERR_INVALID_SIZE);
    }
    for (int32_t type : {1, 3, 7}) {
        EXPECT_EQ(ZERA_pstCreateEvent(type, 0, ZERA_EVENT_MAX_SIZE + 1), nullptr);
        ExpectCode(OSAL_ERR_INVALID_SIZE);
    }
    zt::AllocFailureGuard guard;
    for (uint32_t size : {8u, 1000u}) {  // a block of the pool, one of its own
        ZERA_vTestFailAllocAfter(0);
        EXPECT_EQ(ZERA_pstCreateEvent(1, 0, size), nullptr);
        ExpectCode(OSAL_ERR_NO_MEMORY);
    }
}

// Without a manager an event's identifier is its own: the record's address on
// 32-bit builds, a number of its own (odd, so never a manager's) on wider ones.
TEST(EventCreate, IdentifiersOfLiveEventsAreUniqueAndNeverReserved) {
    std::vector<Event *> events;
    std::set<uint32_t> ids;
    for (int i = 0; i < 3000; ++i) {  // more than the first table of record numbers
        Event *ev = ZERA_pstCreateEvent(i % 8, 0, i % 3 == 0 ? 100 : 4);
        ASSERT_NE(ev, nullptr);
        events.push_back(ev);
        ids.insert(ev->dwEventId);
        EXPECT_LT(ev->dwEventId, ZERA_EVID_RESERVED_FIRST);
#if UINTPTR_MAX == 0xFFFFFFFFu
        EXPECT_EQ(ev->dwEventId, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ev)));
#else
        EXPECT_EQ(ev->dwEventId % 2, 1u);
#endif
    }
    EXPECT_EQ(ids.size(), events.size());

#if UINTPTR_MAX > 0xFFFFFFFFu
    // A deleted event's number is not among the next ones handed out, whether
    // its block goes back to the pool (small areas) or to the heap; across
    // several of the pool's batches.
    std::vector<uint32_t> recent;
    for (uint32_t size : {4u, 1000u}) {
        for (size_t i = 0; i < 300; ++i) {
            recent.push_back(events[i]->dwEventId);
            if (recent.size() > 16) recent.erase(recent.begin());
            EXPECT_TRUE(ZERA_boDeleteEvent(events[i]));
            events[i] = ZERA_pstCreateEvent(1, 0, size);
            ASSERT_NE(events[i], nullptr);
            EXPECT_EQ(std::count(recent.begin(), recent.end(), events[i]->dwEventId), 0) << i;
        }
    }
    ids.clear();
    for (Event *ev : events) ids.insert(ev->dwEventId);
    EXPECT_EQ(ids.size(), events.size());
#endif
    for (Event *ev : events) EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

TEST(EventCreateEx, TakesTheIdentifierFromTheLevelsManagerOrRefuses) {
    zt::ResetSegment();
    LevelChain chain(1, false);
    StackHandle *h = chain[1];
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCreateEventEx(nullptr, 1, 0, 0, 0, 0), nullptr);
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_EQ(ZERA_pstCreateEventEx(h, 1, 0, 0, 0, 0), nullptr);  // no manager on the level
    ExpectCode(OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(ZERA_pstCreateEventEx(h, 0, 0, 0, 1, 3), nullptr);  // only type 1 repeats
    ExpectCode(OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(ZERA_pstCreateEventEx(h, 1, 0, 0, 1, 3), nullptr);  // not with identifier management
    ExpectCode(OSAL_ERR_NOT_AVAILABLE);
    chain.Manager(1);
    EXPECT_EQ(ZERA_pstCreateEventEx(h, 1, 0, 0, 0, 0), nullptr);  // the stack is not complete
    ExpectCode(OSAL_ERR_NOT_COMPLETE);
    chain.SetComplete(true);
    EXPECT_EQ(ZERA_pstCreateEventEx(h, 1, 64, 0, 0, 0), nullptr);  // the create's own refusal
    ExpectCode(OSAL_ERR_INVALID_SIZE);

    Event *first = ZERA_pstCreateEventEx(h, 1, 2, 16, 0, 0);
    Event *second = ZERA_pstCreateEventEx(h, 4, 2, 0, 0, 0);
    ASSERT_TRUE(first != nullptr && second != nullptr);
    EXPECT_EQ(first->dwEventId, 2u);  // the refused create spent identifier 0
    EXPECT_EQ(first->dwOwnerEventId, 2u);
    EXPECT_EQ(first->pstOwner, h);
    EXPECT_EQ(first->dwDataSize, 16u);
    EXPECT_EQ(first->u8Options, 0u);
    EXPECT_EQ(second->dwEventId, 4u);
    EXPECT_EQ(second->dwOwnerEventId, 4u);
    EXPECT_TRUE(ZERA_boDeleteEvent(first) && ZERA_boDeleteEvent(second));
}

TEST(EventSetId, SetsTheOwnerWithIdentifierManagementAndRefusesWildcards) {
    LevelChain chain;
    StackHandle *h = chain[0];
    Event *ev = ZERA_pstCreateEvent(1, 0, 0);
    EXPECT_TRUE(ZERA_boSetEventID(ev, h, 1234));
    EXPECT_EQ(ev->dwEventId, 1234u);
    EXPECT_EQ(ev->dwOwnerEventId, 1234u);
    EXPECT_EQ(ev->pstOwner, h);

    const Event before = *ev;
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boSetEventID(ev, nullptr, 5));
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_FALSE(ZERA_boSetEventID(nullptr, h, 5));
    ExpectCode(OSAL_ERR_INVALID_ARG);
    for (uint32_t wildcard : {ZERA_EVID_RESERVED_FIRST, 0xFFFFFFFFu}) {
        EXPECT_FALSE(ZERA_boSetEventID(ev, h, wildcard));
        ExpectCode(OSAL_ERR_INVALID_SIZE);
    }
    EXPECT_EQ(std::memcmp(ev, &before, sizeof before), 0);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

// Without identifier management no manager is asked and no owner is set.
TEST(EventId, WithoutIdentifierManagementAnEventKeepsItsOwn) {
    LevelChain chain;
    chain.SetNoEvid();
    StackHandle *h = chain[0];
    Event *plain = ZERA_pstCreateEventEx(h, 2, 1, 4, 0, 0);
    Event *repeating = ZERA_pstCreateEventEx(h, 1, 1, 8, 1, 5);
    Event *set = ZERA_pstCreateEvent(1, 0, 0);
    ASSERT_TRUE(plain != nullptr && repeating != nullptr);
    EXPECT_EQ(repeating->u8Options, ZERA_OPT_REPEATING);
    EXPECT_EQ(repeating->u16RepeatCount, 5);
    EXPECT_TRUE(zera::TimeIsNoWait(repeating->stPeriod));
    EXPECT_NE(repeating->dwEventId, plain->dwEventId);
    EXPECT_TRUE(ZERA_boSetEventID(set, h, 99));
    EXPECT_EQ(set->dwEventId, 99u);
    for (Event *ev : {plain, repeating, set}) {
        EXPECT_EQ(ev->pstOwner, nullptr);
        EXPECT_EQ(ev->dwOwnerEventId, 0u);
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }
}

// The leak checker sees whether delete releases the nodes and their lists.
TEST(EventDelete, ReleasesAttachmentsOfEitherWidthAndRefusesNull) {
    for (bool wide : {false, true}) {
        Event *ev = ZERA_pstCreateEvent(1, 0, 4);
        ASSERT_NE(ev, nullptr);
        ev->boWideAttach = wide;
        for (uint8_t level : {1, 2, 3}) {
            zt::ListBuilder b(wide);
            b.Str("Mode", "fast");
            zt::GiveList(b, *ZERA_ppstCheckParListA(ev, level, 0, 1, 0));
        }
        ZERA_vDeleteEvent(ev);
    }
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boDeleteEvent(nullptr));
    ExpectCode(OSAL_ERR_INVALID_ARG);
    ZERA_vDeleteEvent(nullptr);
}

}  // namespace
