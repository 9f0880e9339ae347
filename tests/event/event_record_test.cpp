// event/event_record_test.cpp - creating, identifying and deleting events:
// the limits, the areas behind the header, identifiers of events without a
// manager, identifiers and owners from a level's manager, and every refusal
// with its code and the state it leaves.
#include <algorithm>
#include <set>

#include "event/event.h"
#include "evid/evid_test_util.h"

namespace {

using zt::ExpectCode;
using zt::LevelChain;

uint8_t *Area(Event *ev) { return reinterpret_cast<uint8_t *>(ev + 1); }

TEST(EventCreate, DataAndItemEventsGetTheirAreaBehindTheHeader) {
    Event *data = ZERA_pstCreateEvent(1, 5, 10);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->i32Type, 1);
    EXPECT_EQ(data->u8Level, 5);
    EXPECT_EQ(data->dwDataSize, 10u);
    EXPECT_EQ(data->pbData, Area(data));
    EXPECT_EQ(zera::EventAreaSize(data), 10u);
    EXPECT_TRUE(std::all_of(data->pbData, data->pbData + 10, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(data->pstAttachments, nullptr);
    EXPECT_EQ(data->pstOwner, nullptr);
    EXPECT_EQ(data->dwOwnerEventId, 0u);
    EXPECT_EQ(data->dwFlags | data->u8Error | data->boWideAttach | data->u8Options, 0u);
    EXPECT_TRUE(zera::TimeIsNoWait(data->stTimeStamp));

    Event *items = ZERA_pstCreateEvent(3, 0, 24);
    ASSERT_NE(items, nullptr);
    EXPECT_EQ(items->dwItemsSize, 24u);
    EXPECT_EQ(items->dwItemCount, 0u);
    EXPECT_EQ(items->pbItems, Area(items));

    // Any other type is a bare header; the size is checked, not used.
    Event *bare = ZERA_pstCreateEvent(7, 0, 1000);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(zera::EventAreaSize(bare), 0u);
    EXPECT_EQ(bare->pbData, nullptr);
    Event *bareMax = ZERA_pstCreateEvent(-1, 0, ZERA_EVENT_MAX_SIZE);
    ASSERT_NE(bareMax, nullptr);
    for (Event *ev : {data, items, bare, bareMax}) EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

TEST(EventCreate, LevelAndSizeLimits) {
    Event *top = ZERA_pstCreateEvent(1, 63, 0);
    ASSERT_NE(top, nullptr);
    EXPECT_TRUE(ZERA_boDeleteEvent(top));
    for (uint8_t level : {uint8_t{64}, uint8_t{128}, uint8_t{255}}) {
        OSAL_vSetLastError(0);
        EXPECT_EQ(ZERA_pstCreateEvent(1, level, 0), nullptr);
        ExpectCode(OSAL_ERR_INVALID_SIZE);
    }
    for (int32_t type : {1, 3, 7}) {
        OSAL_vSetLastError(0);
        EXPECT_EQ(ZERA_pstCreateEvent(type, 0, ZERA_EVENT_MAX_SIZE + 1), nullptr);
        ExpectCode(OSAL_ERR_INVALID_SIZE);
    }
    zt::AllocFailureGuard guard;
    ZERA_vTestFailAllocAfter(0);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCreateEvent(1, 0, 8), nullptr);
    ExpectCode(OSAL_ERR_NO_MEMORY);
}

// Without a manager an event's identifier is its own: the record's address on
// 32-bit builds, a number of its own (odd, so never a manager's) on wider ones.
TEST(EventCreate, IdentifiersOfLiveEventsAreUniqueAndNeverReserved) {
    std::vector<Event *> events;
    std::set<uint32_t> ids;
    for (int i = 0; i < 3000; ++i) {  // more than the first table of record numbers
        Event *ev = ZERA_pstCreateEvent(i % 8, 0, 4);
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
    // A freed number is not the next one handed out.
    std::set<uint32_t> freed;
    for (size_t i = 0; i < 10; ++i) {
        freed.insert(events[i]->dwEventId);
        EXPECT_TRUE(ZERA_boDeleteEvent(events[i]));
    }
    for (size_t i = 0; i < 10; ++i) {
        events[i] = ZERA_pstCreateEvent(1, 0, 0);
        ASSERT_NE(events[i], nullptr);
        EXPECT_EQ(freed.count(events[i]->dwEventId), 0u);
    }
#endif
    for (Event *ev : events) EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

TEST(EventCreateEx, TakesTheIdentifierFromTheLevelsManagerAndOwnsIt) {
    zt::ResetSegment();
    LevelChain chain(1);
    chain.Manager(1);
    StackHandle *h = chain[1];
    Event *first = ZERA_pstCreateEventEx(h, 1, 2, 16, 0, 0);
    Event *second = ZERA_pstCreateEventEx(h, 4, 2, 0, 0, 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->dwEventId, 0u);
    EXPECT_EQ(second->dwEventId, 2u);
    EXPECT_EQ(first->pstOwner, h);
    EXPECT_EQ(first->dwOwnerEventId, first->dwEventId);
    EXPECT_EQ(second->dwOwnerEventId, 2u);
    EXPECT_EQ(first->dwDataSize, 16u);
    EXPECT_EQ(first->u8Options, 0u);
    EXPECT_TRUE(ZERA_boDeleteEvent(first));
    EXPECT_TRUE(ZERA_boDeleteEvent(second));
}

TEST(EventCreateEx, RefusalsAndTheirCodes) {
    zt::ResetSegment();
    LevelChain chain(0, false);
    StackHandle *h = chain[0];

    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCreateEventEx(nullptr, 1, 0, 0, 0, 0), nullptr);
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCreateEventEx(h, 1, 0, 0, 0, 0), nullptr);  // no manager on the level
    ExpectCode(OSAL_ERR_INVALID_ARG);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCreateEventEx(h, 0, 0, 0, 1, 3), nullptr);  // only type 1 repeats
    ExpectCode(OSAL_ERR_INVALID_ARG);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCreateEventEx(h, 1, 0, 0, 1, 3), nullptr);  // not with identifier management
    ExpectCode(OSAL_ERR_NOT_AVAILABLE);

    EvIdManager *m = chain.Manager(0);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCreateEventEx(h, 1, 0, 0, 0, 0), nullptr);  // the stack is not complete
    ExpectCode(OSAL_ERR_NOT_COMPLETE);
    chain.SetComplete(true);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCreateEventEx(h, 1, 64, 0, 0, 0), nullptr);  // the create's own refusal
    ExpectCode(OSAL_ERR_INVALID_SIZE);
    Event *ev = ZERA_pstCreateEventEx(h, 1, 0, 0, 0, 0);
    ASSERT_NE(ev, nullptr);
    EXPECT_EQ(ev->dwEventId, 2u);  // the refused create spent identifier 0
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    EXPECT_TRUE(ZERA_boEvIdManagerDeinit(m));
}

TEST(EventCreateEx, WithoutIdentifierManagementAnEventKeepsItsOwnIdentifier) {
    LevelChain chain;
    chain.SetNoEvid();
    StackHandle *h = chain[0];  // no manager at all: none is asked
    Event *plain = ZERA_pstCreateEventEx(h, 2, 1, 4, 0, 0);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->pstOwner, nullptr);
    EXPECT_EQ(plain->dwOwnerEventId, 0u);

    Event *repeating = ZERA_pstCreateEventEx(h, 1, 1, 8, 1, 5);
    ASSERT_NE(repeating, nullptr);
    EXPECT_EQ(repeating->u8Options, ZERA_OPT_REPEATING);
    EXPECT_EQ(repeating->u16RepeatCount, 5);
    EXPECT_TRUE(zera::TimeIsNoWait(repeating->stPeriod));
    EXPECT_EQ(repeating->pstOwner, nullptr);
    EXPECT_NE(repeating->dwEventId, plain->dwEventId);
#if UINTPTR_MAX == 0xFFFFFFFFu
    EXPECT_EQ(repeating->dwEventId, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(repeating)));
#endif
    EXPECT_TRUE(ZERA_boDeleteEvent(plain));
    EXPECT_TRUE(ZERA_boDeleteEvent(repeating));
}

TEST(EventSetId, SetsTheOwnerOnlyWithIdentifierManagement) {
    LevelChain chain;
    StackHandle *h = chain[0];
    Event *ev = ZERA_pstCreateEvent(1, 0, 0);
    ASSERT_NE(ev, nullptr);
    EXPECT_TRUE(ZERA_boSetEventID(ev, h, 1234));
    EXPECT_EQ(ev->dwEventId, 1234u);
    EXPECT_EQ(ev->dwOwnerEventId, 1234u);
    EXPECT_EQ(ev->pstOwner, h);

    Event *other = ZERA_pstCreateEvent(1, 0, 0);
    ASSERT_NE(other, nullptr);
    chain.SetNoEvid();
    EXPECT_TRUE(ZERA_boSetEventID(other, h, 99));
    EXPECT_EQ(other->dwEventId, 99u);
    EXPECT_EQ(other->pstOwner, nullptr);
    EXPECT_EQ(other->dwOwnerEventId, 0u);

    const Event before = *ev;
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boSetEventID(ev, nullptr, 5));
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boSetEventID(nullptr, h, 5));
    ExpectCode(OSAL_ERR_INVALID_ARG);
    for (uint32_t wildcard : {ZERA_EVID_RESERVED_FIRST, 0xFFFFFFFFu}) {
        OSAL_vSetLastError(0);
        EXPECT_FALSE(ZERA_boSetEventID(ev, h, wildcard));
        ExpectCode(OSAL_ERR_INVALID_SIZE);
    }
    EXPECT_EQ(std::memcmp(ev, &before, sizeof before), 0);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    EXPECT_TRUE(ZERA_boDeleteEvent(other));
}

TEST(EventDelete, NullIsRefused) {
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boDeleteEvent(nullptr));
    ExpectCode(OSAL_ERR_INVALID_ARG);
    ZERA_vDeleteEvent(nullptr);
}

// The leak checker sees whether delete releases the nodes and their lists.
TEST(EventDelete, ReleasesAttachmentsOfEitherWidth) {
    for (BOOL8 wide : {BOOL8{0}, BOOL8{1}}) {
        Event *ev = ZERA_pstCreateEvent(1, 0, 4);
        ASSERT_NE(ev, nullptr);
        ev->boWideAttach = wide;
        for (uint8_t level : {1, 2, 3}) {
            Attachment *node = *ZERA_ppstCheckParListA(ev, level, 0, 1, 0);
            ASSERT_NE(node, nullptr);
            uint32_t count = 0;
            ParamValue **cursor = nullptr;
            if (wide) {
                ASSERT_TRUE(ZERA_boAddParamW(1, 0, &node->pParList, &count, &cursor, ZERA_PARAM_STRING, 0, 0, 0, 0,
                                             zt::W(u"Mode"), zt::W(u"fast")));
            } else {
                ASSERT_TRUE(ZERA_boAddParamA(1, 0, &node->pParList, &count, &cursor, ZERA_PARAM_STRING, 0, 0, 0, 0,
                                             "Mode", "fast"));
            }
        }
        ZERA_vDeleteEvent(ev);
    }
}

}  // namespace
