// bench/link_bench.cpp - events across the Link component between two
// processes on the loopback address, beside plain ZeroMQ sending messages of
// the same size between the same two processes (the floor):
//   Link/Stream    the host sends a burst of 1024 events to a Link at level
//                  1; the peer answers the last one; "items_per_second",
//                  and the process's CPU time per burst
//   Link/Latency   one event out and its echo back; "median_us" is half the
//                  round trip (one way)
//   Zmq/Stream, Zmq/Latency   the same with a plain DEALER socket and the
//                  Link's message bytes
// The peer is a child process forked before anything else starts: two
// ROUTER sockets, one that echoes every event message and one that counts
// the events of every message (a busy Link sends several in one) and
// answers with one event when the count passes the end of a burst; it
// greets a Link's hello and answers its flush as `zera serve` would. The
// floor sends one message per event. Needs Link.COMPONENT next to the program.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zmq.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ZERA_Host.h"
#include "bench_util.h"
#include "link_wire.h"

namespace {

constexpr int64_t kBurst = 1024;
constexpr uint32_t kPayload = 8;
constexpr int kHighWater = 100000;

std::string g_echoEndpoint;
std::string g_burstEndpoint;

void SetInt(void *socket, int option, int value) { zmq_setsockopt(socket, option, &value, sizeof value); }

// ---- The peer process ---------------------------------------------------------------

void *PeerSocket(void *ctx, std::string *endpoint) {
    void *s = zmq_socket(ctx, ZMQ_ROUTER);
    SetInt(s, ZMQ_SNDHWM, kHighWater);
    SetInt(s, ZMQ_RCVHWM, kHighWater);
    zmq_bind(s, "tcp://127.0.0.1:*");
    char last[256] = {};
    size_t size = sizeof last;
    zmq_getsockopt(s, ZMQ_LAST_ENDPOINT, last, &size);
    *endpoint = last;
    return s;
}

// The events an 'E' or 'B' message carries (its count is taken on trust).
uint32_t EventsIn(const uint8_t *data, size_t size) {
    if (size >= zlink::kEventHeader && data[0] == zlink::kEvent) return 1;
    if (size >= zlink::kBatchHeader && data[0] == zlink::kBatch) return static_cast<uint32_t>(data[9] << 8 | data[10]);
    return 0;
}

// Answers on socket s: every event message when echo, else with `reply`
// when the events taken pass the end of a burst; a hello with a welcome, a
// flush with an acknowledgement.
void Serve(void *s, bool echo, const zlink::Bytes &reply, uint32_t *sequence, uint32_t *taken) {
    zmq_msg_t id, body;
    zmq_msg_init(&id);
    zmq_msg_init(&body);
    while (zmq_msg_recv(&id, s, ZMQ_DONTWAIT) >= 0 && zmq_msg_recv(&body, s, 0) >= 0) {
        auto *data = static_cast<uint8_t *>(zmq_msg_data(&body));
        const size_t size = zmq_msg_size(&body);
        zlink::Bytes answer;
        if (size > 0 && data[0] == zlink::kHello) {
            zlink::Hello welcome;
            welcome.name = "bench";
            answer = zlink::HelloMessage(zlink::kWelcome, welcome);
            *sequence = *taken = 0;
        } else if ((size == 1 && data[0] == zlink::kFlush) || (size > 0 && data[0] == zlink::kAck)) {
            // A flush, or an idle Link's sign of life, which it wants answered.
            answer = zlink::AckMessage(*taken);
        } else if (const uint32_t events = EventsIn(data, size)) {
            const uint32_t before = *taken;
            *taken += events;
            if (!echo && *taken / kBurst == before / kBurst) continue;
            answer = echo ? zlink::Bytes(data, data + size) : reply;
            zlink::PatchEvent(answer.data(), *sequence, *taken);
            *sequence += echo ? events : 1;
        } else {
            continue;
        }
        zmq_send(s, zmq_msg_data(&id), zmq_msg_size(&id), ZMQ_SNDMORE);
        zmq_send(s, answer.data(), answer.size(), 0);
    }
    zmq_msg_close(&id);
    zmq_msg_close(&body);
}

[[noreturn]] void RunPeer(int out) {
    void *ctx = zmq_ctx_new();
    std::string echoEndpoint, burstEndpoint;
    void *echo = PeerSocket(ctx, &echoEndpoint);
    void *burst = PeerSocket(ctx, &burstEndpoint);
    const std::string line = echoEndpoint + " " + burstEndpoint + "\n";
    if (write(out, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(1);
    close(out);
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_DATA0, 1, kPayload);
    zlink::Bytes reply;
    zlink::EventMessage(ev, &reply);
    ZERA_boDeleteEvent(ev);
    uint32_t counts[4] = {};
    for (;;) {
        zmq_pollitem_t items[2] = {{echo, 0, ZMQ_POLLIN, 0}, {burst, 0, ZMQ_POLLIN, 0}};
        if (zmq_poll(items, 2, -1) < 0) _exit(0);
        if (items[0].revents & ZMQ_POLLIN) Serve(echo, true, reply, &counts[0], &counts[1]);
        if (items[1].revents & ZMQ_POLLIN) Serve(burst, false, reply, &counts[2], &counts[3]);
    }
}

// ---- The link ----------------------------------------------------------------------

class LinkStack {
public:
    explicit LinkStack(const std::string &endpoint) {
        h0_ = ZERA_hHostStackCreate(nullptr);
        if (h0_ == nullptr || ZERA_bHostAddComponentA(h0_, "Link") != 1) return;
        ZERA_boSetStackParamA(h0_, 1, "Endpoint", endpoint.c_str());
        ZERA_boSetStackParamA(h0_, 1, "HighWater", static_cast<uint32_t>(kHighWater));
        ZERA_boSetStackParamA(h0_, 1, "OnFull", static_cast<uint32_t>(1));
        ok_ = ZERA_boHostStartStack(h0_) != 0;
    }
    ~LinkStack() {
        if (h0_ != nullptr) ZERA_boHostStackDestroy(h0_);
    }
    bool ok() const { return ok_; }
    bool Send() {
        Event *ev = ZERA_pstHostCreateEvent(h0_, ZERA_EVENT_DATA0, 1, kPayload);
        if (ev == nullptr) return false;
        std::memset(ev->pbData, 0x5A, kPayload);
        if (ZERA_boHostSendEvent(h0_, ev, 0)) return true;
        ZERA_boDeleteEvent(ev);
        return false;
    }
    // Waits for the next data event that comes down; false after 5 s.
    bool Receive() {
        while (Event *ev = ZERA_pstHostReceiveEvent(h0_, 5000)) {
            const bool data = ev->i32Type != ZERA_EVENT_ITEMS;
            ZERA_boDeleteEvent(ev);
            if (data) return true;
        }
        return false;
    }

private:
    StackHandle *h0_ = nullptr;
    bool ok_ = false;
};

void LinkStream(benchmark::State &state) {
    LinkStack link(g_burstEndpoint);
    if (!link.ok()) return state.SkipWithError("the Link did not start (Link.COMPONENT next to the program?)");
    for (auto _ : state) {
        for (int64_t i = 0; i < kBurst; ++i) link.Send();
        if (!link.Receive()) return state.SkipWithError("no answer from the peer");
    }
    state.SetItemsProcessed(state.iterations() * kBurst);
}

void LinkLatency(benchmark::State &state) {
    LinkStack link(g_echoEndpoint);
    if (!link.ok()) return state.SkipWithError("the Link did not start (Link.COMPONENT next to the program?)");
    std::vector<uint64_t> nanos;
    for (auto _ : state) {
        const uint64_t start = SteadyNanos();
        link.Send();
        if (!link.Receive()) return state.SkipWithError("no answer from the peer");
        nanos.push_back((SteadyNanos() - start) / 2);
    }
    ReportMedian(state, nanos);
}

// ---- The floor: plain ZeroMQ, the same bytes -------------------------------------------

class Plain {
public:
    explicit Plain(const std::string &endpoint) {
        ctx_ = zmq_ctx_new();
        s_ = zmq_socket(ctx_, ZMQ_DEALER);
        SetInt(s_, ZMQ_LINGER, 0);
        SetInt(s_, ZMQ_SNDHWM, kHighWater);
        SetInt(s_, ZMQ_RCVHWM, kHighWater);
        zmq_connect(s_, endpoint.c_str());
        Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_DATA0, 1, kPayload);
        std::memset(ev->pbData, 0x5A, kPayload);
        zlink::EventMessage(ev, &message_);
        ZERA_boDeleteEvent(ev);
    }
    ~Plain() {
        zmq_close(s_);
        zmq_ctx_term(ctx_);
    }
    void Send() { zmq_send(s_, message_.data(), message_.size(), 0); }
    bool Receive() {
        uint8_t buf[512];
        return zmq_recv(s_, buf, sizeof buf, 0) >= 0;
    }

private:
    void *ctx_;
    void *s_;
    zlink::Bytes message_;  // what the Link sends for one event
};

void ZmqStream(benchmark::State &state) {
    Plain plain(g_burstEndpoint);
    for (auto _ : state) {
        for (int64_t i = 0; i < kBurst; ++i) plain.Send();
        plain.Receive();
    }
    state.SetItemsProcessed(state.iterations() * kBurst);
}

void ZmqLatency(benchmark::State &state) {
    Plain plain(g_echoEndpoint);
    std::vector<uint64_t> nanos;
    for (auto _ : state) {
        const uint64_t start = SteadyNanos();
        plain.Send();
        plain.Receive();
        nanos.push_back((SteadyNanos() - start) / 2);
    }
    ReportMedian(state, nanos);
}

// The CPU column of the streams is this process's, all its threads (the
// Link's, ZeroMQ's): per event it holds on a loaded machine, where the rate
// does not.
BENCHMARK(ZmqStream)->Name("Zmq/Stream")->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(LinkStream)->Name("Link/Stream")->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(ZmqLatency)->Name("Zmq/Latency")->UseRealTime();
BENCHMARK(LinkLatency)->Name("Link/Latency")->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
    int fds[2];
    if (pipe(fds) != 0) return 1;
    const pid_t peer = fork();
    if (peer == 0) {
        close(fds[0]);
        RunPeer(fds[1]);
    }
    close(fds[1]);
    char line[512] = {};
    FILE *in = fdopen(fds[0], "r");
    if (in == nullptr || fgets(line, sizeof line, in) == nullptr) return 1;
    fclose(in);
    char echo[256] = {}, burst[256] = {};
    if (std::sscanf(line, "%255s %255s", echo, burst) != 2) return 1;
    g_echoEndpoint = echo;
    g_burstEndpoint = burst;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    kill(peer, SIGTERM);
    waitpid(peer, nullptr, 0);
    return 0;
}
