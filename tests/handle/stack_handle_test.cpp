// handle/stack_handle_test.cpp - creating, binding, closing and checking
// level handles, the masked link from level 0, and what a refusal leaves.
#include <cstring>

#include "handle/test_stack.h"

namespace {

void ExpectCode(uint32_t code) { EXPECT_EQ(OSAL_dwGetLastError(), code); }

TEST(StackHandle, NewLevelZero) {
    TestStack stack;
    StackHandle *h = stack.h0();
#if UINTPTR_MAX == 0xFFFFFFFFu
    EXPECT_EQ(h->dwSize, 316u);
#endif
    EXPECT_EQ(h->dwSize, sizeof(StackHandle));
    EXPECT_EQ(h->dwWantedTypes, 0xFFFFFFFFu);
    EXPECT_EQ(h->dwWantedLevels | h->dwLowerWantedLevels | h->dwStatus | h->u8Level, 0u);
    EXPECT_EQ(h->stTimeOffset.dwMicroseconds | static_cast<uint32_t>(h->stTimeOffset.i32Seconds), 0u);
    EXPECT_NE(h->hSendQueue, h->hRecvQueue);
    EXPECT_NE(h->hMutex, nullptr);
    EXPECT_TRUE(ZERA_boHandleCheck(h, 1));
}

TEST(StackHandle, CheckRefusesBrokenRecords) {
    TestStack stack;
    StackHandle *h = stack.h0();
    const StackHandle good = *h;
    auto expectRefused = [&](const char *what) {
        OSAL_vSetLastError(0);
        EXPECT_FALSE(ZERA_boHandleCheck(h, 0)) << what;
        ExpectCode(OSAL_ERR_INVALID_HANDLE);
        *h = good;
        h->pstInfoBlock->dwSize = 36;
        h->pstUpperInfoBlock->dwMagic = ZERA_INFOBLOCK_MAGIC;
        EXPECT_TRUE(ZERA_boHandleCheck(h, 0));
    };
    h->dwMagic = ZERA_HANDLE_MAGIC + 1;
    expectRefused("magic");
    h->dwSize -= 4;
    expectRefused("size");
    h->hRecvQueue = nullptr;
    expectRefused("receive queue");
    h->hSendQueue = nullptr;
    expectRefused("send queue");
    h->pstInfoBlock->dwSize = 35;
    expectRefused("info block");
    h->pstUpperInfoBlock->dwMagic = 0;
    expectRefused("upper info block");

    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boHandleCheck(nullptr, 1));
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
}

TEST(StackHandle, ChildTakesLevelAndWantedLevelMasks) {
    TestStack stack;
    stack.Add();
    stack.Add();
    StackHandle *h3 = stack.Add();
    ASSERT_EQ(h3->u8Level, 3);
    h3->dwLowerWantedLevels = 0x00010000u;  // as if the levels below wanted level 16
    h3->dwWantedLevels = 0x00000100u;

    StackHandle *h4 = ZERA_hHandleCreate(h3);
    ASSERT_NE(h4, nullptr);
    EXPECT_EQ(h4->u8Level, 4);
    EXPECT_EQ(h3->dwWantedLevels, 0x00000100u | 0x10u);
    EXPECT_EQ(h4->dwWantedLevels, 0u);
    EXPECT_EQ(h4->dwLowerWantedLevels, 0x00010000u | 0x00000100u | 0x10u);
    // Created, not linked: the parent still has no next level.
    EXPECT_EQ(ZERA_hHandleGetNextLevel(h3), nullptr);
    EXPECT_EQ(h4->pstPrevLevel, nullptr);
    EXPECT_TRUE(ZERA_boHandleClose(h4));
}

TEST(StackHandle, ParentRefusalsLeaveParentUnchanged) {
    TestStack stack;
    StackHandle *h1 = stack.Add();
    const uint32_t wanted0 = stack.h0()->dwWantedLevels;

    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_hHandleCreate(stack.h0()), nullptr);  // already has level 1
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_EQ(stack.h0()->dwWantedLevels, wanted0);

    const uint32_t wanted1 = h1->dwWantedLevels;
    h1->dwMagic = 0;
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_hHandleCreate(h1), nullptr);
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    h1->dwMagic = ZERA_HANDLE_MAGIC;
    EXPECT_EQ(h1->dwWantedLevels, wanted1);
}

TEST(StackHandle, LevelThirtyOneIsTheHighest) {
    TestStack stack;
    StackHandle *top = nullptr;
    for (int level = 1; level <= 31; ++level) top = stack.Add();
    ASSERT_NE(top, nullptr);
    ASSERT_EQ(top->u8Level, 31);
    const uint32_t wanted = top->dwWantedLevels;
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_hHandleCreate(top), nullptr);
    ExpectCode(OSAL_ERR_INVALID_LEVEL);
    EXPECT_EQ(top->dwWantedLevels, wanted);
    EXPECT_EQ(ZERA_hHandleGetNextLevel(top), nullptr);
}

TEST(StackHandle, MaskedLinkFromLevelZero) {
    TestStack stack;
    HostStackDescriptor *desc = stack.desc();
    EXPECT_EQ(desc->dwNextLevelLink, zera::PointerKey());
    EXPECT_EQ(ZERA_hHandleGetNextLevel(stack.h0()), nullptr);

    StackHandle *h1 = ZERA_hHandleCreate(stack.h0());
    ASSERT_NE(h1, nullptr);
    ASSERT_TRUE(ZERA_boHandleBind(stack.h0(), h1));
    EXPECT_EQ(desc->dwNextLevelLink, reinterpret_cast<ZERA_UPTR>(h1) ^ zera::PointerKey());
    EXPECT_EQ(stack.h0()->pstNextLevel, nullptr);  // never the plain address at level 0
    EXPECT_EQ(ZERA_hHandleGetNextLevel(stack.h0()), h1);
    EXPECT_EQ(h1->pstPrevLevel, stack.h0());

    // Above level 0 the link is the plain address.
    StackHandle *h2 = ZERA_hHandleCreate(h1);
    ASSERT_TRUE(ZERA_boHandleBind(h1, h2));
    EXPECT_EQ(h1->pstNextLevel, h2);
    EXPECT_EQ(h2->pstPrevLevel, h1);
    ASSERT_TRUE(ZERA_boHandleClose(h2));
    EXPECT_EQ(h1->pstNextLevel, nullptr);

    ASSERT_TRUE(ZERA_boHandleClose(h1));
    EXPECT_EQ(desc->dwNextLevelLink, zera::PointerKey());
    EXPECT_EQ(ZERA_hHandleGetNextLevel(stack.h0()), nullptr);
}

TEST(StackHandle, BindRefusalsChangeNothing) {
    TestStack stack, other;
    StackHandle *h1 = stack.Add();
    StackHandle *h2 = stack.Add();
    const ZERA_UPTR otherLink = other.desc()->dwNextLevelLink;

    // The upper handle already has a previous level.
    EXPECT_FALSE(ZERA_boHandleBind(other.h0(), h2));
    EXPECT_EQ(other.desc()->dwNextLevelLink, otherLink);
    EXPECT_EQ(h2->pstPrevLevel, h1);
    EXPECT_EQ(h1->pstNextLevel, h2);

    // The lower handle already has a next level.
    StackHandle *loose = ZERA_hHandleCreate(other.h0());
    ASSERT_NE(loose, nullptr);
    EXPECT_FALSE(ZERA_boHandleBind(h1, loose));
    EXPECT_EQ(loose->pstPrevLevel, nullptr);
    EXPECT_EQ(h1->pstNextLevel, h2);

    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boHandleBind(loose, loose));
    ExpectCode(OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(loose->pstNextLevel, nullptr);

    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boHandleBind(nullptr, loose));
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_FALSE(ZERA_boHandleBind(loose, nullptr));
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_TRUE(ZERA_boHandleClose(loose));
}

TEST(StackHandle, CloseRefusals) {
    TestStack stack;
    StackHandle *h1 = stack.Add();
    StackHandle *h2 = stack.Add();

    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boHandleClose(h1));  // h2 still sits on it
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_EQ(h1->pstNextLevel, h2);
    EXPECT_EQ(h2->pstPrevLevel, h1);
    EXPECT_TRUE(ZERA_boHandleCheck(h1, 0));

    EXPECT_FALSE(ZERA_boHandleClose(stack.h0()));  // level 1 still sits on it
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_EQ(ZERA_hHandleGetNextLevel(stack.h0()), h1);

    // An invalid previous level: 1024, and both stay linked.
    h1->dwMagic = 0;
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boHandleClose(h2));
    ExpectCode(OSAL_ERR_PREV_LEVEL);
    h1->dwMagic = ZERA_HANDLE_MAGIC;
    EXPECT_EQ(h1->pstNextLevel, h2);
    EXPECT_TRUE(ZERA_boHandleCheck(h2, 0));

    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boHandleClose(nullptr));
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
}

TEST(StackHandle, LevelZeroWithoutDescriptorHasNoNextLevel) {
    StackHandle *bare = ZERA_hHandleCreate(nullptr);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->pvLevelContext, nullptr);
    EXPECT_EQ(ZERA_hHandleGetNextLevel(bare), nullptr);
    EXPECT_EQ(ZERA_hHandleGetNextLevel(nullptr), nullptr);

    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_hHandleCreate(bare), nullptr);
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_EQ(bare->dwWantedLevels, 0u);

    TestStack stack;
    StackHandle *loose = ZERA_hHandleCreate(stack.h0());
    ASSERT_NE(loose, nullptr);
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boHandleBind(bare, loose));
    ExpectCode(OSAL_ERR_INVALID_HANDLE);
    EXPECT_EQ(loose->pstPrevLevel, nullptr);

    EXPECT_TRUE(ZERA_boHandleClose(loose));
    EXPECT_TRUE(ZERA_boHandleClose(bare));
}

BOOL8 OSAL_CALL AnyOrder(const void *, const void *) { return 1; }

TEST(StackHandle, CloseDeletesQueuedEvents) {
    TestStack stack;
    StackHandle *h1 = stack.Add();
    for (OSAL_HQUEUE queue : {h1->hSendQueue, h1->hRecvQueue}) {
        Event *ev = ZERA_pstCreateEvent(1, 1, 16);
        ASSERT_NE(ev, nullptr);
        ASSERT_NE(*ZERA_ppstCheckParListA(ev, 1, 0, 1, 0), nullptr);  // a node with its list
        ASSERT_TRUE(OSAL_boQueuePut(queue, ev, AnyOrder));
    }
    // The queues own the events now; the leak checker sees whether close
    // releases them.
}

// Every allocation of a create, in the library and in the platform layer,
// is made to fail in turn: each failure gives 1026, releases what was made
// (the leak checker watches) and leaves the parent as it was.
TEST(StackHandle, CreateFailsCleanlyAtEveryAllocation) {
    AllocFailureGuard guard;
    TestStack stack;
    StackHandle *h1 = stack.Add();
    const uint32_t wanted = h1->dwWantedLevels;

    // The library allocates the record and two info blocks; the platform
    // layer at least two queues and a lock.
    struct Hook {
        void (*failAfter)(long);
        long minFailures;
    };
    const Hook hooks[] = {{[](long n) { ZERA_vTestFailAllocAfter(n); }, 3},
                          {[](long n) { OSAL_vTestFailAllocAfter(n); }, 3}};
    for (const Hook &hook : hooks) {
        auto failAfter = hook.failAfter;
        long failures = 0;
        StackHandle *h2 = nullptr;
        for (long n = 0; n < 100 && h2 == nullptr; ++n) {
            failAfter(n);
            OSAL_vSetLastError(0);
            h2 = ZERA_hHandleCreate(h1);
            failAfter(-1);
            if (h2 == nullptr) {
                ++failures;
                ExpectCode(OSAL_ERR_NO_MEMORY);
                EXPECT_EQ(h1->dwWantedLevels, wanted);
            }
        }
        ASSERT_NE(h2, nullptr);
        EXPECT_GE(failures, hook.minFailures);
        EXPECT_TRUE(ZERA_boHandleClose(h2));
        h1->dwWantedLevels = wanted;
    }
}

}  // namespace
