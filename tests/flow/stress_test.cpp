// flow/stress_test.cpp - the event flow under load: senders on levels 0 to 2
// send one-shots and repeating masters to the levels above and cancel and
// modify what they sent; a taker thread per level takes the due events and
// answers each through the input filter; receivers on levels 0 and 1 take
// the answers out of the receive queues. Every event must be accounted for
// exactly once (taken, or removed by a cancel), every answer received
// exactly once per level that asked for it, with and without breaks fired
// at random moments, and nothing may hang (a watchdog ends the program).
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "flow/flow_test_util.h"

namespace {

using namespace ft;

constexpr uint32_t kAll = 0xFFFFFFFFu;
constexpr uint32_t kMaxTags = 1u << 20;
constexpr double kSendSeconds = 2.0;
constexpr double kWatchdogSeconds = 240.0;
constexpr uint16_t kRepetitions = 3;

// Ends the program when a test does not finish in time: a deadlock must
// fail, not hang.
class Watchdog {
public:
    explicit Watchdog(double seconds) : thread_([this, seconds] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!done_cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: the event flow did not finish within %.0f s\n", seconds);
            std::abort();
        }
    }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;  // guarded by mutex_
    std::thread thread_;
};

struct Accounts {
    // By tag (the event's identifier): what was sent and what became of it.
    std::unique_ptr<std::atomic<uint16_t>[]> expected{new std::atomic<uint16_t>[kMaxTags]()};
    std::unique_ptr<std::atomic<uint8_t>[]> dest{new std::atomic<uint8_t>[kMaxTags]()};
    std::unique_ptr<std::atomic<uint16_t>[]> delivered{new std::atomic<uint16_t>[kMaxTags]()};
    std::unique_ptr<std::atomic<uint16_t>[]> cancelled{new std::atomic<uint16_t>[kMaxTags]()};
    std::unique_ptr<std::atomic<uint16_t>[]> receivedAt0{new std::atomic<uint16_t>[kMaxTags]()};
    std::unique_ptr<std::atomic<uint16_t>[]> receivedAt1{new std::atomic<uint16_t>[kMaxTags]()};
    std::atomic<uint32_t> nextTag{1};
    std::atomic<uint64_t> outstandingDeliveries{0};  // expected - delivered - cancelled, summed
    std::atomic<uint64_t> outstandingReceipts{0};    // answers not yet received
    std::atomic<uint32_t> errors{0};
};

class FlowUnderLoad {
public:
    explicit FlowUnderLoad(bool breaks) : breaks_(breaks) {
        for (int i = 0; i < 3; ++i) stack_.Add("Layer");
        // Level 0 takes the answers of levels 1 to 3, level 1 those of level
        // 3 as well (so level 3's answers reach two receive queues), level 2
        // takes none.
        EXPECT_TRUE(ZERA_boSetEventTypes(stack_[2], 0, kAll));
        EXPECT_TRUE(ZERA_boSetEventTypes(stack_[1], 1u << 3, kAll));
        EXPECT_TRUE(ZERA_boSetEventTypes(stack_.h0(), 0xE, kAll));
    }

    void Run() {
        Watchdog watchdog(kWatchdogSeconds);
        const double end = Seconds() + kSendSeconds;
        std::vector<std::thread> workers;
        for (int level = 1; level <= 3; ++level) workers.emplace_back([this, level] { Taker(level); });
        workers.emplace_back([this] { Receiver(0, kAll, 0); });
        workers.emplace_back([this] { Receiver(0, 0xE, 1); });
        workers.emplace_back([this] { Receiver(1, 1u << 3, 2); });
        std::thread breaker;
        if (breaks_) breaker = std::thread([this] { Breaker(); });
        std::vector<std::thread> senders;
        for (int level = 0; level <= 2; ++level) senders.emplace_back([this, level, end] { Sender(level, end); });
        for (std::thread &t : senders) t.join();

        // Everything sent must come out; the watchdog bounds the wait.
        while (accounts_.outstandingDeliveries.load() != 0 || accounts_.outstandingReceipts.load() != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        stopBreaker_ = true;
        if (breaker.joinable()) breaker.join();
        stop_ = true;
        for (int level = 1; level <= 3; ++level) {
            ZERA_vBreakSendEventWait(stack_[level], &takerBreaks_[level].flag, takerBreaks_[level].mutex);
        }
        for (int r = 0; r < 3; ++r) {
            ZERA_vBreakRecvEventWait(stack_[r < 2 ? 0 : 1], &receiverBreaks_[r].flag, receiverBreaks_[r].mutex);
        }
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
                const uint32_t tag = accounts_.nextTag++;
                if (tag >= kMaxTags) return;
                const bool master = pick >= 70;
                Event *ev = master ? ZERA_pstCreateEventEx(h, ZERA_EVENT_DATA, dest, 8, 1, kRepetitions)
                                   : ZERA_pstCreateEvent(ZERA_EVENT_DATA, dest, 8);
                if (master) ev->stPeriod = Relative(300);
                ev->dwEventId = tag;
                const uint16_t count = master ? kRepetitions : 1;
                accounts_.expected[tag] = count;
                accounts_.dest[tag] = dest;
                accounts_.outstandingDeliveries += count;
                if (!Send(h, ev, Relative(rng() % 2000))) {
                    // Only a full queue may refuse.
                    if (OSAL_dwGetLastError() != OSAL_ERR_QUEUE_FULL) ++accounts_.errors;
                    accounts_.expected[tag] = 0;
                    accounts_.outstandingDeliveries -= count;
                    ZERA_boDeleteEvent(ev);
                } else if (!master) {
                    recent[dest].push_back(tag);
                    if (recent[dest].size() > 64) recent[dest].erase(recent[dest].begin());
                }
            } else if (!recent[dest].empty()) {
                const uint32_t tag = recent[dest][rng() % recent[dest].size()];
                const bool cancel = pick < 89;
                Event *op = QueueOp(dest, tag, cancel ? ZERA_QOP_CANCEL : ZERA_QOP_MODIFY | ZERA_QOP_TIMESTAMP);
                if (Send(h, op, Relative(rng() % 3000))) {
                    if (cancel) {
                        ++accounts_.cancelled[tag];
                        --accounts_.outstandingDeliveries;
                    }
                } else {
                    ZERA_boDeleteEvent(op);  // already taken: it stays the sender's
                }
            }
        }
    }

    void Taker(int level) {
        StackHandle *h = stack_[level];
        BreakFlag &brk = takerBreaks_[level];
        for (;;) {
            Event *ev = Take(h, brk);
            if (ev == nullptr) {
                brk.Clear();
                if (stop_) return;
                continue;
            }
            const uint32_t tag = ev->dwEventId;
            if (tag == 0 || tag >= kMaxTags || ev->u8Level != level || accounts_.dest[tag] != level) {
                ++accounts_.errors;
            } else {
                accounts_.outstandingReceipts += level == 3 ? 2 : 1;
                ++accounts_.delivered[tag];
                --accounts_.outstandingDeliveries;
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
        BreakFlag &brk = receiverBreaks_[slot];
        // Known to the queue from here on, so a break cannot slip past.
        ZERA_boWaitEvent(h, 1, 1, &OSAL_stTimeNoWait);
        for (;;) {
            if (brk.Set()) {
                brk.Clear();
                if (stop_) return;
            }
            Event *ev = ZERA_pstReceiveEvent(h, levelMask, kAll, &OSAL_stTimeInfinite);
            if (ev == nullptr) continue;
            const uint32_t tag = ev->dwEventId;
            if (ev->i32Type != ZERA_EVENT_DATA2 || tag == 0 || tag >= kMaxTags) {
                ++accounts_.errors;
            } else {
                ++(level == 0 ? accounts_.receivedAt0 : accounts_.receivedAt1)[tag];
                --accounts_.outstandingReceipts;
            }
            ZERA_boDeleteEvent(ev);
        }
    }

    void Breaker() {
        std::mt19937 rng(99);
        while (!stopBreaker_) {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
            const uint32_t target = rng() % 6;
            if (target < 3) {
                BreakFlag &brk = takerBreaks_[target + 1];
                ZERA_vBreakSendEventWait(stack_[target + 1], &brk.flag, brk.mutex);
            } else {
                BreakFlag &brk = receiverBreaks_[target - 3];
                ZERA_vBreakRecvEventWait(stack_[target < 5 ? 0 : 1], &brk.flag, brk.mutex);
            }
        }
    }

    void Check() {
        EXPECT_EQ(accounts_.errors.load(), 0u);
        uint32_t sent = 0, cancelled = 0;
        for (uint32_t tag = 1; tag < std::min(accounts_.nextTag.load(), kMaxTags); ++tag) {
            const uint32_t expected = accounts_.expected[tag];
            if (expected == 0) continue;
            ++sent;
            cancelled += accounts_.cancelled[tag];
            const uint32_t delivered = accounts_.delivered[tag];
            ASSERT_EQ(delivered + accounts_.cancelled[tag], expected) << "tag " << tag;
            ASSERT_EQ(accounts_.receivedAt0[tag], delivered) << "tag " << tag;
            ASSERT_EQ(accounts_.receivedAt1[tag], accounts_.dest[tag] == 3 ? delivered : 0u) << "tag " << tag;
        }
        EXPECT_GT(sent, 100u);
        for (int level = 0; level <= 3; ++level) {
            EXPECT_TRUE(Queued(stack_[level]->hSendQueue).empty()) << level;
            EXPECT_TRUE(Queued(stack_[level]->hRecvQueue).empty()) << level;
        }
        std::printf("[          ] %u events (%u cancelled)%s\n", sent, cancelled, breaks_ ? " with random breaks" : "");
    }

    bool breaks_;
    Stack stack_;
    Accounts accounts_;
    BreakFlag takerBreaks_[4];
    BreakFlag receiverBreaks_[3];
    std::atomic<bool> stop_{false};
    std::atomic<bool> stopBreaker_{false};
};

TEST(FlowUnderLoad, EveryEventIsAccountedForOnce) { FlowUnderLoad(false).Run(); }

TEST(FlowUnderLoad, EveryEventIsAccountedForOnceWithBreaksAtRandomMoments) { FlowUnderLoad(true).Run(); }

}  // namespace
