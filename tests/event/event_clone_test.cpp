// event/event_clone_test.cpp - copies of events: header, area and COPY mark
// by type, the owner's identifier, attachments copied in reverse order,
// splitting the attachments at a level, and failures that leave the source
// as it was and leak nothing.
#include "event/event_test_util.h"

namespace {

using zt::ExpectCode;
using zt::Area;
using zt::NodeLevels;

// An event with a node per (level, selector), in the given head-first order,
// each holding a string, a dword (ten times its level) and a real.
Event *WithNodes(bool wide, std::vector<std::pair<uint8_t, uint8_t>> nodes) {
    Event *ev = ZERA_pstCreateEvent(1, 1, 6);
    ev->boWideAttach = wide ? 1 : 0;
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
        zt::ListBuilder b(wide);
        b.Str("Mode", "fast", 0x30);
        b.DWord("Gain", it->first * 10u, ZERA_PARAM_DWORD, 3);
        b.Real("Ratio", 0.25);
        b.list[2].u8Attributes = 0x90;
        zt::GiveList(b, *ZERA_ppstCheckParListA(ev, it->first, it->second, 1, 0));
    }
    EXPECT_EQ(NodeLevels(ev).size(), nodes.size());
    return ev;
}

// The copy's header is the source's with its own area (and the COPY mark on
// data events); the area's bytes are the source's.
TEST(EventClone, CopiesHeaderAndAreaAndMarksDataEvents) {
    // Areas in a block of the pool and in one of their own.
    const std::pair<int32_t, uint32_t> cases[] = {{1, 12}, {2, 100}, {3, 12}, {3, 100}, {4, 12}, {9, 12}};
    for (auto [type, size] : cases) {
        SCOPED_TRACE(testing::Message() << "type " << type << " size " << size);
        Event *ev = ZERA_pstCreateEvent(type, 7, size);
        ASSERT_NE(ev, nullptr);
        std::memset(Area(ev), 0x5A, zera::EventAreaSize(ev));
        ev->u8Error = 3;
        ev->dwFlags = 0x8;
        ev->stTimeStamp = TimeVal{123, 45};
        if (type <= 2) {
            ev->u64Aux1 = 0x1122334455667788ull;
            ev->u8Aux3 = 9;
            ev->u8Options = ZERA_OPT_REPEATING;
            ev->u16RepeatCount = 4;
            ev->stPeriod = TimeVal{OSAL_TIME_RELATIVE | 5, 0};
        } else if (type == 3) {
            ev->dwItemCount = 1;
        } else if (type == 4) {
            ev->stInterval = TimeVal{OSAL_TIME_RELATIVE, 3};  // where a data event keeps u8Options
        }
        Event *copy = ZERA_pstCloneEvent(ev);
        ASSERT_NE(copy, nullptr);
        Event expected = *ev;
        if (type <= 2) {
            expected.pbData = Area(copy);
            expected.u8Options |= ZERA_OPT_COPY;
        } else if (type == 3) {
            expected.pbItems = Area(copy);
        }
        EXPECT_EQ(std::memcmp(copy, &expected, sizeof expected), 0);
        EXPECT_EQ(zera::EventAreaSize(copy), type <= 3 ? size : 0u);
        EXPECT_EQ(std::memcmp(Area(copy), Area(ev), zera::EventAreaSize(copy)), 0);
        EXPECT_EQ(ev->u8Options, type <= 2 ? ZERA_OPT_REPEATING : 0);  // the source is not marked
        EXPECT_TRUE(ZERA_boDeleteEvent(copy));
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }
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
    EXPECT_TRUE(ZERA_boDeleteEvent(copy));

    // An owner that no longer passes the check: no copy, 1027.
    StackHandle gone{};
    ev->pstOwner = &gone;
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCloneEvent(ev), nullptr);
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

TEST(EventClone, RefusesANullEventAndAnAreaLargerThanItsBlock) {
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_pstCloneEvent(nullptr), nullptr);
    ExpectCode(OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(ZERA_pstInternalCloneEventAndSplitAttachment(nullptr, 1), nullptr);
    ExpectCode(OSAL_ERR_INVALID_ARG);
    for (uint32_t size : {12u, 100u}) {  // a block of the pool and one of its own
        Event *ev = ZERA_pstCreateEvent(3, 0, size);
        ASSERT_NE(ev, nullptr);
        ev->dwItemsSize = size + 1;
        EXPECT_EQ(ZERA_pstCloneEvent(ev), nullptr);
        ExpectCode(OSAL_ERR_INVALID_SIZE);
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }
}

TEST(EventClone, AttachmentsAreCopiedDeepInReverseOrder) {
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide);
        Event *ev = WithNodes(wide, {{2, 0}, {3, 1}, {5, 0}});
        Event *copy = ZERA_pstCloneEvent(ev);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(NodeLevels(copy), (std::vector<int>{5, 3, 2}));
        EXPECT_EQ(NodeLevels(ev), (std::vector<int>{2, 3, 5}));
        EXPECT_EQ(copy->boWideAttach, wide ? 1 : 0);
        const Attachment *node = copy->pstAttachments->pstNext;  // level 3
        const Param *source = ev->pstAttachments->pstNext->pParList;
        EXPECT_EQ(node->u8Selector, 1);
        EXPECT_EQ(zt::Entries(node->pParList, wide),
                  (std::vector<std::string>{"Mode=fast", "Gain=30", "Ratio=0.250000"}));
        EXPECT_NE(node->pParList[0].uValue.pv, source[0].uValue.pv);  // a string of its own
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(node->pParList[i].dwType, source[i].dwType);
            EXPECT_EQ(node->pParList[i].dwAccess, source[i].dwAccess);
            EXPECT_EQ(node->pParList[i].u8Tag, source[i].u8Tag);
            EXPECT_EQ(node->pParList[i].u8Attributes & 0xF0, source[i].u8Attributes & 0xF0);  // the creator's bits
        }
        Event *bare = ZERA_pstInternalCloneEvent(ev, 0);
        ASSERT_NE(bare, nullptr);
        EXPECT_EQ(bare->pstAttachments, nullptr);
        for (Event *e : {ev, copy, bare}) EXPECT_TRUE(ZERA_boDeleteEvent(e));
    }
}

TEST(EventClone, SplitMovesTheNodesAboveTheLevel) {
    Event *ev = WithNodes(false, {{2, 0}, {4, 1}, {5, 0}});
    Attachment *kept = ev->pstAttachments;
    Attachment *level4 = kept->pstNext;
    Attachment *level5 = level4->pstNext;
    Event *copy = ZERA_pstInternalCloneEventAndSplitAttachment(ev, 3);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(ev->pstAttachments, kept);
    EXPECT_EQ(kept->pstNext, nullptr);
    // The nodes themselves moved: selector 1 first, each pushed onto the head.
    EXPECT_EQ(copy->pstAttachments, level5);
    EXPECT_EQ(level5->pstNext, level4);
    EXPECT_EQ(level4->pstNext, nullptr);

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
            if (Event *copy = ZERA_pstCloneEvent(ev)) {
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
