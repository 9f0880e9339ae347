// host.cpp - a host program in C++, written against ZERA_Host.h only: the
// stack is an object that takes itself down, and a receiver thread takes
// what comes down to level 0 while the main thread sends.
//
//     example_host_cpp [component...]    (default: Counter Loopback Ticker)
//
// Components are found as the host kit finds them (ZERA_COMPONENT_PATH, the
// current folder, the program's folder, the installed components folder).
// A level with a parameter "Period" (Ticker) ticks every 50 ms. Exit status 0
// when the stack started, something came down and it stopped cleanly.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ZERA_Host.h"

namespace {

std::string LastError() {
    return "error " + std::to_string(OSAL_dwGetLastError()) + ": " + OSAL_pszGetLastErrorText();
}

// A stack on a kit-made level 0, taken down (and so stopped) when it goes.
class Stack {
public:
    Stack() : h0_(ZERA_hHostStackCreate(nullptr)) {}
    ~Stack() {
        if (h0_ != nullptr && !ZERA_boHostStackDestroy(h0_)) std::fprintf(stderr, "destroy: %s\n", LastError().c_str());
    }
    Stack(const Stack &) = delete;
    Stack &operator=(const Stack &) = delete;

    StackHandle *h0() const { return h0_; }
    uint8_t top() const { return top_; }

    bool Add(const std::string &name) {
        const uint8_t level = ZERA_bHostAddComponentA(h0_, name.c_str());
        if (level == 0) return Fail(name);
        std::printf("level %u: %s\n", level, ZERA_hsComponentNameA(h0_, level));
        if (ZERA_pstGetStackParamA(h0_, level, "Period") != nullptr &&
            !ZERA_boHostSetParamDWord(h0_, level, "Period", 50)) {
            return Fail("set Period");
        }
        top_ = level;
        return true;
    }
    bool Start() { return ZERA_boHostStartStack(h0_) || Fail("start"); }
    bool Stop() { return ZERA_boHostStopStack(h0_) || Fail("stop"); }

    // Sends one event holding n to the topmost level; a refused event is
    // still the sender's and is deleted here.
    bool Send(uint32_t n) {
        Event *ev = ZERA_pstHostCreateEvent(h0_, ZERA_EVENT_DATA0, top_, sizeof n);
        if (ev == nullptr) return Fail("create an event");
        std::memcpy(ev->pbData, &n, sizeof n);
        if (ZERA_boHostSendEvent(h0_, ev, 0)) return true;
        ZERA_boDeleteEvent(ev);
        return Fail("send an event");
    }

private:
    static bool Fail(const std::string &what) {
        std::fprintf(stderr, "example_host_cpp: %s: %s\n", what.c_str(), LastError().c_str());
        return false;
    }
    StackHandle *h0_;
    uint8_t top_ = 0;
};

// Counts the events that come down to level 0, on a thread of its own. It
// waits in short rounds, so that a stop is seen within one round.
class Receiver {
public:
    explicit Receiver(StackHandle *h0) : h0_(h0), thread_([this] { Run(); }) {}
    ~Receiver() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    unsigned data() const { return data_; }
    unsigned status() const { return status_; }

private:
    void Run() {
        while (!stop_) {
            Event *ev = ZERA_pstHostReceiveEvent(h0_, 100);
            if (ev == nullptr) continue;
            ++(ev->i32Type == ZERA_EVENT_ITEMS ? status_ : data_);
            ZERA_boDeleteEvent(ev);
        }
    }
    StackHandle *h0_;
    std::atomic<bool> stop_{false};
    std::atomic<unsigned> data_{0}, status_{0};
    std::thread thread_;
};

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> names(argv + 1, argv + argc);
    if (names.empty()) names = {"Counter", "Loopback", "Ticker"};
    Stack stack;
    if (stack.h0() == nullptr) {
        std::fprintf(stderr, "example_host_cpp: create level 0: %s\n", LastError().c_str());
        return 1;
    }
    for (const std::string &name : names) {
        if (!stack.Add(name)) return 1;
    }
    Receiver receiver(stack.h0());
    if (!stack.Start()) return 1;
    std::printf("started\n");
    bool ok = true;
    for (uint32_t n = 1; n <= 5 && ok; ++n) {
        ok = stack.Send(n);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ok = stack.Stop() && ok;
    receiver.Stop();
    std::printf("sent 5 events to level %u; received %u data events and %u status events at level 0\n", stack.top(),
                receiver.data(), receiver.status());
    std::printf("stopped\n");
    return ok && receiver.data() > 0 ? 0 : 1;
}
