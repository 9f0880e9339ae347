// handle/stack_handle_test.cpp - creating, binding, closing and checking level
// handles, the masked link from level 0, and what each refusal leaves.
#include <utility>

#include "handle/test_stack.h"

namespace {

const uint32_t kHandle = OSAL_ERR_INVALID_HANDLE, kLevel = OSAL_ERR_INVALID_LEVEL;

TEST(StackHandle, NewLevelZeroAndTheRecordsCheckRefuses) {
    TestStack stack;
    StackHandle *h = stack.h0();
#if UINTPTR_MAX == 0xFFFFFFFFu
    EXPECT_EQ(h->dwSize, 316u);
#endif
    EXPECT_EQ(h->dwSize, sizeof(StackHandle));
    EXPECT_EQ(h->dwWantedTypes, 0xFFFFFFFFu);
    EXPECT_EQ(h->dwWantedLevels | h->dwLowerWantedLevels | h->dwStatus | h->u8Level, 0u);
    EXPECT_TRUE(h->hSendQueue != h->hRecvQueue && h->hMutex != nullptr);
    EXPECT_TRUE(ZERA_boHandleCheck(h, 1));
    const StackHandle good = *h;
    const std::pair<const char *, void (*)(StackHandle *)> breaks[] = {
        {"size", [](StackHandle *s) { s->dwSize -= 4; }},
        {"receive queue", [](StackHandle *s) { s->hRecvQueue = nullptr; }},
        {"send queue", [](StackHandle *s) { s->hSendQueue = nullptr; }},
        {"info block", [](StackHandle *s) { s->pstInfoBlock->dwSize = 35; }},
        {"upper info block", [](StackHandle *s) { s->pstUpperInfoBlock->dwMagic = 0; }},
    };
    for (const auto &broken : breaks) {
        SCOPED_TRACE(broken.first);
        broken.second(h);
        EXPECT_REFUSED(ZERA_boHandleCheck(h, 0), kHandle);
        *h = good;
        h->pstInfoBlock->dwSize = 36;
        h->pstUpperInfoBlock->dwMagic = ZERA_INFOBLOCK_MAGIC;
        EXPECT_TRUE(ZERA_boHandleCheck(h, 0));
    }
}

// Refused parents (one with a level on it, an invalid one, level 31, a level 0 without descriptor) and
// failed allocations leave the parent as it was; refused destroys leave the stack whole.
TEST(StackHandle, CreateRefusalsAndFailuresLeaveTheParentAsItWas) {
    TestStack stack;
    StackHandle *h1 = stack.Add();
    const uint32_t wanted = h1->dwWantedLevels;
    SweepAllocFailures([&] { return ZERA_hHandleCreate(h1); }, [&] { return h1->dwWantedLevels; },
                       [&](StackHandle *h2) {
                           EXPECT_TRUE(ZERA_boHandleClose(h2));
                           h1->dwWantedLevels = wanted;
                       });
    while (stack.top()->u8Level < 31) ASSERT_NE(stack.Add(), nullptr);
    StackHandle *bare = ZERA_hHandleCreate(nullptr);
    ASSERT_NE(bare, nullptr);
    for (StackHandle *parent : {stack.h0(), h1, stack.top(), bare}) {
        SCOPED_TRACE(parent == bare ? -1 : parent->u8Level);
        const uint32_t before = parent->dwWantedLevels;
        if (parent == h1) h1->dwMagic = 0;
        EXPECT_REFUSED(ZERA_hHandleCreate(parent), parent == stack.top() ? kLevel : kHandle);
        h1->dwMagic = ZERA_HANDLE_MAGIC;
        EXPECT_EQ(parent->dwWantedLevels, before);
    }
    EXPECT_TRUE(ZERA_hHandleGetNextLevel(bare) == nullptr && ZERA_hHandleGetNextLevel(nullptr) == nullptr);
    // The host kit destroys only a level 0 of its making with no level on it.
    for (StackHandle *h : {static_cast<StackHandle *>(nullptr), h1, stack.h0(), bare}) {
        EXPECT_REFUSED(ZERA_boHostStackDestroy(h), kHandle);
    }
    EXPECT_TRUE(ZERA_boHandleCheck(h1, 0) && ZERA_boHandleCheck(stack.h0(), 0) &&
                ZERA_hHandleGetNextLevel(stack.h0()) == h1);
    EXPECT_TRUE(ZERA_boHandleClose(bare));
}

// Level 0 links to level 1 by its address XOR the process key, never plainly; refused binds and closes
// change nothing; a close deletes the events queued on the level.
TEST(StackHandle, MaskedLinkFromLevelZeroAndRefusedBindsAndCloses) {
    TestStack stack, other;
    StackHandle *h0 = stack.h0(), *h1 = ZERA_hHandleCreate(h0);
    ASSERT_TRUE(h1 != nullptr && ZERA_boHandleBind(h0, h1));
    EXPECT_EQ(stack.desc()->dwNextLevelLink, reinterpret_cast<ZERA_UPTR>(h1) ^ zera::PointerKey());
    EXPECT_TRUE(h0->pstNextLevel == nullptr && ZERA_hHandleGetNextLevel(h0) == h1);
    ASSERT_TRUE(ZERA_boHandleClose(h1));
    EXPECT_EQ(stack.desc()->dwNextLevelLink, zera::PointerKey());
    EXPECT_EQ(ZERA_hHandleGetNextLevel(h0), nullptr);
    h1 = stack.Add();
    StackHandle *h2 = stack.Add();
    StackHandle *loose = ZERA_hHandleCreate(other.h0());
    StackHandle *bare = ZERA_hHandleCreate(nullptr);
    ASSERT_TRUE(loose && bare);
    const ZERA_UPTR otherLink = other.desc()->dwNextLevelLink;
    EXPECT_FALSE(ZERA_boHandleBind(other.h0(), h2));  // h2 already has a previous level
    EXPECT_FALSE(ZERA_boHandleBind(h1, loose));       // h1 already has a next level
    EXPECT_REFUSED(ZERA_boHandleBind(bare, loose), kHandle);  // no descriptor to link from
    EXPECT_REFUSED(ZERA_boHandleBind(loose, loose), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boHandleBind(nullptr, loose), kHandle);
    EXPECT_REFUSED(ZERA_boHandleBind(loose, nullptr), kHandle);
    EXPECT_EQ(other.desc()->dwNextLevelLink, otherLink);
    EXPECT_TRUE(loose->pstPrevLevel == nullptr && loose->pstNextLevel == nullptr);
    EXPECT_TRUE(ZERA_boHandleClose(loose));
    EXPECT_TRUE(ZERA_boHandleClose(bare));

    EXPECT_REFUSED(ZERA_boHandleClose(h1), kHandle);          // h2 still sits on it
    EXPECT_REFUSED(ZERA_boHandleClose(stack.h0()), kHandle);  // and h1 on level 0
    h1->dwMagic = 0;
    EXPECT_REFUSED(ZERA_boHandleClose(h2), OSAL_ERR_PREV_LEVEL);
    h1->dwMagic = ZERA_HANDLE_MAGIC;
    EXPECT_EQ(ZERA_hHandleGetNextLevel(stack.h0()), h1);
    EXPECT_TRUE(h1->pstNextLevel == h2 && h2->pstPrevLevel == h1);
    EXPECT_TRUE(ZERA_boHandleCheck(h1, 0) && ZERA_boHandleCheck(h2, 0));
    // The queues own the events; the leak checker sees whether the close at the end releases them.
    for (OSAL_HQUEUE queue : {h2->hSendQueue, h2->hRecvQueue}) {
        Event *ev = ZERA_pstCreateEvent(1, 2, 16);
        ASSERT_NE(*ZERA_ppstCheckParListA(ev, 1, 0, 1, 0), nullptr);  // a node with its list
        ASSERT_TRUE(OSAL_boQueuePut(queue, ev, ZERA_boTimeStampCompare));
    }
}

}  // namespace
