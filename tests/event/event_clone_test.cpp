// event/event_clone_test.cpp - copies of events, their attachments, and failed copies.
#include "event/event_test_util.h"

namespace {

using zt::Area;
using zt::NodeLevels;

// An event with a node per (level, selector), head first: a string, a dword (10 x level), a real.
Event *WithNodes(bool wide, std::vector<std::pair<uint8_t, uint8_t>> nodes) {
    Event *ev = ZERA_pstCreateEvent(1, 1, 6);
    ev->boWideAttach = wide ? 1 : 0;
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
        zt::ListBuilder b(wide);
        b.Str("Mode", "fast", 0x30);
        b.DWord("Gain", it->first * 10u, ZERA_PARAM_DWORD, 3);
        b.Real("Ratio", 0.25);
        b.list[2].u8Attributes = 0x90;
        std::swap(b.list, (*ZERA_ppstCheckParListA(ev, it->first, it->second, 1, 0))->pParList);  // frees the old
    }
    return ev;
}

// The copy is the source with its own area (pooled or not) and, on data events, the COPY mark.
TEST(EventClone, CopiesHeaderAndAreaAndMarksDataEvents) {
    const std::pair<int32_t, uint32_t> cases[] = {{1, 12}, {2, 100}, {3, 100}, {4, 12}};
    for (auto [type, size] : cases) {
        SCOPED_TRACE(testing::Message() << "type " << type << " size " << size);
        Event *ev = ZERA_pstCreateEvent(type, 7, size);
        ASSERT_NE(ev, nullptr);
        std::memset(Area(ev), 0x5A, zera::EventAreaSize(ev));
        ev->u8Error = 3, ev->dwFlags = 0x8, ev->stTimeStamp = TimeVal{123, 45};
        if (type <= 2) ev->u64Aux1 = 0x1122334455667788ull, ev->u8Options = ZERA_OPT_REPEATING, ev->u16RepeatCount = 4;
        if (type == 3) ev->dwItemCount = 1;
        if (type == 4) ev->stInterval = TimeVal{OSAL_TIME_RELATIVE, 3};  // where a data event keeps u8Options
        Event *copy = ZERA_pstCloneEvent(ev);
        ASSERT_NE(copy, nullptr);
        Event expected = *ev;
        if (type <= 2) expected.pbData = Area(copy), expected.u8Options |= ZERA_OPT_COPY;
        if (type == 3) expected.pbItems = Area(copy);
        EXPECT_EQ(std::memcmp(copy, &expected, sizeof expected), 0);
        EXPECT_EQ(zera::EventAreaSize(copy), type <= 3 ? size : 0u);
        EXPECT_EQ(std::memcmp(Area(copy), Area(ev), zera::EventAreaSize(copy)), 0);
        EXPECT_EQ(ev->u8Options, type <= 2 ? ZERA_OPT_REPEATING : 0);  // the source is not marked
        EXPECT_TRUE(ZERA_boDeleteEvent(copy) && ZERA_boDeleteEvent(ev));
    }
}

TEST(EventClone, OwnedCopiesAndRefusals) {
    zt::ResetSegment();
    zt::LevelChain chain;
    chain.Manager(0);
    Event *ev = ZERA_pstCreateEventEx(chain[0], 1, 0, 0, 0, 0);
    ASSERT_TRUE(ev != nullptr && ZERA_boSetEventID(ev, chain[0], 4242));
    Event *copy = ZERA_pstCloneEvent(ev);
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->dwEventId == 4242u && copy->dwOwnerEventId == 4242u && copy->pstOwner == chain[0]);
    EXPECT_TRUE(ZERA_boDeleteEvent(copy));
    StackHandle gone{};  // an owner that no longer passes the check
    ev->pstOwner = &gone;
    EXPECT_REFUSED(ZERA_pstCloneEvent(ev), OSAL_ERR_INVALID_HANDLE);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));

    for (uint32_t size : {12u, 100u}) {  // an area larger than its block: pooled or its own
        ev = ZERA_pstCreateEvent(3, 0, size);
        ASSERT_NE(ev, nullptr);
        ev->dwItemsSize = size + 1;
        EXPECT_REFUSED(ZERA_pstCloneEvent(ev), OSAL_ERR_INVALID_SIZE);
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }
}

TEST(EventClone, AttachmentsAreCopiedDeepOrSplitAndAFailedCopyLeavesTheSource) {
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide);
        Event *ev = WithNodes(wide, {{2, 0}, {3, 1}, {5, 0}});
        Event *copy = ZERA_pstCloneEvent(ev), *bare = ZERA_pstInternalCloneEvent(ev, 0);
        ASSERT_TRUE(copy != nullptr && bare != nullptr);
        EXPECT_EQ(bare->pstAttachments, nullptr);
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
            const Param &p = node->pParList[i], &s = source[i];
            EXPECT_TRUE(p.dwType == s.dwType && p.dwAccess == s.dwAccess && p.u8Tag == s.u8Tag) << i;
            EXPECT_EQ(p.u8Attributes & 0xF0, s.u8Attributes & 0xF0) << i;  // the creator's bits
        }
        for (Event *e : {copy, bare}) EXPECT_TRUE(ZERA_boDeleteEvent(e));

        // Each allocation fails in turn: 1026 for the copy, 1033 for its attachments; the source stays.
        const Event header = *ev;
        zt::SweepAllocFailures(
            [&] { return ZERA_pstCloneEvent(ev); },
            [&] { return std::make_pair(std::memcmp(ev, &header, sizeof header) == 0, NodeLevels(ev)); },
            [](Event *made) {
                EXPECT_EQ(NodeLevels(made), (std::vector<int>{5, 3, 2}));
                EXPECT_TRUE(ZERA_boDeleteEvent(made));
            },
            1, [](long n) { return n == 0 ? OSAL_ERR_NO_MEMORY : OSAL_ERR_ATTACH_COPY; });
        EXPECT_TRUE(ZERA_boDeleteEvent(ev));
    }

    // A split moves the nodes above the level themselves, each pushed onto the head.
    Event *ev = WithNodes(false, {{2, 0}, {4, 1}, {5, 0}});
    Attachment *kept = ev->pstAttachments, *level4 = kept->pstNext, *level5 = level4->pstNext;
    Event *copy = ZERA_pstInternalCloneEventAndSplitAttachment(ev, 3);
    Event *none = ZERA_pstInternalCloneEventAndSplitAttachment(ev, 2);
    ASSERT_TRUE(copy != nullptr && none != nullptr);
    EXPECT_TRUE(ev->pstAttachments == kept && kept->pstNext == nullptr);
    EXPECT_TRUE(copy->pstAttachments == level5 && level5->pstNext == level4 && level4->pstNext == nullptr);
    EXPECT_EQ(none->pstAttachments, nullptr);
    for (Event *e : {ev, copy, none}) EXPECT_TRUE(ZERA_boDeleteEvent(e));
}

}  // namespace
