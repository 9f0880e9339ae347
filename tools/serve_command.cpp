// tools/serve_command.cpp - `zera serve`: a stack behind a link endpoint.
//
// The served stack's level 0 is the peer of a Link component at the top of
// a stack in another process: events from the Link are sent from level 0
// to level 1, and the events that come down to level 0 go to the Link. A
// ROUTER socket tells the peers apart: the last one whose hello says it is a
// stack is the stack peer; monitors (zera top) ask for the status and the
// stack description. The main
// thread alone owns the socket; a receiver thread takes what comes down to
// level 0 into an outbox and wakes the main thread over an inproc pipe, which
// sends what the outbox holds as one message, as the Link does. The message
// format and the session figures are the Link's (components/link/link_wire.h).
#include <zmq.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "host_stack.h"
#include "link_message.h"
#include "link_wire.h"
#include "params.h"
#include "run_session.h"

namespace tool {

namespace {

using Clock = std::chrono::steady_clock;
using zlink::Bytes;

constexpr uint32_t kReceiveRoundMs = 100;
constexpr int kPollMs = 50;
constexpr int kAckEveryMs = 100;
constexpr int kMessagesPerRound = 8;  // messages to the peer between two looks at the socket

// The socket's figures, as a status message carries them.
enum LinkFigure { kTaken, kForwarded, kUndelivered, kRefused };

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
    Server(const ServeOptions &options, HostStack *stack) : options_(options), stack_(stack) {}
    ~Server() {
        for (void *s : {router_, pipeRead_, pipeWrite_}) {
            if (s != nullptr) zmq_close(s);
        }
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
        const int hwm = static_cast<int>(options_.highWater);
        for (void *s : {router_, pipeRead_, pipeWrite_}) {
            SetInt(s, ZMQ_LINGER, 0);
            SetInt(s, ZMQ_SNDHWM, hwm);
            SetInt(s, ZMQ_RCVHWM, hwm);
        }
        SetInt(router_, ZMQ_ROUTER_MANDATORY, 1);
        SetInt(router_, ZMQ_HEARTBEAT_IVL, 500);
        SetInt(router_, ZMQ_HEARTBEAT_TIMEOUT, 1500);
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
        session_ = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
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
            const Clock::time_point now = Clock::now();
            if (stackPeer_.size() != 0 && taken_ != ackSent_ && now - ackAt_ > std::chrono::milliseconds(kAckEveryMs)) {
                SendTo(stackPeer_, zlink::AckMessage(taken_));
                ackSent_ = taken_;
                ackAt_ = now;
            }
            if (options_.intervalMs != 0 && now >= nextPrint) {
                PrintStatus();
                nextPrint += std::chrono::milliseconds(options_.intervalMs);
            }
        }
        pump.Stop();
        figures_[kUndelivered] += pump.Dropped() + outbox_.Discard();
    }

    void PrintStatus() const {
        const zlink::Status s = Status();
        std::printf("status after %.1f s: from the peer %u, to the peer %u, undelivered %u, refused packets %u\n",
                    s.uptimeMs / 1000.0, s.link[kTaken], s.link[kForwarded], s.link[kUndelivered], s.link[kRefused]);
        for (const zlink::LevelStatus &l : s.levels) {
            std::printf("  level %u %-12s %-18s events %u/%u (kind 0)\n", l.level, l.component.c_str(),
                        StatusWords(l.status).c_str(), l.statistics[0], l.statistics[1]);
        }
        std::fflush(stdout);
    }

private:
    void SendTo(const Bytes &peer, const Bytes &message) {
        if (zmq_send(router_, peer.data(), peer.size(), ZMQ_SNDMORE | ZMQ_DONTWAIT) < 0) return;
        zmq_send(router_, message.data(), message.size(), ZMQ_DONTWAIT);
    }

    zlink::Status Status() const {
        zlink::Status s;
        s.uptimeMs = static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
        for (int i = 0; i < 4; ++i) s.link[i] = figures_[i];
        for (uint32_t n = 1; n <= stack_->Height(); ++n) {
            zlink::LevelStatus l;
            l.level = static_cast<uint8_t>(n);
            l.status = stack_->Level(n)->dwStatus;
            const char *name = ZERA_hsComponentNameA(stack_->h0(), l.level);
            l.component = name != nullptr ? name : "?";
            ZERA_boGetStatistics(stack_->h0(), l.level, l.statistics);
            s.levels.push_back(l);
        }
        return s;
    }

    void ReceiveAll() {
        zmq_msg_t id;
        zmq_msg_t body;
        zmq_msg_init(&id);
        zmq_msg_init(&body);
        for (int i = 0; i < 256 && zmq_msg_recv(&id, router_, ZMQ_DONTWAIT) >= 0; ++i) {
            if (!zmq_msg_more(&id) || zmq_msg_recv(&body, router_, ZMQ_DONTWAIT) < 0) {
                ++figures_[kRefused];
                continue;
            }
            bool more = zmq_msg_more(&body);
            const auto *idBytes = static_cast<const uint8_t *>(zmq_msg_data(&id));
            const Bytes peer(idBytes, idBytes + zmq_msg_size(&id));
            if (more) {
                // More than one frame is no message of ours: skip the rest.
                while (more && zmq_msg_recv(&body, router_, ZMQ_DONTWAIT) >= 0) more = zmq_msg_more(&body);
                ++figures_[kRefused];
                continue;
            }
            Take(peer, static_cast<const uint8_t *>(zmq_msg_data(&body)), zmq_msg_size(&body));
        }
        zmq_msg_close(&id);
        zmq_msg_close(&body);
    }

    void Take(const Bytes &peer, const uint8_t *data, size_t size) {
        const uint8_t kind = size > 0 ? data[0] : 0;
        zlink::Hello hello;
        uint32_t ack = 0;
        if (kind == zlink::kEvent || kind == zlink::kBatch) {
            TakeEvents(peer, data, size);
        } else if (kind == zlink::kHello && zlink::ReadHello(data, size, &hello)) {
            uint32_t code = 0;
            const std::string why =
                zlink::HelloMismatch(hello, hello.role == zlink::kRoleStack ? options_.peerName : "", &code);
            if (!why.empty()) {
                ++figures_[kRefused];
                std::fprintf(stderr, "zera serve: refused a peer: %s\n", why.c_str());
                SendTo(peer, zlink::RefuseMessage(code, why));
                return;
            }
            if (hello.role == zlink::kRoleStack && peer != stackPeer_) {
                stackPeer_ = peer;
                sent_ = acked_ = expect_ = taken_ = ackSent_ = 0;
            }
            if (hello.role == zlink::kRoleStack) peerLevel_ = hello.linkLevel;
            zlink::Hello welcome;
            welcome.session = session_;
            welcome.name = options_.name;
            SendTo(peer, zlink::HelloMessage(zlink::kWelcome, welcome));
        } else if (kind == zlink::kAck && peer == stackPeer_ && zlink::ReadAck(data, size, &ack)) {
            if (ack > acked_ && ack <= sent_) acked_ = ack;
        } else if (kind == zlink::kFlush && size == 1 && peer == stackPeer_) {
            SendTo(peer, zlink::AckMessage(taken_));
            ackSent_ = taken_;
        } else if (kind == zlink::kStatusAsk && size == 1) {
            SendTo(peer, zlink::StatusMessage(Status()));
        } else if (kind == zlink::kDescribeAsk && size == 1) {
            Bytes description;
            if (zlink::DescriptionMessage(stack_->h0(), &description)) {
                SendTo(peer, description);
            } else {
                const uint32_t code = OSAL_dwGetLastError();
                SendTo(peer, zlink::RefuseMessage(code, "no stack description: " + LastErrorText()));
            }
        } else {
            ++figures_[kRefused];
        }
    }

    void TakeEvents(const Bytes &peer, const uint8_t *data, size_t size) {
        uint32_t sequence = 0;
        uint32_t ack = 0;
        std::vector<Event *> events;
        const zlink::LinkLevels levels{peerLevel_, 0};
        if (peer != stackPeer_ || !zlink::ReadEvents(data, size, levels, &sequence, &ack, &events) ||
            sequence < expect_) {
            for (Event *ev : events) ZERA_boDeleteEvent(ev);
            ++figures_[kRefused];
            return;
        }
        const auto count = static_cast<uint32_t>(events.size());
        expect_ = sequence + count;
        taken_ += count;
        figures_[kTaken] += count;
        if (ack > acked_ && ack <= sent_) acked_ = ack;
        for (Event *ev : events) {
            Event *copy = HostCopy(stack_->h0(), ev);
            ZERA_boDeleteEvent(ev);
            if (copy == nullptr || !ZERA_boHostSendEvent(stack_->h0(), copy, 0)) {
                if (copy != nullptr) ZERA_boDeleteEvent(copy);
                ++figures_[kUndelivered];
            }
        }
    }

    // Sends what came down to level 0 to the stack peer, as few messages as
    // it fits in, but no more than a few before the next look at the
    // socket: true when more may wait. A message the peer has no room for
    // still takes its numbers, so that the peer counts its events lost.
    bool ForwardAll() {
        uint32_t lost = 0;
        int messages = 0;
        for (; messages < kMessagesPerRound && outbox_.Fill(&batch_, &lost); ++messages) {
            figures_[kUndelivered] += lost;
            if (batch_.Count() != 0) Forward();
        }
        batch_.Clear();
        return messages == kMessagesPerRound;
    }

    void Forward() {
        const uint32_t count = batch_.Count();
        zmq_msg_t msg;
        if (stackPeer_.empty() || !zlink::BatchMessage(&batch_, &msg)) {
            figures_[kUndelivered] += count;
            return;
        }
        zlink::PatchEvent(static_cast<uint8_t *>(zmq_msg_data(&msg)), sent_, taken_);
        if (zmq_send(router_, stackPeer_.data(), stackPeer_.size(), ZMQ_SNDMORE | ZMQ_DONTWAIT) >= 0 &&
            zmq_msg_send(&msg, router_, ZMQ_DONTWAIT) >= 0) {
            sent_ += count;
            figures_[kForwarded] += count;
            ackSent_ = taken_;
            return;
        }
        const int error = zmq_errno();
        zmq_msg_close(&msg);
        figures_[kUndelivered] += count;
        if (error == EAGAIN) sent_ += count;
        else stackPeer_.clear();  // gone: it says hello again when it comes back
    }

    const ServeOptions &options_;
    HostStack *stack_;
    void *ctx_ = nullptr;
    void *router_ = nullptr;
    void *pipeRead_ = nullptr;
    void *pipeWrite_ = nullptr;
    zlink::Outbox outbox_;      // what came down to level 0, for the stack peer (locks its own)
    zlink::EventBatch batch_;  // main thread: the message being written
    std::string endpoint_;
    uint64_t session_ = 0;
    Clock::time_point start_ = Clock::now();
    uint32_t figures_[4] = {};
    // The stack peer's session: its routing id and figures.
    Bytes stackPeer_;
    uint8_t peerLevel_ = 0;  // the Link's level in its stack
    uint32_t sent_ = 0;
    uint32_t acked_ = 0;
    uint32_t expect_ = 0;
    uint32_t taken_ = 0;
    uint32_t ackSent_ = 0;
    Clock::time_point ackAt_{};
};

}  // namespace

int CommandServe(const std::vector<std::string> &args) {
    return RunParsed<ServeOptions>(args, ParseServe, [](const ServeOptions &options) {
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
