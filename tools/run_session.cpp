// tools/run_session.cpp - the run command's stack session: a sender thread
// for the host's schedules, a receiver thread on level 0, a progress line
// per second, and the final figures read once the stack has stopped, so
// that they add up exactly.
#include "run_session.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "event_tracer.h"
#include "host_stack.h"
#include "stop_signals.h"

namespace tool {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kAll = 0xFFFFFFFFu;
constexpr uint32_t kLevels = ZERA_MAX_LEVEL + 1;
// Marks the host's events (in u64Aux1) so that they can be told apart from
// the components' own events in a send queue.
constexpr uint64_t kHostTag = 0x5A45524148535431ull;
// The receiver waits in rounds of this many milliseconds.
constexpr uint32_t kReceiveRoundMs = 200;

bool IsDataEvent(const Event *ev) { return ev->i32Type >= ZERA_EVENT_DATA0 && ev->i32Type <= ZERA_EVENT_DATA2; }

// Counters shared by the threads of a run.
struct Counters {
    explicit Counters(Tracer *tracer) : tracer(tracer) {}
    std::atomic<uint64_t> sent[kLevels] = {};
    std::atomic<uint64_t> received[kLevels] = {};
    std::atomic<uint64_t> receivedOther[kLevels] = {};
    std::atomic<uint64_t> sendFailures{0};
    std::mutex errorMutex;  // guards lastSendError
    std::string lastSendError;
    Tracer *tracer;  // null without --trace

    void Receive(Event *ev) {
        const uint32_t level = ev->u8Level < kLevels ? ev->u8Level : 0;
        (IsDataEvent(ev) ? received : receivedOther)[level]++;
        if (tracer != nullptr) tracer->Record(ev);
        ZERA_boDeleteEvent(ev);
    }
};

// Sends the host's events on their schedules until stopped or done.
class Sender {
public:
    Sender(StackHandle *h0, const std::vector<SendSchedule> &schedules, Counters *counters)
        : h0_(h0), schedules_(schedules), counters_(counters) {}
    ~Sender() { Stop(); }

    void Start() {
        if (schedules_.empty()) return;
        thread_ = std::thread(&Sender::Run, this);
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    void Run() {
        const Clock::time_point start = Clock::now();
        std::vector<Clock::time_point> due(schedules_.size());
        std::vector<uint32_t> done(schedules_.size(), 0);
        for (size_t i = 0; i < schedules_.size(); ++i) due[i] = start + std::chrono::milliseconds(schedules_[i].periodMs);
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            size_t next = schedules_.size();
            for (size_t i = 0; i < schedules_.size(); ++i) {
                const bool finished = schedules_[i].count != 0 && done[i] >= schedules_[i].count;
                if (!finished && (next == schedules_.size() || due[i] < due[next])) next = i;
            }
            if (next == schedules_.size()) return;  // every schedule is done
            if (wake_.wait_until(lock, due[next], [this] { return stop_; })) return;
            lock.unlock();
            SendOne(schedules_[next].level, sequence_++);
            lock.lock();
            ++done[next];
            due[next] += std::chrono::milliseconds(schedules_[next].periodMs);
        }
    }

    // A type-0 event for `level` holding its sequence number, made and sent
    // by the host kit.
    void SendOne(uint32_t level, uint64_t sequence) {
        Event *ev = ZERA_pstHostCreateEvent(h0_, ZERA_EVENT_DATA0, static_cast<uint8_t>(level), sizeof sequence);
        if (ev != nullptr) {
            ev->u64Aux1 = kHostTag;
            std::memcpy(ev->pbData, &sequence, sizeof sequence);
            if (ZERA_boHostSendEvent(h0_, ev, 0)) {
                counters_->sent[level]++;
                return;
            }
        }
        const std::string error = LastErrorText();
        if (ev != nullptr) ZERA_boDeleteEvent(ev);
        counters_->sendFailures++;
        std::lock_guard<std::mutex> lock(counters_->errorMutex);
        counters_->lastSendError = error;
    }

    StackHandle *h0_;
    const std::vector<SendSchedule> &schedules_;
    Counters *counters_;
    std::thread thread_;
    std::mutex mutex_;  // guards stop_
    std::condition_variable wake_;
    bool stop_ = false;
    uint64_t sequence_ = 0;  // used by the thread only
};

// Receives at level 0 whatever comes down, until stopped. It waits in short
// rounds, so that a stop is seen within one round.
class Receiver {
public:
    Receiver(StackHandle *h0, Counters *counters) : h0_(h0), counters_(counters) {}
    ~Receiver() { Stop(); }

    bool Start() {
        try {
            thread_ = std::thread(&Receiver::Run, this);
        } catch (...) {
            return false;
        }
        return true;
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Takes what is left in level 1's receive queue (after Stop).
    void Drain() {
        while (Event *ev = ZERA_pstHostReceiveEvent(h0_, 0)) counters_->Receive(ev);
    }

private:
    void Run() {
        while (!stop_) {
            if (Event *ev = ZERA_pstHostReceiveEvent(h0_, kReceiveRoundMs)) counters_->Receive(ev);
        }
    }

    StackHandle *h0_;
    Counters *counters_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One line per second on a terminal: what the host sent and received, per
// level, and the rates over the last second.
class Progress {
public:
    explicit Progress(const Counters &counters) : counters_(counters), enabled_(isatty(STDERR_FILENO) != 0) {}

    void Show(double elapsed) {
        if (!enabled_) return;
        std::string line;
        char buf[96];
        std::snprintf(buf, sizeof buf, "[%5.1fs]", elapsed);
        line += buf;
        Append(&line, "sent", counters_.sent, lastSent_);
        Append(&line, "received", counters_.received, lastReceived_);
        std::fprintf(stderr, "\r%-100s", line.c_str());
        std::fflush(stderr);
    }
    void Finish() {
        if (enabled_) std::fputc('\n', stderr);
    }

private:
    static void Append(std::string *line, const char *what, const std::atomic<uint64_t> (&now)[kLevels],
                       uint64_t (&last)[kLevels]) {
        char buf[64];
        std::snprintf(buf, sizeof buf, " | %s", what);
        *line += buf;
        bool any = false;
        for (uint32_t level = 0; level < kLevels; ++level) {
            const uint64_t value = now[level];
            if (value == 0) continue;
            std::snprintf(buf, sizeof buf, " L%u %llu (%llu/s)", level, static_cast<unsigned long long>(value),
                          static_cast<unsigned long long>(value - last[level]));
            *line += buf;
            last[level] = value;
            any = true;
        }
        if (!any) *line += " 0";
    }

    const Counters &counters_;
    const bool enabled_;
    uint64_t lastSent_[kLevels] = {};
    uint64_t lastReceived_[kLevels] = {};
};

// Host events (by their tag) still waiting in h's send queue.
uint64_t QueuedHostEvents(StackHandle *h) {
    OSAL_HQCURSOR cursor = OSAL_hQueueLock(h->hSendQueue);
    if (cursor == nullptr) return 0;
    uint64_t queued = 0;
    while (auto *ev = static_cast<Event *>(OSAL_pvQueueNext(cursor))) {
        if (ev->i32Type == ZERA_EVENT_DATA0 && ev->u8Level == h->u8Level && ev->u64Aux1 == kHostTag) ++queued;
    }
    OSAL_vQueueUnlock(cursor);
    return queued;
}

void CollectLevels(const HostStack &stack, const Counters &counters, RunReport *report) {
    for (uint32_t n = 1; n <= stack.Height(); ++n) {
        StackHandle *h = stack.Level(n);
        LevelReport level;
        level.level = n;
        const char *name = ZERA_hsComponentNameA(stack.h0(), static_cast<uint8_t>(n));
        level.component = name != nullptr ? name : "?";
        level.status = h->dwStatus;
        ZERA_boGetStatistics(stack.h0(), static_cast<uint8_t>(n), level.statistics);
        if (h->boWide) {
            level.params = ViewParams(ZERA_pstGetStackParamW(stack.h0(), n, nullptr), true);
        } else {
            level.params = ViewParams(ZERA_pstGetStackParamA(stack.h0(), n, nullptr), false);
        }
        level.hostSent = counters.sent[n];
        level.hostQueued = QueuedHostEvents(h);
        ZERA_boHostGetDropCount(stack.h0(), static_cast<uint8_t>(n), &level.dropped);
        // What left the send queue and was then dropped on its way down (a
        // component that hands the host's events back, as Echo does) was
        // not taken. Drops of the level's own events beyond that leave
        // nothing of the host's taken.
        const uint64_t left = level.hostSent - level.hostQueued;
        level.hostTaken = left > level.dropped ? left - level.dropped : 0;
        level.received = counters.received[n];
        level.receivedOther = counters.receivedOther[n];
        report->levels.push_back(level);
    }
}

}  // namespace

int RunStack(const RunOptions &options, RunReport *report) {
    HostStack stack;
    std::string error;
    if (!stack.Ready(&error) || !stack.Build(options.components, &error)) {
        std::fprintf(stderr, "zera run: %s\n", error.c_str());
        return 1;
    }
    const uint32_t height = stack.Height();
    for (const SendSchedule &s : options.sends) {
        if (s.level > height) {
            std::fprintf(stderr, "zera run: --send to level %u, but the stack has levels 1 to %u\n", s.level, height);
            return 2;
        }
    }
    for (const ParamSetting &s : options.settings) {
        if (s.level > height) {
            std::fprintf(stderr, "zera run: --set on level %u, but the stack has levels 1 to %u\n", s.level, height);
            return 2;
        }
        if (!SetParamFromText(stack.h0(), s.level, stack.Level(s.level)->boWide != 0, s.name, s.value, &error)) {
            std::fprintf(stderr, "zera run: %s\n", error.c_str());
            return 2;
        }
    }

    // Printed as they come, or kept for the JSON report.
    Tracer tracer(!options.json, stdout);
    Counters counters(options.trace ? &tracer : nullptr);
    Receiver receiver(stack.h0(), &counters);
    if (!receiver.Start()) {
        std::fprintf(stderr, "zera run: cannot start the receiver thread\n");
        return 1;
    }
    if (!stack.Start(&error)) {
        receiver.Stop();
        std::fprintf(stderr, "zera run: the stack did not start: %s\n", error.c_str());
        return 1;
    }

    InstallStopSignals();
    Sender sender(stack.h0(), options.sends, &counters);
    Progress progress(counters);
    const Clock::time_point start = Clock::now();
    const auto duration = std::chrono::duration<double>(options.durationSeconds);
    sender.Start();
    Clock::time_point nextShow = start + std::chrono::seconds(1);
    while (!StopSignalled() && Clock::now() - start < duration) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (Clock::now() >= nextShow) {
            progress.Show(std::chrono::duration<double>(Clock::now() - start).count());
            nextShow += std::chrono::seconds(1);
        }
    }
    report->interrupted = StopSignalled();
    sender.Stop();
    report->seconds = std::chrono::duration<double>(Clock::now() - start).count();
    progress.Finish();

    // Stop the components' threads first: from then on nothing moves, and
    // the figures read below add up.
    stack.Stop();
    receiver.Stop();
    receiver.Drain();
    report->traced = options.trace && options.json;
    report->trace = tracer.Entries();
    report->components = options.components;
    report->sendFailures = counters.sendFailures;
    report->lastSendError = counters.lastSendError;
    CollectLevels(stack, counters, report);
    return 0;
}

}  // namespace tool
