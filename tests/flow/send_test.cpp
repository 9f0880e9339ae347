// flow/send_test.cpp - sending: routing through the levels, the checks and
// their codes, time stamps and intervals, cancel with its wildcards, modify
// with its take-over bits, and the turn of a stack status event at the top.
#include "flow/flow_test_util.h"

namespace {

using namespace ft;

constexpr int64_t kSecond = 1000000;

TEST(Send, ClimbsToTheAddressedLevelAndMovesTheOwnerAlong) {
    Stack stack({"Layer", "Layer", "Completer"}, true);
    StackHandle *h1 = stack[1];
    Event *ev = ZERA_pstCreateEventEx(h1, ZERA_EVENT_DATA, 3, 8, 0, 0);
    ASSERT_NE(ev, nullptr) << OSAL_pszGetLastErrorText();
    ASSERT_TRUE(Send(h1, ev, Relative(10 * kSecond), 0x1234));
    const std::vector<Event *> queued = Queued(stack[3]->hSendQueue);
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0], ev);
    EXPECT_EQ(ev->pstOwner, stack[3]);
    EXPECT_EQ(ev->dwFlags, 0x1234u);
    EXPECT_TRUE(Queued(stack[1]->hSendQueue).empty());
    EXPECT_TRUE(Queued(stack[2]->hSendQueue).empty());

    // The owner rules of a stack with identifier management.
    Event *bare = Data(ZERA_EVENT_DATA, 3);
    EXPECT_FALSE(Send(h1, bare, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_NO_OWNER});
    ZERA_boDeleteEvent(bare);
    Event *other = ZERA_pstCreateEventEx(stack[2], ZERA_EVENT_DATA, 3, 0, 0, 0);
    EXPECT_FALSE(Send(h1, other, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_NOT_OWNER});
    ZERA_boDeleteEvent(other);
    Event *renamed = ZERA_pstCreateEventEx(h1, ZERA_EVENT_DATA, 3, 0, 0, 0);
    renamed->dwEventId += 2;
    EXPECT_FALSE(Send(h1, renamed, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_ID_MISMATCH});
    ZERA_boDeleteEvent(renamed);
}

TEST(Send, RoutesByLevelAndRefusesWhatCannotArrive) {
    Stack stack({"Layer", "Layer", "Layer"});
    Event *toOne = Data(ZERA_EVENT_DATA, 0);
    ASSERT_TRUE(Send(stack.h0(), toOne, Relative(kSecond)));
    EXPECT_EQ(toOne->u8Level, 1);
    EXPECT_EQ(Queued(stack[1]->hSendQueue).size(), 1u);

    Event *below = Data(ZERA_EVENT_DATA, 1);
    EXPECT_FALSE(Send(stack[2], below, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_LEVEL});
    Event *above = Data(ZERA_EVENT_DATA, 5);
    EXPECT_FALSE(Send(stack[1], above, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_HANDLE});
    Event *beyond = Data(ZERA_EVENT_DATA, 32);
    EXPECT_FALSE(Send(stack[1], beyond, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_ARG});
    Event *never = Data(ZERA_EVENT_DATA, 2);
    EXPECT_FALSE(Send(stack[1], never, OSAL_stTimeInfinite));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_ARG});
    EXPECT_FALSE(ZERA_boSendEvent(stack[1], never, 0, nullptr));
    EXPECT_FALSE(ZERA_boSendEvent(stack[1], nullptr, 0, &OSAL_stTimeNoWait));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_ARG});

    // Queue operations: only type 1 has them; 3 is refused without a code.
    Event *typed = Data(ZERA_EVENT_DATA2, 2);
    typed->u8QueueOp = ZERA_QOP_MODIFY;
    EXPECT_FALSE(Send(stack[1], typed, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_SIZE});
    Event *refused = Data(ZERA_EVENT_DATA, 2);
    refused->u8QueueOp = 3;
    OSAL_vSetLastError(0);
    EXPECT_FALSE(Send(stack[1], refused, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), 0u);
    Event *nameless = QueueOp(2, 0, ZERA_QOP_MODIFY);
    EXPECT_FALSE(Send(stack[1], nameless, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_SIZE});
    // Nothing refused got into a queue.
    EXPECT_TRUE(Queued(stack[2]->hSendQueue).empty());
    EXPECT_TRUE(Queued(stack[3]->hSendQueue).empty());
    for (Event *ev : {below, above, beyond, never, typed, refused, nameless}) ZERA_boDeleteEvent(ev);
}

TEST(Send, RelativeStampsStartAtArrivalAndIntervalsHaveAFloor) {
    Stack stack({"Layer", "Layer"});
    Event *relative = Data(ZERA_EVENT_DATA, 2);
    const int64_t before = NowMicros();
    ASSERT_TRUE(Send(stack.h0(), relative, Relative(1500000)));
    const int64_t after = NowMicros();
    EXPECT_GE(Micros(relative->stTimeStamp), before + 1500000);
    EXPECT_LE(Micros(relative->stTimeStamp), after + 1500000);
    EXPECT_EQ(relative->stTimeStamp.dwMicroseconds & OSAL_TIME_RELATIVE, 0u);
    Event *absolute = Data(ZERA_EVENT_DATA, 2);
    const TimeVal when = Absolute(before + 7 * kSecond);
    ASSERT_TRUE(Send(stack.h0(), absolute, when));
    EXPECT_EQ(Micros(absolute->stTimeStamp), Micros(when));

    Event *shortInterval = ZERA_pstCreateEvent(ZERA_EVENT_INTERVAL, 1, 0);
    shortInterval->stInterval = Relative(kSecond);
    ASSERT_TRUE(Send(stack.h0(), shortInterval, Relative(0)));
    EXPECT_EQ(shortInterval->stInterval.i32Seconds, 2);
    EXPECT_EQ(shortInterval->stInterval.dwMicroseconds, OSAL_TIME_RELATIVE);
    Event *longInterval = ZERA_pstCreateEvent(ZERA_EVENT_INTERVAL, 1, 0);
    longInterval->stInterval = Relative(3 * kSecond);
    ASSERT_TRUE(Send(stack.h0(), longInterval, Relative(0)));
    EXPECT_EQ(Micros(longInterval->stInterval), 3 * kSecond);
    Event *absoluteInterval = ZERA_pstCreateEvent(ZERA_EVENT_INTERVAL, 1, 0);
    absoluteInterval->stInterval = Absolute(3 * kSecond);
    EXPECT_FALSE(Send(stack.h0(), absoluteInterval, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_ARG});
    ZERA_boDeleteEvent(absoluteInterval);

    // A repeating master needs a usable identifier and a RELATIVE, finite period.
    Event *badPeriod = Master(stack.h0(), 1, 3, kSecond);
    badPeriod->stPeriod = Absolute(kSecond);
    EXPECT_FALSE(Send(stack.h0(), badPeriod, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_SIZE});
    badPeriod->stPeriod = OSAL_stTimeInfinite;
    EXPECT_FALSE(Send(stack.h0(), badPeriod, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_SIZE});
    badPeriod->stPeriod = Relative(kSecond);
    badPeriod->dwEventId = ZERA_CANCEL_ALL;
    EXPECT_FALSE(Send(stack.h0(), badPeriod, Relative(0)));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_INVALID_SIZE});
    ZERA_boDeleteEvent(badPeriod);
}

// Level 2's queue with one event of every kind a cancel tells apart.
struct CancelFixture {
    Stack stack{"Layer", "Layer"};
    Event *master, *oneShot, *data0, *data2, *interval;
    CancelFixture() {
        master = Master(stack.h0(), 2, 0, kSecond);
        oneShot = Data(ZERA_EVENT_DATA, 2);
        data0 = Data(ZERA_EVENT_DATA0, 2);
        data0->u8Options = ZERA_OPT_REPEATING;  // not a master: only type 1 repeats
        data2 = Data(ZERA_EVENT_DATA2, 2);
        data2->u8Options = ZERA_OPT_REPEATING;
        interval = ZERA_pstCreateEvent(ZERA_EVENT_INTERVAL, 2, 0);
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
        OSAL_vSetLastError(0);
        EXPECT_FALSE(f.Cancel(ZERA_CANCEL_ALL));  // nothing left: the caller keeps the cancel
        EXPECT_EQ(OSAL_dwGetLastError(), 0u);
    }
    {
        CancelFixture f;
        const uint32_t id = f.oneShot->dwEventId;
        EXPECT_TRUE(f.Cancel(id));
        EXPECT_EQ(f.Left().size(), 4u);
        EXPECT_FALSE(f.Cancel(id));
        EXPECT_TRUE(f.Cancel(ZERA_CANCEL_ALL));
        EXPECT_TRUE(f.Left().empty());
    }
}

// Three one-shot events of level 1 at +10, +20 and +30 s, ids 10, 20, 30.
struct ModifyFixture {
    Stack stack{"Layer"};
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

    OSAL_vSetLastError(0);
    Event *unknown = QueueOp(1, 99, ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP);
    EXPECT_FALSE(f.Modify(unknown));
    EXPECT_EQ(OSAL_dwGetLastError(), 0u);
    EXPECT_EQ(unknown->u8QueueOp, ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP);  // still the caller's
    ZERA_boDeleteEvent(unknown);

    f.ev[2]->dwEventId = 10;  // two queued events share an identifier
    Event *ambiguous = QueueOp(1, 10, ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP);
    EXPECT_FALSE(f.Modify(ambiguous));
    EXPECT_EQ(OSAL_dwGetLastError(), uint32_t{OSAL_ERR_DUPLICATE_ID});
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
    Attachment **node = ZERA_ppstCheckParListA(all, 4, 1, 1, 0);
    ASSERT_NE(*node, nullptr);
    ASSERT_TRUE(f.Modify(all));
    EXPECT_EQ(f.ev[1]->u64Aux1, 11u);
    EXPECT_EQ(f.ev[1]->u8Aux3, 33);
    EXPECT_EQ(f.ev[1]->u8Options, ZERA_OPT_AUX3);
    ASSERT_NE(f.ev[1]->pstAttachments, nullptr);
    EXPECT_EQ(f.ev[1]->pstAttachments->u8Level, 4);
}

TEST(Send, ModifyOfTheRepeatGroupMovesTheMasterByTheChangeOfPeriod) {
    Stack stack({"Layer"});
    Event *master = Master(stack.h0(), 1, 5, 10 * kSecond);
    const int64_t due = NowMicros() + 100 * kSecond;
    ASSERT_TRUE(Send(stack.h0(), master, Absolute(due)));
    Event *slower = QueueOp(1, master->dwEventId, ZERA_QOP_MODIFY | ZERA_QOP_GROUPS_CHOSEN);
    slower->u8Options = ZERA_OPT_REPEATING;
    slower->stPeriod = Relative(30 * kSecond);
    slower->u16RepeatCount = 2;
    ASSERT_TRUE(Send(stack.h0(), slower, Relative(0)));
    EXPECT_EQ(Micros(master->stTimeStamp), due + 20 * kSecond);
    EXPECT_EQ(Micros(master->stPeriod), 30 * kSecond);
    EXPECT_EQ(master->u16RepeatCount, 2);

    // A change that would move it into the past moves it to now instead.
    Event *faster = QueueOp(1, master->dwEventId, ZERA_QOP_MODIFY | ZERA_QOP_GROUPS_CHOSEN);
    faster->u8Options = ZERA_OPT_REPEATING;
    faster->stPeriod = Relative(kSecond);
    master->stTimeStamp = Absolute(NowMicros() + 10 * kSecond);  // queued alone: order holds
    const int64_t before = NowMicros();
    ASSERT_TRUE(Send(stack.h0(), faster, Relative(0)));
    EXPECT_GE(Micros(master->stTimeStamp), before);
    EXPECT_LE(Micros(master->stTimeStamp), NowMicros());
}

TEST(Send, StackStatusTurnsAtTheTopAndComesDownToTheHost) {
    ComponentTrace trace("Completer");
    Stack stack({"Layer", "Completer"});
    StackHandle *top = stack[2];
    Drain(stack[1]->hRecvQueue);
    const uint32_t status = top->dwStatus;
    ASSERT_TRUE(status & ZERA_STATUS_COMPLETE);

    // Same bit 31: the top's status comes down as it is.
    ASSERT_TRUE(Send(stack.h0(), StatusEvent(0, status & ZERA_STATUS_BIT31), Relative(0)));
    Event *got = ZERA_pstReceiveEvent(stack.h0(), 0xFFFFFFFF, 0xFFFFFFFF, &OSAL_stTimeNoWait);
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
    got = ZERA_pstReceiveEvent(stack.h0(), 0xFFFFFFFF, 0xFFFFFFFF, &OSAL_stTimeNoWait);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(StatusOf(got), status ^ ZERA_STATUS_BIT31);
    EXPECT_EQ(stack[1]->dwStatus & ZERA_STATUS_BIT31, top->dwStatus & ZERA_STATUS_BIT31);
    ZERA_boDeleteEvent(got);
}

}  // namespace
