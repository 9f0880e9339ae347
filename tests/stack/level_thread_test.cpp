// stack/level_thread_test.cpp - the component kit's level thread on a stack
// of two levels: every way a loop can end meets every stop, and a refused
// call leaves the record as it was.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "ZERA_Component.h"
#include "stack/stack_test_util.h"

namespace {

using Thread = ZERA_HLEVELTHREAD;

enum Kind { kReceive, kTakeSent, kReturn, kStopItself };
struct Probe {
    Kind kind;
    std::atomic<bool> entered{false}, ended{false};
    BOOL8 inside[2] = {1, 1};  // a stop and a delete asked on the thread itself
    uint32_t codes[2] = {};
};

void ZERA_CALL Loop(Thread t, void *pv) {
    Probe &p = *static_cast<Probe *>(pv);
    p.entered = true;
    if (p.kind == kStopItself) {  // as a callback of the loop that stops the stack would
        p.inside[0] = ZERA_boLevelThreadStop(t), p.codes[0] = OSAL_dwGetLastError();
        p.inside[1] = ZERA_boLevelThreadDelete(t), p.codes[1] = OSAL_dwGetLastError();
    }
    while (p.kind != kReturn) {
        Event *ev = p.kind == kTakeSent ? ZERA_pstLevelThreadNextSendEvent(t, &OSAL_stTimeNoWait)
                                        : ZERA_pstLevelThreadReceiveEvent(t, ~0u, ~0u, &OSAL_stTimeInfinite);
        if (ev == nullptr) break;
        ZERA_boDeleteEvent(ev);
    }
    p.ended = true;
}

TEST(LevelThread, EveryLoopMeetsEveryStop) {
    st::Stack stack{"Layer", "Layer"};
    const struct {
        const char *name;
        Kind kind;
        uint32_t code;  // what the stop and the delete on the thread itself stored (0: not asked)
    } rows[] = {{"blocked in an endless receive", kReceive, 0},
                {"blocked in the send queue's wait", kTakeSent, 0},
                {"returned on its own", kReturn, 0},
                {"stopped itself from a callback", kStopItself, OSAL_ERR_NOT_AVAILABLE}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Thread t = ZERA_hLevelThreadCreate(stack[1]);
        ASSERT_NE(t, nullptr);
        EXPECT_TRUE(ZERA_boLevelThreadStop(t));  // before any start
        Probe p{row.kind};
        ASSERT_TRUE(ZERA_boLevelThreadStart(t, Loop, &p));
        while (!p.entered) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // into its wait, or returned
        EXPECT_REFUSED(ZERA_boLevelThreadStart(t, Loop, &p), OSAL_ERR_NOT_AVAILABLE);  // until stopped, ended or not
        EXPECT_TRUE(ZERA_boLevelThreadStarted(t));
        EXPECT_TRUE(ZERA_boLevelThreadStop(t));
        EXPECT_TRUE(p.ended);
        EXPECT_FALSE(ZERA_boLevelThreadStarted(t));
        EXPECT_TRUE(ZERA_boLevelThreadStop(t));
        EXPECT_EQ(p.inside[0] + p.inside[1], row.code != 0 ? 0 : 2);
        EXPECT_EQ(p.codes[0], row.code);
        EXPECT_EQ(p.codes[1], row.code);
        for (int i = 0; i < 50; ++i) {  // a stop before the loop's first wait is not lost
            Probe quick{row.kind};
            ASSERT_TRUE(ZERA_boLevelThreadStart(t, Loop, &quick));
            ASSERT_TRUE(ZERA_boLevelThreadStop(t));
            ASSERT_TRUE(quick.ended);
        }
        ASSERT_TRUE(ZERA_boLevelThreadStart(t, Loop, &p));
        EXPECT_TRUE(ZERA_boLevelThreadDelete(t));  // stops and joins
    }
}

TEST(LevelThread, RefusalsLeaveTheRecordAsItWas) {
    st::Stack stack{"Layer", "Layer"};
    uint64_t zeros[8] = {};
    const auto none = reinterpret_cast<Thread>(zeros);
    Probe p{kTakeSent};
    const auto create = [&](StackHandle *h) { return BOOL8(ZERA_hLevelThreadCreate(h) != nullptr); };
    const struct {
        const char *name;
        bool running;  // the record's loop runs before the call
        std::function<BOOL8(Thread)> call;
        uint32_t code;
    } rows[] = {
        {"start without a loop", false, [&](Thread t) { return ZERA_boLevelThreadStart(t, nullptr, &p); }, 1028},
        {"start while it runs", true, [&](Thread t) { return ZERA_boLevelThreadStart(t, Loop, &p); }, 1025},
        {"start without memory", false, [&](Thread t) {
             OSAL_vTestFailAllocAfter(0);
             return ZERA_boLevelThreadStart(t, Loop, &p);
         }, 1026},
        {"start of no record", true, [&](Thread) { return ZERA_boLevelThreadStart(none, Loop, &p); }, 1027},
        {"stop of no record", true, [&](Thread) { return ZERA_boLevelThreadStop(none); }, 1027},
        {"create without a level", false, [&](Thread) { return create(nullptr); }, 1028},
        {"create without memory", false, [&](Thread) { return OSAL_vTestFailAllocAfter(0), create(stack[1]); }, 1026},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Thread t = ZERA_hLevelThreadCreate(stack[1]);
        ASSERT_NE(t, nullptr);
        ASSERT_TRUE(!row.running || ZERA_boLevelThreadStart(t, Loop, &p));
        {
            st::AllocFailureGuard guard;
            EXPECT_EQ(row.call(t), 0);
            EXPECT_EQ(OSAL_dwGetLastError(), row.code);
        }
        EXPECT_EQ(ZERA_boLevelThreadStarted(t), row.running ? 1 : 0);
        EXPECT_TRUE(ZERA_boLevelThreadStop(t));
        EXPECT_TRUE(ZERA_boLevelThreadStart(t, Loop, &p));
        EXPECT_TRUE(ZERA_boLevelThreadDelete(t));
    }
    EXPECT_TRUE(ZERA_boLevelThreadDelete(nullptr) && ZERA_boLevelThreadStop(nullptr));
}

}  // namespace
