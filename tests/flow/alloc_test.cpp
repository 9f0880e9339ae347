// flow/alloc_test.cpp - the event flow when memory runs out: nothing queued
// is lost or half-changed, and what the caller still owns is reported so.
#include "flow/flow_test_util.h"

namespace {

using namespace st;

TEST(FlowOutOfMemory, NothingQueuedIsLostOrHalfChanged) {
    AllocFailureGuard guard;
    FlowStack stack{"Layer", "Layer"};
    Event *queued = Data(ZERA_EVENT_DATA, 1, 4);
    std::memcpy(queued->pbData, "abcd", 4);
    queued->dwEventId = 5;
    ASSERT_TRUE(Send(stack.h0(), queued, Relative(60 * kSecond)));
    Event *grow = QueueOp(1, 5, ZERA_QOP_MODIFY | ZERA_QOP_DATA | ZERA_QOP_FLAGS, 64);
    ASSERT_EQ(Queued(stack[1]->hSendQueue), std::vector<Event *>{queued});  // out of the put box
    OSAL_vTestFailOneAllocAfter(0);  // the larger data area
    EXPECT_REFUSED(Send(stack.h0(), grow, Relative(0), 0x77), OSAL_ERR_NO_MEMORY);
    OSAL_vTestFailAllocAfter(-1);
    ASSERT_EQ(Queued(stack[1]->hSendQueue), std::vector<Event *>{queued});
    EXPECT_EQ(queued->dwDataSize, 4u);
    EXPECT_EQ(std::memcmp(queued->pbData, "abcd", 4), 0);
    EXPECT_EQ(queued->dwFlags, 0u);
    ZERA_boDeleteEvent(grow);

    // The walk of a cancel needs no memory of the queue's.
    Event *cancel = QueueOp(1, 5, ZERA_QOP_CANCEL);
    OSAL_vTestFailAllocAfter(0);
    EXPECT_TRUE(Send(stack.h0(), cancel, Relative(0)));
    OSAL_vTestFailAllocAfter(-1);
    EXPECT_TRUE(Queued(stack[1]->hSendQueue).empty());

    // A repetition without a copy moves on; a filter without a copy still delivers.
    BreakFlag brk;
    Event *master = Master(stack.h0(), 1, 0, kSecond);
    const int64_t due = NowMicros() - 1000;
    ASSERT_TRUE(Send(stack.h0(), master, Absolute(due)));
    OSAL_vTestFailAllocAfter(0);
    EXPECT_EQ(Take(stack[1], brk), nullptr);
    OSAL_vTestFailAllocAfter(-1);
    EXPECT_EQ(Queued(stack[1]->hSendQueue), std::vector<Event *>{master});
    EXPECT_EQ(Micros(master->stTimeStamp), due + kSecond);

    // The copy for level 1 cannot be made; the event itself still reaches level 0.
    ASSERT_TRUE(ZERA_boSetEventTypes(stack.h0(), 1u << 2, kAll));
    ASSERT_TRUE(ZERA_boSetEventTypes(stack[1], 1u << 2, kAll));
    Event *ev = Data(ZERA_EVENT_DATA, 2);
    OSAL_vTestFailOneAllocAfter(0);
    ZERA_vInputFilter(stack[2], ev);
    OSAL_vTestFailAllocAfter(-1);
    EXPECT_TRUE(Queued(stack[2]->hRecvQueue).empty());
    EXPECT_EQ(ReceiveNow(stack.h0()), ev);
    ZERA_boDeleteEvent(ev);
}

}  // namespace
