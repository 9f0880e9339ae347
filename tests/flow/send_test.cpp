// flow/send_test.cpp - sending: routing through the levels, the checks and
// their codes, time stamps and intervals, cancel with its wildcards, modify
// with its take-over bits, and the turn of a stack status event at the top.
#include "flow/flow_test_util.h"

namespace {

using namespace st;

TEST(Send, ClimbsToTheAddressedLevelAndMovesTheOwnerAlong) {
    Stack stack{"Layer", "Layer", "Completer"};  // with identifier management
    StackHandle *h1 = stack[1];
    Event *ev = ZERA_pstCreateEventEx(h1, ZERA_EVENT_DATA, 3, 8, 0, 0);
    ASSERT_NE(ev, nullptr) << LastText();
    ASSERT_TRUE(Send(h1, ev, Relative(10 * kSecond), 0x1234));
    EXPECT_EQ(Queued(stack[3]->hSendQueue), std::vector<Event *>{ev});
    EXPECT_EQ(ev->pstOwner, stack[3]);
    EXPECT_EQ(ev->dwFlags, 0x1234u);
    EXPECT_TRUE(Queued(stack[1]->hSendQueue).empty());
    EXPECT_TRUE(Queued(stack[2]->hSendQueue).empty());

    // The owner rules: an owner, the sender as owner, the owner's identifier.
    Event *bare = Data(ZERA_EVENT_DATA, 3);
    Event *other = ZERA_pstCreateEventEx(stack[2], ZERA_EVENT_DATA, 3, 0, 0, 0);
    Event *renamed = ZERA_pstCreateEventEx(h1, ZERA_EVENT_DATA, 3, 0, 0, 0);
    renamed->dwEventId += 2;
    EXPECT_REFUSED(Send(h1, bare, Relative(0)), OSAL_ERR_NO_OWNER);
    EXPECT_REFUSED(Send(h1, other, Relative(0)), OSAL_ERR_NOT_OWNER);
    EXPECT_REFUSED(Send(h1, renamed, Relative(0)), OSAL_ERR_ID_MISMATCH);
    for (Event *refused : {bare, other, renamed}) ZERA_boDeleteEvent(refused);
}

TEST(Send, RoutesByLevelAndRefusesWhatCannotArrive) {
    FlowStack stack{"Layer", "Layer", "Layer"};
    Event *toOne = Data(ZERA_EVENT_DATA, 0);
    ASSERT_TRUE(Send(stack.h0(), toOne, Relative(kSecond)));
    EXPECT_EQ(toOne->u8Level, 1);
    EXPECT_EQ(Queued(stack[1]->hSendQueue), std::vector<Event *>{toOne});

    const struct {
        uint32_t from;
        int32_t type;
        uint8_t level, queueOp;
        bool never, nameless;
        uint32_t code;
    } cases[] = {
        {2, ZERA_EVENT_DATA, 1, 0, false, false, OSAL_ERR_INVALID_LEVEL},    // below the sender
        {1, ZERA_EVENT_DATA, 5, 0, false, false, OSAL_ERR_INVALID_HANDLE},   // above the top
        {1, ZERA_EVENT_DATA, 32, 0, false, false, OSAL_ERR_INVALID_ARG},     // no such level
        {1, ZERA_EVENT_DATA, 2, 0, true, false, OSAL_ERR_INVALID_ARG},       // never due
        {1, ZERA_EVENT_DATA2, 2, ZERA_QOP_MODIFY, false, false, OSAL_ERR_INVALID_SIZE},  // only type 1 has them
        {1, ZERA_EVENT_DATA, 2, 3, false, false, 0},                                     // refused without a code
        {1, ZERA_EVENT_DATA, 2, ZERA_QOP_MODIFY, false, true, OSAL_ERR_INVALID_SIZE},    // identifier 0
    };
    for (const auto &c : cases) {
        Event *ev = Data(c.type, c.level);
        ev->u8QueueOp = c.queueOp;
        if (c.nameless) ev->dwEventId = ev->dwOwnerEventId = 0;
        EXPECT_REFUSED(Send(stack[c.from], ev, c.never ? OSAL_stTimeInfinite : Relative(0)), c.code);
        ZERA_boDeleteEvent(ev);
    }
    Event *ev = Data(ZERA_EVENT_DATA, 2);
    EXPECT_REFUSED(ZERA_boSendEvent(stack[1], ev, 0, nullptr), OSAL_ERR_INVALID_ARG);
    ZERA_boDeleteEvent(ev);
    EXPECT_REFUSED(ZERA_boSendEvent(stack[1], nullptr, 0, &OSAL_stTimeNoWait), OSAL_ERR_INVALID_ARG);
    // Nothing refused got into a queue.
    EXPECT_TRUE(Queued(stack[2]->hSendQueue).empty());
    EXPECT_TRUE(Queued(stack[3]->hSendQueue).empty());
}

TEST(Send, RelativeStampsStartAtArrivalAndIntervalsHaveAFloor) {
    FlowStack stack{"Layer", "Layer"};
    StackHandle *h0 = stack.h0();
    Event *relative = Data(ZERA_EVENT_DATA, 2);
    const int64_t before = NowMicros();
    ASSERT_TRUE(Send(h0, relative, Relative(1500000)));
    EXPECT_GE(Micros(relative->stTimeStamp), before + 1500000);
    EXPECT_LE(Micros(relative->stTimeStamp), NowMicros() + 1500000);
    EXPECT_EQ(relative->stTimeStamp.dwMicroseconds & OSAL_TIME_RELATIVE, 0u);
    Event *absolute = Data(ZERA_EVENT_DATA, 2);
    ASSERT_TRUE(Send(h0, absolute, Absolute(before + 7 * kSecond)));
    EXPECT_EQ(Micros(absolute->stTimeStamp), before + 7 * kSecond);

    // Intervals are RELATIVE only, and two seconds at least.
    auto interval = [](const TimeVal &t) {
        Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_INTERVAL, 1, 0);
        ev->stInterval = t;
        return ev;
    };
    Event *shorter = interval(Relative(kSecond)), *longer = interval(Relative(3 * kSecond));
    Event *absolute3 = interval(Absolute(3 * kSecond));
    ASSERT_TRUE(Send(h0, shorter, Relative(0)));
    ASSERT_TRUE(Send(h0, longer, Relative(0)));
    EXPECT_EQ(shorter->stInterval.i32Seconds, 2);
    EXPECT_EQ(shorter->stInterval.dwMicroseconds, OSAL_TIME_RELATIVE);
    EXPECT_EQ(Micros(longer->stInterval), 3 * kSecond);
    EXPECT_REFUSED(Send(h0, absolute3, Relative(0)), OSAL_ERR_INVALID_ARG);
    ZERA_boDeleteEvent(absolute3);

    // A repeating master needs a usable identifier and a RELATIVE, finite period.
    Event *bad = Master(h0, 1, 3, kSecond);
    bad->stPeriod = Absolute(kSecond);
    EXPECT_REFUSED(Send(h0, bad, Relative(0)), OSAL_ERR_INVALID_SIZE);
    bad->stPeriod = OSAL_stTimeInfinite;
    EXPECT_REFUSED(Send(h0, bad, Relative(0)), OSAL_ERR_INVALID_SIZE);
    bad->stPeriod = Relative(kSecond);
    bad->dwEventId = ZERA_CANCEL_ALL;
    EXPECT_REFUSED(Send(h0, bad, Relative(0)), OSAL_ERR_INVALID_SIZE);
    ZERA_boDeleteEvent(bad);
}

// Level 2's queue with one event of every kind a cancel tells apart.
struct CancelFixture {
    FlowStack stack{"Layer", "Layer"};
    Event *master = Master(stack.h0(), 2, 0, kSecond);
    Event *oneShot = Data(ZERA_EVENT_DATA, 2);
    CancelFixture() {
        Event *data0 = Data(ZERA_EVENT_DATA0, 2), *data2 = Data(ZERA_EVENT_DATA2, 2);
        data0->u8Options = data2->u8Options = ZERA_OPT_REPEATING;  // no masters: only type 1 repeats
        Event *interval = ZERA_pstCreateEvent(ZERA_EVENT_INTERVAL, 2, 0);
        interval->stInterval = Relative(5 * kSecond);
        for (Event *ev : {master, oneShot, data0, data2, interval}) EXPECT_TRUE(Send(stack[1], ev, Relative(60 * kSecond)));
    }
    std::vector<Event *> Left() const { return Queued(stack[2]->hSendQueue); }
    bool Cancel(uint32_t id) {
        Event *cancel = QueueOp(2, id, ZERA_QOP_CANCEL);
        if (Send(stack[1], cancel, Relative(0))) return true;
        ZERA_boDeleteEvent(cancel);
        return false;
    }
};

TEST(Send, CancelWildcardsTellMastersFromEverythingElse) {
    {
        CancelFixture f;
        EXPECT_TRUE(f.Cancel(ZERA_CANCEL_ALL_BUT_MASTERS));
        EXPECT_EQ(f.Left(), std::vector<Event *>{f.master});
        EXPECT_TRUE(f.Cancel(ZERA_CANCEL_MASTERS));
        EXPECT_TRUE(f.Left().empty());
        EXPECT_REFUSED(f.Cancel(ZERA_CANCEL_ALL), 0);  // nothing left: the caller keeps the cancel
    }
    CancelFixture f;
    const uint32_t id = f.oneShot->dwEventId;
    EXPECT_TRUE(f.Cancel(id));
    EXPECT_EQ(f.Left().size(), 4u);
    EXPECT_FALSE(f.Cancel(id));
    EXPECT_TRUE(f.Cancel(ZERA_CANCEL_ALL));
    EXPECT_TRUE(f.Left().empty());
}

// Three one-shot events of level 1 at +10, +20 and +30 s, ids 10, 20, 30.
struct ModifyFixture {
    FlowStack stack{"Layer"};
    int64_t base = NowMicros();
    Event *ev[3];
    ModifyFixture() {
        for (int i = 0; i < 3; ++i) {
            ev[i] = Data(ZERA_EVENT_DATA, 1, 4);
            std::memcpy(ev[i]->pbData, "abcd", 4);
            ev[i]->dwEventId = 10u * (i + 1);
            EXPECT_TRUE(Send(stack.h0(), ev[i], Absolute(base + (i + 1) * 10 * kSecond)));
        }
    }
    std::vector<Event *> Order() const { return Queued(stack[1]->hSendQueue); }
    bool Modify(Event *change, const TimeVal &when = OSAL_stTimeNoWait, uint32_t flags = 0) {
        return Send(stack.h0(), change, when, flags);
    }
};

TEST(Send, ModifyMovesTheMatchAndFailsWithoutOrWithTwoMatches) {
    ModifyFixture f;
    Event *earlier = QueueOp(1, 20, ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP | ZERA_QOP_FLAGS);
    ASSERT_TRUE(f.Modify(earlier, Absolute(f.base + 5 * kSecond), 0x40));
    EXPECT_EQ(f.Order(), (std::vector<Event *>{f.ev[1], f.ev[0], f.ev[2]}));
    EXPECT_EQ(Micros(f.ev[1]->stTimeStamp), f.base + 5 * kSecond);
    EXPECT_EQ(f.ev[1]->dwFlags, 0x40u);

    Event *unknown = QueueOp(1, 99, ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP);
    EXPECT_REFUSED(f.Modify(unknown), 0);
    EXPECT_EQ(unknown->u8QueueOp, ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP);  // still the caller's
    ZERA_boDeleteEvent(unknown);

    f.ev[2]->dwEventId = 10;  // two queued events share an identifier
    Event *ambiguous = QueueOp(1, 10, ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP);
    EXPECT_REFUSED(f.Modify(ambiguous), OSAL_ERR_DUPLICATE_ID);
    EXPECT_EQ(f.Order(), (std::vector<Event *>{f.ev[1], f.ev[0], f.ev[2]}));
    EXPECT_EQ(Micros(f.ev[0]->stTimeStamp), f.base + 10 * kSecond);
    ZERA_boDeleteEvent(ambiguous);
}

TEST(Send, ModifyTakesDataOptionGroupsAndAttachments) {
    ModifyFixture f;
    Event *grow = QueueOp(1, 30, ZERA_QOP_MODIFY | ZERA_QOP_DATA, 100);
    for (uint32_t i = 0; i < 100; ++i) grow->pbData[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(f.Modify(grow));
    Event *grown = f.Order()[2];
    ASSERT_EQ(grown->dwDataSize, 100u);
    EXPECT_EQ(grown->pbData, reinterpret_cast<uint8_t *>(grown + 1));  // its own area
    EXPECT_EQ(grown->pbData[99], 99);
    EXPECT_EQ(grown->dwEventId, 30u);

    Event *chosen = QueueOp(1, 10, ZERA_QOP_MODIFY | ZERA_QOP_GROUPS_CHOSEN);
    chosen->u8Options = ZERA_OPT_AUX2;
    chosen->u64Aux1 = 1;
    chosen->u64Aux2 = 2;
    chosen->u8Aux3 = 3;
    ASSERT_TRUE(f.Modify(chosen));
    EXPECT_EQ(f.ev[0]->u64Aux1, 0u);
    EXPECT_EQ(f.ev[0]->u64Aux2, 2u);
    EXPECT_EQ(f.ev[0]->u8Aux3, 0);
    EXPECT_EQ(f.ev[0]->u8Options, 0);  // 8 leaves the options

    Event *all = QueueOp(1, 20, ZERA_QOP_MODIFY | ZERA_QOP_GROUPS_ALL | ZERA_QOP_ATTACHMENTS);
    all->u64Aux1 = 11;
    all->u8Aux3 = 33;
    all->u8Options = ZERA_OPT_AUX3;
    ASSERT_NE(*ZERA_ppstCheckParListA(all, 4, 1, 1, 0), nullptr);
    ASSERT_TRUE(f.Modify(all));
    EXPECT_EQ(f.ev[1]->u64Aux1, 11u);
    EXPECT_EQ(f.ev[1]->u8Aux3, 33);
    EXPECT_EQ(f.ev[1]->u8Options, ZERA_OPT_AUX3);
    ASSERT_NE(f.ev[1]->pstAttachments, nullptr);
    EXPECT_EQ(f.ev[1]->pstAttachments->u8Level, 4);
}

TEST(Send, ModifyOfTheRepeatGroupMovesTheMasterByTheChangeOfPeriod) {
    FlowStack stack{"Layer"};
    Event *master = Master(stack.h0(), 1, 5, 10 * kSecond);
    const int64_t due = NowMicros() + 100 * kSecond;
    ASSERT_TRUE(Send(stack.h0(), master, Absolute(due)));
    auto change = [&](int64_t period, uint16_t count) {
        Event *ev = QueueOp(1, master->dwEventId, ZERA_QOP_MODIFY | ZERA_QOP_GROUPS_CHOSEN);
        ev->u8Options = ZERA_OPT_REPEATING;
        ev->stPeriod = Relative(period);
        ev->u16RepeatCount = count;
        return Send(stack.h0(), ev, Relative(0));
    };
    ASSERT_TRUE(change(30 * kSecond, 2));
    EXPECT_EQ(Micros(master->stTimeStamp), due + 20 * kSecond);
    EXPECT_EQ(Micros(master->stPeriod), 30 * kSecond);
    EXPECT_EQ(master->u16RepeatCount, 2);

    // A change that would move it into the past moves it to now instead.
    master->stTimeStamp = Absolute(NowMicros() + 10 * kSecond);  // queued alone: order holds
    const int64_t before = NowMicros();
    ASSERT_TRUE(change(kSecond, 0));
    EXPECT_GE(Micros(master->stTimeStamp), before);
    EXPECT_LE(Micros(master->stTimeStamp), NowMicros());
}

TEST(Send, StackStatusTurnsAtTheTopAndComesDownToTheHost) {
    ComponentTrace trace("Completer");
    FlowStack stack{"Layer", "Completer"};
    StackHandle *top = stack[2];
    Drain(stack[1]->hRecvQueue);
    const uint32_t status = top->dwStatus;
    ASSERT_TRUE(status & ZERA_STATUS_COMPLETE);

    // Same bit 31: the top's status comes down as it is.
    ASSERT_TRUE(Send(stack.h0(), StatusEvent(0, status & ZERA_STATUS_BIT31), Relative(0)));
    Event *got = ReceiveNow(stack.h0());
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(StatusOf(got), status);
    EXPECT_EQ(got->u8Level, 1);
    ZERA_boDeleteEvent(got);

    // Another bit 31 on a complete stack: the top toggles its bit 31, is
    // notified and announces its new status.
    trace.Clear();
    ASSERT_TRUE(Send(stack.h0(), StatusEvent(0, ~status & ZERA_STATUS_BIT31), Relative(0)));
    EXPECT_EQ(top->dwStatus, status ^ ZERA_STATUS_BIT31);
    EXPECT_EQ(trace.Levels(kNotify), std::vector<uint32_t>{2});
    got = ReceiveNow(stack.h0());
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(StatusOf(got), status ^ ZERA_STATUS_BIT31);
    EXPECT_EQ(stack[1]->dwStatus & ZERA_STATUS_BIT31, top->dwStatus & ZERA_STATUS_BIT31);
    ZERA_boDeleteEvent(got);
}

}  // namespace
