// tools/serve_command.cpp - `zera serve`: a stack behind a link endpoint.
//
// The served stack's level 0 is the peer of a Link component at the top of
// a stack in another process: events from the Link are sent from level 0
// to level 1, and the events that come down to level 0 go to the Link. A
// ROUTER socket tells the peers apart; the link library's session decides
// who holds the session (one stack peer at a time) and who may ask for the
// status and the stack description (monitors, zera top). With CURVE on, a
// handler in this process lets in only the keys of the allow-list. The
// main thread alone owns the socket; a receiver thread takes what comes
// down to level 0 into an outbox and wakes the main thread over an inproc
// pipe, which sends what the outbox holds as one message, as the Link does.
#include <zmq.h>

#include <atomic>
#include <set>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "host_stack.h"
#include "link_keys.h"
#include "link_session.h"
#include "link_socket.h"
#include "link_wire.h"
#include "params.h"
#include "stop_signals.h"
#include "timeline_file.h"

namespace tool {

namespace {

using Clock = std::chrono::steady_clock;
using zlink::Bytes;

constexpr uint32_t kReceiveRoundMs = 100;
constexpr int kPollMs = 50;
constexpr int kMessagesPerRound = 8;  // messages to the peer between two looks at the socket
constexpr uint32_t kDeniedShown = 10; // key refusals said on stderr one by one, then no more

struct ServeOptions : CommonOptions {
    std::vector<std::string> components;
    std::string endpoint = "tcp://127.0.0.1:5570";
    bool connect = false;          // connect to the endpoint instead of binding it
    std::string curveSecret;       // CURVE: the server's key pair file (empty: CURVE off)
    std::string allow;             // CURVE: the allow-list file or folder of client keys
    bool insecure = false;         // a bind beyond loopback without CURVE, knowingly
    std::string name = "serve";    // this end's name in its welcome
    std::string peerName;          // the name a stack peer must have (empty: any)
    uint32_t highWater = 16;       // messages per direction and connection (zlink::kDefaultHighWater)
    uint32_t intervalMs = 0;       // print the status this often (0: never)
    std::vector<ParamSetting> settings;
    std::string traceOut;          // the timeline's file, or empty
};

bool ParseServe(const CommandLine &line, ServeOptions *out) {
    out->components = line.words;
    for (const GivenOption &o : line.options) {
        bool ok = true;
        if (o.name == "--bind" || o.name == "--connect") {
            out->endpoint = o.value;
            out->connect = o.name == "--connect";
            ok = !o.value.empty();
        } else if (o.name == "--name") {
            out->name = o.value;
        } else if (o.name == "--peer-name") {
            out->peerName = o.value;
        } else if (o.name == "--hwm") {
            ok = ParseNumber(o.value, 1000000, &out->highWater) && out->highWater != 0;
        } else if (o.name == "--interval") {
            ok = ParseNumber(o.value, 86400000, &out->intervalMs);
        } else if (o.name == "--curve-secret") {
            out->curveSecret = o.value;
            ok = !o.value.empty();
        } else if (o.name == "--allow") {
            out->allow = o.value;
            ok = !o.value.empty();
        } else if (o.name == "--trace-out") {
            out->traceOut = o.value;
            ok = !o.value.empty();
        } else if (o.name == "--insecure") {
            out->insecure = true;
        } else {
            ParamSetting setting;
            ok = ParseParamSetting(o.value, &setting);
            out->settings.push_back(setting);
        }
        if (!ok) return line.Bad("bad value '" + o.value + "' for " + o.name);
    }
    if (out->components.empty()) return line.Bad("name the components of the stack, bottom to top");
    if (out->curveSecret.empty() != out->allow.empty()) {
        return line.Bad("CURVE needs both --curve-secret and --allow (it lets in nobody else)");
    }
    return true;
}

zlink::Millis Now() {
    return static_cast<zlink::Millis>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

// The timeline's clock, with which serve answers the Link's clock probes.
uint64_t TraceClock() { return ZERA_u64HostTraceClock(); }

// Events in a queue, counted under its lock.
uint32_t Queued(OSAL_HQUEUE queue) {
    OSAL_HQCURSOR cursor = OSAL_hQueueLock(queue);
    if (cursor == nullptr) return 0;
    uint32_t count = 0;
    while (OSAL_pvQueueNext(cursor) != nullptr) ++count;
    OSAL_vQueueUnlock(cursor);
    return count;
}

zlink::Session::Config SessionConfig(const ServeOptions &options) {
    zlink::Session::Config c;
    c.server = true;
    c.clockUs = TraceClock;
    c.name = options.name;
    c.peerName = options.peerName;
    c.seed = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
             static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&options));
    return c;
}

int SetInt(void *socket, int option, int value) { return zmq_setsockopt(socket, option, &value, sizeof value); }

// Takes what comes down to level 0 into the outbox for the main thread.
class DownPump {
public:
    DownPump(StackHandle *h0, void *pipe, zlink::Outbox *outbox) : h0_(h0), pipe_(pipe), outbox_(outbox) {}
    ~DownPump() { Stop(); }
    void Start() { thread_ = std::thread(&DownPump::Run, this); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    uint32_t Dropped() const { return dropped_; }

private:
    void Run() {
        const auto stopped = [this] { return stop_.load(); };
        while (!stop_) {
            Event *ev = ZERA_pstHostReceiveEvent(h0_, kReceiveRoundMs);
            if (ev == nullptr) continue;
            // Item-list events carry this stack's status changes: they stay here.
            if (ev->i32Type == ZERA_EVENT_ITEMS) {
                ZERA_boDeleteEvent(ev);
                continue;
            }
            // The outbox is never full for long: the main thread empties it
            // every round. A stop ends the wait.
            const zlink::Outbox::Result result = outbox_->Add(ev, kReceiveRoundMs, stopped);
            if (result == zlink::Outbox::kAddedWake) {
                const char wake = 0;
                zmq_send(pipe_, &wake, sizeof wake, ZMQ_DONTWAIT);
            } else if (result == zlink::Outbox::kNotTaken) {
                ZERA_boDeleteEvent(ev);
                ++dropped_;
            }
        }
    }

    StackHandle *h0_;
    void *pipe_;
    zlink::Outbox *outbox_;
    std::atomic<bool> stop_{false};
    std::atomic<uint32_t> dropped_{0};
    std::thread thread_;
};

// A copy of ev that level 0 may send (the kit's events are owned by level
// 0), addressed to level 1, with what the wire carries of it; the
// attachments (already renumbered for this stack) move over to it. Null for
// an item-list event, or with the kit's code.
Event *HostCopy(StackHandle *h0, Event *ev) {
    const bool data = ev->i32Type >= ZERA_EVENT_DATA0 && ev->i32Type <= ZERA_EVENT_DATA2;
    if (!data && ev->i32Type != ZERA_EVENT_INTERVAL) return nullptr;
    Event *copy = ZERA_pstHostCreateEvent(h0, ev->i32Type, 1, data ? ev->dwDataSize : 0);
    if (copy == nullptr) return nullptr;
    copy->pstAttachments = ev->pstAttachments;
    copy->boWideAttach = ev->boWideAttach;
    ev->pstAttachments = nullptr;
    copy->u8Error = ev->u8Error;
    copy->dwFlags = ev->dwFlags;
    if (data) {
        copy->u64Aux1 = ev->u64Aux1;
        copy->u64Aux2 = ev->u64Aux2;
        copy->u8Options = ev->u8Options;
        copy->u8Aux3 = ev->u8Aux3;
        if (ev->dwDataSize != 0) std::memcpy(copy->pbData, ev->pbData, ev->dwDataSize);
    } else {
        copy->stInterval = ev->stInterval;
    }
    return copy;
}

class Server {
public:
    Server(const ServeOptions &options, HostStack *stack)
        : options_(options), stack_(stack), session_(SessionConfig(options)) {}
    ~Server() {
        for (void *s : {router_, pipeRead_, pipeWrite_}) {
            if (s != nullptr) zmq_close(s);
        }
        gate_.Stop();
        if (ctx_ != nullptr) zmq_ctx_term(ctx_);
    }

    // Makes the sockets and binds or connects; false with a message.
    bool Open(std::string *error) {
        ctx_ = zmq_ctx_new();
        router_ = ctx_ != nullptr ? zmq_socket(ctx_, ZMQ_ROUTER) : nullptr;
        pipeRead_ = ctx_ != nullptr ? zmq_socket(ctx_, ZMQ_PAIR) : nullptr;
        pipeWrite_ = ctx_ != nullptr ? zmq_socket(ctx_, ZMQ_PAIR) : nullptr;
        if (router_ == nullptr || pipeRead_ == nullptr || pipeWrite_ == nullptr) {
            *error = std::string("cannot make the sockets: ") + zmq_strerror(zmq_errno());
            return false;
        }
        for (void *s : {router_, pipeRead_, pipeWrite_}) {
            if (!zlink::LimitSocket(s, static_cast<int>(options_.highWater))) {
                *error = std::string("cannot set the sockets' limits: ") + zmq_strerror(zmq_errno());
                return false;
            }
        }
        SetInt(router_, ZMQ_ROUTER_MANDATORY, 1);
        // No ZeroMQ heartbeats: with many peers that close unread they took
        // libzmq down; the session's own acknowledgements do their work.
        if (!options_.curveSecret.empty()) {
            zlink::KeyPair own;
            std::set<std::string> allowed;
            if (!zlink::ReadKeyFile(options_.curveSecret, true, &own, error) ||
                !zlink::ReadAllowList(options_.allow, &allowed, error) || !gate_.Start(ctx_, allowed, error) ||
                !zlink::MakeCurveServer(router_, own, error)) {
                return false;
            }
        }
        if (zmq_bind(pipeRead_, "inproc://zera-serve-down") != 0 ||
            zmq_connect(pipeWrite_, "inproc://zera-serve-down") != 0) {
            *error = std::string("cannot make the pipe: ") + zmq_strerror(zmq_errno());
            return false;
        }
        const char *endpoint = options_.endpoint.c_str();
        if ((options_.connect ? zmq_connect(router_, endpoint) : zmq_bind(router_, endpoint)) != 0) {
            *error = std::string("cannot ") + (options_.connect ? "connect to" : "bind") + " '" + options_.endpoint +
                     "': " + zmq_strerror(zmq_errno());
            return false;
        }
        char last[512] = {};
        size_t size = sizeof last;
        if (!options_.connect && zmq_getsockopt(router_, ZMQ_LAST_ENDPOINT, last, &size) == 0) endpoint_ = last;
        else endpoint_ = options_.endpoint;
        return true;
    }

    const std::string &Endpoint() const { return endpoint_; }

    void Serve() {
        DownPump pump(stack_->h0(), pipeWrite_, &outbox_);
        pump.Start();
        const Clock::time_point start = Clock::now();
        start_ = start;
        Clock::time_point nextPrint = start + std::chrono::milliseconds(options_.intervalMs);
        zlink::SocketWait wait{router_, pipeRead_};
        for (bool more = false; !StopSignalled();) {
            // Between the messages of a stream only the socket is looked at;
            // asleep, the pipe too (one wake-up per sleep, see Outbox).
            bool ready[2] = {};
            wait.Wait(more ? 1 : 2, more ? 0 : kPollMs, ready);
            if (ready[0]) ReceiveAll();
            bool woken = false;
            for (char wake; ready[1] && zmq_recv(pipeRead_, &wake, sizeof wake, ZMQ_DONTWAIT) >= 0;) woken = true;
            if (woken || more) more = ForwardAll();
            if (!more && !outbox_.Sleep()) more = true;
            Bytes hello, ack;
            bool silent = false;
            session_.Tick(Now(), &hello, &ack, &silent);
            if (!ack.empty()) SendTo(session_.OwnerRoute(), ack);
            ReportDenied();
            const Clock::time_point now = Clock::now();
            if (options_.intervalMs != 0 && now >= nextPrint) {
                PrintStatus();
                nextPrint += std::chrono::milliseconds(options_.intervalMs);
            }
        }
        pump.Stop();
        session_.CountUndelivered(pump.Dropped() + outbox_.Discard());
    }

    void PrintStatus() const {
        const zlink::Status s = Status();
        std::printf("status after %.1f s: from the peer %u, to the peer %u, undelivered %u, refused packets %u, "
                    "dropped at level 0 %u\n",
                    s.uptimeMs / 1000.0, s.link[zlink::kTaken], s.link[zlink::kForwarded],
                    s.link[zlink::kUndelivered], s.link[zlink::kRefused], s.link[zlink::kDropped]);
        for (const zlink::LevelStatus &l : s.levels) {
            std::printf("  level %u %-12s %-18s events %u/%u (kind 0)\n", l.level, l.component.c_str(),
                        StatusWords(l.status).c_str(), l.statistics[0], l.statistics[1]);
        }
        std::fflush(stdout);
    }

private:
    void SendTo(const Bytes &peer, const Bytes &message) {
        if (peer.empty() || message.empty()) return;
        if (zmq_send(router_, peer.data(), peer.size(), ZMQ_SNDMORE | ZMQ_DONTWAIT) < 0) return;
        zmq_send(router_, message.data(), message.size(), ZMQ_DONTWAIT);
    }

    void ReportDenied() {
        const uint32_t denied = gate_.Denied();
        for (; deniedShown_ < denied && deniedShown_ < kDeniedShown; ++deniedShown_) {
            std::fprintf(stderr, "zera serve: refused a connection: its key is not on the allow-list%s\n",
                         deniedShown_ + 1 == kDeniedShown ? " (no more of these are shown)" : "");
        }
    }

    zlink::Status Status() const {
        zlink::Status s;
        s.uptimeMs = static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
        const zlink::Figures &f = session_.figures();
        s.link[zlink::kTaken] = f.taken;
        s.link[zlink::kForwarded] = f.forwarded;
        s.link[zlink::kUndelivered] = f.undelivered;
        s.link[zlink::kRefused] = f.refused;
        // What the stack sent down faster than serve took it from level 0.
        uint64_t dropped = 0;
        if (stack_->Height() != 0) ZERA_boHostGetDropCount(stack_->h0(), 1, &dropped);
        s.link[zlink::kDropped] = static_cast<uint32_t>(dropped);
        for (uint32_t n = 1; n <= stack_->Height(); ++n) {
            zlink::LevelStatus l;
            l.level = static_cast<uint8_t>(n);
            l.status = stack_->Level(n)->dwStatus;
            const char *name = ZERA_hsComponentNameA(stack_->h0(), l.level);
            l.component = name != nullptr ? name : "?";
            ZERA_boGetStatistics(stack_->h0(), l.level, l.statistics);
            l.sendQueue = Queued(stack_->Level(n)->hSendQueue);
            l.recvQueue = Queued(stack_->Level(n)->hRecvQueue);
            uint64_t filtered = 0;
            ZERA_boHostGetDropCount(stack_->h0(), l.level, &filtered);
            l.dropped = static_cast<uint32_t>(filtered);
            s.levels.push_back(l);
        }
        s.peers = session_.Peers();
        return s;
    }

    void ReceiveAll() {
        zmq_msg_t id;
        zmq_msg_t body;
        zmq_msg_init(&id);
        zmq_msg_init(&body);
        for (int i = 0; i < 256 && zmq_msg_recv(&id, router_, ZMQ_DONTWAIT) >= 0; ++i) {
            if (!zmq_msg_more(&id) || zmq_msg_recv(&body, router_, ZMQ_DONTWAIT) < 0) {
                session_.CountRefused();
                continue;
            }
            bool more = zmq_msg_more(&body);
            const auto *idBytes = static_cast<const uint8_t *>(zmq_msg_data(&id));
            zlink::PeerId peer;
            peer.route.assign(idBytes, idBytes + zmq_msg_size(&id));
            // The key the handshake proved, and where the peer is.
            if (const char *key = zmq_msg_gets(&body, "User-Id")) peer.key = key;
            const char *address = zmq_msg_gets(&body, "Peer-Address");
            peer.address = address != nullptr ? address : "local";
            if (more) {
                // More than one frame is no message of ours: skip the rest.
                while (more && zmq_msg_recv(&body, router_, ZMQ_DONTWAIT) >= 0) more = zmq_msg_more(&body);
                session_.CountRefused();
                continue;
            }
            Take(peer, static_cast<const uint8_t *>(zmq_msg_data(&body)), zmq_msg_size(&body));
        }
        zmq_msg_close(&id);
        zmq_msg_close(&body);
    }

    void Take(const zlink::PeerId &peer, const uint8_t *data, size_t size) {
        session_.Take(peer, data, size, Now(), &outcome_);
        SendTo(peer.route, outcome_.reply);
        if (outcome_.clockChanged) {
            const zlink::ClockEstimate &c = session_.PeerClock();
            ZERA_boHostTraceLinkPeer(stack_->h0(), session_.PeerName().c_str(), session_.SessionNumber(), c.offsetUs,
                                     c.errorUs);
        }
        if (outcome_.ask == zlink::Outcome::kStatusAsk) {
            SendTo(peer.route, zlink::StatusMessage(Status()));
        } else if (outcome_.ask == zlink::Outcome::kDescribeAsk) {
            Bytes description;
            if (!zlink::DescriptionMessage(stack_->h0(), &description)) {
                const uint32_t code = OSAL_dwGetLastError();
                SendTo(peer.route, zlink::RefuseMessage(code, "no stack description: " + LastErrorText()));
            } else if (description.size() > zlink::kMaxMessage) {
                SendTo(peer.route, zlink::RefuseMessage(OSAL_ERR_INVALID_SIZE, "the stack description is too long"));
            } else {
                SendTo(peer.route, description);
            }
        }
        for (Event *ev : outcome_.events) {
            Event *copy = HostCopy(stack_->h0(), ev);
            // The copy has an identifier of this stack's: the timeline pairs it with the Link's.
            if (copy != nullptr) ZERA_vHostTraceLinkArrival(stack_->h0(), copy, ev->dwEventId);
            ZERA_boDeleteEvent(ev);
            if (copy == nullptr || !ZERA_boHostSendEvent(stack_->h0(), copy, 0)) {
                if (copy != nullptr) ZERA_boDeleteEvent(copy);
                session_.CountUndelivered(1);
            }
        }
    }

    // Sends what came down to level 0 to the stack peer, as few messages as
    // it fits in, but no more than a few before the next look at the
    // socket: true when more may wait.
    bool ForwardAll() {
        uint32_t lost = 0;
        int messages = 0;
        for (; messages < kMessagesPerRound && outbox_.Fill(&batch_, &lost); ++messages) {
            session_.CountUndelivered(lost);
            if (batch_.Count() != 0) Forward();
        }
        batch_.Clear();
        return messages == kMessagesPerRound;
    }

    void Forward() {
        const uint32_t count = batch_.Count();
        zmq_msg_t msg;
        if (!zlink::BatchMessage(&batch_, &msg)) {
            session_.Sent(count, 0, zlink::Session::kNotSent);
            return;
        }
        const size_t size = zmq_msg_size(&msg);
        const Bytes owner = session_.OwnerRoute();
        if (!session_.Stamp(static_cast<uint8_t *>(zmq_msg_data(&msg)), Now())) {
            zmq_msg_close(&msg);
            session_.Sent(count, size, zlink::Session::kNotSent);
            return;
        }
        if (zmq_send(router_, owner.data(), owner.size(), ZMQ_SNDMORE | ZMQ_DONTWAIT) >= 0 &&
            zmq_msg_send(&msg, router_, ZMQ_DONTWAIT) >= 0) {
            session_.Sent(count, size, zlink::Session::kSentOk);
            return;
        }
        const int error = zmq_errno();
        zmq_msg_close(&msg);
        // Gone: it says hello again when it comes back.
        session_.Sent(count, size, error == EAGAIN ? zlink::Session::kNotSent : zlink::Session::kGone);
    }

    const ServeOptions &options_;
    HostStack *stack_;
    void *ctx_ = nullptr;
    void *router_ = nullptr;
    void *pipeRead_ = nullptr;
    void *pipeWrite_ = nullptr;
    zlink::KeyGate gate_;        // CURVE: lets in the allowed keys (its own thread)
    uint32_t deniedShown_ = 0;
    zlink::Outbox outbox_;       // what came down to level 0, for the stack peer (locks its own)
    zlink::EventBatch batch_;    // main thread: the message being written
    zlink::Session session_;     // main thread: who holds the session, its numbers and figures
    zlink::Outcome outcome_;     // main thread: of the message being taken
    std::string endpoint_;
    Clock::time_point start_ = Clock::now();
};

}  // namespace

int CommandServe(const CommandLine &line) {
    return RunParsed<ServeOptions>(line, ParseServe, [](const ServeOptions &options) {
        if (options.curveSecret.empty() && !zlink::IsLoopbackEndpoint(options.endpoint)) {
            const char *verb = options.connect ? "connect to" : "bind";
            if (!options.insecure) {
                std::fprintf(stderr,
                             "zera serve: will not %s '%s' without CURVE: anyone who reaches it could drive the "
                             "stack and read its parameters. Give --curve-secret FILE --allow FILE|DIR, or "
                             "--insecure to do it anyway.\n",
                             verb, options.endpoint.c_str());
                return kExitUsage;
            }
            std::fprintf(stderr,
                         "zera serve: warning: '%s' is not a loopback endpoint and CURVE is off (--insecure): "
                         "anyone who reaches it can drive the stack and read its parameters\n",
                         options.endpoint.c_str());
        }
        TimelineFile timeline;  // ends after the stack has gone
        if (!timeline.Begin("serve", options.traceOut)) return kExitFailed;
        HostStack stack;
        std::string error;
        if (!stack.Ready(&error) || !stack.Build(options.components, &error)) {
            std::fprintf(stderr, "zera serve: %s\n", error.c_str());
            return kExitFailed;
        }
        for (const ParamSetting &s : options.settings) {
            if (s.level > stack.Height() ||
                !SetParamFromText(stack.h0(), s.level, stack.Level(s.level)->boWide != 0, s.name, s.value, &error)) {
                std::fprintf(stderr, "zera serve: --set on level %u: %s\n", s.level,
                             s.level > stack.Height() ? "no such level" : error.c_str());
                return kExitUsage;
            }
        }
        Server server(options, &stack);
        if (!server.Open(&error)) {
            std::fprintf(stderr, "zera serve: %s\n", error.c_str());
            return kExitFailed;
        }
        InstallStopSignals();
        if (!stack.Start(&error)) {
            std::fprintf(stderr, "zera serve: the stack did not start: %s\n", error.c_str());
            return kExitFailed;
        }
        std::string names;
        for (const std::string &c : options.components) names += (names.empty() ? "" : " ") + c;
        std::printf("zera serve: %s at %s\n", names.c_str(), server.Endpoint().c_str());
        std::fflush(stdout);
        server.Serve();
        stack.Stop();
        server.PrintStatus();
        return kExitOk;
    });
}

}  // namespace tool
