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

// Senders at levels 0 to 2 send one-shots and masters up for 2 s and cancel or
// modify one-shots they sent; takers at levels 1 to 3 take what is due.
TEST(FlowUnderLoad, EveryEventIsAccountedForOnceWithBreaksAtRandomMoments) {
    FlowStack stack{"Layer", "Layer", "Layer"};
    std::unique_ptr<TagAccount[]> tags(new TagAccount[kMaxTags]());
    std::atomic<uint32_t> nextTag{1}, errors{0};
    std::atomic<uint64_t> outstanding{0};  // expected - delivered - cancelled, summed over the tags
    std::atomic<bool> stop{false};
    BreakFlag brk[3];  // the takers'
    auto breakTaker = [&](int level) {
        ZERA_vBreakSendEventWait(stack[level], &brk[level - 1].flag, brk[level - 1].mutex);
    };

    auto sender = [&](int level) {
        std::mt19937 rng(1234 + level);
        StackHandle *h = stack[level];
        std::vector<uint32_t> recent;  // the one-shots sent last
        for (const double end = Seconds() + 2.0; Seconds() < end;) {
            const uint32_t pick = rng() % 100;
            if (pick < 78) {
                const uint32_t tag = nextTag++;
                if (tag >= kMaxTags) return;
                const uint8_t dest = static_cast<uint8_t>(level + 1 + rng() % (3 - level));
                const bool master = pick >= 70;
                const uint16_t count = master ? kRepetitions : 1;
                Event *ev = master ? Master(h, dest, kRepetitions, 300) : Data(ZERA_EVENT_DATA, dest, 8);
                ev->dwEventId = tag;
                tags[tag].expected = count;
                tags[tag].dest = dest;
                outstanding += count;
                if (!Send(h, ev, Relative(rng() % 2000))) {
                    if (OSAL_dwGetLastError() != OSAL_ERR_QUEUE_FULL) ++errors;  // only a full queue may refuse
                    tags[tag].expected = 0;
                    outstanding -= count;
                    ZERA_boDeleteEvent(ev);
                } else if (!master) {
                    recent.push_back(tag);
                    if (recent.size() > 64) recent.erase(recent.begin());
                }
            } else if (!recent.empty()) {
                const uint32_t tag = recent[rng() % recent.size()];
                const bool cancel = pick < 89;
                const uint8_t op = cancel ? ZERA_QOP_CANCEL : ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP;
                Event *change = QueueOp(tags[tag].dest, tag, op);
                if (!Send(h, change, Relative(rng() % 3000))) {
                    ZERA_boDeleteEvent(change);  // already taken: it stays the sender's
                } else if (cancel) {
                    ++tags[tag].cancelled;
                    --outstanding;
                }
            }
        }
    };
    auto taker = [&](int level) {
        StackHandle *h = stack[level];
        while (!stop) {
            Event *ev = Take(h, brk[level - 1]);
            if (ev == nullptr) {
                brk[level - 1].Set(true);
                continue;
            }
            const uint32_t tag = ev->dwEventId;
            if (tag == 0 || tag >= kMaxTags || ev->u8Level != level || tags[tag].dest != level) {
                ++errors;
            } else {
                ++tags[tag].delivered;
                --outstanding;
            }
            ZERA_boDeleteEvent(ev);
        }
    };
    auto breaker = [&] {
        for (std::mt19937 rng(99); !stop;) {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
            breakTaker(static_cast<int>(1 + rng() % 3));
        }
    };

    std::vector<std::thread> workers, senders;
    for (int level = 1; level <= 3; ++level) workers.emplace_back(taker, level);
    workers.emplace_back(breaker);
    for (int level = 0; level <= 2; ++level) senders.emplace_back(sender, level);
    for (std::thread &t : senders) t.join();
    // Everything sent must come out.
    while (outstanding != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop = true;
    for (int level = 1; level <= 3; ++level) breakTaker(level);
    for (std::thread &t : workers) t.join();

    EXPECT_EQ(errors.load(), 0u);
    uint32_t sent = 0;
    for (uint32_t tag = 1; tag < std::min(nextTag.load(), kMaxTags); ++tag) {
        const uint32_t expected = tags[tag].expected, delivered = tags[tag].delivered;
        if (expected == 0) continue;
        ++sent;
        ASSERT_EQ(delivered + tags[tag].cancelled, expected) << "tag " << tag;
    }
    EXPECT_GT(sent, 100u);
    for (uint32_t level = 0; level <= 3; ++level) EXPECT_TRUE(Queued(stack[level]->hSendQueue).empty()) << level;
}

}  // namespace
