// flow/stress_test.cpp - the event flow under load: senders on levels 0 to 2
// send one-shots and repeating masters to the levels above and cancel and
// modify what they sent; a taker per level takes the due events and answers
// each through the input filter; receivers on levels 0 and 1 take the
// answers. Every event must be accounted for exactly once (taken, or removed
// by a cancel), every answer received once per level that asked for it,
// with and without breaks fired at random moments, and nothing may hang.
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cstdio>
#include <memory>
#include <random>

#include "flow/flow_test_util.h"

namespace {

using namespace st;

// A deadlock must end the program, not hang it (0 disarms). Windows has no
// alarm signal; CTest's time limit ends a hung run there.
void ArmDeadlockAlarm(unsigned seconds) {
#if defined(_WIN32)
    (void)seconds;
#else
    alarm(seconds);
#endif
}

constexpr uint32_t kMaxTags = 1u << 20;
constexpr uint16_t kRepetitions = 3;

// What became of one event, by tag (its identifier).
struct TagAccount {
    std::atomic<uint16_t> expected, delivered, cancelled, received[2];  // received at levels 0 and 1
    std::atomic<uint8_t> dest;
};

class FlowUnderLoad {
public:
    explicit FlowUnderLoad(bool breaks) : breaks_(breaks) {
        // Level 0 takes the answers of levels 1 to 3, level 1 those of level
        // 3 as well (so level 3's answers reach two receive queues), level 2
        // takes none.
        EXPECT_TRUE(ZERA_boSetEventTypes(stack_[2], 0, kAll));
        EXPECT_TRUE(ZERA_boSetEventTypes(stack_[1], 1u << 3, kAll));
        EXPECT_TRUE(ZERA_boSetEventTypes(stack_.h0(), 0xE, kAll));
    }

    void Run() {
        ArmDeadlockAlarm(240);
        const double end = Seconds() + 2.0;
        std::vector<std::thread> workers, senders;
        for (int level = 1; level <= 3; ++level) workers.emplace_back([this, level] { Taker(level); });
        workers.emplace_back([this] { Receiver(0, kAll, 0); });
        workers.emplace_back([this] { Receiver(0, 0xE, 1); });
        workers.emplace_back([this] { Receiver(1, 1u << 3, 2); });
        if (breaks_) workers.emplace_back([this] { Breaker(); });
        for (int level = 0; level <= 2; ++level) senders.emplace_back([this, level, end] { Sender(level, end); });
        for (std::thread &t : senders) t.join();

        // Everything sent must come out.
        while (outstandingDeliveries_ + outstandingReceipts_ != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stop_ = true;
        for (int target = 0; target < 6; ++target) Break(target);
        for (std::thread &t : workers) t.join();
        ArmDeadlockAlarm(0);
        Check();
    }

private:
    void Sender(int level, double end) {
        std::mt19937 rng(1234 + level);
        StackHandle *h = stack_[level];
        std::vector<uint32_t> recent[4];
        while (Seconds() < end) {
            const uint8_t dest = static_cast<uint8_t>(level + 1 + rng() % (3 - level));
            const uint32_t pick = rng() % 100;
            if (pick < 78) {
                const uint32_t tag = nextTag_++;
                if (tag >= kMaxTags) return;
                const bool master = pick >= 70;
                Event *ev = master ? ZERA_pstCreateEventEx(h, ZERA_EVENT_DATA, dest, 8, 1, kRepetitions)
                                   : ZERA_pstCreateEvent(ZERA_EVENT_DATA, dest, 8);
                if (master) ev->stPeriod = Relative(300);
                ev->dwEventId = tag;
                const uint16_t count = master ? kRepetitions : 1;
                tags_[tag].expected = count;
                tags_[tag].dest = dest;
                outstandingDeliveries_ += count;
                if (!Send(h, ev, Relative(rng() % 2000))) {
                    if (OSAL_dwGetLastError() != OSAL_ERR_QUEUE_FULL) ++errors_;  // only a full queue may refuse
                    tags_[tag].expected = 0;
                    outstandingDeliveries_ -= count;
                    ZERA_boDeleteEvent(ev);
                } else if (!master) {
                    recent[dest].push_back(tag);
                    if (recent[dest].size() > 64) recent[dest].erase(recent[dest].begin());
                }
            } else if (!recent[dest].empty()) {
                const uint32_t tag = recent[dest][rng() % recent[dest].size()];
                const bool cancel = pick < 89;
                Event *op = QueueOp(dest, tag, cancel ? ZERA_QOP_CANCEL : ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP);
                if (!Send(h, op, Relative(rng() % 3000))) {
                    ZERA_boDeleteEvent(op);  // already taken: it stays the sender's
                } else if (cancel) {
                    ++tags_[tag].cancelled;
                    --outstandingDeliveries_;
                }
            }
        }
    }

    void Taker(int level) {
        StackHandle *h = stack_[level];
        BreakFlag &brk = breakFlags_[level - 1];
        for (;;) {
            Event *ev = Take(h, brk);
            if (ev == nullptr) {
                brk.Set(true);
                if (stop_) return;
                continue;
            }
            const uint32_t tag = ev->dwEventId;
            if (tag == 0 || tag >= kMaxTags || ev->u8Level != level || tags_[tag].dest != level) {
                ++errors_;
            } else {
                outstandingReceipts_ += level == 3 ? 2 : 1;
                ++tags_[tag].delivered;
                --outstandingDeliveries_;
            }
            Event *answer = ZERA_pstCreateEvent(ZERA_EVENT_DATA2, static_cast<uint8_t>(level), 4);
            answer->dwEventId = tag;
            answer->dwFlags = tag % 3 == 0 ? 0x4000u : 0u;
            ZERA_vInputFilter(h, answer);
            ZERA_boDeleteEvent(ev);
        }
    }

    void Receiver(uint32_t level, uint32_t levelMask, int slot) {
        StackHandle *h = stack_[level];
        BreakFlag &brk = breakFlags_[3 + slot];
        ZERA_boWaitEvent(h, 1, 1, &OSAL_stTimeNoWait);  // known to the queue from here on: no break slips past
        for (;;) {
            if (brk.Set(true) && stop_) return;
            Event *ev = ZERA_pstReceiveEvent(h, levelMask, kAll, &OSAL_stTimeInfinite);
            if (ev == nullptr) continue;
            const uint32_t tag = ev->dwEventId;
            if (ev->i32Type != ZERA_EVENT_DATA2 || tag == 0 || tag >= kMaxTags) {
                ++errors_;
            } else {
                ++tags_[tag].received[level];
                --outstandingReceipts_;
            }
            ZERA_boDeleteEvent(ev);
        }
    }

    // Breaks the wait of taker 0..2 (levels 1 to 3) or receiver 3..5.
    void Break(int target) {
        BreakFlag &brk = breakFlags_[target];
        if (target < 3) ZERA_vBreakSendEventWait(stack_[target + 1], &brk.flag, brk.mutex);
        else ZERA_vBreakRecvEventWait(stack_[target < 5 ? 0 : 1], &brk.flag, brk.mutex);
    }

    void Breaker() {
        std::mt19937 rng(99);
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
            Break(static_cast<int>(rng() % 6));
        }
    }

    void Check() {
        EXPECT_EQ(errors_.load(), 0u);
        uint32_t sent = 0, cancelled = 0;
        for (uint32_t tag = 1; tag < std::min(nextTag_.load(), kMaxTags); ++tag) {
            const TagAccount &t = tags_[tag];
            const uint32_t expected = t.expected, delivered = t.delivered, dropped = t.cancelled;
            if (expected == 0) continue;
            ++sent;
            cancelled += dropped;
            ASSERT_EQ(delivered + dropped, expected) << "tag " << tag;
            ASSERT_EQ(t.received[0].load(), delivered) << "tag " << tag;
            ASSERT_EQ(t.received[1].load(), t.dest == 3 ? delivered : 0u) << "tag " << tag;
        }
        EXPECT_GT(sent, 100u);
        for (uint32_t level = 0; level <= 3; ++level) {
            EXPECT_TRUE(Queued(stack_[level]->hSendQueue).empty()) << level;
            EXPECT_TRUE(Queued(stack_[level]->hRecvQueue).empty()) << level;
        }
        std::printf("[          ] %u events (%u cancelled)%s\n", sent, cancelled, breaks_ ? " with random breaks" : "");
    }

    bool breaks_;
    FlowStack stack_{"Layer", "Layer", "Layer"};
    std::unique_ptr<TagAccount[]> tags_{new TagAccount[kMaxTags]()};
    std::atomic<uint32_t> nextTag_{1};
    std::atomic<uint64_t> outstandingDeliveries_{0};  // expected - delivered - cancelled, summed
    std::atomic<uint64_t> outstandingReceipts_{0};    // answers not yet received
    std::atomic<uint32_t> errors_{0};
    BreakFlag breakFlags_[6];  // takers of levels 1 to 3, then the three receivers
    std::atomic<bool> stop_{false};
};

TEST(FlowUnderLoad, EveryEventIsAccountedForOnce) { FlowUnderLoad(false).Run(); }

TEST(FlowUnderLoad, EveryEventIsAccountedForOnceWithBreaksAtRandomMoments) { FlowUnderLoad(true).Run(); }

}  // namespace
