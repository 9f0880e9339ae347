// flow/send_test.cpp - sending: routing, refusals, stamps, cancel and modify.
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

    // The owner rules: an owner, the sender as owner, the owner's identifier.
    Event *bare = Data(ZERA_EVENT_DATA, 3);
    Event *other = ZERA_pstCreateEventEx(stack[2], ZERA_EVENT_DATA, 3, 0, 0, 0);
    Event *renamed = ZERA_pstCreateEventEx(h1, ZERA_EVENT_DATA, 3, 0, 0, 0);
    renamed->dwEventId += 2;
    EXPECT_REFUSED(Send(h1, bare, Relative(0)), OSAL_ERR_NO_OWNER);
    EXPECT_REFUSED(Send(h1, other, Relative(0)), OSAL_ERR_NOT_OWNER);
    EXPECT_REFUSED(Send(h1, renamed, Relative(0)), OSAL_ERR_ID_MISMATCH);
    for (Event *refused : {bare, other, renamed}) ZERA_boDeleteEvent(refused);

    // A cancel's wildcard is set with ZERA_boSetEventID. One that finds
    // nothing is refused at level 3 and goes back to its sender as owner.
    for (bool found : {true, false}) {
        Event *cancel = ZERA_pstCreateEventEx(h1, ZERA_EVENT_DATA, 3, 0, 0, 0);
        ASSERT_TRUE(ZERA_boSetEventID(cancel, h1, ZERA_CANCEL_ALL)) << LastText();
        cancel->u8QueueOp = ZERA_QOP_CANCEL;
        EXPECT_EQ(Send(h1, cancel, Relative(0)), found);
        if (found) continue;
        EXPECT_EQ(cancel->pstOwner, h1);
        ZERA_boDeleteEvent(cancel);
    }
    EXPECT_TRUE(Queued(stack[3]->hSendQueue).empty());
}

// Level 0 addresses the next level; relative stamps start at arrival; intervals have a two-second floor.
TEST(Send, RoutesByLevelStampsAndRefusesWhatCannotArrive) {
    FlowStack stack{"Layer", "Layer", "Layer"};
    Event *toOne = Data(ZERA_EVENT_DATA, 0), *interval = Data(ZERA_EVENT_INTERVAL, 1, 0);
    const int64_t before = NowMicros();
    ASSERT_TRUE(Send(stack.h0(), toOne, Relative(1500000)));
    EXPECT_EQ(toOne->u8Level, 1);
    EXPECT_GE(Micros(toOne->stTimeStamp), before + 1500000);
    EXPECT_LE(Micros(toOne->stTimeStamp), NowMicros() + 1500000);
    interval->stInterval = Relative(kSecond);
    ASSERT_TRUE(Send(stack.h0(), interval, Relative(0)));
    EXPECT_EQ(interval->stInterval.dwMicroseconds, OSAL_TIME_RELATIVE);
    EXPECT_EQ(Micros(interval->stInterval), 2 * kSecond);
    EXPECT_EQ(Queued(stack[1]->hSendQueue), (std::vector<Event *>{interval, toOne}));

    auto master = [&](void (*f)(Event *)) { Event *ev = Master(stack.h0(), 2, 3, kSecond); f(ev); return ev; };
    auto data = [](int32_t type, uint32_t size, void (*f)(Event *)) { Event *ev = Data(type, 2, size); f(ev); return ev; };
    const struct { uint32_t from; Event *ev; uint32_t code; } cases[] = {
        {2, Data(ZERA_EVENT_DATA, 1), OSAL_ERR_INVALID_LEVEL},   // below the sender
        {1, Data(ZERA_EVENT_DATA, 5), OSAL_ERR_INVALID_HANDLE},  // above the top
        {1, Data(ZERA_EVENT_DATA, 32), OSAL_ERR_INVALID_ARG},    // no such level
        // Only type 1 has queue operations, only those known (else refused without a code), on an identifier.
        {1, data(ZERA_EVENT_DATA2, 4, [](Event *ev) { ev->u8QueueOp = ZERA_QOP_MODIFY; }), OSAL_ERR_INVALID_SIZE},
        {1, data(ZERA_EVENT_DATA, 4, [](Event *ev) { ev->u8QueueOp = 3; }), 0},
        {1, QueueOp(2, 0, ZERA_QOP_MODIFY), OSAL_ERR_INVALID_SIZE},
        // Intervals are RELATIVE only; a master's period is RELATIVE and finite, its identifier usable.
        {1, data(ZERA_EVENT_INTERVAL, 0, [](Event *ev) { ev->stInterval = Absolute(3 * kSecond); }), OSAL_ERR_INVALID_ARG},
        {1, master([](Event *ev) { ev->stPeriod = Absolute(kSecond); }), OSAL_ERR_INVALID_SIZE},
        {1, master([](Event *ev) { ev->stPeriod = OSAL_stTimeInfinite; }), OSAL_ERR_INVALID_SIZE},
        {1, master([](Event *ev) { ev->dwEventId = ZERA_CANCEL_ALL; }), OSAL_ERR_INVALID_SIZE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        EXPECT_REFUSED(Send(stack[c.from], c.ev, Relative(0)), c.code);
        ZERA_boDeleteEvent(c.ev);
    }
    Event *ev = Data(ZERA_EVENT_DATA, 2);
    EXPECT_REFUSED(Send(stack[1], ev, OSAL_stTimeInfinite), OSAL_ERR_INVALID_ARG);  // never due
    EXPECT_REFUSED(ZERA_boSendEvent(stack[1], ev, 0, nullptr), OSAL_ERR_INVALID_ARG);
    ZERA_boDeleteEvent(ev);
    EXPECT_TRUE(Queued(stack[2]->hSendQueue).empty() && Queued(stack[3]->hSendQueue).empty());
}

// Level 2's queue with one event of every kind a cancel tells apart.
struct CancelFixture {
    FlowStack stack{"Layer", "Layer"};
    Event *master = Master(stack.h0(), 2, 0, kSecond);
    Event *oneShot = Data(ZERA_EVENT_DATA, 2);
    CancelFixture() {
        Event *data0 = Data(ZERA_EVENT_DATA0, 2), *data2 = Data(ZERA_EVENT_DATA2, 2), *interval = Data(ZERA_EVENT_INTERVAL, 2, 0);
        data0->u8Options = data2->u8Options = ZERA_OPT_REPEATING;  // no masters: only type 1 repeats
        interval->stInterval = Relative(5 * kSecond);
        for (Event *ev : {master, oneShot, data0, data2, interval}) EXPECT_TRUE(Send(stack[1], ev, Relative(60 * kSecond)));
    }
    std::vector<Event *> Left() const { return Queued(stack[2]->hSendQueue); }
    bool Cancel(uint32_t id) {  // a refused cancel stays the caller's
        Event *cancel = QueueOp(2, id, ZERA_QOP_CANCEL);
        const bool sent = Send(stack[1], cancel, Relative(0));
        if (!sent) ZERA_boDeleteEvent(cancel);
        return sent;
    }
};

TEST(Send, CancelWildcardsTellMastersFromEverythingElse) {
    CancelFixture f;
    const uint32_t id = f.oneShot->dwEventId;
    EXPECT_TRUE(f.Cancel(id));
    EXPECT_FALSE(f.Cancel(id));
    EXPECT_TRUE(f.Cancel(ZERA_CANCEL_ALL_BUT_MASTERS));
    EXPECT_EQ(f.Left(), std::vector<Event *>{f.master});
    EXPECT_TRUE(f.Cancel(ZERA_CANCEL_MASTERS));
    EXPECT_TRUE(f.Left().empty());
    EXPECT_REFUSED(f.Cancel(ZERA_CANCEL_MASTERS), 0);  // nothing left

    CancelFixture all;
    EXPECT_TRUE(all.Cancel(ZERA_CANCEL_ALL));
    EXPECT_TRUE(all.Left().empty());
}

// A modify moves its match, takes bigger data into a new area, and moves a
// master of a chosen repeat group by the change of period; without a match
// or with two it changes nothing.
TEST(Send, ModifyChangesItsOneMatchOnly) {
    FlowStack stack{"Layer"};
    StackHandle *h0 = stack.h0();
    const int64_t base = NowMicros();
    Event *ev[3];  // at +10, +20 and +30 s, ids 10, 20, 30
    for (int i = 0; i < 3; ++i) {
        ev[i] = Data(ZERA_EVENT_DATA, 1, 4);
        ev[i]->dwEventId = 10u * (i + 1);
        ASSERT_TRUE(Send(h0, ev[i], Absolute(base + (i + 1) * 10 * kSecond)));
    }
    auto order = [&] { return Queued(stack[1]->hSendQueue); };
    Event *earlier = QueueOp(1, 20, ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP | ZERA_QOP_FLAGS);
    ASSERT_TRUE(Send(h0, earlier, Absolute(base + 5 * kSecond), 0x40));
    EXPECT_EQ(order(), (std::vector<Event *>{ev[1], ev[0], ev[2]}));
    EXPECT_EQ(Micros(ev[1]->stTimeStamp), base + 5 * kSecond);
    EXPECT_EQ(ev[1]->dwFlags, 0x40u);

    Event *grow = QueueOp(1, 30, ZERA_QOP_MODIFY | ZERA_QOP_DATA, 100);
    grow->pbData[99] = 99;
    ASSERT_TRUE(Send(h0, grow, OSAL_stTimeNoWait));
    Event *grown = order()[2];  // a bigger event takes the match's place
    ASSERT_EQ(grown->dwDataSize, 100u);
    EXPECT_TRUE(grown->pbData == reinterpret_cast<uint8_t *>(grown + 1) && grown->pbData[99] == 99);
    EXPECT_EQ(grown->dwEventId, 30u);

    Event *master = Master(h0, 1, 5, 10 * kSecond);
    const int64_t due = base + 100 * kSecond;
    ASSERT_TRUE(Send(h0, master, Absolute(due)));
    Event *period = QueueOp(1, master->dwEventId, ZERA_QOP_MODIFY | ZERA_QOP_GROUPS_CHOSEN);
    period->u8Options = ZERA_OPT_REPEATING;
    period->stPeriod = Relative(30 * kSecond);
    period->u16RepeatCount = 2;
    period->u64Aux1 = 1;  // its group is not chosen
    ASSERT_TRUE(Send(h0, period, OSAL_stTimeNoWait));
    EXPECT_EQ(Micros(master->stTimeStamp), due + 20 * kSecond);
    EXPECT_TRUE(master->u16RepeatCount == 2 && master->u64Aux1 == 0u);

    Event *unknown = QueueOp(1, 99, ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP);
    EXPECT_REFUSED(Send(h0, unknown, OSAL_stTimeNoWait), 0);
    EXPECT_EQ(unknown->u8QueueOp, ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP);  // still the caller's
    ZERA_boDeleteEvent(unknown);
    grown->dwEventId = 10;  // two queued events share an identifier
    Event *ambiguous = QueueOp(1, 10, ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP);
    EXPECT_REFUSED(Send(h0, ambiguous, OSAL_stTimeNoWait), OSAL_ERR_DUPLICATE_ID);
    EXPECT_EQ(order(), (std::vector<Event *>{ev[1], ev[0], grown, master}));
    EXPECT_EQ(Micros(ev[0]->stTimeStamp), base + 10 * kSecond);
    ZERA_boDeleteEvent(ambiguous);
}

}  // namespace
