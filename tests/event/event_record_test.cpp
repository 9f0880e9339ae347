// event/event_record_test.cpp - creating, identifying and deleting events, and their refusals.
#include <algorithm>
#include <set>

#include "event/event_test_util.h"

namespace {

using zt::Area;

// Zeroed header and area (dirty recycled blocks first); other types are a bare header.
TEST(EventCreate, AreasByTypeBehindAZeroedHeaderAndRefusals) {
    std::vector<Event *> dirty;
    for (int i = 0; i < 200; ++i) {
        dirty.push_back(ZERA_pstCreateEvent(1, 9, 64));
        std::memset(dirty.back()->pbData, 0xAB, 64);
        dirty.back()->dwFlags = dirty.back()->u8Error = dirty.back()->u8Options = 0xAB;
    }
    for (Event *ev : dirty) EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    const struct { int32_t type; uint32_t size, area; } cases[] = {
        {0, 10, 10}, {1, 0, 0}, {1, 64, 64}, {2, 1000, 1000}, {3, 65, 65}, {7, 1000, 0}, {-1, ZERA_EVENT_MAX_SIZE, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " size " << c.size);
        Event *ev = ZERA_pstCreateEvent(c.type, 63, c.size);
        ASSERT_NE(ev, nullptr);
        EXPECT_EQ(zera::EventAreaSize(ev), c.area);
        EXPECT_TRUE(std::all_of(Area(ev), Area(ev) + c.area, [](uint8_t b) { return b == 0; }));
        Event expected{};
        expected.i32Type = c.type, expected.u8Level = 63, expected.dwEventId = ev->dwEventId;
        if (c.type >= 0 && c.type <= 2) expected.dwDataSize = c.size, expected.pbData = Area(ev);
        if (c.type == 3) expected.dwItemsSize = c.size, expected.pbItems = Area(ev);
        EXPECT_EQ(std::memcmp(ev, &expected, sizeof expected), 0);
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }

    for (uint8_t level : {64, 255}) EXPECT_REFUSED(ZERA_pstCreateEvent(1, level, 0), OSAL_ERR_INVALID_SIZE);
    for (int32_t type : {1, 3, 7}) {
        EXPECT_REFUSED(ZERA_pstCreateEvent(type, 0, ZERA_EVENT_MAX_SIZE + 1), OSAL_ERR_INVALID_SIZE);
    }
    zt::AllocFailureGuard guard;
    for (uint32_t size : {8u, 1000u}) {  // a block of the pool, one of its own
        OSAL_vTestFailAllocAfter(0);
        EXPECT_REFUSED(ZERA_pstCreateEvent(1, 0, size), OSAL_ERR_NO_MEMORY);
    }
    ZERA_vDeleteEvent(nullptr);
}

// Without a manager: the record's address on 32-bit builds, else an odd number (never a manager's).
TEST(EventCreate, IdentifiersOfLiveEventsAreUniqueAndNeverReserved) {
    std::vector<Event *> events;
    std::set<uint32_t> ids;
    for (int i = 0; i < 3000; ++i) {  // more than the first table of record numbers
        Event *ev = ZERA_pstCreateEvent(i % 8, 0, i % 3 == 0 ? 100 : 4);
        ASSERT_NE(ev, nullptr);
        events.push_back(ev);
        EXPECT_TRUE(ids.insert(ev->dwEventId).second && ev->dwEventId < ZERA_EVID_RESERVED_FIRST);
        const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ev));
        EXPECT_TRUE(sizeof ev == 4 ? ev->dwEventId == address : ev->dwEventId % 2 == 1) << ev->dwEventId;
    }
#if UINTPTR_MAX > 0xFFFFFFFFu
    // A deleted event's number is not handed out again soon, from the pool or the heap.
    std::vector<uint32_t> recent;
    for (size_t i = 0; i < 600; ++i) {
        recent.push_back(events[i]->dwEventId);
        if (recent.size() > 16) recent.erase(recent.begin());
        EXPECT_TRUE(ZERA_boDeleteEvent(events[i]));
        ASSERT_NE(events[i] = ZERA_pstCreateEvent(1, 0, i < 300 ? 4 : 1000), nullptr);
        EXPECT_EQ(std::count(recent.begin(), recent.end(), events[i]->dwEventId), 0) << i;
    }
    ids.clear();
    for (Event *ev : events) EXPECT_TRUE(ids.insert(ev->dwEventId).second);
#endif
    for (Event *ev : events) EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

TEST(EventCreateEx, TakesTheIdentifierFromTheLevelsManagerIfItIsManagedOrRefuses) {
    zt::ResetSegment();
    zt::LevelChain chain(1, false);
    StackHandle *h = chain[1];
    EXPECT_REFUSED(ZERA_pstCreateEventEx(h, 1, 0, 0, 0, 0), OSAL_ERR_INVALID_ARG);     // no manager on the level
    EXPECT_REFUSED(ZERA_pstCreateEventEx(h, 0, 0, 0, 1, 3), OSAL_ERR_INVALID_ARG);     // only type 1 repeats
    EXPECT_REFUSED(ZERA_pstCreateEventEx(h, 1, 0, 0, 1, 3), OSAL_ERR_NOT_AVAILABLE);   // not with identifiers
    chain.Manager(1);
    EXPECT_REFUSED(ZERA_pstCreateEventEx(h, 1, 0, 0, 0, 0), OSAL_ERR_NOT_COMPLETE);    // the stack is not complete
    chain.SetComplete(true);
    EXPECT_REFUSED(ZERA_pstCreateEventEx(h, 1, 64, 0, 0, 0), OSAL_ERR_INVALID_SIZE);   // the create's own refusal
    chain.Manager(0);
    zt::ResetSegment(true);  // every block of the machine reserved: a code all the same
    EXPECT_REFUSED(ZERA_pstCreateEventEx(chain[0], 1, 0, 0, 0, 0), OSAL_ERR_NOT_AVAILABLE);
    zt::ResetSegment();

    Event *first = ZERA_pstCreateEventEx(h, 1, 2, 16, 0, 0), *second = ZERA_pstCreateEventEx(h, 4, 2, 0, 0, 0);
    ASSERT_TRUE(first != nullptr && second != nullptr);
    EXPECT_EQ(first->dwEventId, 4u);  // never 0; the refused create spent 2
    EXPECT_TRUE(first->dwOwnerEventId == 4u && first->pstOwner == h && first->dwDataSize == 16u);
    EXPECT_TRUE(second->dwEventId == 6u && second->dwOwnerEventId == 6u);

    // A set identifier (a cancel's wildcard too) makes the level the owner.
    const Event before = *first;
    EXPECT_REFUSED(ZERA_boSetEventID(first, nullptr, 5), OSAL_ERR_INVALID_HANDLE);
    EXPECT_EQ(std::memcmp(first, &before, sizeof before), 0);
    Event *set = ZERA_pstCreateEvent(1, 0, 0);
    for (uint32_t id : {1234u, ZERA_EVID_RESERVED_FIRST}) {
        EXPECT_TRUE(ZERA_boSetEventID(set, chain[0], id));
        EXPECT_TRUE(set->dwEventId == id && set->dwOwnerEventId == id && set->pstOwner == chain[0]);
    }
    for (Event *ev : {first, second, set}) EXPECT_TRUE(ZERA_boDeleteEvent(ev));

    // Without identifier management no manager is asked and no owner is set.
    h->dwStatus |= ZERA_STATUS_NO_EVID;
    Event *plain = ZERA_pstCreateEventEx(h, 2, 1, 4, 0, 0), *repeating = ZERA_pstCreateEventEx(h, 1, 1, 8, 1, 5);
    set = ZERA_pstCreateEvent(1, 0, 0);
    ASSERT_TRUE(plain != nullptr && repeating != nullptr && ZERA_boSetEventID(set, h, 99) && set->dwEventId == 99u);
    EXPECT_TRUE(repeating->u8Options == ZERA_OPT_REPEATING && repeating->u16RepeatCount == 5);
    EXPECT_TRUE(zera::TimeIsNoWait(repeating->stPeriod) && repeating->dwEventId != plain->dwEventId);
    for (Event *ev : {plain, repeating, set}) {
        EXPECT_TRUE(ev->pstOwner == nullptr && ev->dwOwnerEventId == 0u);
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }
}

}  // namespace
