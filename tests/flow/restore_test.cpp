// flow/restore_test.cpp - restoring stack parameters from an event's attachments.
#include "flow/flow_test_util.h"

namespace {

using namespace st;

Param *Gain(StackHandle *h) { return ZERA_pstGetStackParamA(h, h->u8Level, "Gain"); }

// The single parameter value in the event's node for (level, selector), or -1.
int64_t Carried(Event *ev, uint8_t level, uint8_t selector) {
    Attachment *node = *ZERA_ppstCheckParListA(ev, level, selector, 0, 0);
    if (node == nullptr || node->pParList[0].pName == nullptr) return -1;
    return node->pParList[0].uValue.dw;
}

// Adds a hand-made parameter to the event's node for (level, selector).
template <typename V>
void Carry(Event *ev, uint8_t level, uint8_t selector, const char *name, uint32_t type, V value) {
    Attachment *node = *ZERA_ppstCheckParListA(ev, level, selector, 1, 0);
    ASSERT_NE(node, nullptr);
    uint32_t count = 0;
    while (node->pParList[count].pName != nullptr) ++count;
    ParamValue **cursor = nullptr;
    ASSERT_TRUE(ZERA_boAddParamA(1, 0, &node->pParList, &count, &cursor, type, 0, 0, 0, 0, name, value));
}

// A notification that changes the level's status, and a filter that stops a
// level thread, as a status that stops the stack does at the levels below.
ZERA_HLEVELTHREAD g_thread = nullptr;
uint32_t g_announced = 0;
void ZERA_CALL FlipBit31(StackHandle *h) { h->dwStatus ^= ZERA_STATUS_BIT31; }
void ZERA_CALL StopThread(StackHandle *, Event *ev) {
    g_announced += ZERA_boLevelThreadStop(g_thread);
    ZERA_boDeleteEvent(ev);
}

TEST(RestoreParams, ChangesAreUndoneAfterwardsAndWhatDoesNotApplyIsDropped) {
    ComponentTrace trace("Layer");
    FlowStack stack{"Layer", "Layer"};
    StackHandle *h2 = stack[2];
    Gain(h2)->uValue.dw = 3;
    Event *ev = Data(ZERA_EVENT_DATA, 1);
    ASSERT_TRUE(ZERA_boAttachParamA(stack[1], ev, 2, 1, "Gain", 5u)) << LastText();
    trace.Clear();
    ZERA_vSetRestoreParams(h2, ev);
    EXPECT_EQ(Gain(h2)->uValue.dw, 5u);
    EXPECT_TRUE(Gain(h2)->u8ChangeFlags & ZERA_CHANGE_VALUE);
    EXPECT_EQ(Carried(ev, 2, 0), 3);
    EXPECT_EQ(Carried(ev, 2, 1), -1);
    ZERA_vSetRestoreParams(h2, ev);
    EXPECT_EQ(Gain(h2)->uValue.dw, 3u);
    EXPECT_EQ(ev->pstAttachments, nullptr);
    EXPECT_EQ(trace.Levels(kNotify), (std::vector<uint32_t>{2, 2}));

    // Selector 0 first (consumed), then selector 1 (turned into selector 0).
    Carry(ev, 2, 0, "Gain", ZERA_PARAM_DWORD, 7u);
    Carry(ev, 2, 1, "Gain", ZERA_PARAM_DWORD, 9u);
    ZERA_vSetRestoreParams(h2, ev);
    EXPECT_EQ(Gain(h2)->uValue.dw, 9u);
    EXPECT_EQ(Carried(ev, 2, 0), 7);
    EXPECT_EQ(Carried(ev, 2, 1), -1);
    ZERA_boDeleteEvent(ev);

    // A cancel makes its change before its walk and undoes it after, outside
    // the queue's lock: the status each change announces may stop threads.
    Event *queued = Data(ZERA_EVENT_DATA, 2);
    ASSERT_TRUE(Send(stack[1], queued, Relative(60 * kSecond)));
    Event *cancel = QueueOp(2, queued->dwEventId, ZERA_QOP_CANCEL);
    ASSERT_TRUE(ZERA_boAttachParamA(stack[1], cancel, 2, 1, "Gain", 6u));
    const ZERA_PFN notify = h2->apfnEntry[zera::kEntryModuleNotifyA], filter = h2->apfnEntry[zera::kEntryInputFilter];
    h2->dwStatus |= ZERA_STATUS_COMPLETE;
    h2->apfnEntry[zera::kEntryModuleNotifyA] = reinterpret_cast<ZERA_PFN>(FlipBit31);
    h2->apfnEntry[zera::kEntryInputFilter] = reinterpret_cast<ZERA_PFN>(StopThread);
    g_thread = ZERA_hLevelThreadCreate(h2);
    ASSERT_TRUE(Send(stack[1], cancel, Relative(0)));
    EXPECT_EQ(Gain(h2)->uValue.dw, 9u);
    EXPECT_EQ(g_announced, 2u);
    EXPECT_TRUE(Queued(h2->hSendQueue).empty());
    h2->apfnEntry[zera::kEntryModuleNotifyA] = notify, h2->apfnEntry[zera::kEntryInputFilter] = filter;
    EXPECT_TRUE(ZERA_boLevelThreadDelete(g_thread));

    // A value of another type is consumed unapplied; a level above the top is dropped.
    ev = Data(ZERA_EVENT_DATA, 1);
    Carry(ev, 2, 0, "Gain", ZERA_PARAM_STRING, "seven");
    Carry(ev, 5, 1, "Gain", ZERA_PARAM_DWORD, 8u);
    ZERA_vSetRestoreParams(h2, ev);
    EXPECT_EQ(Gain(h2)->uValue.dw, 9u);
    EXPECT_EQ(Carried(ev, 2, 0), -1);
    EXPECT_EQ(Carried(ev, 5, 1), -1);
    ZERA_boDeleteEvent(ev);
}

}  // namespace
