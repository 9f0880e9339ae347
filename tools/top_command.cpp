// tools/top_command.cpp - `zera top <endpoint>`: a live view of a stack that
// `zera serve` serves. It says hello as a monitor, asks for the status each
// second and shows per level the component, the status in words, the
// events per second since the last view (the input filter's counts, kind 0),
// the events waiting in its send and receive queues, those its input filter
// deleted, and the load figures; then the link's own figures and the peers the
// server knows, each with its identity and address. With --describe it
// asks once for the stack description instead and prints it as `zera
// describe` prints a local one.
#include <unistd.h>
#include <zmq.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "command.h"
#include "description.h"
#include "host_stack.h"
#include "json.h"
#include "link_keys.h"
#include "link_socket.h"
#include "link_wire.h"
#include "stop_signals.h"

namespace tool {

namespace {

using Clock = std::chrono::steady_clock;

// The first answer also waits for the connection and the hello: a server
// under load (or a sanitizer) takes seconds to say it is there.
constexpr int kFirstAnswerWaitMs = 5000;
constexpr int kAnswerWaitMs = 1000;

struct TopOptions : CommonOptions {
    std::string endpoint;
    uint32_t count = 0;  // refreshes before it ends (0: until Ctrl-C)
    bool describe = false;  // print the stack description once instead
    std::string serverKey;  // CURVE: the server's public key (Z85) or a file that holds it
    std::string keyFile;    // CURVE: this end's key pair file
};

bool ParseTop(const CommandLine &line, TopOptions *out) {
    for (const GivenOption &o : line.options) {
        if (o.name == "--describe") {
            out->describe = true;
        } else if (o.name == "--server-key") {
            out->serverKey = o.value;
        } else if (o.name == "--key") {
            out->keyFile = o.value;
        } else if (!ParseNumber(o.value, 0xFFFFFFFFu, &out->count)) {
            return line.Bad("bad --count '" + o.value + "'");
        }
    }
    if (line.words.size() != 1) return line.Bad("name exactly one endpoint");
    if (out->describe && out->count != 0) return line.Bad("--describe prints once: no --count with it");
    if (out->serverKey.empty() != out->keyFile.empty()) return line.Bad("CURVE needs both --server-key and --key");
    out->endpoint = line.words[0];
    return true;
}

uint32_t Events(const zlink::LevelStatus &l) { return l.statistics[0] + l.statistics[1]; }

const char *RoleName(uint8_t role) {
    return role == zlink::kRoleStack ? "stack" : role == zlink::kRoleMonitor ? "monitor" : "unknown";
}

// Makes socket a CURVE client as the options say; false with a message.
bool UseCurve(void *socket, const TopOptions &options, std::string *error) {
    if (options.serverKey.empty()) return true;
    zlink::KeyPair own;
    zlink::KeyPair server;
    server.publicKey = options.serverKey;
    return zlink::ReadKeyFile(options.keyFile, true, &own, error) &&
           (zlink::IsKeyText(options.serverKey) || zlink::ReadKeyFile(options.serverKey, false, &server, error)) &&
           zlink::MakeCurveClient(socket, own, server.publicKey, error);
}

class View {
public:
    View(bool json, bool terminal) : json_(json), terminal_(terminal) {}

    void Show(const zlink::Status &s) {
        const double seconds = last_.empty() ? 0 : (s.uptimeMs - lastUptime_) / 1000.0;
        if (json_) return ShowJson(s, seconds);
        if (terminal_) std::fputs("\x1b[H\x1b[2J", stdout);
        std::printf("served for %.1f s; link: from the peer %u, to the peer %u, undelivered %u, refused packets %u, "
                    "dropped at level 0 %u\n",
                    s.uptimeMs / 1000.0, s.link[0], s.link[1], s.link[2], s.link[3], s.link[zlink::kDropped]);
        std::printf("%-5s %-14s %-20s %10s %7s %7s %8s %12s %12s\n", "level", "component", "status", "events/s",
                    "send q", "recv q", "dropped", "loadA (max)", "loadB (max)");
        for (const zlink::LevelStatus &l : s.levels) {
            const std::string a = std::to_string(l.statistics[12] & 0xFFFF) + " (" +
                                  std::to_string(l.statistics[13] & 0xFFFF) + ")";
            const std::string b = std::to_string(l.statistics[12] >> 16) + " (" +
                                  std::to_string(l.statistics[13] >> 16) + ")";
            std::printf("%-5u %-14s %-20s %10.1f %7u %7u %8u %12s %12s\n", l.level, l.component.c_str(),
                        StatusWords(l.status).c_str(), Rate(l, seconds), l.sendQueue, l.recvQueue, l.dropped,
                        a.c_str(), b.c_str());
        }
        for (const zlink::PeerStatus &p : s.peers) {
            std::printf("peer  %-8s %-22s %s\n", RoleName(p.role), p.identity.c_str(), p.address.c_str());
        }
        if (!terminal_) std::fputc('\n', stdout);
        std::fflush(stdout);
        Remember(s);
    }

private:
    double Rate(const zlink::LevelStatus &l, double seconds) const {
        const auto before = last_.find(l.level);
        if (seconds <= 0 || before == last_.end() || Events(l) < before->second) return 0;
        return (Events(l) - before->second) / seconds;
    }

    void ShowJson(const zlink::Status &s, double seconds) {
        JsonWriter json(stdout);
        json.BeginObject();
        json.Field("uptime_ms", s.uptimeMs);
        json.Field("from_peer", s.link[0]);
        json.Field("to_peer", s.link[1]);
        json.Field("undelivered", s.link[2]);
        json.Field("refused_packets", s.link[3]);
        json.Key("levels");
        json.BeginArray();
        for (const zlink::LevelStatus &l : s.levels) {
            json.BeginObject();
            json.Field("level", l.level);
            json.Field("component", l.component);
            json.Field("status", StatusWords(l.status));
            json.Key("events_per_s");
            json.Real(Rate(l, seconds));
            json.Field("send_queue", l.sendQueue);
            json.Field("recv_queue", l.recvQueue);
            json.Field("dropped", l.dropped);
            json.Key("statistics");
            json.BeginArray();
            for (uint32_t word : l.statistics) json.Number(word);
            json.EndArray();
            json.Field("load_a", l.statistics[12] & 0xFFFF);
            json.Field("load_b", l.statistics[12] >> 16);
            json.EndObject();
        }
        json.EndArray();
        json.Field("dropped", s.link[zlink::kDropped]);
        json.Key("peers");
        json.BeginArray();
        for (const zlink::PeerStatus &p : s.peers) {
            json.BeginObject();
            json.Field("role", std::string(RoleName(p.role)));
            json.Field("identity", p.identity);
            json.Field("address", p.address);
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
        json.End();
        std::fflush(stdout);
        Remember(s);
    }

    void Remember(const zlink::Status &s) {
        lastUptime_ = s.uptimeMs;
        last_.clear();
        for (const zlink::LevelStatus &l : s.levels) last_[l.level] = Events(l);
    }

    const bool json_;
    const bool terminal_;
    uint32_t lastUptime_ = 0;
    std::map<uint8_t, uint32_t> last_;  // events per level at the last view
};

// Waits up to waitMs for an answer that take(data, size) accepts; false
// when none came or the server refused (said on stderr).
template <typename Take>
bool AwaitAnswer(void *socket, int waitMs, Take take) {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(waitMs);
    zmq_msg_t msg;
    zmq_msg_init(&msg);
    bool taken = false;
    while (!taken && !StopSignalled() && Clock::now() < until) {
        zmq_pollitem_t item = {socket, 0, ZMQ_POLLIN, 0};
        if (zmq_poll(&item, 1, 100) <= 0 || zmq_msg_recv(&msg, socket, ZMQ_DONTWAIT) < 0) continue;
        const auto *data = static_cast<const uint8_t *>(zmq_msg_data(&msg));
        const size_t size = zmq_msg_size(&msg);
        zlink::Refusal refusal;
        if (zlink::ReadRefuse(data, size, &refusal)) {
            std::fprintf(stderr, "zera top: refused: %s\n", refusal.text.c_str());
            break;
        }
        taken = take(data, size);
    }
    zmq_msg_close(&msg);
    return taken;
}

// Asks once for the stack description and prints it; the exit status.
int Describe(void *socket, const TopOptions &options) {
    const uint8_t ask = zlink::kDescribeAsk;
    zmq_send(socket, &ask, 1, 0);
    ZERA_HPACKET packet = nullptr;
    std::string error;
    const bool answered = AwaitAnswer(socket, kFirstAnswerWaitMs, [&](const uint8_t *data, size_t size) {
        if (size == 0 || data[0] != zlink::kDescription) return false;
        if (!zlink::ReadDescription(data, size, &packet)) error = "a malformed stack description: " + LastErrorText();
        return true;
    });
    if (!answered) {
        std::fprintf(stderr, "zera top: no stack description from %s\n", options.endpoint.c_str());
        return kExitFailed;
    }
    if (packet != nullptr) {
        PrintDescription(packet, options.json, &error);
        ZERA_boMarshalPacketDelete(packet);
    }
    if (error.empty()) return kExitOk;
    std::fprintf(stderr, "zera top: %s: %s\n", options.endpoint.c_str(), error.c_str());
    return kExitFailed;
}

}  // namespace

int CommandTop(const CommandLine &line) {
    return RunParsed<TopOptions>(line, ParseTop, [](const TopOptions &options) {
        void *ctx = zmq_ctx_new();
        void *socket = ctx != nullptr ? zmq_socket(ctx, ZMQ_DEALER) : nullptr;
        std::string error;
        if (socket == nullptr || !zlink::LimitSocket(socket, zlink::kDefaultHighWater) ||
            !UseCurve(socket, options, &error) || zmq_connect(socket, options.endpoint.c_str()) != 0) {
            if (error.empty()) error = zmq_strerror(zmq_errno());
            std::fprintf(stderr, "zera top: cannot connect to '%s': %s\n", options.endpoint.c_str(), error.c_str());
            if (socket != nullptr) zmq_close(socket);
            if (ctx != nullptr) zmq_ctx_term(ctx);
            return kExitFailed;
        }
        InstallStopSignals();
        zlink::Hello hello;
        hello.role = zlink::kRoleMonitor;
        hello.name = "top";
        const zlink::Bytes helloMessage = zlink::HelloMessage(zlink::kHello, hello);
        zmq_send(socket, helloMessage.data(), helloMessage.size(), 0);
        View view(options.json, isatty(STDOUT_FILENO) != 0);
        int status = options.describe ? Describe(socket, options) : kExitOk;
        for (uint32_t shown = 0;
             !options.describe && !StopSignalled() && (options.count == 0 || shown < options.count);) {
            const Clock::time_point next = Clock::now() + std::chrono::seconds(1);
            const uint8_t ask = zlink::kStatusAsk;
            zmq_send(socket, &ask, 1, 0);
            zlink::Status s;
            const auto readStatus = [&s](const uint8_t *data, size_t size) { return zlink::ReadStatus(data, size, &s); };
            if (AwaitAnswer(socket, shown == 0 ? kFirstAnswerWaitMs : kAnswerWaitMs, readStatus)) {
                view.Show(s);
                ++shown;
            } else if (!StopSignalled()) {
                std::fprintf(stderr, "zera top: no answer from %s\n", options.endpoint.c_str());
                status = kExitFailed;
                if (options.count != 0) break;
            }
            while (!StopSignalled() && Clock::now() < next) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        zmq_close(socket);
        zmq_ctx_term(ctx);
        return status;
    });
}

}  // namespace tool
