// event/event_clone_test.cpp - copies of events: header, area and COPY mark
// by type, the owner's identifier, attachments copied in reverse order,
// splitting the attachments at a level, and failures that leave the source
// as it was and leak nothing.
#include "event/event.h"
#include "event/event_test_util.h"

namespace {

using zt::ExpectCode;
using zt::NodeLevels;

// An event with a node per level (in the given head-first order) and
// selector, each holding a string, a dword and a real parameter.
Event *WithNodes(bool wide, std::vector<std::pair<uint8_t, uint8_t>> nodes) {
    Event *ev = ZERA_pstCreateEvent(1, 1, 6);
    EXPECT_NE(ev, nullptr);
    ev->boWideAttach = wide ? 1 : 0;
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
        Attachment *node = *ZERA_ppstCheckParListA(ev, it->first, it->second, 1, 0);
        EXPECT_NE(node, nullptr);
        zt::AddToNode(node, wide, "Mode", ZERA_PARAM_STRING, 3, 0x30, zt::StringValue("fast"));
        zt::AddToNode(node, wide, "Gain", ZERA_PARAM_DWORD, 0, 0x10, zt::DWordValue(it->first * 10u));
        ParamData ratio;
        ratio.r = 0.25;
        zt::AddToNode(node, wide, "Ratio", ZERA_PARAM_REAL, 8, 0x90, ratio);
    }
    EXPECT_EQ(zt::NodeCount(ev), nodes.size());
    return ev;
}

TEST(EventClone, DataEventCopyIsMarkedAndKeepsHeaderAndData) {
    Event *ev = ZERA_pstCreateEvent(1, 7, 5);
    ASSERT_NE(ev, nullptr);
    std::memcpy(ev->pbData, "hello", 5);
    ev->u8Error = 3;
    ev->dwFlags = 0x8;
    ev->stTimeStamp = TimeVal{123, 45};
    ev->u64Aux1 = 0x1122334455667788ull;
    ev->u8Aux3 = 9;
    ev->u8Options = ZERA_OPT_REPEATING;
    ev->u16RepeatCount = 4;
    ev->stPeriod = TimeVal{OSAL_TIME_RELATIVE | 5, 0};

    Event *copy = ZERA_pstCloneEvent(ev);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, ev);
    EXPECT_EQ(copy->dwEventId, ev->dwEventId);
    EXPECT_EQ(copy->u8Options, ZERA_OPT_REPEATING | ZERA_OPT_COPY);
    EXPECT_EQ(copy->pbData, reinterpret_cast<uint8_t *>(copy + 1));
    EXPECT_EQ(std::memcmp(copy->pbData, "hello", 5), 0);
    EXPECT_EQ(copy->dwDataSize, 5u);
    EXPECT_EQ(copy->u8Error, 3);
    EXPECT_EQ(copy->dwFlags, 0x8u);
    EXPECT_EQ(copy->stTimeStamp.i32Seconds, 45);
    EXPECT_EQ(copy->u64Aux1, ev->u64Aux1);
    EXPECT_EQ(copy->u8Aux3, 9);
    EXPECT_EQ(copy->u16RepeatCount, 4);
    EXPECT_EQ(copy->stPeriod.dwMicroseconds, ev->stPeriod.dwMicroseconds);
    EXPECT_EQ(copy->pstOwner, nullptr);
    EXPECT_EQ(ev->u8Options, ZERA_OPT_REPEATING);  // the source is not marked
    EXPECT_TRUE(ZERA_boDeleteEvent(copy));
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

TEST(EventClone, ItemIntervalAndBareEventsAreNotMarked) {
    Event *items = ZERA_pstCreateEvent(3, 0, 12);
    ASSERT_NE(items, nullptr);
    auto *item = reinterpret_cast<EventItem *>(items->pbItems);
    item->dwKind = 0;
    item->dwItemSize = 12;
    item->dw = 0xABCD;
    items->dwItemCount = 1;
    Event *copy = ZERA_pstCloneEvent(items);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->pbItems, reinterpret_cast<uint8_t *>(copy + 1));
    EXPECT_EQ(copy->dwItemCount, 1u);
    EXPECT_EQ(std::memcmp(copy->pbItems, items->pbItems, 12), 0);

    Event *interval = ZERA_pstCreateEvent(4, 2, 0);
    ASSERT_NE(interval, nullptr);
    interval->stInterval = TimeVal{OSAL_TIME_RELATIVE, 3};
    Event *intervalCopy = ZERA_pstCloneEvent(interval);
    ASSERT_NE(intervalCopy, nullptr);
    EXPECT_EQ(intervalCopy->stInterval.i32Seconds, 3);
    // The bytes where a data event keeps u8Options stay as the source has them.
    EXPECT_EQ(std::memcmp(intervalCopy, interval, sizeof(Event)), 0);

    Event *bare = ZERA_pstCreateEvent(9, 0, 100);
    ASSERT_NE(bare, nullptr);
    Event *bareCopy = ZERA_pstCloneEvent(bare);
    ASSERT_NE(bareCopy, nullptr);
    EXPECT_EQ(std::memcmp(bareCopy, bare, sizeof(Event)), 0);
    EXPECT_EQ(zera::EventAreaSize(bareCopy), 0u);
    for (Event *e : {items, copy, interval, intervalCopy, bare, bareCopy}) EXPECT_TRUE(ZERA_boDeleteEvent(e));
}

TEST(EventClone, CopyOfAnOwnedEventIsOwnedUnderTheSameIdentifier) {
    zt::ResetSegment();
    zt::LevelChain chain;
    chain.Manager(0);
    Event *ev = ZERA_pstCreateEventEx(chain[0], 1, 0, 0, 0, 0);
    ASSERT_NE(ev, nullptr);
    ASSERT_TRUE(ZERA_boSetEventID(ev, chain[0], 4242));
    Event *copy = ZERA_pstCloneEvent(ev);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->dwEventId, 4242u);
    EXPECT_EQ(copy->dwOwnerEventId, 4242u);
    EXPECT_EQ(copy->pstOwner, chain[0]);

    // An owner that no longer passes the check: no copy, 1027.
    StackHandle gone{};
    ev->pstOwner = &gone;
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCloneEvent(ev), nullptr);
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_TRUE(ZERA_boDeleteEvent(copy));
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

TEST(EventClone, RefusesANullEventAndAnAreaLargerThanItsBlock) {
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCloneEvent(nullptr), nullptr);
    ExpectCode(OSAL_ERR_INVALID_ARG);
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstInternalCloneEventAndSplitAttachment(nullptr, 1), nullptr);
    ExpectCode(OSAL_ERR_INVALID_ARG);

    Event *ev = ZERA_pstCreateEvent(3, 0, 12);
    ASSERT_NE(ev, nullptr);
    ev->dwItemsSize = 13;
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCloneEvent(ev), nullptr);
    ExpectCode(OSAL_ERR_INVALID_SIZE);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

TEST(EventClone, AttachmentsAreCopiedInReverseOrder) {
    for (bool wide : {false, true}) {
        Event *ev = WithNodes(wide, {{2, 0}, {3, 1}, {5, 0}});
        ASSERT_EQ(NodeLevels(ev), (std::vector<int>{2, 3, 5}));
        Event *copy = ZERA_pstCloneEvent(ev);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(NodeLevels(copy), (std::vector<int>{5, 3, 2}));
        EXPECT_EQ(NodeLevels(ev), (std::vector<int>{2, 3, 5}));
        EXPECT_EQ(copy->boWideAttach, wide ? 1 : 0);
        const Attachment *node = copy->pstAttachments->pstNext;  // level 3
        EXPECT_EQ(node->u8Selector, 1);
        const Param *list = node->pParList;
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(zt::Name(list[0], wide), "Mode");
        EXPECT_EQ(zt::Name(list[1], wide), "Gain");
        EXPECT_EQ(zt::Name(list[2], wide), "Ratio");
        EXPECT_EQ(list[3].pName, nullptr);
        EXPECT_NE(list[0].uValue.pv, ev->pstAttachments->pstNext->pParList[0].uValue.pv);  // a copy of its own
        EXPECT_EQ(list[1].uValue.dw, 30u);
        EXPECT_EQ(list[2].uValue.r, 0.25);
        EXPECT_EQ(list[2].dwType, ZERA_PARAM_REAL);
        EXPECT_EQ(list[0].dwAccess, 3u);
        EXPECT_EQ(list[2].dwAccess, 8u);
        EXPECT_EQ(list[0].u8Tag, 7);
        EXPECT_EQ(list[2].u8Attributes & 0xF0, 0x90);  // the creator's bits are kept
        Event *bare = ZERA_pstInternalCloneEvent(ev, 0);
        ASSERT_NE(bare, nullptr);
        EXPECT_EQ(bare->pstAttachments, nullptr);
        for (Event *e : {ev, copy, bare}) EXPECT_TRUE(ZERA_boDeleteEvent(e));
    }
}

TEST(EventClone, SplitKeepsTheNodesAtOrBelowTheLevel) {
    Event *ev = WithNodes(false, {{2, 0}, {4, 1}, {5, 0}});
    Attachment *kept = ev->pstAttachments;
    Attachment *level4 = kept->pstNext;
    Attachment *level5 = level4->pstNext;
    Event *copy = ZERA_pstInternalCloneEventAndSplitAttachment(ev, 3);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(NodeLevels(ev), (std::vector<int>{2}));
    EXPECT_EQ(ev->pstAttachments, kept);
    EXPECT_EQ(kept->pstNext, nullptr);
    // The nodes themselves moved: selector 1 first, each pushed onto the head.
    EXPECT_EQ(NodeLevels(copy), (std::vector<int>{5, 4}));
    EXPECT_EQ(copy->pstAttachments, level5);
    EXPECT_EQ(level5->pstNext, level4);

    Event *none = ZERA_pstInternalCloneEventAndSplitAttachment(ev, 2);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->pstAttachments, nullptr);
    for (Event *e : {ev, copy, none}) EXPECT_TRUE(ZERA_boDeleteEvent(e));
}

// Each allocation of a clone with attachments fails in turn: the copy itself
// gives 1026, anything of its attachments 1033; the source stays as it was.
TEST(EventClone, FailedCopiesLeaveTheSourceAndLeakNothing) {
    for (bool wide : {false, true}) {
        Event *ev = WithNodes(wide, {{2, 0}, {3, 1}});
        const Event header = *ev;
        zt::ForEachAllocFailure([&](long n) {
            OSAL_vSetLastError(0);
            Event *copy = ZERA_pstCloneEvent(ev);
            if (copy != nullptr) {
                EXPECT_EQ(NodeLevels(copy), (std::vector<int>{3, 2}));
                EXPECT_TRUE(ZERA_boDeleteEvent(copy));
                return true;
            }
            ExpectCode(n == 0 ? OSAL_ERR_NO_MEMORY : OSAL_ERR_ATTACH_COPY);
            EXPECT_EQ(std::memcmp(ev, &header, sizeof header), 0);
            EXPECT_EQ(NodeLevels(ev), (std::vector<int>{2, 3}));
            return false;
        });
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }
}

}  // namespace
