// flow/stress_test.cpp - the send queues under load, with breaks fired at
// random moments: every event sent, cancelled or modified is taken or removed
// exactly once, and nothing hangs (CTest's time limit ends a hung run).
#include <memory>
#include <random>

#include "flow/flow_test_util.h"

namespace {

using namespace st;

constexpr uint32_t kMaxTags = 1u << 20;
constexpr uint16_t kRepetitions = 3;

// What became of one event, by tag (its identifier).
struct TagAccount {
    std::atomic<uint16_t> expected, delivered, cancelled;
    std::atomic<uint8_t> dest;
};

class FlowUnderLoad {
public:
    void Run() {
        const double end = Seconds() + 2.0;
        std::vector<std::thread> workers, senders;
        for (int level = 1; level <= 3; ++level) workers.emplace_back([this, level] { Taker(level); });
        workers.emplace_back([this] { Breaker(); });
        for (int level = 0; level <= 2; ++level) senders.emplace_back([this, level, end] { Sender(level, end); });
        for (std::thread &t : senders) t.join();

        // Everything sent must come out.
        while (outstandingDeliveries_ != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stop_ = true;
        for (int target = 0; target < 3; ++target) Break(target);
        for (std::thread &t : workers) t.join();
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
                ++tags_[tag].delivered;
                --outstandingDeliveries_;
            }
            ZERA_boDeleteEvent(ev);
        }
    }

    // Breaks the wait of the taker of level target + 1.
    void Break(int target) { ZERA_vBreakSendEventWait(stack_[target + 1], &breakFlags_[target].flag, breakFlags_[target].mutex); }

    void Breaker() {
        std::mt19937 rng(99);
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
            Break(static_cast<int>(rng() % 3));
        }
    }

    void Check() {
        EXPECT_EQ(errors_.load(), 0u);
        uint32_t sent = 0;
        for (uint32_t tag = 1; tag < std::min(nextTag_.load(), kMaxTags); ++tag) {
            const uint32_t expected = tags_[tag].expected, delivered = tags_[tag].delivered;
            if (expected == 0) continue;
            ++sent;
            ASSERT_EQ(delivered + tags_[tag].cancelled, expected) << "tag " << tag;
        }
        EXPECT_GT(sent, 100u);
        for (uint32_t level = 0; level <= 3; ++level) EXPECT_TRUE(Queued(stack_[level]->hSendQueue).empty()) << level;
    }

    FlowStack stack_{"Layer", "Layer", "Layer"};
    std::unique_ptr<TagAccount[]> tags_{new TagAccount[kMaxTags]()};
    std::atomic<uint32_t> nextTag_{1};
    std::atomic<uint64_t> outstandingDeliveries_{0};  // expected - delivered - cancelled, summed
    std::atomic<uint32_t> errors_{0};
    BreakFlag breakFlags_[3];  // the takers of levels 1 to 3
    std::atomic<bool> stop_{false};
};

TEST(FlowUnderLoad, EveryEventIsAccountedForOnceWithBreaksAtRandomMoments) { FlowUnderLoad().Run(); }

}  // namespace
